// The Windows Sockets binding: WS2_32.DLL loaded at run time, each entry bound on its first call.
#ifdef _WIN32
#include "platform/win32/winsock_binding.h"

#include <gtest/gtest.h>

#include "platform/sockets.h"

namespace {

TEST(WinsockBindingTest, TableHoldsTheNamesInOrder) {
  using namespace platform::winsock;
  EXPECT_STREQ(EntryName(kWSACleanup), "WSACleanup");
  EXPECT_STREQ(EntryName(kRecv), "recv");
  EXPECT_STREQ(EntryName(kSelect), "select");
  EXPECT_STREQ(EntryName(kGetHostByName), "gethostbyname");
  EXPECT_STREQ(EntryName(kWSAGetLastError), "WSAGetLastError");
  EXPECT_STREQ(EntryName(45), "__WSAFDIsSet");
  EXPECT_STREQ(EntryName(96), "WSADuplicateSocketA") << "the unsuffixed forms use the A functions";
  EXPECT_STREQ(EntryName(kEntryCount - 1), "WSARecvEx");
}

TEST(WinsockBindingTest, EntriesAreBoundOnFirstCall) {
  using namespace platform::winsock;
  ASSERT_EQ(platform::SocketStartup(0x0202), 0);  // loads the library
  EXPECT_TRUE(LibraryLoaded());
  // htonl is not called by the program, so the first run of this test finds its stub.
  static const bool firstRun = CurrentEntry(9) == nullptr;
  EXPECT_TRUE(firstRun);
  const auto htonl = Entry<unsigned long(WSAAPI*)(unsigned long)>(9);
  EXPECT_NE(CurrentEntry(9), nullptr);
  EXPECT_EQ(htonl(0x01020304u), 0x04030201u);
}

}  // namespace
#endif
