#include "app/seeded_download.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <set>

#include "app/member_check.h"
#include "http/content_range.h"
#include "platform/files.h"
#include "rtl/sysutils.h"
#include "zip/zip_records.h"

namespace {

constexpr int64_t kCopyBlock = 256 * 1024;

// The body of the suffix request: kept in memory up to the probe's length; anything but a 206 raises at its
// first byte, so that a server that ignores ranges does not send the whole archive here.
class TTailStream : public TMemoryStream {
 public:
  explicit TTailStream(const TIdHTTPResponse& response) : m_response(response) {}
  int64_t Write(const void* buffer, int64_t count) override {
    if (m_response.StatusCode() != 206) {
      throw ERangesRefused("the server answered the request for the archive's tail with \"" + m_response.StatusLine + "\"");
    }
    if (Position() + count > kDirectoryProbeBytes) throw ERangesRefused("the archive's tail is longer than asked for");
    return TMemoryStream::Write(buffer, count);
  }

 private:
  const TIdHTTPResponse& m_response;
};

// What the stream holds there; shorter when it cannot be read (which a directory read then refuses).
std::string ReadAt(TStream& stream, int64_t offset, int64_t count) {
  std::string bytes(static_cast<size_t>(count), '\0');
  stream.SetPosition(offset);
  bytes.resize(static_cast<size_t>(std::max<int64_t>(0, stream.Read(bytes.data(), count))));
  return bytes;
}

// The directory of the archive in stream; false when it has none that can be read.
bool ReadDirectoryOf(TStream& stream, TZipDirectory& directory) {
  const int64_t size = stream.Size();
  int64_t from = std::max<int64_t>(0, size - kDirectoryProbeBytes);
  int64_t needed = from;
  if (ReadZipDirectory(ReadAt(stream, from, size - from), from, size, directory, needed)) return true;
  return needed < from && ReadZipDirectory(ReadAt(stream, needed, size - needed), needed, size, directory, needed);
}

std::string Megabytes(int64_t bytes) { return Format("%.1f MB", static_cast<double>(bytes) / 1e6); }

// The new archive's work events: one begin with the bytes to fetch, work as they are written, one end. The
// client's own events (one pair per request) are held back meanwhile.
class TFetchWork {
 public:
  explicit TFetchWork(TIdHTTP& http)
      : m_http(http), m_begin(http.OnWorkBegin), m_work(http.OnWork), m_end(http.OnWorkEnd) {
    http.OnWorkBegin = nullptr;
    http.OnWork = nullptr;
    http.OnWorkEnd = nullptr;
  }
  ~TFetchWork() {
    m_http.OnWorkBegin = m_begin;
    m_http.OnWork = m_work;
    m_http.OnWorkEnd = m_end;
  }
  void Begin(int64_t max) {
    if (m_begin) m_begin(&m_http, wmRead, ClampWorkCount(max));
  }
  void Work(int64_t count) {
    if (m_work) m_work(&m_http, wmRead, ClampWorkCount(count));
  }
  void End() {
    if (m_end) m_end(&m_http, wmRead);
  }

 private:
  TIdHTTP& m_http;
  TWorkBeginEvent m_begin;
  TWorkEvent m_work;
  TWorkEndEvent m_end;
};

}  // namespace

TSeededDownload::TSeededDownload(TIdHTTP& http, std::string oldArchivePath, TStream& body, TLog log,
                                 std::function<void()> whileChecking)
    : m_http(http),
      m_oldArchivePath(std::move(oldArchivePath)),
      m_body(body),
      m_log(std::move(log)),
      m_whileChecking(std::move(whileChecking)) {}

bool TSeededDownload::Fetch(const std::string& url, const std::function<bool()>& stopped) {
  m_stopped = stopped;
  if (!platform::FileExists(m_oldArchivePath)) return false;
  platform::File file = platform::File::OpenRegular(m_oldArchivePath);
  if (!file.IsOpen()) return false;
  m_old = std::make_unique<TFileStream>(std::move(file));
  // An old file that is no readable archive is no seed: the download goes on as if it were not there.
  if (!ReadDirectoryOf(*m_old, m_oldDirectory)) return false;
  TFetchWork work(m_http);
  try {
    ReadTail(url);
    TRangeFetch fetch(m_http, url, m_validator, m_total);
    int members = 0;
    const TReusePlan plan = MakePlan(fetch, members);
    work.Begin(plan.FetchedBytes);
    Assemble(plan, fetch, [&](int64_t fetched) { work.Work(fetched); });
    if (stopped()) return true;
    work.End();
    m_log(Format("reused %d of %d members, %s, from the previous download; fetched %s in %d requests",
                 plan.ReusedMembers, members, Megabytes(plan.ReusedBytes).c_str(), Megabytes(m_received).c_str(),
                 fetch.Requests() + 1));
    return true;
  } catch (const Exception& error) {
    if (stopped()) return true;
    m_log("fetching in part given up (" + error.Message() + "): downloading the whole archive");
  }
  // The whole download begins on a new connection, as it would have without the old archive: the last one
  // may have been left inside a response.
  m_http.CloseConnection();
  m_body.SetSize(0);
  m_body.SetPosition(0);
  return false;
}

TReusePlan TSeededDownload::MakePlan(TRangeFetch& fetch, int& members) {
  TZipDirectory fresh = ReadNewDirectory(fetch);
  PrepareCandidates(fresh, m_oldDirectory, fetch);
  TReusePlan plan = PlanReuse(fresh.Entries, m_oldDirectory.Entries, m_tailStart,
                              [](const TDirectoryEntry& entry) { return entry.DataOffset >= 0; });
  if (!plan.Worthwhile(m_total)) {
    throw ERangesRefused(Format("%s of %s would be fetched", Megabytes(plan.FetchedBytes).c_str(),
                                Megabytes(m_total).c_str()));
  }
  members = static_cast<int>(fresh.Entries.size());
  return plan;
}

void TSeededDownload::ReadTail(const std::string& url) {
  TTailStream tail(m_http.Response());
  TIdHTTPRequest& request = m_http.Request();
  request.ContentRangeStart = 0;
  request.CustomHeaders.Add("Range: bytes=-" + std::to_string(kDirectoryProbeBytes));
  struct TRemoveRange {
    TIdHTTPRequest& request;
    ~TRemoveRange() { request.CustomHeaders.Delete(request.CustomHeaders.IndexOfHeader("Range")); }
  } removeRange{request};
  m_http.Get(url, tail);
  const TIdHTTPResponse& response = m_http.Response();
  int64_t last = 0;
  if (response.StatusCode() != 206 ||
      !ParseContentRange(response.HeaderLines.ValueOf("Content-Range"), m_tailStart, last, m_total) ||
      last != m_total - 1 || tail.Size() != last - m_tailStart + 1) {
    throw ERangesRefused("the archive's tail came as \"" + response.HeaderLines.ValueOf("Content-Range") + "\"");
  }
  m_validator = ValidatorOf(response);
  if (m_validator.Value.empty()) throw ERangesRefused("the server names no version of the archive");
  m_tail = tail.DataString();
  m_received += tail.Size();
}

TZipDirectory TSeededDownload::ReadNewDirectory(TRangeFetch& fetch) {
  TZipDirectory fresh;
  int64_t needed = m_tailStart;
  if (ReadZipDirectory(m_tail, m_tailStart, m_total, fresh, needed)) return fresh;
  if (needed >= m_tailStart) throw ERangesRefused("the new archive's directory cannot be read");
  std::string front(static_cast<size_t>(m_tailStart - needed), '\0');
  fetch.Fetch({{needed, m_tailStart - 1}},
              [&](int64_t offset, const uint8_t* data, int64_t count) {
                front.replace(static_cast<size_t>(offset - needed), static_cast<size_t>(count),
                              reinterpret_cast<const char*>(data), static_cast<size_t>(count));
                m_received += count;
              },
              m_stopped);
  if (m_stopped()) throw ERangesRefused("stopped");
  m_tail = front + m_tail;
  m_tailStart = needed;
  if (!ReadZipDirectory(m_tail, m_tailStart, m_total, fresh, needed)) {
    throw ERangesRefused("the new archive's directory cannot be read");
  }
  return fresh;
}

void TSeededDownload::PrepareCandidates(TZipDirectory& fresh, TZipDirectory& old, TRangeFetch& fetch) {
  std::set<std::string> names;
  int64_t candidateBytes = 0;
  for (const TDirectoryEntry& entry : fresh.Entries) {
    if (MatchingOldMember(entry, old.Entries) == nullptr || entry.CompressedSize < kMinReusedBytes) continue;
    names.insert(entry.Name);
    candidateBytes += entry.CompressedSize;
  }
  // Fetching more than about two thirds anyway is not worth the requests (TReusePlan::Worthwhile).
  if (candidateBytes * 3 < m_total) throw ERangesRefused("the previous download shares too little with the new one");
  const std::set<std::string> sound = SoundMembers(m_oldArchivePath, names, m_whileChecking);
  if (m_stopped()) throw ERangesRefused("stopped");
  for (TDirectoryEntry& entry : old.Entries) {
    if (sound.count(entry.Name) == 0 || entry.HeaderOffset < 0 || entry.HeaderOffset > m_old->Size()) continue;
    entry.DataOffset =
        LocalDataOffset(ReadAt(*m_old, entry.HeaderOffset, ziprec::kLocalHeaderSize), entry.HeaderOffset);
  }
  // The new local headers' fixed parts, which tell where each member's data begin.
  std::map<int64_t, std::string> headers;
  std::vector<TByteRange> ranges;
  for (const TDirectoryEntry& entry : fresh.Entries) {
    if (sound.count(entry.Name) == 0 || entry.HeaderOffset < 0 ||
        entry.HeaderOffset + ziprec::kLocalHeaderSize > m_tailStart || headers.count(entry.HeaderOffset) != 0) {
      continue;
    }
    headers[entry.HeaderOffset].clear();
    ranges.push_back({entry.HeaderOffset, entry.HeaderOffset + ziprec::kLocalHeaderSize - 1});
  }
  std::sort(ranges.begin(), ranges.end(), [](const TByteRange& a, const TByteRange& b) { return a.First < b.First; });
  fetch.Fetch(ranges,
              [&](int64_t offset, const uint8_t* data, int64_t count) {
                auto header = std::prev(headers.upper_bound(offset));
                header->second.resize(static_cast<size_t>(offset - header->first));
                header->second.append(reinterpret_cast<const char*>(data), static_cast<size_t>(count));
                m_received += count;
              },
              m_stopped);
  if (m_stopped()) throw ERangesRefused("stopped");
  for (TDirectoryEntry& entry : fresh.Entries) {
    const auto header = headers.find(entry.HeaderOffset);
    if (header != headers.end()) entry.DataOffset = LocalDataOffset(header->second, entry.HeaderOffset);
  }
}

void TSeededDownload::Assemble(const TReusePlan& plan, TRangeFetch& fetch,
                               const std::function<void(int64_t fetched)>& progress) {
  m_body.SetSize(0);
  WriteAt(m_tailStart, m_tail.data(), static_cast<int64_t>(m_tail.size()));
  std::vector<TByteRange> ranges;
  for (const TReuseSegment& segment : plan.Segments) {
    if (segment.Fetched()) {
      ranges.push_back({segment.Offset, segment.Offset + segment.Length - 1});
    } else {
      CopyFromOld(segment);
    }
  }
  int64_t fetched = 0;
  fetch.Fetch(ranges,
              [&](int64_t offset, const uint8_t* data, int64_t count) {
                WriteAt(offset, data, count);
                m_received += count;
                fetched += count;
                progress(fetched);
              },
              m_stopped);
}

void TSeededDownload::CopyFromOld(const TReuseSegment& segment) {
  std::vector<char> block(static_cast<size_t>(std::min(kCopyBlock, segment.Length)));
  for (int64_t done = 0; done < segment.Length;) {
    const int64_t count = std::min<int64_t>(static_cast<int64_t>(block.size()), segment.Length - done);
    m_old->SetPosition(segment.OldOffset + done);
    if (m_old->Read(block.data(), count) != count) throw EStreamError("the previous archive cannot be read");
    WriteAt(segment.Offset + done, block.data(), count);
    done += count;
  }
}

void TSeededDownload::WriteAt(int64_t offset, const void* data, int64_t count) {
  m_body.SetPosition(offset);
  if (m_body.Write(data, count) != count) throw EStreamError("the partial archive cannot be written");
}
