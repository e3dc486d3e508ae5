// The update sequence driven through the recording user interface against a loopback server: what the user
// sees at each stage, what lands on disk, and what a cancel or the close box does at each point.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <fstream>
#include <functional>
#include <thread>

#include "app/install_journal.h"
#include "app/install_transaction.h"
#include "app/main_form.h"
#include "app/run_log.h"
#include "app/user_texts.h"
#include "http/header_list.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/headless/headless_ui.h"
#include "platform/threads.h"
#include "support/file_holder.h"
#include "support/http_peer.h"
#include "support/loopback_server.h"
#include "support/tree_snapshot.h"
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

  // Runs the program's message loop until the update ends. A server that falls silent fails the download
  // after kSilence here, not after the program's half minute, and another updater is waited for as long.
  void Run(HeadlessUi& ui, const std::vector<std::string>& arguments, const std::string& publicKey = {},
           int silence = kSilence) {
    // The last run's form goes first, as its process would: its open log would otherwise hold the new run's log
    // rotation in the ten-second wait for a file in use (on Windows).
    m_form.reset();
    m_form = std::make_unique<TfMain>(ui, arguments, publicKey);
    m_form->IdHTTP().SetReadTimeout(silence);
    m_form->SetExtractLockWait(silence);
    ui.RunMessageLoop();
  }

  static constexpr int kSilence = 1500;
  // For a server that says nothing more whatever comes: the outcome is the same however soon the wait ends,
  // and each try of a resumed download waits it out again.
  static constexpr int kShortSilence = 200;

  std::vector<std::string> Boxes(const HeadlessUi& ui) { return ui.LinesStartingWith("box"); }

  // What the download directory holds besides the logs that every run leaves there.
  std::map<std::string, std::string> Downloaded() const {
    std::map<std::string, std::string> files = ziptest::FilesBelow(m_download);
    files.erase(TRunLog::kFileName);
    files.erase(std::string(TRunLog::kFileName) + TRunLog::kPreviousSuffix);
    return files;
  }

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
  EXPECT_TRUE(Downloaded().empty());
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
    // Not even the members that arrived whole land.
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

// Someone who can write the download directory puts another archive under the partial file's name while the
// signature is fetched, after the download's bytes arrived and before they are checked and take the archive's
// name: a signed build never installs it.
TEST_F(UpdateSequenceTest, ASignedArchiveReplacedAfterItsDownloadIsNeverInstalled) {
  // The public key of tests/e2e/signing_test_key.pem, and the signature of Archive() made with it.
  const std::string key = "AvIV+R7FQ6mbnAZGgEZmRsmdCocl1V0hia+HvsWW+sk=";
  const std::string signature = "HbYwOzo7iq4RvLAZOUVh0KvJyQwWuXhb6gGuDkzN93gle8urdnbcSIqbwYvuP7+/KRpsGlzxgjOdQJsD4UMeAQ==";
  const std::string part = m_download + platform::kPathSeparator + "u.zip.part";
  bool replaced = false;
  LoopbackServer server([&](LoopbackConnection& connection) {
    const std::string head = connection.ReadUntil("\r\n\r\n");
    std::string body = Archive();
    if (head.find(".sig ") != std::string::npos) {
      m_temp.Write("planted.zip", ziptest::BuildZip({{"VERSION", "6.6\n"}}));
      std::error_code error;
      std::filesystem::rename(m_temp.Path() / "planted.zip", part, error);
      replaced = !error;
      body = signature;
    }
    connection.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    connection.Close();
  });
  HeadlessUi ui;
  Run(ui, Arguments(server.Port()), key);
  // A system that refuses to replace a file the updater holds open leaves nothing planted: the update lands.
  EXPECT_EQ(Boxes(ui), std::vector<std::string>{replaced ? ErrorBox(texts::kExtractFailed)
                                                         : InfoBox(texts::kUpgradeComplete)});
  EXPECT_NE(ReadFile(m_app + platform::kPathSeparator + "VERSION"), "6.6\n");
}

TEST_F(UpdateSequenceTest, CancelDuringTheDownloadSavesAndStartsNothing) {
  // The closed connection ends a counted or close-delimited body with what arrived, and makes a chunked
  // body fail: only the failed GET shows the download error.
  const struct {
    Framing Body;
    std::vector<std::string> Boxes;
  } rows[] = {
      {Framing::Length, {}},
      {Framing::Close, {}},
      {Framing::Chunked, {ErrorBox(texts::kDownloadFailed)}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.Body));
    LoopbackServer server(Serve(std::string(3000000, 'x'), row.Body));
    HeadlessUi ui;
    // The click comes at the first turn after bytes of the body have arrived: the one the first work event
    // runs (later ones are paced by the clock, and a loopback body may be in before the next).
    bool clicked = false;
    for (int turn = 1; turn <= 100; ++turn) {
      ui.AtTurn(turn, [&ui, &clicked] {
        if (!clicked && ui.ProgressRequested() > 0) ui.PostClick();
        clicked = clicked || ui.ProgressRequested() > 0;
      });
    }
    Run(ui, Arguments(server.Port(), "never-started"));
    EXPECT_TRUE(m_form->Cancelled());
    EXPECT_EQ(Boxes(ui), row.Boxes);
    const std::vector<std::string>& log = ui.Log();
    const auto box =
        std::find_if(log.begin(), log.end(), [](const std::string& line) { return line.rfind("box", 0) == 0; });
    EXPECT_NE(std::find(log.begin(), box, "terminate"), box) << "the cancel's terminate request comes first";
    EXPECT_TRUE(Downloaded().empty());
  }
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
  EXPECT_TRUE(Downloaded().empty());
}

// A body that breaks off or falls silent is asked for again from where it stopped, at most three times. Each
// row: the replies in turn (a break closes, a silence holds the connection), the update's end, the file then
// in the download directory, and the Range and If-Range of every request.
TEST_F(UpdateSequenceTest, ABrokenDownloadIsAskedForAgainFromWhereItStopped) {
  const std::string archive = Archive();
  const std::string changed = ziptest::BuildZip({{"VERSION", "3.0\n"}, {"lib/data.bin", std::string(90000, 'c')}});
  const size_t half = archive.size() / 2;
  const std::string length = std::to_string(archive.size());
  const std::string etag = "ETag: \"v1\"\r\n";
  const std::string date = "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n";
  const std::string weakAndDate = "ETag: W/\"w\"\r\n" + date;
  const auto whole = [](const std::string& body, const std::string& validators) {
    return "HTTP/1.1 200 OK\r\n" + validators + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  };
  const auto cut = [&](const std::string& validators) {
    return "HTTP/1.1 200 OK\r\n" + validators + "Content-Length: " + length + "\r\n\r\n" + archive.substr(0, half);
  };
  // The bytes of a body from an offset, as a 206 sends them.
  const auto partOf = [](const std::string& body, size_t from, const std::string& validators) {
    return "HTTP/1.1 206 Partial Content\r\n" + validators + "Content-Range: bytes " + std::to_string(from) + "-" +
           std::to_string(body.size() - 1) + "/" + std::to_string(body.size()) + "\r\nContent-Length: " +
           std::to_string(body.size() - from) + "\r\n\r\n" + body.substr(from);
  };
  const auto part = [&](size_t from) { return partOf(archive, from, ""); };
  // The next version, of the same length: a server that ignores If-Range sends its bytes as the rest.
  const std::string next = ziptest::BuildZip({{"VERSION", "2.1\n"}, {"lib/data.bin", std::string(200000, 'd')}});
  const testsupport::HttpReply nextPart{partOf(next, half, "ETag: \"v2\"\r\n"), true};
  char chunkSize[16];
  std::snprintf(chunkSize, sizeof chunkSize, "%zx\r\n", archive.size());
  const std::string cutChunk = "HTTP/1.1 200 OK\r\n" + etag + "Transfer-Encoding: chunked\r\n\r\n" + chunkSize +
                               archive.substr(0, half);
  const std::string fromHalf = "bytes=" + std::to_string(half) + "-";
  const std::string dateValue = date.substr(15, date.size() - 17);
  const std::string refused = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n\r\n";
  using Replies = std::vector<testsupport::HttpReply>;
  using Ranges = std::vector<std::pair<std::string, std::string>>;
  struct Case {
    const char* what;
    Replies replies;
    const char* box;
    std::string saved;
    Ranges ranges;  // Range and If-Range of each request
  };
  const Case cases[] = {
      {"whole at first: one request", {{whole(archive, etag), true}}, texts::kUpgradeComplete, archive, {{"", ""}}},
      {"a break, then the rest", {{cut(etag), true}, {part(half), true}}, texts::kUpgradeComplete, archive,
       {{"", ""}, {fromHalf, "\"v1\""}}},
      {"silence, then the rest, by date past a weak tag", {{cut(weakAndDate), false}, {part(half), true}},
       texts::kUpgradeComplete, archive, {{"", ""}, {fromHalf, dateValue}}},
      {"a break inside a chunk", {{cutChunk, true}, {part(half), true}}, texts::kUpgradeComplete, archive,
       {{"", ""}, {fromHalf, "\"v1\""}}},
      {"changed meanwhile: sent whole", {{cut(etag), true}, {whole(changed, "ETag: \"v2\"\r\n"), true}},
       texts::kUpgradeComplete, changed, {{"", ""}, {fromHalf, "\"v1\""}}},
      {"no validator: asked for whole", {{cut(""), true}, {whole(archive, ""), true}}, texts::kUpgradeComplete,
       archive, {{"", ""}, {"", ""}}},
      {"a part from another offset: asked for whole",
       {{cut(etag), true}, {part(half + 1), true}, {whole(archive, etag), true}}, texts::kUpgradeComplete, archive,
       {{"", ""}, {fromHalf, "\"v1\""}, {"", ""}}},
      {"a part of another length: asked for whole",
       {{cut(etag), true}, {partOf(changed, half, etag), true}, {whole(archive, etag), true}}, texts::kUpgradeComplete,
       archive, {{"", ""}, {fromHalf, "\"v1\""}, {"", ""}}},
      {"a part of another version: asked for whole",
       {{cut(etag), true}, nextPart, {whole(next, "ETag: \"v2\"\r\n"), true}}, texts::kUpgradeComplete, next,
       {{"", ""}, {fromHalf, "\"v1\""}, {"", ""}}},
      {"parts of another version each time: three tries", {{cut(etag), true}, nextPart, {cut(etag), true}, nextPart},
       texts::kDownloadFailed, "previous download", {{"", ""}, {fromHalf, "\"v1\""}, {"", ""}, {fromHalf, "\"v1\""}}},
      {"a range refused", {{cut(etag), true}, {refused, true}}, texts::kDownloadFailed, "previous download",
       {{"", ""}, {fromHalf, "\"v1\""}}},
      {"four breaks", {{cut(etag), true}, {cut(etag), true}, {cut(etag), true}, {cut(etag), true}, {part(0), true}},
       texts::kDownloadFailed, "previous download",
       {{"", ""}, {fromHalf, "\"v1\""}, {fromHalf, "\"v1\""}, {fromHalf, "\"v1\""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir temp;
    m_app = (temp.Path() / "app").string();
    m_download = (temp.Path() / "dl").string();
    temp.Write("dl/u.zip", "previous download");
    LoopbackServer server(testsupport::ServeHttpReplies(c.replies));
    HeadlessUi ui;
    Run(ui, Arguments(server.Port()));
    EXPECT_EQ(Boxes(ui), std::vector<std::string>{std::string(c.box) == texts::kUpgradeComplete ? InfoBox(c.box)
                                                                                               : ErrorBox(c.box)});
    EXPECT_EQ(ReadFile(m_download + platform::kPathSeparator + "u.zip"), c.saved);
    EXPECT_EQ(Downloaded().size(), 1u);
    m_form.reset();
    Ranges ranges;
    for (size_t i = 0; i < c.ranges.size(); ++i) {
      for (const std::string& head : testsupport::RequestHeads(server.Received(i))) {
        TIdHeaderList headers;
        headers.SetText(head.substr(head.find("\r\n") + 2));
        ranges.emplace_back(headers.ValueOf("Range"), headers.ValueOf("If-Range"));
      }
    }
    EXPECT_EQ(ranges, c.ranges);
    EXPECT_EQ(server.FinishedConnections(), c.ranges.size());
    if (std::string(c.what) == "a break, then the rest") {
      // The bar goes on from the bytes already held.
      const std::vector<std::string> bars = ui.LinesStartingWith("bar");
      const std::string start = "bar 0 " + length + " 0";
      const auto last = std::find(bars.rbegin(), bars.rend(), start);
      ASSERT_NE(last, bars.rbegin());
      EXPECT_EQ(*(last - 1), "bar 0 " + length + " " + std::to_string(half));
    }
  }
}

// The archive with its central directory repeated: every copy names the same local header and data.
std::string WithCentralDirectoryRepeated(const std::string& archive, int copies) {
  const auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(archive[at])) | static_cast<uint32_t>(static_cast<uint8_t>(archive[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(archive[at + 2])) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(archive[at + 3])) << 24;
  };
  const auto put = [](std::string& bytes, size_t at, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
  };
  const size_t end = archive.size() - 22;
  const uint32_t size = u32(end + 12);
  const uint32_t offset = u32(end + 16);
  std::string result = archive.substr(0, offset);
  for (int i = 0; i < copies; ++i) result += archive.substr(offset, size);
  std::string record = archive.substr(end);
  const uint32_t count = (u32(end + 8) & 0xFFFF) * static_cast<uint32_t>(copies);
  put(record, 8, count, 2);
  put(record, 10, count, 2);
  put(record, 12, size * static_cast<uint32_t>(copies), 4);
  return result + record;
}

// What an attacker who controls the server, or sits on a plain-HTTP path, can send: each case ends with its
// stage's error box, keeps the installed files and a previous download as they were, and starts nothing.
TEST_F(UpdateSequenceTest, HostileServersEndWithTheirStageErrorAndChangeNothingInstalled) {
  const std::string two = ziptest::BuildZip({{"a.txt", std::string(5000, 'a')}, {"b.txt", std::string(5000, 'b')}});
  const size_t second = two.find("PK\x03\x04", 4);
  const size_t central = two.find("PK\x01\x02");
  ziptest::Member lie{"lie.bin", "four"};
  lie.DeclaredUncompressedSize = 1 << 30;
  const std::string sizeLie = ziptest::BuildZip({lie});
  const std::string overlap = WithCentralDirectoryRepeated(ziptest::BuildZip({{"big.bin", std::string(300000, 'o')}}), 20);
  const std::string emptyArchive = ziptest::BuildZip({});
  const auto reply = [](const std::string& head, const std::string& body) { return head + "\r\n" + body; };
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  const auto counted = [&](const std::string& body) {
    return reply(ok + "Content-Length: " + std::to_string(body.size()) + "\r\n", body);
  };
  const auto closeDelimited = [&](const std::string& body) { return reply(ok + "Connection: close\r\n", body); };
  std::string interim;
  for (int i = 0; i < 21; ++i) interim += "HTTP/1.1 100 Continue\r\n\r\n";

  struct Case {
    const char* what;
    std::string sent;  // then the server holds the connection open until the client leaves
    const char* box;
    int silence = kSilence;
  };
  const Case cases[] = {
      {"a body that only starts like an archive", counted("PK<html>not a zip, but a page about one</html>\n"),
       texts::kExtractFailed},
      {"an archive without a member", counted(emptyArchive), texts::kExtractFailed},
      {"cut after its first member, close-delimited", closeDelimited(two.substr(0, second)), texts::kExtractFailed},
      {"cut before its central directory, counted", counted(two.substr(0, central)), texts::kExtractFailed},
      {"cut inside its central directory", closeDelimited(two.substr(0, central + 30)), texts::kExtractFailed},
      {"twenty records of one member", counted(overlap), texts::kExtractFailed},
      {"a member shorter than it declares", counted(sizeLie), texts::kExtractFailed},
      {"a length beyond 32 bits", reply(ok + "Content-Length: 99999999999\r\n", two.substr(0, 227)),
       texts::kDownloadFailed, kShortSilence},
      {"silence after the first body bytes", reply(ok + "Content-Length: 10000\r\n", two.substr(0, 50)),
       texts::kDownloadFailed, kShortSilence},
      {"silence after the status line", ok, texts::kDownloadFailed, kShortSilence},
      {"no answer at all", "", texts::kDownloadFailed, kShortSilence},
      {"endless interim responses", interim + counted(two), texts::kDownloadFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir temp;
    m_app = (temp.Path() / "app").string();
    m_download = (temp.Path() / "dl").string();
    temp.Write("app/VERSION", "1.0\n");
    temp.Write("dl/u.zip", "previous download");
    const std::string sent = c.sent;
    const bool closes = sent.rfind(ok + "Connection: close", 0) == 0;
    LoopbackServer server([sent, closes](LoopbackConnection& connection) {
      connection.ReadUntil("\r\n\r\n");
      if (!sent.empty()) connection.Send(sent);
      if (closes) return connection.Close();
      connection.ReadUntilClose();
    });
    HeadlessUi ui;
    Run(ui, Arguments(server.Port(), "never-started"), {}, c.silence);
    EXPECT_EQ(Boxes(ui), std::vector<std::string>{ErrorBox(c.box)});
    EXPECT_EQ(ReadFile(m_app + platform::kPathSeparator + "VERSION"), "1.0\n");
    EXPECT_FALSE(platform::FileExists(m_app + platform::kPathSeparator + "a.txt"));
    if (std::string(c.box) == texts::kDownloadFailed) {
      EXPECT_EQ(ReadFile(m_download + platform::kPathSeparator + "u.zip"), "previous download");
    }
    EXPECT_EQ(Downloaded().size(), 1u);
    // The program's connection ends with it: the server, which holds each connection until the client
    // leaves, then ends at once instead of after its read limit.
    m_form.reset();
  }
}

TEST_F(UpdateSequenceTest, RelativeDirectoriesAreTakenAgainstTheWorkingDirectory) {
  LoopbackServer server(Serve(Archive()));
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(m_temp.Path());
  HeadlessUi ui;
  Run(ui, {"http://127.0.0.1:" + std::to_string(server.Port()) + "/u.zip", "app", "u.zip", "", "dl"});
  std::filesystem::current_path(before);
  EXPECT_EQ(Boxes(ui), std::vector<std::string>{InfoBox(texts::kUpgradeComplete)});
  EXPECT_EQ(ReadFile(m_temp.Path() / "app" / "VERSION"), "2.0\n");
  EXPECT_EQ(ReadFile(m_temp.Path() / "dl" / "u.zip"), Archive());
}

// The version installed before each update below: files with their own dates and modes, a directory, a
// read-only file and, on Linux, a dangling link.
void InstallOldVersion(TempDir& temp) {
  temp.Write("app/VERSION", "1.0\n");
  temp.Write("app/lib/data.bin", std::string(5000, 'o'));
  // A second file beside another one that the update replaces: the two backups must not share a name.
  temp.Write("app/lib/more.bin", "more, old");
  temp.Write("app/bin/tool", "old tool");
  temp.Write("app/docs/readme", "read me");
  temp.Write("app/ro.txt", "locked");
  std::filesystem::permissions(temp.Path() / "app" / "bin" / "tool", std::filesystem::perms(0755));
  // One moment for every installation, so that trees of different runs compare.
  static const auto past = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 400);
  for (const char* name : {"VERSION", "lib/data.bin", "lib/more.bin", "bin/tool", "docs/readme", "ro.txt"}) {
    std::filesystem::last_write_time(temp.Path() / "app" / name, past);
  }
  platform::SetAttributes((temp.Path() / "app" / "ro.txt").string(), platform::kAttrReadOnly);
#ifndef _WIN32
  // An entry the update replaces that is no file, and that a test through the link would miss.
  std::filesystem::create_symlink("nowhere", temp.Path() / "app" / "lib" / "link");
#endif
}

// The new version: replaces files (and a link, on Linux), adds one in directories of its own, gives the tool a
// Unix mode, and has a member of the name a staged file would otherwise take.
std::vector<ziptest::Member> NewVersion() {
  ziptest::Member tool{"bin/tool", "new tool"};
  tool.VersionMadeBy = (3 << 8) | 20;
  tool.ExternalAttributes = 0100700u << 16;
  return {{"VERSION", "2.0\n"}, {"lib/data.bin", std::string(200000, 'n')}, {"lib/more.bin", "more, new"}, tool,
          {"new/sub/x.txt", "x"}, {"lib/link", "a file now"}, {"~unzip0.tmp", "a member like any other"}};
}

// Whatever fails in a later member, the installed version stays exactly as it was: contents, modes, dates.
TEST_F(UpdateSequenceTest, AFailingLaterMemberLeavesTheInstalledTreeAsItWas) {
  ziptest::Member badCrc{"z.bin", std::string(3000, 'z')};
  badCrc.DeclaredCrc = 1234;
  ziptest::Member encrypted{"z.bin", std::string(3000, 'z')};
  encrypted.Password = "secret";
  ziptest::Member cutShort{"z.bin", "four"};
  cutShort.DeclaredUncompressedSize = 100000;
  // Declaring 8 TB in all: more than the free space of any disk the tests run on.
  std::vector<ziptest::Member> huge;
  for (int i = 0; i < 2000; ++i) {
    huge.push_back({"huge/" + std::to_string(i), "h"});
    huge.back().DeclaredUncompressedSize = 0xFFFFFFFFu;
  }
  const std::pair<const char*, std::vector<ziptest::Member>> cases[] = {
      {"bad CRC", {badCrc}},
      {"encrypted, no password", {encrypted}},
      {"a file over an existing directory", {{"docs", "not a directory"}}},
      {"a read-only existing target", {{"ro.txt", "unlocked"}}},
      {"cut short", {cutShort}},
      {"the journal's name", {{"~update.journal", "a member like any other"}}},
      {"a name component of 300 bytes", {{"new/" + std::string(300, 'n'), "cut to 255 bytes, it lands elsewhere"}}},
      {"data under a directory's name", {{"new/dir/", "dropped, it would be lost"}}},
      {"more than the free space", huge},
  };
  for (const auto& [what, later] : cases) {
    SCOPED_TRACE(what);
    TempDir temp;
    m_app = (temp.Path() / "app").string();
    m_download = (temp.Path() / "dl").string();
    InstallOldVersion(temp);
    const auto before = testsupport::TreeSnapshot(m_app);
    std::vector<ziptest::Member> members = NewVersion();
    members.insert(members.end(), later.begin(), later.end());
    LoopbackServer server(Serve(ziptest::BuildZip(members)));
    HeadlessUi ui;
    Run(ui, Arguments(server.Port(), "never-started"));
    // The run ends with its form, and lets go of the extract directory (on Windows: its lock file).
    m_form.reset();
    EXPECT_EQ(Boxes(ui), std::vector<std::string>{ErrorBox(texts::kExtractFailed)});
    EXPECT_EQ(testsupport::TreeSnapshot(m_app), before);
  }
}

// A journal that the next start cannot finish, or must not act upon, stays as it was found: that run touches
// nothing installed or outside, installs nothing, and ends with the extraction error saying what it found.
TEST_F(UpdateSequenceTest, AnEarlierJournalThatCannotBeActedOnStaysAndNothingIsInstalled) {
  const auto journalOf = [](const std::vector<TJournalRecord>& records) {
    std::string text = journal::kHeader;
    for (const TJournalRecord& record : records) text += EncodeJournalRecord(record);
    return text;
  };
  const std::string sep(1, platform::kPathSeparator);
  const std::vector<TJournalRecord> swapped = {{journal::kBackup, "VERSION", "~update0.old"},
                                               {journal::kPlaced, "~unzip0.tmp", "VERSION"}};
  std::string damagedMiddle = journalOf({swapped[0], swapped[1], {journal::kCommitted, "", ""}});
  damagedMiddle[damagedMiddle.find(" VERSION ") + 1] = 'W';
  struct Case {
    const char* what;
    std::function<void(const std::string& app, const std::string& outside)> plant;
    const char* cause;
  };
  const auto write = [](const std::string& text) {
    return [text](const std::string& app, const std::string&) {
      std::ofstream(app + "/~update.journal", std::ios::binary) << text;
    };
  };
  const auto naming = [&](const std::string& path) { return write(journalOf({{journal::kStaged, path, "VERSION"}})); };
  const Case cases[] = {
      {"a swap whose roll back fails: a directory stands where the backup goes back",
       [&](const std::string& app, const std::string&) {
         std::filesystem::rename(app + "/VERSION", app + "/~update0.old");
         std::filesystem::create_directories(app + "/VERSION/in");
         std::ofstream(app + "/~update.journal", std::ios::binary) << journalOf(swapped);
       },
       "could not be rolled back"},
      {"a path above the directory", naming(".." + sep + "outside.txt"), "outside the extract directory"},
      {"an absolute path", [&](const std::string& app, const std::string& outside) {
         write(journalOf({{journal::kStaged, outside, "VERSION"}}))(app, outside);
       }, "outside the extract directory"},
      {"a NUL in a name", naming(std::string("VERSION\0", 8) + sep + ".." + sep + ".." + sep + "outside.txt"),
       "outside the extract directory"},
      {"a damaged middle record", write(damagedMiddle), "record 1 (byte 26) fails its checksum"},
      {"another format", write("S 11:/etc/passwd 7:VERSION\n"), "does not begin with"},
      {"larger than any journal",
       [](const std::string& app, const std::string&) {
         std::ofstream(app + "/~update.journal", std::ios::binary) << journal::kHeader;
         std::filesystem::resize_file(app + "/~update.journal", journal::kMaxBytes + 1);
       },
       "is larger than any journal"},
#ifndef _WIN32
      {"a link to a journal outside",
       [&](const std::string& app, const std::string& outside) {
         std::ofstream(outside + ".journal", std::ios::binary) << journalOf({{journal::kStaged, "VERSION", "x"}});
         std::filesystem::create_symlink(outside + ".journal", app + "/~update.journal");
       },
       "is a link"},
      {"a link to /dev/zero",
       [](const std::string& app, const std::string&) {
         std::filesystem::create_symlink("/dev/zero", app + "/~update.journal");
       },
       "is a link"},
      {"a FIFO",
       [](const std::string& app, const std::string&) {
         ASSERT_EQ(mkfifo((app + "/~update.journal").c_str(), 0600), 0);
       },
       "is no regular file"},
#endif
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.what);
    TempDir temp;
    m_app = (temp.Path() / "app").string();
    m_download = (temp.Path() / "dl").string();
    InstallOldVersion(temp);
    const std::string outside = temp.Write("outside.txt", "not the updater's");
    row.plant(m_app, outside);
    const auto before = testsupport::TreeSnapshot(temp.Path());
    LoopbackServer server(Serve(ziptest::BuildZip(NewVersion())));
    HeadlessUi ui;
    Run(ui, Arguments(server.Port(), "never-started"));
    m_form.reset();
    EXPECT_EQ(Boxes(ui), std::vector<std::string>{ErrorBox(texts::kExtractFailed)});
    auto after = testsupport::TreeSnapshot(temp.Path());
    after.erase("dl");
    after.erase("dl/" + std::string(TRunLog::kFileName));
    EXPECT_EQ(after, before);
    const std::string log = ReadFile(m_download + sep + TRunLog::kFileName);
    EXPECT_NE(log.find(row.cause), std::string::npos) << log;
  }
}

#ifndef _WIN32
// Anyone who can write the download directory (often a shared temporary one) or the extract directory may plant
// a link under a name the updater is about to create: the updater replaces the link, never writes through it.
TEST_F(UpdateSequenceTest, NothingIsWrittenThroughALinkPlantedUnderANameTheUpdaterCreates) {
  const std::string archive = ziptest::BuildZip(NewVersion());
  for (const char* name : {"dl/updater.log", "dl/u.zip.part", "app/~unzip0.tmp", "app/lib/~unzip1.tmp",
                           "app/~update0.old", "app/lib/~update1.old"}) {
    for (const bool dangling : {false, true}) {
      SCOPED_TRACE(std::string(name) + (dangling ? ", dangling" : ", to a file"));
      TempDir temp;
      m_app = (temp.Path() / "app").string();
      m_download = (temp.Path() / "dl").string();
      InstallOldVersion(temp);
      std::filesystem::create_directories(m_download);
      const std::filesystem::path outside = temp.Path() / "outside.txt";
      if (!dangling) temp.Write("outside.txt", "not the updater's");
      std::filesystem::create_symlink(outside, temp.Path() / name);
      LoopbackServer server(Serve(archive));
      HeadlessUi ui;
      Run(ui, Arguments(server.Port()));
      EXPECT_EQ(Boxes(ui), std::vector<std::string>{InfoBox(texts::kUpgradeComplete)});
      EXPECT_EQ(ReadFile(m_app + "/VERSION"), "2.0\n");
      if (dangling) {
        EXPECT_FALSE(std::filesystem::exists(outside));
      } else {
        EXPECT_EQ(ReadFile(outside), "not the updater's");
      }
    }
  }
}
#endif

// Another updater holds the extract directory: this one waits for it, with its window processing messages,
// and goes on when it lets go in time; otherwise it fails without touching anything, its journal included.
TEST_F(UpdateSequenceTest, ASecondUpdaterWaitsForTheFirstAndFailsWhenItTakesTooLong) {
  for (const bool releasedInTime : {true, false}) {
    SCOPED_TRACE(releasedInTime ? "released in time" : "held throughout");
    TempDir temp;
    m_app = (temp.Path() / "app").string();
    m_download = (temp.Path() / "dl").string();
    InstallOldVersion(temp);
    // The first updater's journal, mid-swap: a second one that read it would roll the first one back.
    temp.Write("app/~update.journal", journal::kHeader);
    platform::DirectoryLock first = platform::DirectoryLock::TryAcquire(m_app);
    ASSERT_TRUE(first.IsHeld());
    const auto before = testsupport::TreeSnapshot(m_app);
    std::thread release;
    if (releasedInTime) {
      release = std::thread([&] {
        platform::SleepMilliseconds(300);
        // As an updater ends: its journal goes before its lock. The other way round, the waiting updater could
        // take the lock, find the journal and recover it while this thread removes it from under it.
        std::filesystem::remove(temp.Path() / "app" / "~update.journal");
        first = platform::DirectoryLock();
      });
    }
    LoopbackServer server(Serve(ziptest::BuildZip(NewVersion())));
    HeadlessUi ui;
    Run(ui, Arguments(server.Port()));
    if (release.joinable()) release.join();
    m_form.reset();
    const std::string log = ReadFile(m_download + platform::kPathSeparator + TRunLog::kFileName);
    EXPECT_NE(log.find("waiting for another updater installing into " + m_app), std::string::npos) << log;
    if (releasedInTime) {
      EXPECT_EQ(Boxes(ui), std::vector<std::string>{InfoBox(texts::kUpgradeComplete)});
      EXPECT_EQ(ReadFile(m_app + platform::kPathSeparator + "VERSION"), "2.0\n");
    } else {
      EXPECT_EQ(Boxes(ui), std::vector<std::string>{ErrorBox(texts::kExtractFailed)});
      EXPECT_NE(log.find("another updater is installing into " + m_app + " and did not finish"), std::string::npos);
      EXPECT_EQ(testsupport::TreeSnapshot(m_app), before);
    }
  }
}

// The n-th file operation of the update fails, for every n until none is left to fail: each run ends with the
// old version, or, when it reports completion, with the new one (after the next start's tidying).
TEST_F(UpdateSequenceTest, AFailureAtAnyStepLeavesTheOldOrTheNewTree) {
  const std::string archive = ziptest::BuildZip(NewVersion());
  std::map<std::string, std::string> before;
  std::map<std::string, std::string> after;
  for (int n = 0;; ++n) {
    SCOPED_TRACE(n);
    TempDir temp;
    m_app = (temp.Path() / "app").string();
    m_download = (temp.Path() / "dl").string();
    InstallOldVersion(temp);
    if (n == 0) before = testsupport::TreeSnapshot(m_app);
    LoopbackServer server(Serve(archive));
    HeadlessUi ui;
    platform::FailNthFileOperation(n, platform::FileFault::Fail, platform::FaultThreads::Caller);
    Run(ui, Arguments(server.Port()));
    const bool fired = platform::FileOperationFaultFired();
    platform::FailNthFileOperation(0);
    m_form.reset();
    TInstallTransaction::Recover(m_app);
    const auto tree = testsupport::TreeSnapshot(m_app);
    if (Boxes(ui) == std::vector<std::string>{InfoBox(texts::kUpgradeComplete)}) {
      if (n == 0) after = tree;
      EXPECT_EQ(tree, after);
    } else {
      EXPECT_EQ(tree, before);
    }
    if (n == 0) {
      ASSERT_EQ(ReadFile(m_app + platform::kPathSeparator + "VERSION"), "2.0\n");
    } else if (!fired) {
      break;
    }
  }
}

#ifdef _WIN32
// The application still holds one of its files past the wait for it: the files already swapped in go back, and
// the installed version is exactly what it was.
TEST_F(UpdateSequenceTest, AFileHeldPastTheWaitRollsTheSwapBack) {
  InstallOldVersion(m_temp);
  const auto before = testsupport::TreeSnapshot(m_app);
  LoopbackServer server(Serve(ziptest::BuildZip(NewVersion())));
  HeadlessUi ui;
  constexpr int kWait = 1000;
  const platform::ScopedReplaceFileWait shortWait(kWait);
  {
    // VERSION comes first in the archive and is swapped in before lib\data.bin is found held.
    testsupport::FileHolder holder(testsupport::OwnProgramPath(), m_app + "\\lib\\data.bin", 4 * kWait,
                                   m_temp.Text() + "ready");
    ASSERT_TRUE(holder.WaitUntilHolding());
    Run(ui, Arguments(server.Port(), "never-started"));
  }
  m_form.reset();
  EXPECT_EQ(Boxes(ui), std::vector<std::string>{ErrorBox(texts::kExtractFailed)});
  EXPECT_EQ(testsupport::TreeSnapshot(m_app), before);
}
#endif

}  // namespace
