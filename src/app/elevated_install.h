#pragma once
// Installs for all users without running the updater with administrator rights. The download, the save and
// the signature check run with the user's rights; only when the extract directory does not let this process
// create, rename and remove files does the window hand the install to a copy of the updater started with
// administrator rights (platform::RunElevated), and wait for it. That copy is given an internal form of the
// command line, which the public contract (five or six items) never produces: exactly four items,
//   --install-elevated[=<signature>]  <archive>  <ExtractPath>  <report>
// It shows no window; it takes the lock, recovers an interrupted update, installs the archive exactly as the
// window would (archive_install.h), removes ExtractPath/<archive's name>, and reports through its exit code and
// a small report file, created exclusively, whose lines the window copies into its own log. The program to
// start is started by the window afterwards, with the user's own rights.
#include <string>
#include <vector>

inline constexpr char kElevatedInstallSwitch[] = "--install-elevated";

// The exit codes of the internal form.
inline constexpr int kElevatedInstalled = 0;
inline constexpr int kElevatedInstallFailed = 1;   // the cause is the report's "failed: " line
inline constexpr int kElevatedInstallRefused = 2;  // the items name no archive, directory or report to create

// The report's name in the download directory: beside the log, whose prefix it shares.
inline constexpr char kElevatedReportName[] = "updater.log.elevated";
// The report's last line on failure starts with this; the cause follows.
inline constexpr char kElevatedFailedPrefix[] = "failed: ";

// The items that start the internal form; signatureText (empty in a build without signatures) goes with the
// switch, so that the count never reaches the public contract's.
std::vector<std::string> ElevatedInstallItems(const std::string& archive, const std::string& extractPath,
                                              const std::string& report, const std::string& signatureText);
bool IsElevatedInstallForm(const std::vector<std::string>& items);

// The internal form's whole run; returns the process's exit code.
int RunElevatedInstall(const std::vector<std::string>& items, const std::string& publicKey);

// Whether installing into extractPath needs rights this process lacks: it is not elevated already, and a
// probe file cannot be created exclusively, renamed and removed for want of access in extractPath or, given
// the archive, in a directory that the archive's members are written to.
bool NeedsAdministratorRights(const std::string& extractPath, const std::string& archive = {});
