// Values that outside senders, scripts and saved projects hold as numbers or
// texts: the hidden window's message numbers and title, the WritePort return
// codes and the out-of-memory code. A renumbering here breaks every peer.
#include "icommunication.h"

#include <gtest/gtest.h>

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
