#pragma once
// The decoders of the compression methods that the extraction driver does not copy itself. Each takes its
// input through the context's ReadBlock (positioned at the member's first compressed byte, after any
// encryption header) and writes every output byte through WriteBlock. Results are informational: the
// driver's CRC check judges the data. No decoder writes more than the member's declared uncompressed size,
// and each counts what it writes off *context.ArchiveRemaining.
#include "zip/decoders/decode_context.h"

// Inflate64 status values.
namespace inflate_status {
inline constexpr int kOk = 0;
inline constexpr int kBadHeader = 1;        // bad dynamic header counts, or a repeat past the lengths
inline constexpr int kShortWrite = -2;
inline constexpr int kInputExhausted = -3;
inline constexpr int kInvalidData = -4;
inline constexpr int kCancelled = -5;
}  // namespace inflate_status

// Method 9 (deflate64 true, 64 KiB window) or plain Deflate (false, 32 KiB window). True when every block
// decoded and the final flush wrote everything.
bool Inflate64(const TMemberInfo& member, TDecodeContext& context, bool deflate64);

// Method 1. Fatal errors ("Bad block", "Stack overflow", "Error writing to file") go through
// context.RaiseError.
void Unshrink(const TMemberInfo& member, TDecodeContext& context);

// Methods 2 to 5 (factor = method - 1). Fatal errors go through context.RaiseError.
void Unreduce(const TMemberInfo& member, TDecodeContext& context);

// Method 6; returns one of the inflate_status values.
int Explode(const TMemberInfo& member, TDecodeContext& context);
