#pragma once
// A read-only stream that inflates a member's raw Deflate data (no zlib header or trailer) from the archive
// stream, deciphering the input first when the member is encrypted.
#include <cstdint>
#include <memory>
#include <vector>

#include <zlib.h>

#include "zip/stream32.h"
#include "zip/zip_cipher.h"

class TDecompressStream {
 public:
  // source stands on the member's first compressed byte; at most compressedSize bytes are taken from it.
  // cipher (may be null) continues the member's key state over the data. Raises nothing: an engine that
  // cannot start makes every Read return Z_MEM_ERROR.
  TDecompressStream(TStream32& source, int64_t compressedSize, TZipCipher* cipher, const bool* cancel);
  ~TDecompressStream();
  TDecompressStream(const TDecompressStream&) = delete;
  TDecompressStream& operator=(const TDecompressStream&) = delete;

  // Fills the buffer: returns count, fewer only when the Deflate data end inside the call, or a negative
  // zlib status (Z_BUF_ERROR, -5, when the input ran out before the end of the data).
  int64_t Read(uint8_t* buffer, int64_t count);

  // The input buffer's size: zlib takes at most an unsigned int of input at a time, and this many bytes
  // are enough to keep it busy for a whole 32 KiB output chunk.
  static constexpr int64_t kInputBufferSize = 131070;

 private:
  TStream32& m_source;
  int64_t m_sourcePosition;
  int64_t m_inputRemaining;
  TZipCipher* m_cipher;
  const bool* m_cancel;
  z_stream m_zstream{};
  bool m_engineReady = false;
  bool m_endOfStream = false;
  std::vector<uint8_t> m_input;
};
