#pragma once
// Which bytes of a new archive can be copied from the previous one and which must be fetched. A member's
// compressed data are reused when the old archive holds a member of the same name with the same CRC, sizes,
// method and encryption flag, whose data decode and pass their CRC (the caller's check); dates and extra
// fields may differ, since they live in the local header, which is always fetched. Everything else up to
// the held tail is fetched: local headers, data descriptors, changed members, a stub, gaps.
#include <cstdint>
#include <functional>
#include <vector>

#include "app/zip_directory.h"

struct TReuseSegment {
  int64_t Offset = 0;      // in the new archive
  int64_t Length = 0;
  int64_t OldOffset = -1;  // in the old archive; -1: fetched
  bool Fetched() const { return OldOffset < 0; }
};

struct TReusePlan {
  // In order, without gaps, from 0 to the end the plan was made for; fetched segments never adjoin.
  std::vector<TReuseSegment> Segments;
  int ReusedMembers = 0;
  int64_t ReusedBytes = 0;
  int64_t FetchedBytes = 0;
  // Whether fetching in part is worth it for an archive of totalLength bytes: when more than about two
  // thirds would be fetched anyway, one whole download costs less in requests and risk.
  bool Worthwhile(int64_t totalLength) const { return ReusedMembers > 0 && FetchedBytes * 3 <= totalLength * 2; }
};

// Data shorter than this are fetched: a range of its own costs about as much in headers.
inline constexpr int64_t kMinReusedBytes = 128;

// Whether an old member may give its data: it decodes and passes its CRC.
using TSoundMember = std::function<bool(const TDirectoryEntry& oldEntry)>;

// The old member of the same name and contents for each new one; null when there is none (or the name is not
// unique in the old archive). Data offsets are not compared.
const TDirectoryEntry* MatchingOldMember(const TDirectoryEntry& fresh, const std::vector<TDirectoryEntry>& old);

// The plan for the bytes [0, end) of the new archive (end: where the held tail begins). Members whose data
// offset (either side) is unknown, or whose data overlap an earlier member, are fetched; data that run past
// end are reused up to it.
TReusePlan PlanReuse(std::vector<TDirectoryEntry> fresh, const std::vector<TDirectoryEntry>& old, int64_t end,
                     const TSoundMember& sound);
