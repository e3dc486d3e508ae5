// Extraction as the updater does it, and two ceilings over the same members: zlib's own in-memory inflate, and
// a minimal extractor that also writes the files.
//
//   extract_bench unzip ARCHIVE DIR   extracts every member below DIR with TUnZip configured as the updater
//                                     configures it (overwrite, scratch directory = DIR, mask "*.*"), with
//                                     a recording UI as its window
//   extract_bench zlib ARCHIVE        inflates every Deflate member from memory into memory (the archive is
//                                     read first, outside the timing; no CRC, no file writes)
//   extract_bench minimal ARCHIVE DIR reads the archive, inflates each Deflate member with zlib and writes
//                                     every member with one create, write and close (reading included in the
//                                     timing; no CRC, attributes or times)
//
// Prints one line: [bytes=<n>] seconds=<s> [cpu=<s>] members=<n> errors=<n> max_gap_ms=<ms> (failed members and CRC
// errors count as errors: without an OnEnd handler the extractor reports them through OnError)
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iterator>
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

// The archive's bytes, read whole.
bool ReadArchive(const std::string& archive, std::vector<uint8_t>& data) {
  std::FILE* file = std::fopen(archive.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", archive.c_str());
    return false;
  }
  uint8_t piece[1 << 16];
  for (size_t n; (n = std::fread(piece, 1, sizeof piece, file)) > 0;) data.insert(data.end(), piece, piece + n);
  std::fclose(file);
  return true;
}

struct Member {
  std::string name;
  uint32_t method;
  size_t offset;
  size_t compressed;
  size_t uncompressed;
};

// The members the central directory lists (archives without ZIP64 records are enough here); false when there
// is no end record.
bool ListMembers(const std::vector<uint8_t>& data, std::vector<Member>& members) {
  size_t end = data.size() >= 22 ? data.size() - 22 : 0;
  while (end > 0 && Le32(&data[end]) != 0x06054B50) --end;
  if (data.size() < 22 || Le32(&data[end]) != 0x06054B50) {
    std::fprintf(stderr, "no end record\n");
    return false;
  }
  const uint32_t count = Le16(&data[end + 10]);
  size_t central = Le32(&data[end + 16]);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* record = &data[central];
    const size_t local = Le32(record + 42);
    const size_t dataStart = local + 30 + Le16(&data[local + 26]) + Le16(&data[local + 28]);
    const char* name = reinterpret_cast<const char*>(record + 46);
    members.push_back({std::string(name, Le16(record + 28)), Le16(record + 10), dataStart, Le32(record + 20),
                       Le32(record + 24)});
    central += 46 + Le16(record + 28) + Le16(record + 30) + Le16(record + 32);
  }
  return true;
}

// Inflates a Deflate member into output, which holds its uncompressed size; false when the data disagree.
bool Inflate(const std::vector<uint8_t>& data, const Member& member, uint8_t* output) {
  z_stream stream{};
  inflateInit2(&stream, -MAX_WBITS);
  stream.next_in = const_cast<uint8_t*>(&data[member.offset]);
  stream.avail_in = static_cast<uInt>(member.compressed);
  stream.next_out = output;
  stream.avail_out = static_cast<uInt>(member.uncompressed);
  const bool whole = inflate(&stream, Z_FINISH) == Z_STREAM_END && stream.total_out == member.uncompressed;
  inflateEnd(&stream);
  return whole;
}

int RunZlib(const std::string& archive) {
  std::vector<uint8_t> data;
  std::vector<Member> listed;
  if (!ReadArchive(archive, data) || !ListMembers(data, listed)) return 1;
  std::vector<Member> members;
  std::copy_if(listed.begin(), listed.end(), std::back_inserter(members),
               [](const Member& member) { return member.method == 8; });
  size_t largest = 0;
  for (const Member& member : members) largest = std::max(largest, member.uncompressed);
  std::vector<uint8_t> output(std::max<size_t>(largest, 1));

  int errors = 0;
  int64_t bytes = 0;
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpuStart = std::clock();
  for (const Member& member : members) {
    if (!Inflate(data, member, output.data())) ++errors;
    bytes += static_cast<int64_t>(member.uncompressed);
  }
  const double seconds = SecondsSince(start);
  const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  std::printf("bytes=%lld seconds=%.6f cpu=%.6f members=%zu errors=%d max_gap_ms=0\n", static_cast<long long>(bytes),
              seconds, cpu, members.size(), errors);
  return errors == 0 ? 0 : 1;
}

// The least an extractor must do to leave the files on the disk: the archive read whole, each Deflate or stored
// member inflated with zlib into memory and written with one create, one write and one close; directories made
// as names need them. No CRC, no attributes, no times, nothing staged.
int RunMinimal(const std::string& archive, const std::string& directory) {
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpuStart = std::clock();
  std::vector<uint8_t> data;
  std::vector<Member> members;
  if (!ReadArchive(archive, data) || !ListMembers(data, members)) return 1;
  std::vector<uint8_t> output;
  int errors = 0;
  for (const Member& member : members) {
    const std::filesystem::path target = std::filesystem::path(directory) / member.name;
    if (member.name.back() == '/') {
      std::filesystem::create_directories(target);
      continue;
    }
    std::filesystem::create_directories(target.parent_path());
    const uint8_t* bytes = &data[member.offset];
    if (member.method == 8) {
      output.resize(std::max<size_t>(member.uncompressed, 1));
      if (!Inflate(data, member, output.data())) ++errors;
      bytes = output.data();
    } else if (member.method != 0) {
      ++errors;
      continue;
    }
    const int file = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0 || write(file, bytes, member.uncompressed) != static_cast<ssize_t>(member.uncompressed)) ++errors;
    if (file >= 0) close(file);
  }
  const double seconds = SecondsSince(start);
  const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  std::printf("seconds=%.6f cpu=%.6f members=%zu errors=%d max_gap_ms=0\n", seconds, cpu, members.size(), errors);
  return errors == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "unzip") == 0) return RunUnzip(argv[2], argv[3]);
  if (argc == 3 && std::strcmp(argv[1], "zlib") == 0) return RunZlib(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "minimal") == 0) return RunMinimal(argv[2], argv[3]);
  std::fprintf(stderr, "usage: extract_bench unzip ARCHIVE DIR | zlib ARCHIVE | minimal ARCHIVE DIR\n");
  return 2;
}
