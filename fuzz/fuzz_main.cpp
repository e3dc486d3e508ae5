// libFuzzer's side of one fuzz target: the target's name is compiled in (UPDATER_FUZZ_TARGET) and picks
// its entry function. Everything else lives in the entries, which the regression test also runs.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz_entries.h"
#include "platform/threads.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  platform::RegisterMainThread();
  if (FindFuzzEntry(UPDATER_FUZZ_TARGET) == nullptr) {
    std::fprintf(stderr, "no fuzz entry named %s\n", UPDATER_FUZZ_TARGET);
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const TFuzzEntry* const entry = FindFuzzEntry(UPDATER_FUZZ_TARGET);
  entry->Run(data, size);
  return 0;
}
