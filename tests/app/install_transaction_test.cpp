// A run that dies anywhere in the staging or the swap, killed or by a power cut, leaves its journal; the next
// start then gives the old tree or the new one, never a mix of the two, and no file or directory of the run.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "app/install_transaction.h"
#include "platform/files.h"
#include "support/tree_snapshot.h"
#include "support/zip_builder.h"
#include "zip/unzip.h"

namespace {

using testsupport::TempDir;
using testsupport::TreeSnapshot;

struct Installation {
  TempDir temp;
  std::string app = (temp.Path() / "app").string();
  std::string archive = (temp.Path() / "u.zip").string();

  Installation() {
    temp.Write("app/VERSION", "1.0\n");
    temp.Write("app/lib/data.bin", std::string(5000, 'o'));
    temp.Write("app/bin/tool", "old tool");
    temp.Write("app/keep.txt", "not in the update");
    std::filesystem::permissions(temp.Path() / "app" / "bin" / "tool", std::filesystem::perms(0755));
    // One moment for every installation, so that trees of different runs compare.
    static const auto past = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    for (const char* name : {"VERSION", "lib/data.bin", "bin/tool", "keep.txt"}) {
      std::filesystem::last_write_time(temp.Path() / "app" / name, past);
    }
    ziptest::Member tool{"bin/tool", "new tool"};
    tool.VersionMadeBy = (3 << 8) | 20;
    tool.ExternalAttributes = 0100700u << 16;
    std::ofstream(archive, std::ios::binary) << ziptest::BuildZip(
        {{"VERSION", "2.0\n"}, {"lib/data.bin", std::string(70000, 'n')}, tool, {"new/sub/x.txt", "x"}});
  }

  // Stages the archive and swaps it in, in a child process that the n-th file operation of its own thread
  // ends as a kill or a power cut would (0: none). True when the child died there.
  bool UpdateKilledAt(int n, platform::FileFault fault = platform::FileFault::Exit) const {
    const pid_t child = fork();
    if (child == 0) {
      platform::FailNthFileOperation(n, fault, platform::FaultThreads::Caller);
      TInstallTransaction transaction(app);
      TUnZip unzip;
      unzip.FileSpec().push_back("*.*");
      unzip.SetExtractDir(app);
      unzip.SetArchiveFile(archive);
      unzip.OnStage = [&transaction](TUnBase&, const TStagedFile& file) { transaction.Stage(file); };
      unzip.Extract();
      std::_Exit(transaction.Commit({}) ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    const int code = WEXITSTATUS(status);
    EXPECT_TRUE(code == 0 || code == platform::kFileFaultExitCode) << code;
    return code == platform::kFileFaultExitCode;
  }
};

TEST(InstallTransactionTest, AProcessKilledOrCutOffAtAnyFileOperationLeavesTheOldOrTheNewTreeAfterRecovery) {
  std::map<std::string, std::string> before;
  std::map<std::string, std::string> after;
  {
    Installation complete;
    before = TreeSnapshot(complete.app);
    ASSERT_FALSE(complete.UpdateKilledAt(0));
    after = TreeSnapshot(complete.app);
    ASSERT_EQ(testsupport::ReadFile(complete.app + "/bin/tool"), "new tool");
  }
  for (const platform::FileFault fault : {platform::FileFault::Exit, platform::FileFault::PowerCut}) {
    int sawOld = 0;
    int sawNew = 0;
    for (int n = 1;; ++n) {
      SCOPED_TRACE(std::to_string(n) + (fault == platform::FileFault::PowerCut ? " (power cut)" : " (kill)"));
      Installation run;
      const bool killed = run.UpdateKilledAt(n, fault);
      if (!killed) break;
      // A kill in the middle of writing a record leaves it cut: it was never acted upon, and is ignored.
      const std::string journal = run.app + "/~update.journal";
      if (std::filesystem::exists(journal) && std::filesystem::file_size(journal) >= std::strlen(journal::kHeader)) {
        std::ofstream(journal, std::ios::binary | std::ios::app) << "B VERSI";
      }
      const TInstallTransaction::RecoveryOutcome recovery = TInstallTransaction::Recover(run.app);
      EXPECT_NE(recovery.What, TInstallTransaction::Recovery::Unfinished) << recovery.Cause;
      EXPECT_NE(recovery.What, TInstallTransaction::Recovery::Refused) << recovery.Cause;
      const auto tree = TreeSnapshot(run.app);
      if (recovery.What == TInstallTransaction::Recovery::Completed) {
        EXPECT_EQ(tree, after);
      } else {
        EXPECT_EQ(tree, before);
      }
      sawOld += tree == before;
      sawNew += tree == after;
    }
    // Kills and power cuts before the commit record undo the run, those after it finish it.
    EXPECT_GT(sawOld, 0);
    EXPECT_GT(sawNew, 0);
  }
}

TEST(InstallTransactionTest, ARecoveryEndsOnlyWithItsJournalRemoved) {
  // A run killed right after writing its journal's header staged nothing: removing the journal is all there
  // is to undo, and a recovery that cannot remove it has not ended.
  Installation run;
  std::ofstream(run.app + "/~update.journal", std::ios::binary) << journal::kHeader;
  platform::FailNthFileOperation(1);
  const TInstallTransaction::RecoveryOutcome refused = TInstallTransaction::Recover(run.app);
  platform::FailNthFileOperation(0);
  EXPECT_EQ(refused.What, TInstallTransaction::Recovery::Unfinished);
  EXPECT_EQ(TInstallTransaction::Recover(run.app).What, TInstallTransaction::Recovery::RolledBack);
  EXPECT_FALSE(std::filesystem::exists(run.app + "/~update.journal"));
}

}  // namespace
#endif
