#pragma once
// Byte ranges of one version of a file, fetched in few requests: batches of ranges in one multi-range request
// each ("Range: bytes=a-b,c-d,..." with "If-Range"), read strictly by TByteRangesReader. A batch answered by
// fewer of its ranges than asked shows how many the server gives at a time: the next batches ask for as many,
// and, when that is one, only when few ranges are left. A connection that breaks is taken up again, kMaxResumes times in all, for
// the ranges not yet whole. Anything else (a 200: the file changed or ranges are ignored; a part not asked
// for; another validator; too many ranges for one at a time) raises ERangesRefused.
#include <functional>
#include <string>
#include <vector>

#include "http/byte_ranges_reader.h"
#include "http/http_client.h"

class ERangesRefused : public EIdException {
 public:
  using EIdException::EIdException;
};

// The version a response names: its strong ETag, else its Last-Modified, with the header's name.
struct TValidator {
  std::string Name;
  std::string Value;
};
TValidator ValidatorOf(const TIdHTTPResponse& response);

class TRangeFetch {
 public:
  static constexpr int kMaxResumes = 3;
  // A batch stays below the request line limits servers set (8 KiB for a header is common).
  static constexpr size_t kMaxRangesPerRequest = 300;
  static constexpr size_t kMaxRangeHeaderBytes = 6000;
  // With a server that gives one range per request, a plan needing more is fetched whole instead.
  static constexpr size_t kMaxSingleRangeRequests = 36;

  TRangeFetch(TIdHTTP& http, std::string url, TValidator validator, int64_t total);

  // Fetches the ranges (in order, not adjoining) into sink; returns early once stopped() holds after a request.
  void Fetch(std::vector<TByteRange> ranges, const TByteRangesReader::TSink& sink,
             const std::function<bool()>& stopped);
  // Requests sent so far.
  int Requests() const { return m_requests; }

 private:
  // The next batch of the ranges still wanted.
  std::vector<TByteRange> NextBatch(const std::vector<TByteRange>& pending) const;
  // One request for the batch; received: the ranges that came whole, also when it fails.
  void Request(const std::vector<TByteRange>& batch, const TByteRangesReader::TSink& sink,
               std::vector<TByteRange>& received);
  // After a failed request: raises ERangesRefused unless it broke the connection and a resume is left.
  void TakeFailure(const std::exception_ptr& failure);

  TIdHTTP& m_http;
  std::string m_url;
  TValidator m_validator;
  int64_t m_total;
  size_t m_batchLimit = kMaxRangesPerRequest;
  int m_requests = 0;
  int m_resumes = 0;
};
