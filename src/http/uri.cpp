#include "http/uri.h"

#include <algorithm>

#include "http/text_search.h"

TIdURI::TIdURI(const std::string& text) {
  if (!text.empty()) ParseText(text);
}

void TIdURI::Clear() {
  SourceText.clear();
  Scheme.clear();
  UserPart.clear();
  PasswordPart.clear();
  HostPart.clear();
  PortPart.clear();
  DirPart.clear();
  DocPart.clear();
  QueryPart.clear();
  FragmentPart.clear();
}

std::string NormalizeSlashes(const std::string& text) {
  std::string result = text;
  for (size_t i = 0; i < result.size(); ++i) {
    if (IsLeadByte(result[i])) {
      ++i;  // the trail byte may be 0x5C in GBK and is part of the character
    } else if (result[i] == '\\') {
      result[i] = '/';
    }
  }
  return result;
}

namespace {

// Moves the text after the first "#" of part into fragment; part keeps the text before it.
void SplitFragment(std::string& part, std::string& fragment) {
  if (FindText("#", part) == 0) return;
  std::string rest = part;
  part = SplitAt(rest, "#");
  fragment = rest;
}

}  // namespace

void TIdURI::ParseText(const std::string& text) {
  Clear();
  std::string rest = NormalizeSlashes(text);
  SourceText = rest;

  const int schemeEnd = FindText("://", rest);
  if (schemeEnd > 0) {
    Scheme = rest.substr(0, static_cast<size_t>(schemeEnd - 1));
    rest.erase(0, static_cast<size_t>(schemeEnd - 1) + 3);
    std::string authority = SplitAt(rest, "/");
    if (FindText("@", authority) > 0) {
      std::string userInfo = SplitAt(authority, "@");
      UserPart = SplitAt(userInfo, ":");
      PasswordPart = userInfo;
      if (UserPart.empty()) PasswordPart.clear();
    }
    HostPart = SplitAt(authority, ":");
    PortPart = authority;
  }

  // A URL such as "/cgi/run=5" has no "?" and counts as having a query from the "=".
  int queryPos = FindText("?", rest);
  if (queryPos == 0) queryPos = FindText("=", rest);
  const int dirEnd = FindLast("/", rest, queryPos > 0 ? queryPos : -1);
  DirPart = rest.substr(0, static_cast<size_t>(dirEnd));
  if (schemeEnd > 0) DirPart = "/" + DirPart;
  if (queryPos > 0) {
    DocPart = rest.substr(0, static_cast<size_t>(queryPos - 1));
    QueryPart = rest.substr(static_cast<size_t>(queryPos - 1));
  } else {
    DocPart = rest;
  }
  DocPart.erase(0, static_cast<size_t>(dirEnd));
  if (schemeEnd > 0) SplitFragment(DocPart, FragmentPart);
  if (FragmentPart.empty()) SplitFragment(QueryPart, FragmentPart);
}

std::string TIdURI::ComposeText(bool withUserInfo, bool withFragment) const {
  if (Scheme.empty()) throw EIdURIException("Protocol field is empty");
  std::string result = Scheme + "://";
  if (withUserInfo && !UserPart.empty()) {
    result += UserPart;
    if (!PasswordPart.empty()) result += ":" + PasswordPart;
    result += "@";
  }
  if (HostPart.empty()) throw EIdURIException("Host field is empty");
  result += HostPart;
  if (!PortPart.empty()) result += ":" + PortPart;
  result += DirPart + DocPart + QueryPart;
  if (withFragment && !FragmentPart.empty()) result += "#" + FragmentPart;
  return result;
}

std::string TIdURI::ComposeForProxy() {
  SourceText = ComposeText(/*withUserInfo=*/true, /*withFragment=*/true);
  return ComposeText(/*withUserInfo=*/false, /*withFragment=*/false);
}

std::string RedactedUrl(const std::string& url) {
  const bool schemeless = TIdURI(url).Scheme.empty();
  const std::string kAssumedScheme = "http://";
  const TIdURI uri(schemeless ? kAssumedScheme + url : url);
  const std::string& text = uri.SourceText;
  const size_t authorityStart = uri.Scheme.size() + 3;
  const size_t authorityEnd = std::min(text.find('/', authorityStart), text.size());
  const size_t at = text.rfind('@', authorityEnd - 1);
  if (at == std::string::npos || at < authorityStart) return url;
  const std::string redacted = text.substr(0, authorityStart) + "***" + text.substr(at);
  return schemeless ? redacted.substr(kAssumedScheme.size()) : redacted;
}

std::string MergePath(const std::string& basePath, const std::string& newPath, char delimiter) {
  if (!newPath.empty() && newPath.front() == delimiter) return newPath;
  const bool namesDirectory = newPath.empty() || newPath.back() == delimiter;

  std::string work = basePath;
  if (!work.empty() && work.back() != delimiter) work += delimiter;
  work += newPath;

  std::string result;
  for (size_t i = 0; i < work.size(); ++i) {
    const char c = work[i];
    if (c == delimiter) {
      if (i == 0) {
        result.assign(1, delimiter);
      } else if (result.empty() || result.back() != delimiter) {
        result += delimiter;
      }
    } else if (c == '.' && !result.empty() && result.back() == delimiter && i + 1 < work.size() &&
               work[i + 1] == '.') {
      // ".." climbs one segment: drop the delimiter just written and the segment before it.
      result.pop_back();
      const size_t previous = result.rfind(delimiter);
      result.erase(previous == std::string::npos ? 0 : previous + 1);
      ++i;
    } else {
      result += c;
    }
  }
  if (result.size() > 1 && result.back() == delimiter && !namesDirectory) result.pop_back();
  return result;
}
