#pragma once
// The checks of strict reading (TUnBase::RequireCentralDirectory), in one place: the central directory is read
// only when it can be read whole, exactly the records the end record counts, each complete, signed, before
// the end record, and agreeing with its member's local header. Each check returns the fault that keeps the
// directory from being read whole, for the message's ExtendedMsg; empty when there is none.
#include <cstdint>
#include <string>

#include "zip/record_reader.h"
#include "zip/stream32.h"
#include "zip/zip_records.h"

class TStrictReading {
 public:
  // counted: the records the end record counts; directoryEnd: where the records behind the directory begin.
  TStrictReading(uint64_t counted, int64_t directoryEnd) : m_counted(counted), m_directoryEnd(directoryEnd) {}

  // Before the walk: the end record itself. endPosition is -1 when there is none; centralFound tells whether a
  // central record was found where the end record puts the directory.
  std::string EndRecordFault(int64_t endPosition, const ziprec::TEndRecord& end, int64_t archiveSize,
                             bool centralFound) const;
  uint64_t Counted() const { return m_counted; }
  // After the counted records: a further record at position is one more than counted.
  std::string RecordsBeyond(TStream32& stream, int64_t position) const;
  // The record numbered walked (from 0): cut or unsigned.
  std::string Unreadable(const TRecordAt<ziprec::TCentralRecord>& record, uint64_t walked) const;
  // A readable record that runs past the end record, or whose member cannot be written under its own name.
  std::string Unusable(const TRecordAt<ziprec::TCentralRecord>& record, uint64_t walked) const;
  // The member's local header at localPosition, and its data descriptor, against its central record.
  std::string Disagreement(TStream32& stream, int64_t localPosition, const TRecordAt<ziprec::TCentralRecord>& central,
                           bool translateOem, uint64_t walked) const;
  // After the walk, which met walked records; a cancelled walk misses none.
  std::string Missing(uint64_t walked, bool cancelled) const;

 private:
  std::string Fault(uint64_t walked, const std::string& what) const;

  uint64_t m_counted;
  int64_t m_directoryEnd;
};
