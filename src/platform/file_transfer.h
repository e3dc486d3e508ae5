#pragma once
// The loop that File::Read and File::Write run on both systems around their one system call: the call may
// move less than it was asked for, so it is repeated until the count is moved, the file ends, or an error
// comes. Kept here once so that the systems differ only in the call itself.
#include <cstdint>

#include "platform/files.h"

namespace platform::detail {

enum class TransferKind { Read, Write };

// piece(offset, count) moves at most count bytes at offset of the caller's buffer with one system call and
// returns the count moved, 0 at the end of the file, or -1 once it has recorded the system's error. Returns
// the total moved, or -1 when the file is not open or an error came before the first byte. A write starts
// with a clear last error, so that a caller can tell a full disk from a short write.
template <typename Piece>
int64_t TransferAll(bool open, TransferKind kind, int64_t count, Piece piece) {
  if (!open) {
    SetLastErrorCode(kErrorAccessDenied);
    return -1;
  }
  if (kind == TransferKind::Write) {
    SetLastErrorCode(0);
    if (FileOperationFails()) return -1;
  }
  int64_t total = 0;
  while (total < count) {
    const int64_t moved = piece(total, count - total);
    if (moved < 0) return total > 0 ? total : -1;
    if (moved == 0) break;
    total += moved;
  }
  return total;
}

}  // namespace platform::detail
