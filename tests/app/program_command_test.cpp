// Which program the update starts: only an existing file inside the extract directory, never a program that a
// blank in the directory's own name would make of its first words.
#include "app/program_command.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace {

using testsupport::TempDir;

TEST(ProgramToStartTest, StartsOnlyAnExistingFileInsideTheExtractDirectory) {
  TempDir temp;
  const std::string S(1, platform::kPathSeparator);
  const std::string dir = temp.Path().string() + S + "my app";
  temp.Write("my", "a program in front of the directory's blank");
  temp.Write("outside", "beside the directory");
  temp.Write("my app/run", "program");
  temp.Write("my app/tool with blanks", "program");
  temp.Write("my app/sub/deep", "program");

  struct Case {
    std::string runProgram;
    std::string program;  // relative to dir; empty: nothing is started
    std::string arguments;
  };
  const Case cases[] = {
      {"run", "run", ""},
      {"run --silent now", "run", "--silent now"},
      {"  run  ", "run", ""},
      {"tool with blanks", "tool with blanks", ""},
      {"\"tool with blanks\" -a", "tool with blanks", "-a"},
      {"sub" + S + "deep x", "sub" + S + "deep", "x"},
      {"missing", "", ""},
      {"missing arguments", "", ""},
      {" ", "", ""},
      {"sub", "", ""},
      {".." + S + "outside", "", ""},
      {"sub" + S + ".." + S + ".." + S + "outside -x", "", ""},
  };
  for (const Case& c : cases) {
    const auto command = ProgramToStart(dir, c.runProgram);
    if (c.program.empty()) {
      EXPECT_FALSE(command.has_value()) << c.runProgram << " starts " << command->Program;
    } else {
      ASSERT_TRUE(command.has_value()) << c.runProgram;
      EXPECT_EQ(command->Program, dir + S + c.program) << c.runProgram;
      EXPECT_EQ(command->Arguments, c.arguments) << c.runProgram;
    }
  }
}

}  // namespace
