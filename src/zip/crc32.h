#pragma once
// The CRC-32 of member data, as zlib's crc32() computes it (same polynomial, same starting and final
// inversion, so the two continue each other's values). On processors with carry-less multiplication the
// bulk of the data is folded 64 bytes at a time, several times faster than zlib's table method: the CRC is
// the largest part of the write-behind thread's work, and of a stored member's extraction.
#include <cstddef>
#include <cstdint>

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size);
