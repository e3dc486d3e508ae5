#include "zip/crc32.h"

#include <zlib.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define CRC32_CAN_FOLD 1
#endif

namespace {

#ifdef CRC32_CAN_FOLD

#define FOLDING_TARGET __attribute__((target("pclmul,sse4.1")))

FOLDING_TARGET inline __m128i Load(const uint8_t* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// a's low half times k's low half, plus the two high halves: a moved forward by the constant's distance.
FOLDING_TARGET inline __m128i Fold(__m128i a, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x00), _mm_clmulepi64_si128(a, k, 0x11));
}

// Folding by carry-less multiplication (Gopal et al., "Fast CRC Computation for Generic Polynomials Using
// PCLMULQDQ Instruction", Intel 2009), for the bit-reflected polynomial 0xEDB88320. The constants are
// x^k mod P(x) for the folding distances 512+32, 512-32 (four lanes), 128+32, 128-32 (one lane) and 64,
// then the Barrett constants mu and P itself. crc is the register as it stands, without the inversions.
// size is a multiple of 16, at least 64.
#ifdef __i386__
// Windows keeps a 32-bit thread's stack aligned to 4 bytes only; the 16-byte values here need more.
__attribute__((force_align_arg_pointer))
#endif
FOLDING_TARGET uint32_t FoldCrc(uint32_t crc, const uint8_t* data, size_t size) {
  const __m128i k1k2 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
  const __m128i k3k4 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
  const __m128i k5 = _mm_set_epi64x(0, 0x163cd6124);
  const __m128i muPoly = _mm_set_epi64x(0x1f7011641, 0x1db710641);
  const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);

  __m128i x1 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = Load(data + 16);
  __m128i x3 = Load(data + 32);
  __m128i x4 = Load(data + 48);
  data += 64;
  size -= 64;
  for (; size >= 64; data += 64, size -= 64) {
    x1 = _mm_xor_si128(Fold(x1, k1k2), Load(data));
    x2 = _mm_xor_si128(Fold(x2, k1k2), Load(data + 16));
    x3 = _mm_xor_si128(Fold(x3, k1k2), Load(data + 32));
    x4 = _mm_xor_si128(Fold(x4, k1k2), Load(data + 48));
  }
  x1 = _mm_xor_si128(Fold(x1, k3k4), x2);
  x1 = _mm_xor_si128(Fold(x1, k3k4), x3);
  x1 = _mm_xor_si128(Fold(x1, k3k4), x4);
  for (; size >= 16; data += 16, size -= 16) x1 = _mm_xor_si128(Fold(x1, k3k4), Load(data));

  // 128 bits to 64, then to 32 (both append 32 zero bits), then the Barrett reduction to the remainder.
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(k3k4, x1, 0x01), _mm_srli_si128(x1, 8));
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k5, 0x00), _mm_srli_si128(x1, 4));
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), muPoly, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), muPoly, 0x00);
  return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}

bool CanFold() {
  static const bool canFold = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  }();
  return canFold;
}

#endif

}  // namespace

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size) {
#ifdef CRC32_CAN_FOLD
  if (size >= 64 && CanFold()) {
    const size_t folded = size & ~static_cast<size_t>(15);
    crc = ~FoldCrc(~crc, data, folded);
    data += folded;
    size -= folded;
  }
#endif
  // zlib's table method does what the folding leaves over, and everything on processors without it.
  return static_cast<uint32_t>(crc32_z(crc, data, size));
}
