// Extraction speed of TUnZip against the peer tools, in one run: a generated tree is zipped with Info-ZIP
// zip, then extracted by each extractor a few times; the best time of each is printed with its ratio to
// ours. Peers that are not installed are left out. Usage: zip_extract_bench [megabytes] (default 64).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "zip/unzip.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 3;

bool HaveTool(const std::string& probe) { return std::system((probe + " >/dev/null 2>&1").c_str()) == 0; }

// Half text that compresses well, half random bytes that do not, in files of 64 KiB to 4 MiB.
void MakeTree(const fs::path& root, int64_t megabytes) {
  std::mt19937 random(1951);
  int64_t left = megabytes << 20;
  for (int index = 0; left > 0; ++index) {
    const int64_t size = std::min<int64_t>(left, int64_t{64} << (10 + index % 7));
    const fs::path path = root / ("dir" + std::to_string(index % 5)) / ("file" + std::to_string(index) + ".dat");
    fs::create_directories(path.parent_path());
    std::string data;
    data.reserve(static_cast<size_t>(size));
    if (index % 2 == 0) {
      while (static_cast<int64_t>(data.size()) < size) data += "record " + std::to_string(random() % 100000) + " ok\n";
    } else {
      while (static_cast<int64_t>(data.size()) < size) data += static_cast<char>(random());
    }
    data.resize(static_cast<size_t>(size));
    std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
    left -= size;
  }
}

double BestSeconds(const std::function<void()>& run, const fs::path& out) {
  double best = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    fs::remove_all(out);
    fs::create_directories(out);
    const auto start = std::chrono::steady_clock::now();
    run();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t megabytes = argc > 1 ? std::atoll(argv[1]) : 64;
  if (!HaveTool("zip -v")) {
    std::fprintf(stderr, "Info-ZIP zip is needed to make the archive\n");
    return 1;
  }
  const fs::path work = fs::temp_directory_path() / ("zip_extract_bench_" + std::to_string(std::random_device()()));
  fs::create_directories(work / "tree");
  MakeTree(work / "tree", megabytes);
  const fs::path archive = work / "bench.zip";
  const std::string zipCommand = "cd '" + work.string() + "' && zip -q -r bench.zip tree";
  if (std::system(zipCommand.c_str()) != 0) {
    std::fprintf(stderr, "zip failed\n");
    return 1;
  }
  const fs::path out = work / "out";

  struct Result {
    std::string Name;
    double Seconds;
  };
  std::vector<Result> results;
  results.push_back({"TUnZip", BestSeconds(
                                   [&] {
                                     TUnZip unzip;
                                     unzip.FileSpec().push_back("*.*");
                                     unzip.SetExtractDir(out.string());
                                     unzip.SetArchiveFile(archive.string());
                                     unzip.Extract();
                                   },
                                   out)});
  const struct {
    const char* Name;
    const char* Probe;
    std::string Command;
  } peers[] = {
      {"unzip", "unzip -v", "unzip -qq -o '" + archive.string() + "' -d '" + out.string() + "'"},
      {"bsdtar", "bsdtar --version", "bsdtar -xf '" + archive.string() + "' -C '" + out.string() + "'"},
      {"7zz", "7zz i", "7zz x -y -bd -bso0 '" + archive.string() + "' -o'" + out.string() + "'"},
  };
  for (const auto& peer : peers) {
    if (!HaveTool(peer.Probe)) continue;
    results.push_back({peer.Name, BestSeconds([&] { (void)std::system(peer.Command.c_str()); }, out)});
  }

  std::printf("%lld MiB of files, archive %.1f MiB, best of %d runs\n", static_cast<long long>(megabytes),
              static_cast<double>(fs::file_size(archive)) / (1 << 20), kRounds);
  std::printf("%-8s %9s %12s\n", "tool", "seconds", "vs TUnZip");
  for (const Result& r : results) {
    std::printf("%-8s %9.3f %11.2fx\n", r.Name.c_str(), r.Seconds, r.Seconds / results[0].Seconds);
  }
  fs::remove_all(work);
  return 0;
}
