#pragma once
// The fuzz entry functions: each takes one input of arbitrary bytes, runs one piece of the updater that
// reads untrusted data over it, and returns normally for every input the code handles soundly. A crash, a
// sanitizer report, an exception the code does not document, or a broken invariant (FuzzCheck) is a fault.
//
// The entries are plain functions with no fuzzer-engine code in them, so the same functions replay the kept
// regression inputs in the normal test run (tests/fuzz) on every target, Windows under Wine included.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using TFuzzEntryFunction = void (*)(const uint8_t* data, size_t size);

struct TFuzzEntry {
  const char* Name;  // the fuzz target's name and its regression folder's name
  TFuzzEntryFunction Run;
};

// Every entry, in a fixed order.
const std::vector<TFuzzEntry>& FuzzEntries();
// The entry of that name, or nullptr.
const TFuzzEntry* FindFuzzEntry(const std::string& name);

// Reports a broken invariant on stderr and aborts, so that the fuzzer keeps the input and a test fails.
void FuzzCheck(bool condition, const std::string& what);

// Reads the input front to back; past its end every read gives zero bytes.
class TFuzzInput {
 public:
  TFuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  uint8_t Byte() { return m_position < m_size ? m_data[m_position++] : 0; }
  // Little-endian.
  uint32_t Bits32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(Byte()) << (8 * i);
    return value;
  }
  // The bytes up to the next occurrence of delimiter (dropped) or to the end.
  std::string Until(char delimiter);
  std::string Rest();
  bool AtEnd() const { return m_position >= m_size; }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_position = 0;
};

// Decoders over a memory context (decoder_entries.cpp).
void FuzzInflate64(const uint8_t* data, size_t size);
void FuzzInflate(const uint8_t* data, size_t size);
void FuzzUnshrink(const uint8_t* data, size_t size);
void FuzzUnreduce(const uint8_t* data, size_t size);
void FuzzExplode(const uint8_t* data, size_t size);

// The HTTP text machinery and the command line (text_entries.cpp).
void FuzzUri(const uint8_t* data, size_t size);
void FuzzMergePath(const uint8_t* data, size_t size);
void FuzzHttpDate(const uint8_t* data, size_t size);
void FuzzHeaderList(const uint8_t* data, size_t size);
void FuzzCookies(const uint8_t* data, size_t size);
void FuzzCommandLine(const uint8_t* data, size_t size);

// A whole GET against a server that answers with the input (http_response_entry.cpp).
void FuzzHttpResponse(const uint8_t* data, size_t size);
// A request for byte ranges whose answer is the input, read by the byte ranges reader (byte_ranges_entry.cpp).
void FuzzByteRanges(const uint8_t* data, size_t size);

// The extractor (zip_entries.cpp).
void FuzzZipArchive(const uint8_t* data, size_t size);
void FuzzZipMember(const uint8_t* data, size_t size);
void FuzzMask(const uint8_t* data, size_t size);

// The recovery of an interrupted update from its journal (install_journal_entry.cpp).
void FuzzInstallJournal(const uint8_t* data, size_t size);
