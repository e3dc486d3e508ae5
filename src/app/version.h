#pragma once
// The updater's version: in the run log, and in the Windows file's version record (updater.rc includes this
// file). Keep the manifest's assemblyIdentity version (platform/win32/updater.exe.manifest) in step.
#define UPDATER_VERSION_NUMBERS 1, 0, 0, 0
#define UPDATER_VERSION_TEXT "1.0.0.0"
