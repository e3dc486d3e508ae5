#include "zip/decoders/unshrink.h"

#include <algorithm>

#include "zip/decoders/decoders.h"

namespace {
// No width beyond 13 bits can define a code (8191 is the last), but wider codes are still read so that a
// code past 8191 is reported as such; beyond 16 bits the stream is plainly not shrunk data.
constexpr int kMaxWidth = 16;
}  // namespace

TUnshrinker::TUnshrinker(const TMemberInfo& member, TDecodeContext& context)
    : m_output(member, context),
      m_input(member, context),
      m_window(kWindowSize, m_output, context),
      m_parent(kCodeCount, -1),
      m_value(kCodeCount, 0),
      m_children(kCodeCount, 0),
      m_freeList(kCodeCount, 0),
      m_string(kCodeCount, 0),
      m_leaves(kCodeCount, 0) {
  for (int code = 0; code < 256; ++code) m_value[code] = static_cast<uint8_t>(code);
  for (int code = kFirstFree; code < kCodeCount; ++code) m_freeList[code] = static_cast<uint16_t>(code);
}

TDecodeStatus TUnshrinker::Emit(const uint8_t* data, uint32_t length) {
  return m_window.Put(data, static_cast<uint32_t>(std::min<int64_t>(length, m_window.Remaining())));
}

TDecodeStatus TUnshrinker::Finish(TDecodeStatus status) {
  // What was decoded before a fault still leaves, as with every other end of the member; a failed write
  // outranks the fault.
  const TDecodeStatus flushed = m_window.Flush();
  return flushed != TDecodeStatus::Ok ? flushed : status;
}

TDecodeStatus TUnshrinker::Run() {
  const int32_t first = m_input.ReadBits(m_width);
  if (first < 0 || first > 255) return Finish(TDecodeStatus::InvalidData);
  m_previous = first;
  m_first = static_cast<uint8_t>(first);
  const TDecodeStatus firstStatus = Emit(&m_first, 1);
  if (firstStatus != TDecodeStatus::Ok) return firstStatus;
  while (m_window.Remaining() > 0) {
    const int32_t code = m_input.ReadBits(m_width);
    if (code < 0) break;
    const TDecodeStatus status = DecodeCode(code);
    if (status == TDecodeStatus::InputEnded) break;
    if (status != TDecodeStatus::Ok) return Finish(status);
  }
  // The member's data end with their input: that is its regular end.
  return Finish(TDecodeStatus::Ok);
}

TDecodeStatus TUnshrinker::DecodeCode(int32_t code) {
  if (code == kControlCode) {
    const int32_t subCode = m_input.ReadBits(m_width);
    if (subCode < 0) return TDecodeStatus::InputEnded;
    if (subCode == 1 && m_width < kMaxWidth) {
      ++m_width;
    } else if (subCode == 2) {
      PartialClear();
    } else {
      return TDecodeStatus::InvalidData;
    }
    return TDecodeStatus::Ok;
  }
  if (code >= kCodeCount) return TDecodeStatus::InvalidData;

  // Walk the string back to its literal, storing its bytes from the end of m_string towards the front.
  uint32_t start = kCodeCount;
  int32_t current = code;
  if (code > kControlCode && m_parent[code] < 0) {
    m_string[--start] = m_first;  // KwKwK: the previous string plus its own first byte
    current = m_previous;
  }
  while (current > kControlCode) {
    if (start <= 1) return TDecodeStatus::StackOverflow;  // 8191 bytes stored, the literal's place left
    m_string[--start] = m_value[current];
    current = m_parent[current];
  }
  // The chain ran into a freed code: no string has this prefix.
  if (current < 0 || current == kControlCode) return TDecodeStatus::InvalidData;
  m_first = static_cast<uint8_t>(current);
  m_string[--start] = m_first;

  AddEntry(m_previous, m_first);
  m_previous = code;
  return Emit(&m_string[start], kCodeCount - start);
}

void TUnshrinker::AddEntry(int32_t parent, uint8_t value) {
  if (m_nextFree >= kCodeCount) return;
  const int code = m_freeList[m_nextFree++];
  m_parent[code] = parent;
  m_value[code] = value;
  ++m_children[parent];
}

void TUnshrinker::PartialClear() {
  // Every leaf is found before any is freed: a code whose last child goes now stays until the next clear.
  // Encoders clear whenever the table is full, which can be every few codes: the scan has no branch.
  int leafCount = 0;
  for (int code = kFirstFree; code < kCodeCount; ++code) {
    m_leaves[leafCount] = static_cast<uint16_t>(code);
    leafCount += m_children[code] == 0 ? 1 : 0;
  }
  // Filled from the top down, so that the lowest freed code is handed out first.
  m_nextFree = kCodeCount;
  while (leafCount > 0) {
    const uint16_t leaf = m_leaves[--leafCount];
    const int32_t parent = m_parent[leaf];
    if (parent >= 0 && m_children[parent] > 0) --m_children[parent];
    m_parent[leaf] = -1;
    m_value[leaf] = 0;
    m_children[leaf] = 0;
    m_freeList[--m_nextFree] = leaf;
  }
}

TDecodeStatus Unshrink(const TMemberInfo& member, TDecodeContext& context) {
  TUnshrinker decoder(member, context);
  return decoder.Run();
}
