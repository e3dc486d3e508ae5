#include "zip/staged_file.h"

#include "platform/files.h"

bool ApplyStagedAttributes(const TStagedFile& file, const std::string& path) {
  const bool bitsSet = !file.SetPermissionBits || platform::SetPermissionBits(path, file.PermissionBits);
  const bool attributesSet = !file.SetAttributes || platform::SetAttributes(path, file.Attributes);
  return bitsSet && attributesSet;
}
