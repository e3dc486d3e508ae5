#pragma once
// Runs the extractor as the updater configures it and records what it reports.
#include <string>
#include <utility>
#include <vector>

#include "zip/unzip.h"

namespace ziptest {

struct ReportedError {
  int Code;
  std::string FileName;
  std::string ExtendedMsg;
};

struct RunResult {
  int Count = 0;
  std::vector<ReportedError> Errors;

  int CountOf(int code) const {
    int n = 0;
    for (const ReportedError& e : Errors) n += e.Code == code ? 1 : 0;
    return n;
  }
};

// The updater's settings: overwrite, "*.*", extract below dir. Extra configuration happens before.
inline RunResult ExtractAll(TUnZip& unzip, const std::string& archive, const std::string& dir) {
  RunResult result;
  unzip.OverwriteMode = TOverwriteMode::omOverwrite;
  if (unzip.FileSpec().empty()) unzip.FileSpec().push_back("*.*");
  unzip.SetExtractDir(dir);
  unzip.SetArchiveFile(archive);
  unzip.OnError = [&result](TUnBase&, const std::string& fileName, const std::string& extendedMsg,
                            const std::string&, int code) { result.Errors.push_back({code, fileName, extendedMsg}); };
  result.Count = unzip.Extract();
  return result;
}

}  // namespace ziptest
