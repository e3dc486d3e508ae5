#include "app/range_fetch.h"

#include <algorithm>

#include "net/exceptions.h"
#include "rtl/sysutils.h"

namespace {

// The request's own headers for one batch, removed again however the request ends.
class TRangeHeaders {
 public:
  TRangeHeaders(TIdHTTPRequest& request, const std::vector<TByteRange>& batch, const TValidator& validator)
      : m_request(request) {
    m_request.ContentRangeStart = 0;
    m_request.ContentRangeEnd = 0;
    // Added as a raw line: a long list must not be folded.
    m_request.CustomHeaders.Add("Range: " + RangeHeaderValue(batch));
    m_request.CustomHeaders.SetValue("If-Range", validator.Value);
  }
  ~TRangeHeaders() {
    const int index = m_request.CustomHeaders.IndexOfHeader("Range");
    if (index >= 0) m_request.CustomHeaders.Delete(index);
    m_request.CustomHeaders.SetValue("If-Range", "");
  }

 private:
  TIdHTTPRequest& m_request;
};

}  // namespace

TValidator ValidatorOf(const TIdHTTPResponse& response) {
  const std::string etag = response.HeaderLines.ValueOf("ETag");
  // A weak ETag may not guard a range.
  if (!etag.empty() && etag.rfind("W/", 0) != 0) return {"ETag", etag};
  return {"Last-Modified", response.HeaderLines.ValueOf("Last-Modified")};
}

TRangeFetch::TRangeFetch(TIdHTTP& http, std::string url, TValidator validator, int64_t total)
    : m_http(http), m_url(std::move(url)), m_validator(std::move(validator)), m_total(total) {}

void TRangeFetch::Fetch(std::vector<TByteRange> ranges, const TByteRangesReader::TSink& sink,
                        const std::function<bool()>& stopped) {
  while (!ranges.empty()) {
    const std::vector<TByteRange> batch = NextBatch(ranges);
    std::vector<TByteRange> received;
    std::exception_ptr failure;
    try {
      Request(batch, sink, received);
    } catch (...) {
      failure = std::current_exception();
    }
    if (stopped()) return;
    if (failure != nullptr) TakeFailure(failure);
    ranges.erase(std::remove_if(ranges.begin(), ranges.end(),
                                [&](const TByteRange& range) {
                                  return std::find(received.begin(), received.end(), range) != received.end();
                                }),
                 ranges.end());
    // A server may give fewer ranges than asked (lighttpd gives ten): the next batches ask for as many.
    if (failure == nullptr && received.size() < batch.size()) m_batchLimit = std::max<size_t>(1, received.size());
    if (m_batchLimit == 1 && ranges.size() > kMaxSingleRangeRequests) {
      throw ERangesRefused(Format("The server gives one range per request, and %d are still wanted",
                                  static_cast<int>(ranges.size())));
    }
  }
}

std::vector<TByteRange> TRangeFetch::NextBatch(const std::vector<TByteRange>& pending) const {
  std::vector<TByteRange> batch;
  size_t bytes = 0;
  for (const TByteRange& range : pending) {
    bytes += std::to_string(range.First).size() + std::to_string(range.Last).size() + 2;
    if (batch.size() == m_batchLimit || (!batch.empty() && bytes > kMaxRangeHeaderBytes)) break;
    batch.push_back(range);
  }
  return batch;
}

void TRangeFetch::Request(const std::vector<TByteRange>& batch, const TByteRangesReader::TSink& sink,
                          std::vector<TByteRange>& received) {
  TRangeHeaders headers(m_http.Request(), batch, m_validator);
  TByteRangesReader reader(m_http.Response(), batch, m_total, sink);
  ++m_requests;
  try {
    m_http.Get(m_url, reader);
  } catch (...) {
    // The parts that came whole before a break are not asked for again.
    received = reader.Received();
    throw;
  }
  // A peer that closed inside a body of announced length left it short without an error: a break all the same.
  if (m_http.Response().ContentLength >= 0 && reader.Position() < m_http.Response().ContentLength) {
    received = reader.Received();
    throw EIdConnClosedGracefully();
  }
  const TValidator validator = ValidatorOf(m_http.Response());
  if (!validator.Value.empty() && validator.Value != m_validator.Value) {
    throw ERangesRefused("The ranges came from another version: " + validator.Value);
  }
  reader.Finish();
  received = reader.Received();
}

void TRangeFetch::TakeFailure(const std::exception_ptr& failure) {
  if (m_http.Response().StatusCode() != 200 && IsConnectionBreak(failure) && m_resumes < kMaxResumes) {
    ++m_resumes;
    return;
  }
  try {
    std::rethrow_exception(failure);
  } catch (const ERangesRefused&) {
    throw;
  } catch (const Exception& error) {
    throw ERangesRefused(error.Message());
  }
}
