// A run that dies during the swap leaves its journal; the next start then gives the old tree or the new one,
// never a mix of the two.
#include <gtest/gtest.h>

#include <fstream>

#include "app/install_transaction.h"
#include "platform/files.h"
#include "support/tree_snapshot.h"
#include "support/zip_builder.h"

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
    temp.Write("app/keep.txt", "not in the update");
    // One moment for every installation, so that trees of different runs compare.
    static const auto past = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    for (const char* name : {"VERSION", "lib/data.bin", "keep.txt"}) {
      std::filesystem::last_write_time(temp.Path() / "app" / name, past);
    }
    std::ofstream(archive, std::ios::binary)
        << ziptest::BuildZip({{"VERSION", "2.0\n"}, {"lib/data.bin", std::string(70000, 'n')}, {"new/sub/x.txt", "x"}});
  }

  // Stages the archive and swaps it in; the n-th file operation of the swap kills the run.
  void UpdateKilledAt(int n) {
    TInstallTransaction transaction(app);
    TUnZip unzip;
    unzip.FileSpec().push_back("*.*");
    unzip.SetExtractDir(app);
    unzip.SetArchiveFile(archive);
    unzip.OnStage = [&transaction](TUnBase&, const TStagedFile& file) { transaction.Stage(file); };
    unzip.Extract();
    // A kill before the swap leaves the journal of the staging alone.
    if (n < 0) return;
    platform::FailNthFileOperation(n, /*abort=*/true);
    try {
      transaction.Commit({});
    } catch (const platform::FileOperationAborted&) {
    }
    platform::FailNthFileOperation(0);
  }
};

TEST(InstallTransactionTest, TheNextStartAfterAKillGivesTheOldOrTheNewTree) {
  std::map<std::string, std::string> before;
  std::map<std::string, std::string> after;
  {
    Installation complete;
    before = TreeSnapshot(complete.app);
    complete.UpdateKilledAt(0);
    after = TreeSnapshot(complete.app);
    ASSERT_EQ(ziptest::ReadFile(complete.app + platform::kPathSeparator + "VERSION"), "2.0\n");
  }
  bool sawOld = false;
  bool sawNew = false;
  for (int n = -1;; ++n) {
    SCOPED_TRACE(n);
    Installation run;
    run.UpdateKilledAt(n);
    const bool killed = n <= 0 || platform::FileOperationFaultFired();
    // A kill in the middle of writing a record leaves it cut: it was never acted upon, and is ignored.
    const std::string journal = run.app + platform::kPathSeparator + "~update.journal";
    if (platform::FileExists(journal)) std::ofstream(journal, std::ios::binary | std::ios::app) << "B 40:" << run.app;
    const auto recovery = TInstallTransaction::Recover(run.app).What;
    const auto tree = TreeSnapshot(run.app);
    EXPECT_TRUE(tree == before || tree == after);
    EXPECT_NE(recovery, TInstallTransaction::Recovery::Unfinished);
    if (recovery == TInstallTransaction::Recovery::Completed) {
      EXPECT_TRUE(tree == after);
    }
    if (recovery == TInstallTransaction::Recovery::RolledBack) {
      EXPECT_TRUE(tree == before);
    }
    sawOld = sawOld || tree == before;
    sawNew = sawNew || tree == after;
    if (!killed) break;
  }
  // Kills before the commit record undo the run, kills after it finish it.
  EXPECT_TRUE(sawOld);
  EXPECT_TRUE(sawNew);
}

}  // namespace
