#include "net/exceptions.h"

#include <gtest/gtest.h>

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

}  // namespace
