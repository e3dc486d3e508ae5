#include "zip/decoders/decompress_stream.h"

#include <algorithm>

TDecompressStream::TDecompressStream(TStream32& source, int64_t compressedSize, TZipCipher* cipher,
                                     const bool* cancel)
    : m_source(source),
      m_sourcePosition(source.Position()),
      m_inputRemaining(std::max<int64_t>(compressedSize, 0)),
      m_cipher(cipher),
      m_cancel(cancel),
      m_input(static_cast<size_t>(kInputBufferSize)) {
  m_engineReady = inflateInit2(&m_zstream, -MAX_WBITS) == Z_OK;
}

TDecompressStream::~TDecompressStream() {
  if (m_engineReady) inflateEnd(&m_zstream);
}

int64_t TDecompressStream::Read(uint8_t* buffer, int64_t count) {
  if (!m_engineReady) return Z_MEM_ERROR;
  if (m_endOfStream || count <= 0) return 0;
  m_zstream.next_out = buffer;
  m_zstream.avail_out = static_cast<uInt>(count);
  // The driver may have moved the archive stream between reads (progress handlers run in between).
  if (m_source.Position() != m_sourcePosition) m_source.Seek(m_sourcePosition, SeekOrigin::Beginning);
  while (m_zstream.avail_out > 0) {
    if (m_cancel != nullptr && *m_cancel) break;
    if (m_zstream.avail_in == 0) {
      // Never past the member's own data: a damaged stream must not run on into the next member.
      const int64_t want = std::min({count, m_inputRemaining, kInputBufferSize});
      const int64_t got = want > 0 ? m_source.Read(m_input.data(), want) : 0;
      if (got > 0 && m_cipher != nullptr) m_cipher->Decipher(m_input.data(), got);
      m_sourcePosition += got;
      m_inputRemaining -= got;
      m_zstream.next_in = m_input.data();
      m_zstream.avail_in = static_cast<uInt>(got);
    }
    const int status = inflate(&m_zstream, Z_NO_FLUSH);
    if (status == Z_STREAM_END) {
      m_endOfStream = true;
      break;
    }
    if (status < 0) return status;
  }
  return count - static_cast<int64_t>(m_zstream.avail_out);
}
