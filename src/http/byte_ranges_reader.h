#pragma once
// The body of a "206" to a request for byte ranges, read as the client writes it into a stream: each part's
// bytes go to a sink with their offset in the whole body, as they arrive. The body is one part when the
// response has a "Content-Range" of its own, and parts in the form "multipart/byteranges" when its type says
// so (a server may answer several ranges with one, or with one covering them). The reading is strict,
// since the parts are written into a file where a misplaced byte would go unnoticed until a checksum fails:
// every part must name, in "Content-Range: bytes N-M/T", one of the ranges asked for (in any order, each
// once) and the total length the caller knows; delimiters, part headers and the line ending every part must
// be where the framing puts them. Any fault raises EIdException, which ends the client's read of the body.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "http/http_client.h"
#include "rtl/streams.h"

struct TByteRange {
  int64_t First = 0;
  int64_t Last = 0;  // inclusive, as in a Range header
  bool operator==(const TByteRange& other) const { return First == other.First && Last == other.Last; }
};

// "bytes=a-b,c-d,..." for a Range header.
std::string RangeHeaderValue(const std::vector<TByteRange>& ranges);

class TByteRangesReader : public TStream {
 public:
  // Receives count bytes of the body starting at offset.
  using TSink = std::function<void(int64_t offset, const uint8_t* data, int64_t count)>;

  // Limits on what surrounds the data, so that a peer cannot make the reader hold endless text.
  static constexpr size_t kMaxLineBytes = 8192;
  static constexpr int kMaxPartHeaderLines = 32;
  static constexpr int kMaxLeadingEmptyLines = 8;

  // The response's status and headers are read when the body's first byte arrives: anything but a 206 raises.
  TByteRangesReader(const TIdHTTPResponse& response, std::vector<TByteRange> asked, int64_t total, TSink sink);

  // Raises EIdException unless the body was whole: the closing delimiter read, or the single part complete.
  void Finish() const;
  // The parts received whole so far, in the order they came.
  const std::vector<TByteRange>& Received() const { return m_received; }

  // The stream side, as the client uses it: writes parse; the position is the count of bytes taken; a size
  // or position set back to 0 starts over (a request the client sends again), any other is ignored when it
  // does not go back.
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  void SetSize(int64_t size) override;

 private:
  // What the reader waits for.
  enum class State {
    Head,         // nothing read yet: the response's headers decide what follows
    Single,       // the one part's bytes; nothing may follow them
    Preamble,     // empty lines, then the first delimiter
    PartHeaders,  // header lines up to the empty line
    Data,         // the part's bytes
    DataEnd,      // the empty line that ends the part's bytes
    Delimiter,    // the next delimiter, or the closing one
    Done,         // after the closing delimiter: the epilogue is ignored
  };

  void Restart();
  // The response whose body begins: a single part, or the multipart boundary.
  void TakeHead();
  // Checks a part's "Content-Range" against the ranges asked for and those received, and makes it current.
  void TakeRange(const std::string& contentRange);
  // Passes the current part's bytes on; true once it is whole.
  bool TakeData(const uint8_t* bytes, int64_t& at, int64_t count);
  // Takes a whole line (without its line end) in the state that waits for one.
  void TakeLine(const std::string& line);
  void TakeDelimiter(const std::string& line, bool first);
  void TakeHeader(const std::string& line);
  // The part whose headers ended: checks its range against those asked for.
  void BeginPart();

  const TIdHTTPResponse& m_response;
  std::string m_boundary;
  std::vector<TByteRange> m_asked;
  int64_t m_total;
  TSink m_sink;

  State m_state = State::Head;
  int64_t m_taken = 0;
  std::string m_line;
  int m_lines = 0;           // lines taken in the current state
  std::string m_partRange;   // the current part's Content-Range
  TByteRange m_part;
  int64_t m_partOffset = 0;  // the next byte of the part's data
  std::vector<TByteRange> m_received;
};
