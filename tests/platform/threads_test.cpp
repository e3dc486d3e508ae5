#include "platform/threads.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/clock.h"

namespace {

TEST(ThreadsTest, OnlyTheRegisteredThreadIsTheMainThread) {
  EXPECT_TRUE(platform::IsMainThread());
  bool workerIsMain = true;
  std::thread worker([&] { workerIsMain = platform::IsMainThread(); });
  worker.join();
  EXPECT_FALSE(workerIsMain);
}

TEST(ThreadsTest, ANonPositiveSleepReturnsAtOnce) {
  const int64_t start = platform::MonotonicMilliseconds();
  platform::SleepMilliseconds(0);
  platform::SleepMilliseconds(-100);
  EXPECT_LT(platform::MonotonicMilliseconds() - start, 50);
}

}  // namespace
