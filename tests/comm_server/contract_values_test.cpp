// Values that outside senders, scripts and saved projects hold as numbers or
// texts: the hidden window's message numbers and title, the WritePort return
// codes and the out-of-memory code. A renumbering here breaks every peer.
#include "icommunication.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string_view>

TEST(ContractValues, WindowMessagesAndTitleAreTheOnesPeersUse) {
    EXPECT_EQ(WM_PACKET_PROGRESS, 0x8006u);
    EXPECT_EQ(WM_RECEIVED_BLOCK, 0x0465u);
    EXPECT_EQ(std::string_view(kQuorlinkWindowTitle), "CVantrexAPIWnd");
}

TEST(ContractValues, WritePortReturnCodesAndOutOfMemoryCode) {
    EXPECT_EQ(WRITEPORT_RC_SUCCESS, -1);
    EXPECT_EQ(WRITEPORT_RC_NOT_CONNECTED, 8);
    EXPECT_EQ(WRITEPORT_RC_FAILED, 10);
    EXPECT_EQ(WRITEPORT_RC_INCOMPLETE, 12);
    EXPECT_EQ(WRITEPORT_RC_ABORTED, 14);
    EXPECT_EQ(HRESULT_CODE(QUORLINK_E_OUTOFMEMORY), 1004u);
    EXPECT_TRUE(FAILED(QUORLINK_E_OUTOFMEMORY));
}

namespace {

// Table slot of a virtual member. In the Itanium C++ ABI (g++ and clang on
// Linux) a pointer to a virtual member function holds 1 + the byte offset of
// its entry in the table; IUnknown has no virtual destructor, so
// QueryInterface is slot 0.
template <typename Member>
size_t SlotOf(Member member) {
    static_assert(sizeof(Member) == 2 * sizeof(ptrdiff_t));
    ptrdiff_t raw[2];
    std::memcpy(raw, &member, sizeof(raw));
    return static_cast<size_t>(raw[0] - 1) / sizeof(void*);
}

}  // namespace

TEST(ContractValues, TableSlotsAreThoseOfTheContract) {
    EXPECT_EQ(SlotOf(&ICommunication::QueryInterface), 0u);
    EXPECT_EQ(SlotOf(&ICommunication::Invoke), 6u);
    EXPECT_EQ(SlotOf(&ICommunication::OpenPort), 7u);
    EXPECT_EQ(SlotOf(&ICommunication::get_Baudrate), 8u);
    EXPECT_EQ(SlotOf(&ICommunication::put_Baudrate), 9u);
    EXPECT_EQ(SlotOf(&ICommunication::get_Parity), 10u);
    EXPECT_EQ(SlotOf(&ICommunication::put_Parity), 11u);
    EXPECT_EQ(SlotOf(&ICommunication::get_Stopbits), 12u);
    EXPECT_EQ(SlotOf(&ICommunication::put_Stopbits), 13u);
    EXPECT_EQ(SlotOf(&ICommunication::get_Databits), 14u);
    EXPECT_EQ(SlotOf(&ICommunication::put_Databits), 15u);
    EXPECT_EQ(SlotOf(&ICommunication::get_Handshaking), 16u);
    EXPECT_EQ(SlotOf(&ICommunication::put_Handshaking), 17u);
    EXPECT_EQ(SlotOf(&ICommunication::ClosePort), 18u);
    EXPECT_EQ(SlotOf(&ICommunication::WritePort), 19u);
    EXPECT_EQ(SlotOf(&ICommunication::get_RealTime), 20u);
    EXPECT_EQ(SlotOf(&ICommunication::put_RealTime), 21u);
    EXPECT_EQ(SlotOf(&ICommunication::get_Opened), 22u);
    EXPECT_EQ(SlotOf(&ICommunication::GetComPorts), 23u);
    EXPECT_EQ(SlotOf(&ICommunication::GetLptPorts), 24u);
    EXPECT_EQ(SlotOf(&ICommunication::SearchUSBVantrexPrinter), 25u);
    EXPECT_EQ(SlotOf(&ICommunication::WriteAndRead), 26u);
    EXPECT_EQ(SlotOf(&ICommunication::AbortTransfert), 27u);
    EXPECT_EQ(SlotOf(&ICommunication::SetTimeout), 28u);
    EXPECT_EQ(SlotOf(&ICommunication::GetTimeout), 29u);
    EXPECT_EQ(SlotOf(&ICommunication::get_PeriodOfOnComm), 30u);
    EXPECT_EQ(SlotOf(&ICommunication::put_PeriodOfOnComm), 31u);
    EXPECT_EQ(SlotOf(&ICommunication::UpdateUSBDriver), 32u);
}
