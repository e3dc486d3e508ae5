#include "platform/sockets.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(SocketSelectTest, AClosedDescriptorIsAnErrorNotAWait) {
  ASSERT_EQ(platform::SocketStartup(0x0202), 0);
  const platform::SocketHandle socket = platform::SocketCreate(platform::kAddressFamilyInet, platform::kSocketTypeStream, platform::kProtocolTcp);
  ASSERT_NE(socket, platform::kNoSocket);
  ASSERT_EQ(platform::SocketClose(socket), 0);
  // With no limit, a wait on a descriptor that is not open would never end if it were taken as a wait.
  std::vector<platform::SocketHandle> read{socket};
  EXPECT_EQ(platform::SocketSelect(&read, nullptr, nullptr, -1), -1);
  EXPECT_EQ(platform::SocketLastError(), platform::kWsaNotSocket);
}

}  // namespace
