#pragma once
// The install journal's format. The journal lies in the extract directory and is read by a later start, which
// renames and removes what it names: it must say only what the run that wrote it did, and only there. So it
// holds paths relative to the extract directory, opens with a line naming its format and version, and gives
// every record a checksum. A text that breaks any rule is never acted upon, with one exception: the last
// record may be cut short, as a run that dies while writing it leaves it (each record is one write, made
// before its step is taken, so a cut record was never acted upon).
//
//   updater install journal 1
//   S lib/~unzip0.tmp lib/data.bin 5d3c0a91
//   B lib/data.bin lib/~update0.old 0be1f2c4
//   N lib/~unzip0.tmp lib/data.bin 77e01a9d
//   C 3a0b8e21
//
// A field is a path with the native separator, each byte that is a control character, a blank or '%' written
// as '%' and two hex digits, so that a record is one line whatever a name holds; the checksum is the CRC-32 of
// the line before its last blank, in hex.
#include <cstdint>
#include <string>
#include <vector>

struct TJournalRecord {
  char Kind = 0;
  std::string First;
  std::string Second;
};

namespace journal {

// Record kinds, in the order a run writes them.
inline constexpr char kDirectory = 'D';  // First: a directory made for a staged file
inline constexpr char kStaged = 'S';     // First: a staged file, Second: its target
inline constexpr char kBackup = 'B';     // First: a target about to be renamed to Second, its backup
inline constexpr char kPlaced = 'N';     // First: a staged file about to take the name of Second
inline constexpr char kCommitted = 'C';  // every new file has its name

inline constexpr const char* kHeader = "updater install journal 1\n";
// A journal is read whole before it is acted upon; the writer stops (and the update fails) before this size,
// so that a larger file is no journal of ours and cannot make a start read until memory runs out.
inline constexpr int64_t kMaxBytes = 64 << 20;

}  // namespace journal

std::string EncodeJournalRecord(const TJournalRecord& record);

// What a journal's text says: its records, or, when it breaks a rule, Fault describes the first break found
// (and no record is to be acted upon). A text that is empty or a cut-short first line recorded nothing.
struct TJournalReading {
  std::vector<TJournalRecord> Records;
  std::string Fault;
};
TJournalReading DecodeJournal(const std::string& text);

// True for a path that stays below the directory it is taken against, whatever the current directory or drive:
// not empty, relative, no NUL, no component that is empty or made of dots alone (".", "..", and on Windows "..."
// and ". ", which the system reads as ".."), no drive or stream colon.
bool IsContainedRelativePath(const std::string& path);
