#pragma once
// The contract between the extraction driver and a decoder. The driver fills one context per member; the
// decoder pulls compressed bytes through ReadBlock and pushes every output byte through WriteBlock, which
// writes it, checks the write and keeps the running CRC-32. The decoder's status says what ended its run;
// whether the data was complete is judged by the driver's CRC check afterwards.
#include <cstdint>
#include <functional>

// The member's header values that decoding needs.
struct TMemberInfo {
  uint16_t Flags = 0;             // general purpose flags
  uint16_t Method = 0;            // compression method
  int64_t CompressedSize = 0;     // less the 12-byte encryption header when encrypted
  int64_t UncompressedSize = 0;
};

struct TDecodeContext {
  // Reads up to count compressed bytes of the member (deciphering when the member is encrypted); returns
  // the count read, 0 at the end or on a read error.
  std::function<int64_t(uint8_t* buffer, int64_t count)> ReadBlock;
  // Writes count bytes to the output and adds them to the running CRC; returns the count written. A short
  // write has already been reported by the driver when this returns.
  std::function<int64_t(const uint8_t* buffer, int64_t count)> WriteBlock;
  // Processes pending window messages, then reports the two percentages (0..100).
  std::function<void(int byFile, int byArchive)> ReportProgress;
  // Bytes of the whole archive still to be written, and the archive total they count down from.
  int64_t* ArchiveRemaining = nullptr;
  int64_t ArchiveTotal = 0;
  // The run's cancel flag; every decoder loop tests it.
  const bool* Cancel = nullptr;

  bool Cancelled() const { return Cancel != nullptr && *Cancel; }
};

// done * 100 / total, rounded to the nearest integer, clamped to 0..100; 0 when the total is 0.
int ProgressPercent(int64_t done, int64_t total);
