#include "app/reuse_plan.h"

#include <algorithm>

namespace {

bool SameContents(const TDirectoryEntry& a, const TDirectoryEntry& b) {
  return a.Name == b.Name && a.Crc == b.Crc && a.CompressedSize == b.CompressedSize &&
         a.UncompressedSize == b.UncompressedSize && a.Method == b.Method && a.Encrypted == b.Encrypted;
}

void Append(TReusePlan& plan, int64_t offset, int64_t length, int64_t oldOffset) {
  if (length <= 0) return;
  if (oldOffset < 0) {
    plan.FetchedBytes += length;
    if (!plan.Segments.empty() && plan.Segments.back().Fetched()) {
      plan.Segments.back().Length += length;
      return;
    }
  } else {
    plan.ReusedBytes += length;
    ++plan.ReusedMembers;
  }
  plan.Segments.push_back({offset, length, oldOffset});
}

}  // namespace

const TDirectoryEntry* MatchingOldMember(const TDirectoryEntry& fresh, const std::vector<TDirectoryEntry>& old) {
  const TDirectoryEntry* match = nullptr;
  for (const TDirectoryEntry& entry : old) {
    if (entry.Name != fresh.Name) continue;
    if (match != nullptr) return nullptr;
    match = &entry;
  }
  return match != nullptr && SameContents(*match, fresh) ? match : nullptr;
}

TReusePlan PlanReuse(std::vector<TDirectoryEntry> fresh, const std::vector<TDirectoryEntry>& old, int64_t end,
                     const TSoundMember& sound) {
  std::stable_sort(fresh.begin(), fresh.end(),
                   [](const TDirectoryEntry& a, const TDirectoryEntry& b) { return a.HeaderOffset < b.HeaderOffset; });
  TReusePlan plan;
  int64_t cursor = 0;
  for (const TDirectoryEntry& entry : fresh) {
    const TDirectoryEntry* source = MatchingOldMember(entry, old);
    const int64_t data = entry.DataOffset;
    // Data that run into the held tail are reused up to it.
    const int64_t length = std::min(entry.CompressedSize, end - data);
    if (source == nullptr || data < cursor || data < entry.HeaderOffset || source->DataOffset < 0 ||
        length < kMinReusedBytes || !sound(*source)) {
      continue;
    }
    Append(plan, cursor, data - cursor, -1);
    Append(plan, data, length, source->DataOffset);
    cursor = data + length;
  }
  Append(plan, cursor, end - cursor, -1);
  return plan;
}
