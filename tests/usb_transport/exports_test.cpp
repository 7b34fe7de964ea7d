// The shipped libtramline.so exports GetNewUsbInfo under its decorated name
// and nothing else, and the object it makes answers through its slots.
#include "tramline.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>

namespace {

// The table index of a virtual member (this ABI: the pointer's first word is
// 1 + its byte offset in the table).
template <typename Member>
size_t SlotOf(Member member) {
    static_assert(sizeof(Member) == 2 * sizeof(ptrdiff_t));
    ptrdiff_t raw[2];
    std::memcpy(raw, &member, sizeof(raw));
    return static_cast<size_t>(raw[0] - 1) / sizeof(void*);
}

// The destructor takes entries 0 and 1 (complete and deleting); the
// contract's slots 1 to 13 follow in order.
TEST(TramlineExports, SlotsAreInTheContractsOrder) {
    EXPECT_EQ(SlotOf(&CCommInfo::IsConfigured), 2u);
    EXPECT_EQ(SlotOf(&CCommInfo::Connect), 3u);
    EXPECT_EQ(SlotOf(&CCommInfo::WriteData), 4u);
    EXPECT_EQ(SlotOf(&CCommInfo::ReadData), 5u);
    EXPECT_EQ(SlotOf(&CCommInfo::GetDeviceReport), 6u);
    EXPECT_EQ(SlotOf(&CCommInfo::Reserved6), 7u);
    EXPECT_EQ(SlotOf(&CCommInfo::Reserved7), 8u);
    EXPECT_EQ(SlotOf(&CCommInfo::Reconnect), 9u);
    EXPECT_EQ(SlotOf(&CCommInfo::NeedsReconnect), 10u);
    EXPECT_EQ(SlotOf(&CCommInfo::Reserved10), 11u);
    EXPECT_EQ(SlotOf(&CCommInfo::Reserved11), 12u);
    EXPECT_EQ(SlotOf(&CCommInfo::Disconnect), 13u);
    EXPECT_EQ(SlotOf(&CCommInfo::Reset), 14u);
}

TEST(TramlineExports, OnlyGetNewUsbInfoUnderItsDecoratedName) {
    std::string command = std::string(TRAMLINE_NM) + " -D --defined-only --format=posix '" TRAMLINE_LIBRARY_PATH "'";
    std::set<std::string> names;
    FILE* output = ::popen(command.c_str(), "r");
    ASSERT_NE(output, nullptr);
    char line[1024];
    while (std::fgets(line, sizeof line, output) != nullptr) {
        std::string text(line);
        if (text.find(" A ") == std::string::npos)
            names.insert(text.substr(0, text.find(' ')));
    }
    EXPECT_EQ(::pclose(output), 0);
    EXPECT_EQ(names, (std::set<std::string>{TRAMLINE_GET_NEW_USB_INFO_SYMBOL}));

    void* library = ::dlopen(TRAMLINE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    auto create = reinterpret_cast<CCommInfo* (*)(HWND, int)>(::dlsym(library, TRAMLINE_GET_NEW_USB_INFO_SYMBOL));
    ASSERT_NE(create, nullptr);
    std::unique_ptr<CCommInfo> info(create(nullptr, 1));
    ASSERT_NE(info, nullptr);
    // The members at creation, and the constant slots.
    EXPECT_EQ(info->m_nReserved0, 0);
    EXPECT_EQ(info->m_nReserved1, 1);
    EXPECT_EQ(info->m_nTransferSize, 4096);
    EXPECT_EQ(info->m_nReserved2, -1);
    EXPECT_EQ(info->m_bCheckDriver, 1);
    EXPECT_EQ(info->Reserved6(0, 0, 0, 0), 1);
    EXPECT_EQ(info->Reserved7(0, 0, 0), 0);
    EXPECT_EQ(info->Reserved10(), 1);
    EXPECT_EQ(info->Reserved11(), 1);
    EXPECT_EQ(info->IsConfigured(), 0);
    info.reset();
    ::dlclose(library);
}

}  // namespace
