#pragma once
// The decoders of the compression methods that the extraction driver does not copy or hand to zlib itself.
// Each takes its input through the context's ReadBlock (positioned at the member's first compressed byte,
// after any encryption header) and writes every output byte through WriteBlock. No decoder writes more than
// the member's declared uncompressed size, and each counts what it writes off *context.ArchiveRemaining.
// Each returns the status that ended its run; which statuses end the member with a message is the driver's
// choice (its method table), the rest is judged by its CRC check.
#include "zip/decoders/decode_context.h"
#include "zip/decoders/decode_status.h"

using TDecoder = TDecodeStatus (*)(const TMemberInfo& member, TDecodeContext& context);

// Method 9, Deflate64 (TInflate64 decodes plain Deflate too).
TDecodeStatus Inflate64(const TMemberInfo& member, TDecodeContext& context);

// Method 1: InvalidData for a bad code ("Bad block"), StackOverflow, OutputShort; InputEnded and Ok end the
// member quietly.
TDecodeStatus Unshrink(const TMemberInfo& member, TDecodeContext& context);

// Methods 2 to 5 (factor = method - 1): InvalidData for a follower set above 32 bytes, UnsupportedMethod for
// another method number, OutputShort.
TDecodeStatus Unreduce(const TMemberInfo& member, TDecodeContext& context);

// Method 6.
TDecodeStatus Explode(const TMemberInfo& member, TDecodeContext& context);
