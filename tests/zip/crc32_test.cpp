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

#ifdef __i386__
// A 32-bit Windows thread's stack is aligned to 4 bytes only, while the folding keeps 16-byte values on its
// stack: it must realign the stack itself. This calls Crc32 with the stack pointer 4 bytes off the 16-byte
// boundary (arguments read from a block, since operands addressed through the stack pointer would move).
uint32_t CrcOnMisalignedStack(uint32_t crc, const uint8_t* data, size_t size) {
  const uint32_t arguments[3] = {crc, reinterpret_cast<uint32_t>(data), size};
  uint32_t (*function)(uint32_t, const uint8_t*, size_t) = &Crc32;
  uint32_t result;
  __asm__ volatile(
      "mov %%esp, %%esi\n\t"
      "and $-16, %%esp\n\t"
      "sub $8, %%esp\n\t"
      "pushl 8(%[arguments])\n\t"
      "pushl 4(%[arguments])\n\t"
      "pushl (%[arguments])\n\t"
      "call *%[function]\n\t"
      "mov %%esi, %%esp"
      : "=a"(result)
      : [arguments] "r"(arguments), [function] "r"(function)
      : "ecx", "edx", "esi", "memory", "cc");
  return result;
}

TEST(Crc32Test, FoldsOnAMisalignedStack) {
  std::vector<uint8_t> data(4000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(CrcOnMisalignedStack(0, data.data(), data.size()),
            crc32(0, data.data(), static_cast<uInt>(data.size())));
}
#endif

}  // namespace
