#pragma once
// The archive side of the extractor: assigning ArchiveFile recognises the archive, the end-record search
// finds the central directory, the member list is built from the central directory (or by walking local
// headers when there is none), and each member's local header is read back just before its data. Member
// selection, error reporting and the cancel flag live here too, since the directory walks use them.
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "zip/arc_type.h"
#include "zip/stream32.h"
#include "zip/zip_records.h"

struct TMemberHeader;
struct TNameRules;
class TStrictReading;
template <class Fields>
struct TRecordAt;

// Where a listed member's local header is.
struct TMemberLocation {
  uint32_t ExternalAttributes = 0;
  uint16_t StartDisk = 0;
  int64_t LocalHeaderPosition = 0;
};

// The members selected for one Extract, in archive order, with a copy of each central record when the
// list came from the central directory; and the file names of every member the walk met, selected or not.
class TUnBaseHeaderObj {
 public:
  void Clear();
  int Count() const { return static_cast<int>(m_locations.size()); }
  void Add(const TMemberLocation& location, const ziprec::TCentralRecord* central);
  const TMemberLocation& Location(int index) const { return m_locations[static_cast<size_t>(index)]; }
  // Null when the list came from the local header walk.
  const ziprec::TCentralRecord* Central(int index) const;
  // Notes the last component of a stored name.
  void AddFileName(const std::string& storedName);
  // Whether a member's last component is this name, compared without regard to case (as Windows would).
  bool HasFileName(const std::string& fileName) const;

 private:
  std::vector<TMemberLocation> m_locations;
  std::vector<ziprec::TCentralRecord> m_central;
  std::set<std::string> m_fileNames;  // upper case
};

class TUnBase {
 public:
  using TErrorEvent = std::function<void(TUnBase& sender, const std::string& fileName, const std::string& extendedMsg,
                                         const std::string& volumeId, int eCode)>;
  using TExcludeFileEvent = std::function<void(TUnBase& sender, const std::string& fileName)>;
  using TCorruptZipHeaderEvent = std::function<void(TUnBase& sender, THeaderTypeState headFlag, bool& cancel)>;

  TUnBase();
  virtual ~TUnBase();
  TUnBase(const TUnBase&) = delete;
  TUnBase& operator=(const TUnBase&) = delete;

  const std::string& ArchiveFile() const { return m_archiveFile; }
  // Stores the name (foreign separators made native) and recognises the file. A missing file gives atNA
  // and an empty ArchiveFile; an unreadable or unrecognised one atNA. Never raises.
  void SetArchiveFile(const std::string& name);
  TArcType ArcType() const { return m_arcType; }
  // Any value re-runs recognition on the current ArchiveFile (open failure: atFileOpenErr).
  void SetArcType(TArcType value);

  // Masks of the members to extract (empty selects nothing) and of those never to extract.
  std::vector<std::string>& FileSpec() { return m_fileSpec; }
  void SetFileSpec(const std::vector<std::string>& lines) { m_fileSpec = lines; }
  std::vector<std::string>& ExcludeSpec() { return m_excludeSpec; }
  void SetExcludeSpec(const std::vector<std::string>& lines) { m_excludeSpec = lines; }

  bool RecurseDirs = true;
  // Stored names are converted from the OEM code page.
  bool TranslateOemChar = true;
  // Strict reading, for callers that must not take part of an archive for the whole of it (a download
  // cut short still has its first members' local headers). With it, an archive is read only through its
  // central directory, and only when that directory can be read whole: exactly the records the end record
  // counts, each complete, with its signature, and before the end record. Anything else (no end record, an
  // end record or comment cut, no central record where the end record puts the directory, fewer or more
  // records than counted, a record cut or running past the end record, a member whose central record and
  // local header or data descriptor disagree on its name, method, CRC or sizes) makes the archive damaged: Extract
  // reports zipmsg::kIncompleteCentralDirectory once (empty file name, the fault in ExtendedMsg) and lists
  // and writes nothing. Off (the default): a missing or unreadable directory falls back to the local header
  // walk, and the directory walk ends at the first record without a signature.
  bool RequireCentralDirectory = false;
  // Members the last Extract listed: selected by FileSpec and found, from the central directory or the
  // local header walk (0 for a damaged archive under RequireCentralDirectory, or one that is no archive).
  int ListedCount() const { return m_listedCount; }

  bool Cancel() const { return m_cancel; }
  // Setting True reports "User canceled" through the error event.
  void SetCancel(bool value);

  TErrorEvent OnError;
  TExcludeFileEvent OnExcludeFile;
  TCorruptZipHeaderEvent OnCorruptZipHeader;

  // Recognition results, for callers that need to tell why nothing was listed, and for tests.
  THeaderTypeState HeaderState() const { return m_headerState; }
  int64_t StartOffset() const { return m_startOffset; }
  int64_t ArchiveOffset() const { return m_archiveOffset; }
  int64_t CommentPosition() const { return m_commentPosition; }

 protected:
  // The end-record search on an open archive stream: sets HeaderState, ArchiveOffset, the comment position
  // and the record copies. Returns the central directory position; 0 when no end record was found (or its
  // central directory could not be read), -1 when neither a central record nor a local header was found.
  int64_t LocateCentralDirectory(TStream32& stream);
  // Fill the member list for one Extract: under RequireCentralDirectory from the whole central directory
  // or not at all, otherwise by the local header walk when HeaderState is exactly {htLocal} and from the
  // central directory else. Returns the count, which ListedCount then gives.
  int ListMembers(TStream32& stream);
  // Fill the member list by walking the local headers from the start offset; return the count.
  int ListLocalMembers(TStream32& stream);

  // Seeks to the entry's local header, reads it with its name and extra field, and leaves the stream on
  // the member's first data byte.
  TMemberHeader ReadLocalHeader(TStream32& stream, int index);

  // Non-fatal error: fires OnError (code 25443 "User canceled" while Cancel is set).
  void ReportError(const std::string& fileName, const std::string& extendedMsg, int code,
                   const std::string& volumeName);

  bool IsSpannedType() const { return m_arcType == TArcType::atZipDS || m_arcType == TArcType::atZipMV; }
  // Recognises the archive from an open stream of ArchiveFile: sets ArcType and what the listing needs.
  void Recognise(TStream32& stream);

  std::string m_archiveFile;
  TArcType m_arcType = TArcType::atNA;
  int64_t m_archiveSize = 0;
  int64_t m_startOffset = -1;
  int64_t m_archiveOffset = 0;
  int64_t m_commentPosition = 0;
  THeaderTypeState m_headerState;
  ziprec::TEndRecord m_endRecord;
  ziprec::TLocator m_locator;
  ziprec::TEnding64 m_ending64;
  // Leading zero bytes skipped by recognition, or the stub size of a self-extractor: where a local header
  // walk starts when there is no central directory.
  int64_t m_dataStart = 0;

  // Where the end-record search found the end record; -1 when it found none.
  int64_t m_endPosition = -1;

  TUnBaseHeaderObj m_members;
  int m_listedCount = 0;
  uint32_t m_maxDosDateTime = 0;
  int64_t m_totalCompressed = 0;
  int64_t m_totalUncompressed = 0;

  std::vector<std::string> m_fileSpec;
  std::vector<std::string> m_excludeSpec;
  bool m_cancel = false;
  std::string m_volumeName;

 private:
  struct TCentralWalk;
  struct TLocalPlace;

  bool Selected(const std::string& storedName);
  // How the names of this archive's records are read (the host comes from each record).
  TNameRules NameRules(int host) const;
  // Counts a listed member into the archive's newest date and its compressed and uncompressed totals.
  void AddToTotals(const ziprec::TLocalHeader& fields);
  // The first local header at or after the position, within 32768 bytes; -1 when none.
  int64_t SearchLocalHeader(TStream32& stream, int64_t from);

  // The steps of recognition (archive_recognition.cpp). The archive type from the file's first bytes, and where
  // its ZIP data start; false when they are no archive this extractor reads.
  bool RecogniseType(const std::vector<uint8_t>& head);
  // The steps of LocateCentralDirectory. The end record among the file's last 65535 + 26 bytes: the last
  // one whose comment reaches the end of the file, else the last end signature; -1 when there is none or
  // those bytes cannot be read.
  int64_t FindEndRecord(TStream32& stream, int64_t fileSize);
  // The end record at endPosition, with the ZIP64 locator and end record in front of it when they are there.
  void ReadEndRecords(TStream32& stream, int64_t endPosition);
  // Where the end records put the central directory, not yet corrected for data in front of the archive.
  int64_t StatedCentralPosition(int64_t endPosition) const;
  // Takes the directory at central, whose first record's fixed part is read, and returns its position.
  int64_t AcceptCentralDirectory(TStream32& stream, int64_t central, uint8_t (&record)[ziprec::kCentralRecordSize]);
  // Without a central directory: the first local header at the archive's front (-1 when none), read in
  // blocks of the buffer's size.
  int64_t FindFirstLocalHeader(TStream32& stream, std::vector<uint8_t>& buffer);

  // The central directory walk (central_walk.cpp). Under a strict reading it reads exactly the records the end
  // record counts and returns the first fault that keeps it from reading them whole (empty when there is
  // none); without one, it ends at the first record without a central signature. A central record whose
  // local header is not found, or whose member (local header to the end of its compressed data) shares bytes
  // with the member of an earlier record of the directory, is reported as "Bad offset to local header" and
  // left out.
  std::string WalkCentralDirectory(TStream32& stream, const TStrictReading* strict);
  // Its steps, one record each: read the next record; false when the walk (or, lenient, this disk's part of
  // it) ends, a strict fault then in the walk.
  bool WalkNextRecord(TStream32& stream, TCentralWalk& walk, const TStrictReading* strict);
  // Where the record's member starts: its local header, found at its stated offset (corrected once, from the
  // walk's first record, for data in front of the archive), or not found.
  TLocalPlace LocateLocalHeader(TStream32& stream, TCentralWalk& walk, const ziprec::TCentralRecord& record);
  // Claims the member's bytes for it; false when they meet those of a member claimed before.
  bool ClaimMember(TCentralWalk& walk, const TLocalPlace& place, const ziprec::TCentralRecord& record);
  // Lists the record's member when it is selected, or reports it when its local header is not its own.
  void ListCentralRecord(const TRecordAt<ziprec::TCentralRecord>& record, const TLocalPlace& place, bool usable);
  // The strict reading of this archive: the records its end record counts (the ZIP64 end record's count when
  // there is one), before the records behind its directory.
  TStrictReading StrictReading() const;
};
