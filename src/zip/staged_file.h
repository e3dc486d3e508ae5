#pragma once
// A member's file in staging mode (TUnZip::OnStage): written to TempName beside TargetName, which it has not
// replaced. Raised twice: just before the temporary file is created (Passed false), and once it is whole and
// passed its check (Passed true), with the attributes a landing member would then get.
#include <cstdint>
#include <string>
#include <vector>

struct TStagedFile {
  std::string TempName;
  std::string TargetName;
  // The directories made for this file, outermost first.
  std::vector<std::string> CreatedDirectories;
  bool Passed = false;
  bool SetPermissionBits = false;
  uint32_t PermissionBits = 0;
  bool SetAttributes = false;
  uint32_t Attributes = 0;
};

// Gives path the attributes a staged file carries; false when one of them could not be set.
bool ApplyStagedAttributes(const TStagedFile& file, const std::string& path);
