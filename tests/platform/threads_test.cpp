#include "platform/threads.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(ThreadsTest, OnlyTheRegisteredThreadIsTheMainThread) {
  EXPECT_TRUE(platform::IsMainThread());
  bool workerIsMain = true;
  std::thread worker([&] { workerIsMain = platform::IsMainThread(); });
  worker.join();
  EXPECT_FALSE(workerIsMain);
}

}  // namespace
