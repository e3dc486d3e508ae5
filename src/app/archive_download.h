#pragma once
// The update archive on its way in. The body is written straight into "<ArchiveName>.part" in the download
// directory, so the memory the update needs does not grow with the archive (a 32-bit process could not hold a
// large one), and the file takes the archive's name only once it is whole and checked: a download that fails
// or is cancelled leaves a previous archive as it was, and removes its partial file.
//
// A body that breaks off or falls silent after some bytes is asked for again, at most kMaxResumes times, from
// where it stopped: "Range: bytes=N-" with "If-Range" carrying the validator of the response the bytes came
// from (its strong ETag, else its Last-Modified). A 206 continues the file only when its Content-Range is
// "bytes N-(T-1)/T" with the first response's length T and it names the same validator, or none; another 206
// starts the file over with the next request, and a 200 (the archive changed, or the server ignores ranges)
// at once; any other answer fails. Either counts as one of the kMaxResumes. Without a validator the request is
// repeated whole, since a part of an unnamed version could continue another one.
#include <functional>
#include <optional>
#include <string>

#include "http/http_client.h"
#include "rtl/streams.h"

class TArchiveDownload {
 public:
  static constexpr int kMaxResumes = 3;

  // archivePath: the archive's final name; the directory is the download directory (made by Open).
  TArchiveDownload(TIdHTTP& http, std::string directory, std::string archivePath);
  // Unless committed: removes the partial file. (The download directory was made before by the run's log, which
  // is kept there: a failed download leaves the directory with the log in it.)
  ~TArchiveDownload();
  TArchiveDownload(const TArchiveDownload&) = delete;
  TArchiveDownload& operator=(const TArchiveDownload&) = delete;

  // Makes the download directory with its parents and creates the partial file; false when either fails.
  bool Open();
  // Fetches url into the partial file, resuming as described above, until the body is whole; returns early,
  // with what arrived, once stopped() holds (checked after every request), unless that request failed. Raises the last request's failure,
  // or EIdException when the body stays short or a resumed request is answered wrongly. Whether a failure was
  // the file's own (a full disk) tells FileFailed(). The bar continues from the bytes already held: the
  // client's work counts are passed on to its handlers offset by them.
  void Fetch(const std::string& url, const std::function<bool()>& stopped);
  bool FileFailed() const { return m_body.has_value() && m_body->Failed(); }
  // The body received so far (for the signature check: read it from the start).
  TStream& Body() { return *m_body; }
  // Closes the partial file and moves it over the archive's name (whileWaiting runs while the target is held);
  // false when that fails, and the partial file is removed.
  bool Commit(const std::function<void()>& whileWaiting);

 private:
  // One request from the current end of the file; true when the body is whole.
  bool Request(const std::string& url);
  // Checks, at each response head before its body is written, that a success continues the file (a resumed
  // request), or takes it as a new start (a first request, or a 200): its validator and expected end.
  void TakeResponse();
  // Continues the file with a 206, or raises when it is not the rest of the body the file holds.
  void TakePart(const TIdHTTPResponse& response);

  TIdHTTP& m_http;
  std::string m_directory;
  std::string m_archivePath;
  std::string m_partPath;
  std::optional<TFileStream> m_body;
  bool m_committed = false;
  int64_t m_requestStart = 0;   // the file's length when the current request went out
  bool m_resuming = false;      // the current request asks for a range
  bool m_partRefused = false;   // the current request was answered by a part that does not continue the file
  int64_t m_expectedEnd = -1;   // the body's length, when the response framing announced it
  std::string m_validatorName;  // the header m_validator came from: "ETag" or "Last-Modified"
  std::string m_validator;      // for If-Range; empty: a repeated request starts over
};
