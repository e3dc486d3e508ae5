// The update sequence driven through the recording user interface against a loopback server: what the user
// sees at each stage, what lands on disk, and what a cancel or the close box does at each point.
#include <gtest/gtest.h>

#include "app/main_form.h"
#include "app/user_texts.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/headless/headless_ui.h"
#include "support/loopback_server.h"
#include "support/zip_builder.h"

namespace {

using platform::HeadlessUi;
using testsupport::LoopbackConnection;
using testsupport::LoopbackServer;
using testsupport::ReadFile;
using testsupport::TempDir;

std::string Utf8(const char* gbk) { return platform::GbkToUtf8(gbk); }

std::string ErrorBox(const char* gbk) {
  return "box error owner=window " + Utf8(texts::kMessageCaption) + ": " + Utf8(gbk);
}

std::string InfoBox(const char* gbk) {
  return "box info owner=window " + Utf8(texts::kMessageCaption) + ": " + Utf8(gbk);
}

std::string Archive() {
  return ziptest::BuildZip({{"VERSION", "2.0\n"}, {"lib/data.bin", std::string(200000, 'd')}});
}

enum class Framing { Length, Chunked, Close };

// Serves one response to every request: the body framed as asked, sent in pieces so that a transfer spans
// several work events.
LoopbackServer::Script Serve(std::string body, Framing framing = Framing::Length, std::string status = "200 OK") {
  return [body, framing, status](LoopbackConnection& connection) {
    connection.ReadUntil("\r\n\r\n");
    std::string head = "HTTP/1.1 " + status + "\r\n";
    if (framing == Framing::Length) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    if (framing == Framing::Chunked) head += "Transfer-Encoding: chunked\r\n";
    if (framing == Framing::Close) head += "Connection: close\r\n";
    connection.Send(head + "\r\n");
    constexpr size_t kPiece = 50000;
    for (size_t start = 0; start < body.size(); start += kPiece) {
      const std::string piece = body.substr(start, kPiece);
      if (framing == Framing::Chunked) {
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        connection.Send(size + piece + "\r\n");
      } else {
        connection.Send(piece);
      }
    }
    if (framing == Framing::Chunked) connection.Send("0\r\n\r\n");
    connection.Close();
  };
}

class UpdateSequenceTest : public testing::Test {
 protected:
  std::vector<std::string> Arguments(int port, const std::string& runProgram = "") {
    return {"http://127.0.0.1:" + std::to_string(port) + "/u.zip", m_app, "u.zip", runProgram, m_download};
  }

  // Runs the program's message loop until the update ends.
  void Run(HeadlessUi& ui, const std::vector<std::string>& arguments) {
    m_form = std::make_unique<TfMain>(ui, arguments);
    ui.RunMessageLoop();
  }

  std::vector<std::string> Boxes(const HeadlessUi& ui) { return ui.LinesStartingWith("box"); }

  TempDir m_temp;
  std::string m_app = (m_temp.Path() / "app").string();
  std::string m_download = (m_temp.Path() / "dl" / "a" / "b").string();
  std::unique_ptr<TfMain> m_form;
};

TEST_F(UpdateSequenceTest, UpdateLandsWithEveryFramingAndTheBarFollows) {
  const std::string archive = Archive();
  for (const Framing framing : {Framing::Length, Framing::Chunked, Framing::Close}) {
    TempDir temp;
    m_app = (temp.Path() / "app").string();
    m_download = (temp.Path() / "dl" / "a" / "b").string();
    LoopbackServer server(Serve(archive, framing));
    HeadlessUi ui;
    Run(ui, Arguments(server.Port()));
    EXPECT_EQ(Boxes(ui), std::vector<std::string>{InfoBox(texts::kUpgradeComplete)});
    EXPECT_EQ(ReadFile(m_download + platform::kPathSeparator + "u.zip"), archive);
    EXPECT_EQ(ReadFile(m_app + platform::kPathSeparator + "VERSION"), "2.0\n");
    const std::vector<std::string> labels = ui.LinesStartingWith("label");
    EXPECT_EQ(labels, (std::vector<std::string>{"label " + Utf8(texts::kDownloading),
                                                "label " + Utf8(texts::kExtracting)}));
    const std::vector<std::string> bars = ui.LinesStartingWith("bar");
    ASSERT_FALSE(bars.empty());
    if (framing == Framing::Length) {
      EXPECT_EQ(bars.front(), "bar 0 " + std::to_string(archive.size()) + " 0");
      EXPECT_EQ(bars.back(), "bar 0 " + std::to_string(archive.size()) + " " + std::to_string(archive.size()));
    }
    if (framing == Framing::Close) {
      // The size was not announced: a maximum of 0 holds every position at 0.
      for (const std::string& bar : bars) EXPECT_EQ(bar, "bar 0 0 0");
    }
  }
}

TEST_F(UpdateSequenceTest, HttpErrorShowsOnlyTheDownloadErrorAndCreatesNothing) {
  LoopbackServer server(Serve("<html>missing</html>", Framing::Length, "404 Not Found"));
  HeadlessUi ui;
  Run(ui, Arguments(server.Port()));
  EXPECT_EQ(Boxes(ui), std::vector<std::string>{ErrorBox(texts::kDownloadFailed)});
  EXPECT_FALSE(platform::DirectoryExists(m_download));
}

TEST_F(UpdateSequenceTest, UnreachablePortShowsTheDownloadError) {
  int port = 0;
  {
    LoopbackServer closed(Serve(""));
    port = closed.Port();
  }
  HeadlessUi ui;
  Run(ui, Arguments(port));
  EXPECT_EQ(Boxes(ui), std::vector<std::string>{ErrorBox(texts::kDownloadFailed)});
}

TEST_F(UpdateSequenceTest, DownloadDirectoryThatCannotBeCreatedShowsTheSaveError) {
  m_temp.Write("dl", "a file where a directory should be");
  LoopbackServer server(Serve(Archive()));
  HeadlessUi ui;
  Run(ui, Arguments(server.Port()));
  EXPECT_EQ(Boxes(ui), std::vector<std::string>{ErrorBox(texts::kSaveFailed)});
}

TEST_F(UpdateSequenceTest, DamagedDownloadsEndWithTheExtractionErrorAndStartNothing) {
  const std::string archive = Archive();
  std::string badCrc = ziptest::BuildZip({{"lib/data.bin", std::string(200000, 'd')}});
  badCrc[30 + 12 + 1] ^= 0x55;  // inside the member's data
  for (const std::string& body : {std::string("<html>not an archive</html>"), archive.substr(0, archive.size() / 2),
                                  badCrc}) {
    LoopbackServer server(Serve(body));
    HeadlessUi ui;
    Run(ui, Arguments(server.Port(), "never-started"));
    EXPECT_EQ(Boxes(ui), std::vector<std::string>{ErrorBox(texts::kExtractFailed)});
    // Members that arrived whole may land; a damaged one never does.
    EXPECT_FALSE(platform::FileExists((std::filesystem::path(m_app) / "lib" / "data.bin").string()));
  }
}

TEST_F(UpdateSequenceTest, ArchiveStaysInTheDownloadDirectoryAndItsNamesakeInTheTargetGoes) {
  LoopbackServer server(Serve(Archive()));
  m_temp.Write("app/u.zip", "stale");
  HeadlessUi ui;
  Run(ui, Arguments(server.Port(), "   "));
  EXPECT_EQ(Boxes(ui), std::vector<std::string>{InfoBox(texts::kUpgradeComplete)});
  EXPECT_TRUE(platform::FileExists(m_download + platform::kPathSeparator + "u.zip"));
  EXPECT_FALSE(platform::FileExists(m_app + platform::kPathSeparator + "u.zip"));
}

TEST_F(UpdateSequenceTest, CancelDuringTheDownloadSavesAndStartsNothing) {
  LoopbackServer server(Serve(std::string(3000000, 'x')));
  HeadlessUi ui;
  ui.AtTurn(3, [&ui] { ui.PostClick(); });
  Run(ui, Arguments(server.Port()));
  EXPECT_TRUE(m_form->Cancelled());
  EXPECT_EQ(Boxes(ui), std::vector<std::string>{});
  EXPECT_FALSE(platform::DirectoryExists(m_download));
}

TEST_F(UpdateSequenceTest, CancelDuringTheExtractionFinishesItButReportsAndStartsNothing) {
  LoopbackServer server(Serve(Archive()));
  HeadlessUi ui;
  bool clicked = false;
  m_form = nullptr;
  TfMain form(ui, Arguments(server.Port()));
  form.UnZip1().OnProgress = [&](TUnBase&, uint8_t, uint8_t) {
    if (!clicked) ui.PostClick();
    clicked = true;
  };
  ui.RunMessageLoop();
  EXPECT_TRUE(form.Cancelled());
  EXPECT_EQ(Boxes(ui), std::vector<std::string>{});
  EXPECT_EQ(ReadFile(m_app + platform::kPathSeparator + "lib" + platform::kPathSeparator + "data.bin"),
            std::string(200000, 'd'));
}

TEST_F(UpdateSequenceTest, CloseBoxDuringTheDownloadStillCompletesTheUpdate) {
  LoopbackServer server(Serve(Archive()));
  HeadlessUi ui;
  ui.AtTurn(2, [&ui] { ui.PostCloseBox(); });
  Run(ui, Arguments(server.Port()));
  EXPECT_FALSE(m_form->Cancelled());
  EXPECT_EQ(Boxes(ui), std::vector<std::string>{InfoBox(texts::kUpgradeComplete)});
  EXPECT_EQ(ReadFile(m_app + platform::kPathSeparator + "VERSION"), "2.0\n");
}

TEST_F(UpdateSequenceTest, ShortBodyIsAFailedDownload) {
  const std::string archive = Archive();
  LoopbackServer server([archive](LoopbackConnection& connection) {
    connection.ReadUntil("\r\n\r\n");
    connection.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(archive.size()) + "\r\n\r\n" +
                    archive.substr(0, archive.size() / 2));
    connection.Close();
  });
  HeadlessUi ui;
  Run(ui, Arguments(server.Port()));
  EXPECT_EQ(Boxes(ui), std::vector<std::string>{ErrorBox(texts::kDownloadFailed)});
  EXPECT_FALSE(platform::DirectoryExists(m_download));
}

}  // namespace
