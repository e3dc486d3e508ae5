#include "app/archive_download.h"

#include "app/path_helpers.h"
#include "http/content_range.h"
#include "net/exceptions.h"
#include "platform/files.h"
#include "rtl/sysutils.h"

namespace {

constexpr const char* kPartSuffix = ".part";

}  // namespace

TArchiveDownload::TArchiveDownload(TIdHTTP& http, std::string directory, std::string archivePath)
    : m_http(http),
      m_directory(std::move(directory)),
      m_archivePath(std::move(archivePath)),
      m_partPath(m_archivePath + kPartSuffix) {}

TArchiveDownload::~TArchiveDownload() {
  if (m_committed) return;
  const bool created = m_body.has_value();
  m_body.reset();
  if (created) platform::DeleteFileAt(m_partPath);
}

bool TArchiveDownload::Open() {
  if (!CreateDirChain(m_directory)) return false;
  platform::File file = platform::File::Create(m_partPath);
  if (!file.IsOpen()) return false;
  m_body.emplace(std::move(file));
  return true;
}

void TArchiveDownload::Fetch(const std::string& url, const std::function<bool()>& stopped) {
  // The handlers see the whole body's counts: a resumed request's begin and work are offset by the bytes
  // already held, so the bar goes on from there instead of starting again at zero.
  const TWorkBeginEvent begin = m_http.OnWorkBegin;
  const TWorkEvent work = m_http.OnWork;
  const TWorkEndEvent end = m_http.OnWorkEnd;
  const auto head = m_http.OnResponseHead;
  m_http.OnResponseHead = [this, head](TIdCustomHTTP* sender) {
    TakeResponse();
    if (head) head(sender);
  };
  m_http.OnWorkBegin = [this, begin, work](TIdComponent* sender, TWorkMode mode, int32_t max) {
    if (mode != wmRead) return begin ? begin(sender, mode, max) : void();
    if (begin) begin(sender, mode, max > 0 ? ClampWorkCount(m_requestStart + max) : max);
    if (work && m_requestStart > 0) work(sender, mode, ClampWorkCount(m_requestStart));
  };
  m_http.OnWork = [this, work](TIdComponent* sender, TWorkMode mode, int32_t count) {
    if (work) work(sender, mode, mode == wmRead ? ClampWorkCount(m_requestStart + count) : count);
  };
  // A body that broke off does not show as done while the rest is asked for.
  m_http.OnWorkEnd = [this, end](TIdComponent* sender, TWorkMode mode) {
    if (end && (mode != wmRead || m_expectedEnd < 0 || m_body->Position() >= m_expectedEnd)) end(sender, mode);
  };
  // Later requests of the client (the signature) are plain again, however this one ends.
  struct Restore {
    TIdHTTP& http;
    TWorkBeginEvent begin;
    TWorkEvent work;
    TWorkEndEvent end;
    decltype(TIdHTTP::OnResponseHead) head;
    ~Restore() {
      http.OnWorkBegin = begin;
      http.OnWork = work;
      http.OnWorkEnd = end;
      http.OnResponseHead = head;
      http.Request().ContentRangeStart = 0;
      http.Request().CustomHeaders.SetValue("If-Range", "");
    }
  } restore{m_http, begin, work, end, head};

  for (int resumes = 0;; ++resumes) {
    std::exception_ptr failure;
    try {
      if (Request(url)) return;
    } catch (...) {
      failure = std::current_exception();
    }
    // A cancel asks nothing again; a request that the cancel made fail is still a failed download.
    if (stopped()) {
      if (failure != nullptr) std::rethrow_exception(failure);
      return;
    }
    // Nothing held yet is no break of a body: the server was never reached, or refused. A part of another
    // version leaves the archive to be had whole.
    const bool resumable = !FileFailed() && (m_partRefused || (m_body->Position() > 0 &&
                                                               (failure == nullptr || IsConnectionBreak(failure))));
    if (!resumable || resumes == kMaxResumes) {
      if (failure != nullptr) std::rethrow_exception(failure);
      throw EIdException(Format("The body ended at %lld of %lld bytes", static_cast<long long>(m_body->Position()),
                                static_cast<long long>(m_expectedEnd)));
    }
  }
}

bool TArchiveDownload::Request(const std::string& url) {
  // A failure may have left the file pre-sized beyond the bytes that arrived: they end at the position.
  m_requestStart = m_body->Position();
  m_resuming = m_requestStart > 0 && !m_validator.empty();
  if (!m_resuming) m_requestStart = 0;
  m_body->SetSize(m_requestStart);
  m_body->SetPosition(m_requestStart);
  if (FileFailed()) throw EStreamError("The partial archive cannot be cut to its received bytes");
  TIdHTTPRequest& request = m_http.Request();
  request.ContentRangeStart = m_resuming ? m_requestStart : 0;
  request.CustomHeaders.SetValue("If-Range", m_resuming ? m_validator : "");
  m_partRefused = false;
  m_http.Get(url, *m_body);
  const int64_t end = m_body->Position();
  if (m_expectedEnd >= 0 && end > m_expectedEnd) {
    throw EIdException(Format("The body ran past its %lld bytes", static_cast<long long>(m_expectedEnd)));
  }
  return m_expectedEnd < 0 || end == m_expectedEnd;
}

void TArchiveDownload::TakeResponse() {
  const TIdHTTPResponse& response = m_http.Response();
  const int code = response.StatusCode();
  // The heads of refused statuses and redirects come here too; their pages are not the body.
  if (code / 100 != 2) return;
  if (m_resuming && code != 200) {
    if (code != 206) {
      throw EIdException(Format("A request for the bytes from %lld was answered by \"%s\"",
                                static_cast<long long>(m_requestStart), response.StatusLine.c_str()));
    }
    TakePart(response);
    return;
  }
  // A new start: the whole body follows, and its validator names the version the file now holds.
  m_requestStart = 0;
  m_body->SetSize(0);
  m_body->SetPosition(0);
  const std::string etag = response.HeaderLines.ValueOf("ETag");
  // A weak ETag may not guard a range.
  m_validatorName = !etag.empty() && etag.rfind("W/", 0) != 0 ? "ETag" : "Last-Modified";
  m_validator = response.HeaderLines.ValueOf(m_validatorName);
  // The end of the body, where its framing announces it (chunks announce nothing, whatever a length says).
  const bool chunked = response.HeaderLines.ValueOf("Transfer-Encoding").find("chunked") != std::string::npos;
  m_expectedEnd = !chunked && response.ContentLength >= 0 ? response.ContentLength : -1;
}

void TArchiveDownload::TakePart(const TIdHTTPResponse& response) {
  // Only the rest of the very body the file holds continues it: from the byte asked for to the last byte of
  // a body as long as the first one, of the version the first one named. A server or cache that ignores
  // If-Range sends a part of whatever it has now; appended, it would make an archive of two versions.
  const std::string range = response.HeaderLines.ValueOf("Content-Range");
  int64_t first = 0;
  int64_t last = 0;
  int64_t total = 0;
  const std::string validator = response.HeaderLines.ValueOf(m_validatorName);
  if (!ParseContentRange(range, first, last, total) || first != m_requestStart || last != total - 1 ||
      (m_expectedEnd >= 0 && total != m_expectedEnd) || (!validator.empty() && validator != m_validator)) {
    // The bytes held belong to a version this server no longer gives out in parts: the next request asks
    // for the whole archive.
    m_validator.clear();
    m_partRefused = true;
    throw EIdException(Format("A request for the bytes from %lld of %lld was answered by the part \"%s\"%s",
                              static_cast<long long>(m_requestStart), static_cast<long long>(m_expectedEnd),
                              range.c_str(), validator.empty() ? "" : (" of " + validator).c_str()));
  }
  m_expectedEnd = total;
}

bool TArchiveDownload::Commit(const std::function<void()>& whileWaiting) {
  if (!m_body->Close() || !platform::ReplaceFile(m_partPath, m_archivePath, whileWaiting)) return false;
  m_committed = true;
  return true;
}
