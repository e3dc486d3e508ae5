#pragma once
// The previous download as the seed of the next one. When the download directory still holds the archive
// of the last update and it is a readable ZIP archive, the new archive is assembled from it and from byte
// ranges of the new one: the new archive's tail (its central directory) comes first, with a suffix range;
// then the plan (reuse_plan.h) says which members' compressed data the old archive gives, once they decode
// soundly there (member_check.h); the rest (every local header, changed and new members, data descriptors,
// a stub, gaps) is fetched in few multi-range requests (range_fetch.h) and written at its offsets. The
// result is the new archive byte for byte. Whatever is unexpected (a server without ranges or validator,
// too little to reuse, a 200 or a wrong part to a later request, a connection that breaks too often) leaves
// the file empty for one whole download, as if the old archive had not been there.
#include <functional>
#include <memory>
#include <string>

#include "app/range_fetch.h"
#include "app/reuse_plan.h"
#include "app/zip_directory.h"
#include "http/http_client.h"
#include "rtl/streams.h"

class TSeededDownload {
 public:
  using TLog = std::function<void(const std::string& event)>;

  // oldArchivePath: the previous archive; body: the new archive's partial file, written at its offsets;
  // whileChecking: run during the check of the old members, which waits on no connection.
  TSeededDownload(TIdHTTP& http, std::string oldArchivePath, TStream& body, TLog log,
                  std::function<void()> whileChecking);

  // True when body holds the new archive whole, or when stopped() held after a request; false (the body
  // empty) when the archive is to be downloaded whole: at once, without a request, when there is no old
  // archive or it cannot be read as one, else with the reason logged.
  bool Fetch(const std::string& url, const std::function<bool()>& stopped);

 private:
  // The steps; each raises ERangesRefused (or another failure) when fetching in part is to be given up.
  void ReadTail(const std::string& url);
  TZipDirectory ReadNewDirectory(TRangeFetch& fetch);
  // The plan, once it is worth following; members: the new archive's count.
  TReusePlan MakePlan(TRangeFetch& fetch, int& members);
  // The new members whose data the old archive may give, with their data offsets (old and new) filled in.
  void PrepareCandidates(TZipDirectory& fresh, TZipDirectory& old, TRangeFetch& fetch);
  // Writes the tail, copies the reused data and fetches the rest; progress sees the bytes fetched so far.
  void Assemble(const TReusePlan& plan, TRangeFetch& fetch, const std::function<void(int64_t fetched)>& progress);
  void CopyFromOld(const TReuseSegment& segment);
  void WriteAt(int64_t offset, const void* data, int64_t count);

  TIdHTTP& m_http;
  std::string m_oldArchivePath;
  TStream& m_body;
  TLog m_log;
  std::function<void()> m_whileChecking;
  std::function<bool()> m_stopped;
  std::unique_ptr<TFileStream> m_old;
  TZipDirectory m_oldDirectory;
  std::string m_tail;  // the new archive's last bytes, from m_tailStart to the end
  int64_t m_tailStart = 0;
  int64_t m_total = 0;
  TValidator m_validator;
  int64_t m_received = 0;  // body bytes fetched, for the log and the bar
};
