#pragma once
// The extractor's message ids and their texts, and a fatal error as an exception for code that raises one
// (the driver itself hands a member's fatal fault back as a status and shows it in a message box).
#include <string>

#include "rtl/exception.h"

namespace zipmsg {
inline constexpr int kBadOffsetToLocalHeader = 25115;
inline constexpr int kBadBlock = 25116;
inline constexpr int kErrorWritingToFile = 25136;
inline constexpr int kErrorClosingFile = 25138;
inline constexpr int kFileFailsCrcCheck = 25151;
inline constexpr int kDiskFull = 25160;
inline constexpr int kFileNotFound = 25192;
inline constexpr int kErrorOpeningFile = 25235;
inline constexpr int kRequiredEventNotAssigned = 25270;
inline constexpr int kStackOverflow = 25305;
inline constexpr int kUnsupportedCompressionMethod = 25326;
inline constexpr int kUserCanceled = 25443;
inline constexpr int kInvalidPassword = 26517;
inline constexpr int kDirectoryDoesNotExistCreate = 26899;
// Ids beyond the documented table, this extractor's own.
// A member whose target would lie outside the extract directory, or that would open a device or a stream
// instead of a file.
inline constexpr int kUnsafeMemberName = 26900;
// Under strict reading, an archive without an end record or whose central directory cannot be read whole.
inline constexpr int kIncompleteCentralDirectory = 26901;
// A member whose name the system code page cannot hold.
inline constexpr int kMemberNameNotInCodePage = 26902;
}  // namespace zipmsg

// The text of a message id; empty for an unknown id.
std::string MessageText(int id);

// Fatal extractor error; the message is the text of its id.
class E_RAISE : public Exception {
 public:
  explicit E_RAISE(int id) : Exception(MessageText(id)), m_id(id) {}
  int Id() const { return m_id; }

 private:
  int m_id;
};
