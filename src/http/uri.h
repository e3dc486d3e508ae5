#pragma once
// TIdURI: a URL split into its parts and rebuilt from them. Purely textual: nothing is validated, decoded or
// percent-encoded, so a URL goes on the wire exactly as given (except that backslashes become slashes).
#include <string>

#include "net/exceptions.h"

// Raised when a URL is composed from parts that lack the scheme or the host.
class EIdURIException : public EIdException {
 public:
  using EIdException::EIdException;
};

class TIdURI {
 public:
  TIdURI() = default;
  // Parses text at once when it is non-empty.
  explicit TIdURI(const std::string& text);

  // Replaces every field from text. Never fails; a malformed port stays as text.
  void ParseText(const std::string& text);
  // Rebuilds a URL from the fields. Raises EIdURIException "Protocol field is empty" or "Host field is empty".
  std::string ComposeText(bool withUserInfo, bool withFragment) const;
  // The absolute URL for a request line through a proxy (no user information, no fragment); SourceText
  // becomes the full composition. Raises as ComposeText.
  std::string ComposeForProxy();

  std::string SourceText;    // the URL as last parsed (slashes normalised) or composed for a proxy
  std::string Scheme;        // text before "://", case kept
  std::string UserPart;
  std::string PasswordPart;  // always empty when UserPart is
  std::string HostPart;
  std::string PortPart;      // text, empty when absent
  std::string DirPart;       // "/a/b/" for an absolute URL; as written for a relative one
  std::string DocPart;       // last path segment
  std::string QueryPart;     // including its leading "?" (or "=", see ParseText)
  std::string FragmentPart;  // without the "#"

 private:
  void Clear();
};

// Resolves newPath against the directory basePath: an absolute newPath wins, ".." removes a segment, runs of
// the delimiter collapse, and a trailing delimiter is kept only when newPath names a directory (is empty or
// ends with the delimiter). The delimiter is a single character ("/" for the HTTP client).
std::string MergePath(const std::string& basePath, const std::string& newPath, char delimiter = '/');

// The URL for a message or a log: everything in front of the host that the client could read as a user name
// or password replaced by "***". The authority is found as ParseText finds it (backslashes are slashes, it
// ends at the first "/"), and is cut at its last "@", so that neither a "?" or "#" in a password nor an "@"
// that was not percent-encoded lets part of it through. A text without a scheme (a proxy setting) is read as
// an authority and a path.
std::string RedactedUrl(const std::string& url);

// Turns every "\" into "/", leaving alone a trail byte of a double-byte character that happens to be 0x5C.
std::string NormalizeSlashes(const std::string& text);
