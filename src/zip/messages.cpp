#include "zip/messages.h"

std::string MessageText(int id) {
  switch (id) {
    case zipmsg::kBadOffsetToLocalHeader: return "Bad offset to local header";
    case zipmsg::kBadBlock: return "Bad block";
    case zipmsg::kErrorWritingToFile: return "Error writing to file";
    case zipmsg::kErrorClosingFile: return "Error closing file";
    case zipmsg::kFileFailsCrcCheck: return "File fails CRC check";
    case zipmsg::kDiskFull: return "Disk full";
    case zipmsg::kFileNotFound: return "File not found";
    case zipmsg::kErrorOpeningFile: return "Error opening file";
    case zipmsg::kRequiredEventNotAssigned: return "Required event not assigned";
    case zipmsg::kStackOverflow: return "Stack overflow";
    case zipmsg::kUnsupportedCompressionMethod: return "Unsupported compression method";
    case zipmsg::kUserCanceled: return "User canceled";
    case zipmsg::kInvalidPassword: return "Invalid password";
    case zipmsg::kDirectoryDoesNotExistCreate: return "Directory does not exist... Create?";
    case zipmsg::kUnsafeMemberName: return "Member path leaves the extract directory";
    case zipmsg::kMemberNameNotInCodePage: return "Member name not in the system code page";
    case zipmsg::kIncompleteCentralDirectory: return "Central directory missing or incomplete";
    default: return std::string();
  }
}
