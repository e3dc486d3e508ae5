#include "platform/sockets.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

namespace {

TEST(SocketSelectTest, AClosedDescriptorIsAnErrorNotAWait) {
  ASSERT_EQ(platform::SocketStartup(0x0202), 0);
  const platform::SocketHandle socket =
      platform::SocketCreate(platform::kAddressFamilyInet, platform::kSocketTypeStream, platform::kProtocolTcp);
  ASSERT_NE(socket, platform::kNoSocket);
  ASSERT_EQ(platform::SocketClose(socket), 0);
  // With no limit, a wait on a descriptor that is not open would never end if it were taken as a wait.
  std::vector<platform::SocketHandle> read{socket};
  EXPECT_EQ(platform::SocketSelect(&read, nullptr, nullptr, -1), -1);
  EXPECT_EQ(platform::SocketLastError(), platform::kWsaNotSocket);
}

#ifndef _WIN32
TEST(SocketErrorMapping, MapsErrnoOntoWindowsSocketsCodes) {
  const struct {
    int error;
    int code;
  } rows[] = {
      {ECONNREFUSED, 10061}, {ECONNRESET, 10054}, {ETIMEDOUT, 10060}, {ENETUNREACH, 10051},
      {EHOSTUNREACH, 10065}, {EADDRINUSE, 10048}, {EBADF, 10009},     {ENOTSOCK, 10038},
      {EWOULDBLOCK, 10035},  {EINPROGRESS, 10036}, {ECONNABORTED, 10053}, {ENOTCONN, 10057},
      {EPIPE, 10058},        {EINVAL, 10022},     {EINTR, 10004},     {EMFILE, 10024},
  };
  for (const auto& row : rows) EXPECT_EQ(platform::SocketErrorFromSystemError(row.error), row.code) << row.error;
}
#else
TEST(SocketErrorMapping, MapsErrnoOntoWindowsSocketsCodes) {
  GTEST_SKIP() << "Windows reports Windows Sockets codes itself: there is no errno to map";
}
#endif

TEST(SocketErrorMapping, RefusedConnectGives10061) {
  // Find a free port by binding and closing, then connect to it: nobody listens there.
  ASSERT_EQ(platform::SocketStartup(0x0202), 0);
  const platform::SocketHandle probe =
      platform::SocketCreate(platform::kAddressFamilyInet, platform::kSocketTypeStream, platform::kProtocolTcp);
  ASSERT_EQ(platform::SocketBind(probe, {{127, 0, 0, 1}, 0}), 0);
  platform::Ipv4Endpoint local;
  ASSERT_EQ(platform::SocketLocalName(probe, local), 0);
  platform::SocketClose(probe);
  const platform::SocketHandle client =
      platform::SocketCreate(platform::kAddressFamilyInet, platform::kSocketTypeStream, platform::kProtocolTcp);
  EXPECT_EQ(platform::SocketConnect(client, local), -1);
  EXPECT_EQ(platform::SocketLastError(), 10061);
  platform::SocketClose(client);
}

}  // namespace
