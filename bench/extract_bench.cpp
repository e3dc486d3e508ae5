// Extraction as the updater does it, and zlib's own in-memory inflate over the same members as a ceiling.
//
//   extract_bench unzip ARCHIVE DIR   extracts every member below DIR with TUnZip configured as the updater
//                                     configures it (overwrite, scratch directory = DIR, mask "*.*"), with
//                                     a recording UI as its window
//   extract_bench zlib ARCHIVE        inflates every Deflate member from memory into memory (the archive is
//                                     read first, outside the timing; no CRC, no file writes)
//
// Prints one line: [bytes=<n>] seconds=<s> [cpu=<s>] members=<n> errors=<n> max_gap_ms=<ms> (failed members and CRC
// errors count as errors: without an OnEnd handler the extractor reports them through OnError)
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/headless/headless_ui.h"
#include "zip/unzip.h"

namespace {

uint32_t Le16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }
uint32_t Le32(const uint8_t* p) { return Le16(p) | Le16(p + 2) << 16; }

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int RunUnzip(const std::string& archive, const std::string& directory) {
  platform::HeadlessUi ui;
  TUnZip unzip(&ui);
  int errors = 0;
  unzip.OnError = [&errors](TUnBase&, const std::string& name, const std::string&, const std::string&, int code) {
    std::fprintf(stderr, "error %d: %s\n", code, name.c_str());
    ++errors;
  };
  const int64_t startMs = platform::MonotonicMilliseconds();
  const auto start = std::chrono::steady_clock::now();
  unzip.CpuType = TCpuType::cptAuto;
  unzip.OverwriteMode = TOverwriteMode::omOverwrite;
  unzip.SetScratchDir(directory);
  unzip.FileSpec().push_back("*.*");
  unzip.SetExtractDir(directory);
  unzip.SetArchiveFile(archive);
  const int members = unzip.Extract();
  const double seconds = SecondsSince(start);
  const int64_t maxGap = ui.LongestStretchWithoutTurn(startMs, platform::MonotonicMilliseconds());
  std::printf("seconds=%.6f members=%d errors=%d max_gap_ms=%lld\n", seconds, members, errors,
              static_cast<long long>(maxGap));
  return errors == 0 ? 0 : 1;
}

int RunZlib(const std::string& archive) {
  std::FILE* file = std::fopen(archive.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", archive.c_str());
    return 1;
  }
  std::vector<uint8_t> data;
  uint8_t piece[1 << 16];
  for (size_t n; (n = std::fread(piece, 1, sizeof piece, file)) > 0;) data.insert(data.end(), piece, piece + n);
  std::fclose(file);

  // The end record, then the central directory (archives without ZIP64 records are enough here).
  size_t end = data.size() >= 22 ? data.size() - 22 : 0;
  while (end > 0 && Le32(&data[end]) != 0x06054B50) --end;
  if (data.size() < 22 || Le32(&data[end]) != 0x06054B50) {
    std::fprintf(stderr, "no end record\n");
    return 1;
  }
  const uint32_t count = Le16(&data[end + 10]);
  size_t central = Le32(&data[end + 16]);

  struct Member {
    size_t offset;
    size_t compressed;
    size_t uncompressed;
  };
  std::vector<Member> members;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* record = &data[central];
    const uint32_t method = Le16(record + 10);
    const size_t local = Le32(record + 42);
    const size_t dataStart = local + 30 + Le16(&data[local + 26]) + Le16(&data[local + 28]);
    if (method == 8) members.push_back({dataStart, Le32(record + 20), Le32(record + 24)});
    central += 46 + Le16(record + 28) + Le16(record + 30) + Le16(record + 32);
  }
  size_t largest = 0;
  for (const Member& member : members) largest = std::max(largest, member.uncompressed);
  std::vector<uint8_t> output(std::max<size_t>(largest, 1));

  int errors = 0;
  int64_t bytes = 0;
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpuStart = std::clock();
  for (const Member& member : members) {
    z_stream stream{};
    inflateInit2(&stream, -MAX_WBITS);
    stream.next_in = &data[member.offset];
    stream.avail_in = static_cast<uInt>(member.compressed);
    stream.next_out = output.data();
    stream.avail_out = static_cast<uInt>(output.size());
    if (inflate(&stream, Z_FINISH) != Z_STREAM_END || stream.total_out != member.uncompressed) ++errors;
    bytes += static_cast<int64_t>(stream.total_out);
    inflateEnd(&stream);
  }
  const double seconds = SecondsSince(start);
  const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  std::printf("bytes=%lld seconds=%.6f cpu=%.6f members=%zu errors=%d max_gap_ms=0\n", static_cast<long long>(bytes),
              seconds, cpu, members.size(), errors);
  return errors == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "unzip") == 0) return RunUnzip(argv[2], argv[3]);
  if (argc == 3 && std::strcmp(argv[1], "zlib") == 0) return RunZlib(argv[2]);
  std::fprintf(stderr, "usage: extract_bench unzip ARCHIVE DIR | extract_bench zlib ARCHIVE\n");
  return 2;
}
