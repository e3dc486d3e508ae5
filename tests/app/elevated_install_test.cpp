// The internal form of the command line, run directly as the copy with administrator rights runs it: it
// installs exactly as the window would and reports, and refuses items that name no archive and directory.
#include "app/elevated_install.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "support/zip_builder.h"

namespace {

using testsupport::FilesBelow;
using testsupport::ReadFile;
using testsupport::TempDir;

struct ElevatedInstall {
  TempDir temp;
  std::string app = (temp.Path() / "app").string();
  std::string archive = (temp.Path() / "dl" / "u.zip").string();
  std::string report = (temp.Path() / "dl" / kElevatedReportName).string();

  ElevatedInstall() {
    temp.Write("app/VERSION", "1.0\n");
    temp.Write("app/u.zip", "the copy an earlier version left");
    temp.Write("dl/u.zip", ziptest::BuildZip({{"VERSION", "2.0\n"}, {"lib/data.bin", std::string(9000, 'n')}}));
  }
};

TEST(ElevatedInstallTest, InstallsRemovesTheArchiveCopyAndReports) {
  ElevatedInstall run;
  ASSERT_EQ(RunElevatedInstall(ElevatedInstallItems(run.archive, run.app, run.report, {}), {}), kElevatedInstalled);
  EXPECT_EQ(FilesBelow(run.app), (std::map<std::string, std::string>{{"VERSION", "2.0\n"},
                                                                     {"lib/data.bin", std::string(9000, 'n')}}));
  const std::string report = ReadFile(run.report);
  EXPECT_NE(report.find("swapped in 2 files\n"), std::string::npos) << report;
  EXPECT_EQ(report.substr(report.size() - 10), "installed\n");
}

TEST(ElevatedInstallTest, AFailureIsReportedWithItsCauseAndChangesNothing) {
  ElevatedInstall run;
  run.temp.Write("dl/u.zip", "no archive at all");
  ASSERT_EQ(RunElevatedInstall(ElevatedInstallItems(run.archive, run.app, run.report, {}), {}),
            kElevatedInstallFailed);
  EXPECT_EQ(FilesBelow(run.app), (std::map<std::string, std::string>{{"VERSION", "1.0\n"},
                                                                     {"u.zip", "the copy an earlier version left"}}));
  const std::string report = ReadFile(run.report);
  EXPECT_EQ(report.substr(report.rfind('\n', report.size() - 2) + 1),
            std::string(kElevatedFailedPrefix) + "the download is no ZIP archive\n");
}

// The archive lies in a directory the user can write: a signed build's copy checks the signature itself.
TEST(ElevatedInstallTest, ASignedBuildInstallsOnlyWhatItsOwnCheckVerifies) {
  // The public key of tests/e2e/signing_test_key.pem, and the signature of the archive below made with it.
  const std::string key = "AvIV+R7FQ6mbnAZGgEZmRsmdCocl1V0hia+HvsWW+sk=";
  const std::string signature = "HbYwOzo7iq4RvLAZOUVh0KvJyQwWuXhb6gGuDkzN93gle8urdnbcSIqbwYvuP7+/KRpsGlzxgjOdQJsD4UMeAQ==";
  for (const std::string& given : {std::string(), std::string(88, 'A'), signature}) {
    SCOPED_TRACE(given);
    ElevatedInstall run;
    run.temp.Write("dl/u.zip", ziptest::BuildZip({{"VERSION", "2.0\n"}, {"lib/data.bin", std::string(200000, 'd')}}));
    const int code = RunElevatedInstall(ElevatedInstallItems(run.archive, run.app, run.report, given), key);
    EXPECT_EQ(code, given == signature ? kElevatedInstalled : kElevatedInstallFailed);
    EXPECT_EQ(ReadFile(run.temp.Path() / "app" / "VERSION"), given == signature ? "2.0\n" : "1.0\n");
  }
}

TEST(ElevatedInstallTest, ItemsGivenByHandThatNameNoArchiveDirectoryOrNewReportAreRefused) {
  ElevatedInstall run;
  run.temp.Write("dl/old-report", "planted");
  const std::string missing = (run.temp.Path() / "missing").string();
  const std::string dl = (run.temp.Path() / "dl").string();
  const std::vector<std::vector<std::string>> rows = {
      {kElevatedInstallSwitch, run.archive, run.app},                                // too few items
      {kElevatedInstallSwitch, run.archive, run.app, run.report, "x"},               // the public contract's count
      {"--install", run.archive, run.app, run.report},                               // no switch
      {kElevatedInstallSwitch, missing, run.app, run.report},                        // no archive
      {kElevatedInstallSwitch, dl, run.app, run.report},                             // a directory as the archive
      {kElevatedInstallSwitch, "u.zip", run.app, run.report},                        // not absolute
      {kElevatedInstallSwitch, run.archive, missing, run.report},                    // no extract directory
      {kElevatedInstallSwitch, run.archive, run.archive, run.report},                // a file as the directory
      {kElevatedInstallSwitch, run.archive, run.app, "report"},                      // report not absolute
      {kElevatedInstallSwitch, run.archive, run.app, (run.temp.Path() / "dl" / "old-report").string()},  // taken
  };
  const auto before = FilesBelow(run.temp.Path());
  for (const auto& items : rows) {
    EXPECT_EQ(RunElevatedInstall(items, {}), kElevatedInstallRefused) << items.size() << " " << items[1];
    EXPECT_EQ(FilesBelow(run.temp.Path()), before);
  }
}

TEST(ElevatedInstallTest, OnlyADirectoryThatRefusesTheProbeNeedsAdministratorRights) {
  // The process plays a user without administrator rights: writes are denied under "denied" only.
  struct Case {
    const char* name;
    bool plantLinks;
    const char* denied;
    bool needs;
  };
  const Case cases[] = {
      {"a directory this user may write", false, "elsewhere", false},
      {"a directory this user may not write", false, "app", true},
      {"a directory the archive writes to that this user may not write", false, "app/lib", true},
      {"a directory the archive does not write to", false, "app/other", false},
#ifndef _WIN32
      // Links planted under the probe's names are removed, never written through.
      {"links planted under the probe's names", true, "elsewhere", false},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ElevatedInstall run;
    run.temp.Write("victim", "untouched");
    std::filesystem::create_directories(run.temp.Path() / "app" / "lib");
    std::filesystem::create_directories(run.temp.Path() / "app" / "other");
    if (c.plantLinks) {
      for (const char* name : {"~update.probe", "~update.probe.moved"}) {
        std::filesystem::create_symlink(run.temp.Path() / "victim", run.temp.Path() / "app" / name);
      }
    }
    platform::DenyWritesUnder((run.temp.Path() / c.denied).make_preferred().string());
    const bool needs = NeedsAdministratorRights(run.app, run.archive);
    platform::DenyWritesUnder({});
    EXPECT_EQ(needs, c.needs);
    EXPECT_EQ(FilesBelow(run.app), (std::map<std::string, std::string>{
                                       {"VERSION", "1.0\n"}, {"u.zip", "the copy an earlier version left"}}));
    EXPECT_EQ(ReadFile((run.temp.Path() / "victim").string()), "untouched");
  }
}

}  // namespace
