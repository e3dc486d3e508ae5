#include "net/exceptions.h"

#include <gtest/gtest.h>

#include "net/tcp_client.h"

#ifdef _WIN32
#include "platform/win32/winsock_binding.h"
#endif

namespace {

TEST(EIdWS2StubErrorTest, MessageJoinsTheSystemTextAndTheTitle) {
  const EIdWS2StubError withCode("Error on loading Winsock2 library (WS2_32.DLL)", 126,
                                 "The specified module could not be found.");
  EXPECT_EQ(withCode.Message(),
            "The specified module could not be found.: Error on loading Winsock2 library (WS2_32.DLL)");
  EXPECT_EQ(withCode.Win32Error(), 126u);
  const EIdWS2StubError withoutCode("Error on call Winsock2 library function recv", 0, "");
  EXPECT_EQ(withoutCode.Message(), "Error on call Winsock2 library function recv");
}

#ifdef _WIN32
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
  TIdTCPClient keepStack;  // started the library
  EXPECT_TRUE(LibraryLoaded());
  // htonl is not called by the program, so the first run of this test finds its stub.
  static const bool firstRun = CurrentEntry(9) == nullptr;
  EXPECT_TRUE(firstRun);
  const auto htonl = Entry<unsigned long(WSAAPI*)(unsigned long)>(9);
  EXPECT_NE(CurrentEntry(9), nullptr);
  EXPECT_EQ(htonl(0x01020304u), 0x04030201u);
}
#endif

}  // namespace
