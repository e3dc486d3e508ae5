#include "zip/decoders/decode_context.h"

int ProgressPercent(int64_t done, int64_t total) {
  if (total == 0) return 0;
  const double percent = static_cast<double>(done) * 100.0 / static_cast<double>(total) + 0.5;
  if (percent < 0) return 0;
  if (percent > 100) return 100;
  return static_cast<int>(percent);
}
