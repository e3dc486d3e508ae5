#pragma once
// What recognition found: the archive type and which ZIP records the end-record search met.
#include <cstdint>

// Ordinals 0..34 in this order. The first four mean that no usable archive was found; the extractor reads
// atZip, atZipExe, atJar, atJarExe and names the spanned (atZipDS) and multi-volume (atZipMV) forms.
enum class TArcType : uint8_t {
  atNA, atUnsupported, atFileOpenErr, atUnknown,
  atAce, atAceExe, atArc, atArcExe, atArj, atArjExe, atBh, atBhExe, atCab, atCabExe,
  atGZip, atHA, atJar, atJarExe, atLha, atLhaExe, atLzh, atLzhExe, atMsGZ, atPak, atPakExe,
  atRar, atRarExe, atTar, atTarGZip, atUUE, atZip, atZipExe, atZipDS, atZipMV, atZoo
};

// True for the types the extractor reads.
bool IsZipType(TArcType type);

enum class THeaderType : uint8_t { htLocal, htCentral, htEnding, htLocator, htEnding64, htNone };

// A set of THeaderType.
class THeaderTypeState {
 public:
  THeaderTypeState() = default;
  static THeaderTypeState Of(THeaderType type) {
    THeaderTypeState state;
    state.Include(type);
    return state;
  }
  void Include(THeaderType type) { m_bits = static_cast<uint8_t>(m_bits | Bit(type)); }
  bool Contains(THeaderType type) const { return (m_bits & Bit(type)) != 0; }
  bool Empty() const { return m_bits == 0; }
  void Clear() { m_bits = 0; }
  bool operator==(const THeaderTypeState&) const = default;

 private:
  static uint8_t Bit(THeaderType type) { return static_cast<uint8_t>(1u << static_cast<unsigned>(type)); }
  uint8_t m_bits = 0;
};
