#include "app/program_command.h"

#include "app/path_helpers.h"
#include "platform/files.h"
#include "rtl/sysutils.h"
#include "zip/target_name.h"

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

std::optional<TProgramCommand> InsideFile(const std::string& extractPath, const std::string& program,
                                          const std::string& arguments) {
  std::string directory = Trim(extractPath);
  if (directory.empty()) return std::nullopt;
  if (directory.back() != platform::kPathSeparator) directory += platform::kPathSeparator;
  // The file itself must lie below the directory: the directory alone (a blank RunProgram) is no program.
  if (program.size() <= directory.size() || !TargetStaysInside(directory, program, TTargetRules::Native()) ||
      !platform::FileExists(program)) {
    return std::nullopt;
  }
  return TProgramCommand{program, arguments};
}

}  // namespace

std::optional<TProgramCommand> ProgramToStart(const std::string& extractPath, const std::string& runProgram) {
  const std::string whole = JoinPath(extractPath, runProgram, /*slash=*/false);
  if (platform::FileExists(whole)) return InsideFile(extractPath, whole, std::string());

  const std::string text = Trim(runProgram);
  std::string name;
  size_t rest = 0;
  if (!text.empty() && text[0] == '"') {
    const size_t close = text.find('"', 1);
    name = text.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    rest = close == std::string::npos ? text.size() : close + 1;
  } else {
    while (rest < text.size() && !IsBlank(text[rest])) ++rest;
    name = text.substr(0, rest);
  }
  if (name.empty()) return std::nullopt;
  return InsideFile(extractPath, JoinPath(extractPath, name, /*slash=*/false), Trim(text.substr(rest)));
}
