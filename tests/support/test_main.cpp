#include <gtest/gtest.h>

#include "platform/threads.h"

int main(int argc, char** argv) {
  platform::RegisterMainThread();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
