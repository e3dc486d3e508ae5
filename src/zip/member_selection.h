#pragma once
// Member selection by the FileSpec and ExcludeSpec mask lists, and the name parts it works with. Names use
// the native separator (stored names are converted when read); '/', '\' and ':' all end a directory part.
#include <functional>
#include <string>
#include <vector>

// The text before the name's last '\', '/' or ':', with a separator appended when not empty. A name of
// exactly three characters containing ':' is all directory ("C:\"), and the separator right after a drive
// letter and ':' stays in the directory part ("C:\x" gives "C:\").
std::string NameDirectoryPart(const std::string& name);
// The text after the name's last separator or ':'.
std::string NameLastComponent(const std::string& name);

// True when a line of fileSpec selects the name. An empty name is never selected. For each non-empty line
// in order: a name matching an ExcludeSpec line fires onExclude and answers False at once; a line equal to
// the name (ignoring case) answers True; otherwise the line is matched as a mask, against the last
// component only when recurseDirs is set and the line has no directory part, else against the whole name
// (and, without recurseDirs, only when both directory parts are equal). When that fails a '.' is appended
// to a name without one and to a line without one - the changed line is written back into fileSpec, which
// callers rely on - and the mask is tried once more.
bool MatchesFileSpec(const std::string& name, std::vector<std::string>& fileSpec, bool recurseDirs,
                     const std::vector<std::string>& excludeSpec,
                     const std::function<void(const std::string&)>& onExclude);
