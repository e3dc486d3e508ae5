// Any bytes as the install journal of a small installation, recovered as a start recovers it. Whatever the
// journal says, nothing outside the extract directory may change, appear or go.
#include <fstream>
#include <iterator>
#include <string>

#include "app/install_transaction.h"
#include "fuzz_entries.h"
#include "sandbox.h"

void FuzzInstallJournal(const uint8_t* data, size_t size) {
  TSandbox& sandbox = Sandbox();
  sandbox.Reset();
  // Names a journal may name with "..": the same as those inside, one level up.
  const std::string outside = "outside: never to be touched";
  for (const char* name : {"VERSION", "~update0.old", "~unzip0.tmp"}) sandbox.WriteBeside(name, outside);
  // An installation in the middle of a swap: a backup, a staged file, a directory made for it.
  sandbox.WriteInside("VERSION", "2.0");
  sandbox.WriteInside("~update0.old", "1.0");
  sandbox.WriteInside("lib/~unzip0.tmp", "new data");
  sandbox.WriteInside("lib/data.bin", "old data");
  sandbox.WriteInside("~update.journal", std::string(reinterpret_cast<const char*>(data), size));
  TInstallTransaction::Recover(sandbox.OutText());
  sandbox.CheckContained();
  for (const char* name : {"VERSION", "~update0.old", "~unzip0.tmp"}) {
    std::ifstream file(sandbox.OutText() + "../" + name, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    FuzzCheck(bytes == outside, std::string("recovery changed a file outside the extract directory: ") + name);
  }
}
