// Body framing: the response header block and its limits, and the body under its framing (a length, chunks or
// the connection's end), with the reads of pages that are not the result (a refused status, a drained body).
#include "http/http_client.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "rtl/sysutils.h"

namespace {

// Waits, in ms, while the body of a response that is not used is read.
constexpr int kDrainTimeout = 4000;
constexpr int kErrorBodyTimeout = 2000;

// A counted body is received in slices, each at most as large as what arrived before it (and at least this
// large), so that the stream, which every read pre-sizes, never grows far beyond the bytes actually received:
// an announced length of 2 GB from a server that sends ten bytes reserves one slice, not 2 GB.
constexpr int32_t kFirstBodySlice = 1024 * 1024;

// A stream that forgets what is written to it.
class TDiscardStream : public TStream {
 public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t count) override { return count; }
  int64_t Seek(int64_t, SeekOrigin) override { return 0; }
  void SetSize(int64_t) override {}
};

// Restores the read timeout and the body target when a body read ends, however it ends.
class BodyReadScope {
 public:
  // The timeout bounds a wait that has no limit, and shortens a longer one; it never lengthens the
  // caller's own limit, which would let a page nobody uses hold the call longer than the body itself.
  BodyReadScope(TIdTCPConnection& connection, TIdHTTPResponse& response, TStream& target, int timeout)
      : m_connection(connection),
        m_response(response),
        m_savedTarget(response.BodyTarget),
        m_savedTimeout(connection.ReadTimeout()) {
    m_response.BodyTarget = &target;
    m_connection.SetReadTimeout(m_savedTimeout > 0 ? std::min(m_savedTimeout, timeout) : timeout);
  }
  ~BodyReadScope() {
    m_response.BodyTarget = m_savedTarget;
    m_connection.SetReadTimeout(m_savedTimeout);
  }
  BodyReadScope(const BodyReadScope&) = delete;
  BodyReadScope& operator=(const BodyReadScope&) = delete;

 private:
  TIdTCPConnection& m_connection;
  TIdHTTPResponse& m_response;
  TStream* m_savedTarget;
  int m_savedTimeout;
};

// A length text that the lenient conversion reads as a number, or would if it fitted 64 bits: optional
// blanks and sign, then decimal digits only. Such a text is a length the server meant, however unusable.
bool IsNumberText(const std::string& text) {
  int64_t value = 0;
  if (TryStrToInt64(text, value)) return true;
  size_t i = text.find_first_not_of(' ');
  if (i != std::string::npos && (text[i] == '+' || text[i] == '-')) ++i;
  return i < text.size() && text.find_first_not_of("0123456789", i) == std::string::npos;
}

}  // namespace

void TIdHTTPProtocol::CheckHeaderLimits(int lines, size_t bytes) {
  if (lines > kMaxHeaderLines || bytes > kMaxHeaderBytes) {
    throw EIdException(Format("Response header block too large (more than %d lines or %u bytes)", kMaxHeaderLines,
                              static_cast<unsigned>(kMaxHeaderBytes)));
  }
}

void TIdHTTPProtocol::ReadHeaderBlock() {
  Response.HeaderLines.Clear();
  size_t bytes = 0;
  for (;;) {
    std::string line;
    try {
      line = m_client.ReadLine("\n");
    } catch (const EIdConnClosedGracefully&) {
      // A close before any header line is a failed exchange; after some, they stand as the block.
      if (Response.HeaderLines.Count() == 0) throw;
      m_client.CloseConnection();
      break;
    }
    if (line.empty()) break;
    bytes += line.size();
    CheckHeaderLimits(Response.HeaderLines.Count() + 1, bytes);
    Response.HeaderLines.Add(line);
  }
  Response.ReadFromLines();
}

int32_t TIdHTTPProtocol::ReadChunkSize() {
  const std::string line = m_client.ReadLine("\n");
  // The size ends at an extension (";name=value") or a blank. It must be hexadecimal digits that fit the
  // stream reads: a size that cannot be read would end the body early and pass a cut body off as complete.
  const std::string text = Trim(line.substr(0, line.find_first_of("; \t")));
  int64_t size = 0;
  bool valid = !text.empty();
  for (const char c : text) {
    const int digit = (c >= '0' && c <= '9')   ? c - '0'
                      : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                      : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                               : -1;
    if (digit < 0 || (size = size * 16 + digit) > std::numeric_limits<int32_t>::max()) {
      valid = false;
      break;
    }
  }
  if (!valid) throw EIdException(Format("Invalid chunk size line \"%s\"", line.substr(0, 64).c_str()));
  return static_cast<int32_t>(size);
}

void TIdHTTPProtocol::ReadCounted(TStream& target, int64_t count) {
  // One begin/end pair for the whole count: the reads of the slices nest inside it.
  TIdWorkScope work(m_client, wmRead, ClampWorkCount(count));
  for (int64_t done = 0; done < count;) {
    // Each slice is one stream read, whose count is 32 bits.
    const int32_t slice = static_cast<int32_t>(std::min<int64_t>(
        {count - done, std::max<int64_t>(kFirstBodySlice, done), std::numeric_limits<int32_t>::max()}));
    m_client.ReadToStream(target, slice, /*readUntilClose=*/false);
    // A connection closed under the read (from a UI handler) ends it without an error; growing the stream
    // for slices that cannot arrive would only reserve memory.
    if (!m_client.IsConnected()) break;
    done += slice;
  }
}

void TIdHTTPProtocol::ReadChunked(TStream& target) {
  m_client.ReportStatus(hsStatusText, "Chunk Started");
  for (int32_t size = ReadChunkSize(); size > 0; size = ReadChunkSize()) {
    ReadCounted(target, size);
    // The data ends with its line end; anything else means the size did not describe the data.
    if (!m_client.ReadLine("\n").empty()) throw EIdException(Format("Chunk longer than its size %d", size));
  }
  // Trailer lines are not used, but read up to the empty line so that a kept connection starts at the next
  // response.
  size_t bytes = 0;
  for (int lines = 1;; ++lines) {
    const std::string line = m_client.ReadLine("\n");
    if (line.empty()) break;
    bytes += line.size();
    CheckHeaderLimits(lines, bytes);
  }
}

void TIdHTTPProtocol::ReadBody() {
  TStream* target = Response.BodyTarget;
  if (target == nullptr) return;
  const TIdHeaderList& headers = Response.HeaderLines;
  const bool lengthGiven = headers.IndexOfHeader("Content-Length") >= 0;
  if (headers.ValueOf("Transfer-Encoding").find("chunked") != std::string::npos) {
    ReadChunked(*target);
    // A length beside chunked framing is a message that two readers cut differently: the chunks decide,
    // and the connection is not trusted with another exchange.
    if (lengthGiven) m_client.CloseConnection();
    return;
  }
  // A length that is no number at all is taken the way header numbers are read here, leniently: as if it
  // were not there, so the body runs to the close.
  if (!lengthGiven || (Response.ContentLength < 0 && !IsNumberText(Trim(headers.ValueOf("Content-Length"))))) {
    m_client.ReadToStream(*target, -1, /*readUntilClose=*/true);
    return;
  }
  std::vector<std::string> lengths;
  headers.CollectValues("Content-Length", lengths);
  for (const std::string& length : lengths) {
    // Two different lengths leave the body's end unknown; taking either could pass a cut body off as whole.
    if (Trim(length) != Trim(lengths.front())) {
      throw EIdException(Format("Conflicting Content-Length headers \"%s\" and \"%s\"",
                                Trim(lengths.front()).substr(0, 32).c_str(), Trim(length).substr(0, 32).c_str()));
    }
  }
  if (Response.ContentLength > 0) {
    try {
      ReadCounted(*target, Response.ContentLength);
    } catch (const EIdConnClosedGracefully&) {
      // A peer that closes early leaves a short body; callers that need the whole body compare the sizes.
    }
  } else if (Response.ContentLength < 0) {
    // A negative length, or one beyond 64 bits, is a number no body can have: the framing is broken, and
    // reading to the close instead could pass a cut body off as whole.
    throw EIdException(Format("Invalid Content-Length \"%s\"",
                              Trim(headers.ValueOf("Content-Length")).substr(0, 32).c_str()));
  }
}

void TIdHTTPProtocol::ReadBodyInto(TStream& target, int timeout) {
  BodyReadScope scope(m_client, Response, target, timeout);
  ReadBody();
}

void TIdHTTPProtocol::FailWithStatus() {
  TStringStream text;
  ReadBodyInto(text, kErrorBodyTimeout);
  throw EIdHTTPProtocolException(Response.StatusCode(), Response.StatusLine, text.DataString());
}

void TIdHTTPProtocol::DrainBody() {
  TDiscardStream discard;
  try {
    ReadBodyInto(discard, kDrainTimeout);
  } catch (const std::exception&) {
    // The body of a response that is not used may fail to arrive; the rest of it must not be taken for the
    // next response.
    m_client.CloseConnection();
  }
}
