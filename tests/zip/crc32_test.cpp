#include "zip/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace {

// Every length around the folding's 16- and 64-byte steps, at every alignment, continuing a value zlib
// started: each must equal zlib's. Runs of one byte value catch a wrong constant as well as random data do.
TEST(Crc32Test, EqualsZlibAtEveryLengthAndAlignment) {
  std::mt19937 random(7);
  std::vector<uint8_t> data(70'000);
  for (uint8_t& byte : data) byte = static_cast<uint8_t>(random());
  std::vector<uint8_t> ones(4096, 0xFF);
  for (const std::vector<uint8_t>* source : {&data, &ones}) {
    for (size_t offset = 0; offset < 16; ++offset) {
      for (size_t size : {0, 1, 15, 16, 17, 63, 64, 65, 79, 80, 127, 128, 129, 1000, 4000}) {
        const uint32_t start = static_cast<uint32_t>(random());
        const uint8_t* at = source->data() + offset;
        ASSERT_EQ(Crc32(start, at, size), crc32(start, at, static_cast<uInt>(size))) << offset << " " << size;
      }
    }
  }
  EXPECT_EQ(Crc32(0, data.data(), data.size()), crc32(0, data.data(), static_cast<uInt>(data.size())));
}

}  // namespace
