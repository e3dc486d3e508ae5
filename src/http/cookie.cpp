#include "http/cookie.h"

#include "http/http_date.h"
#include "http/text_search.h"
#include "net/exceptions.h"
#include "platform/clock.h"
#include "rtl/sysutils.h"

void TIdNetscapeCookie::ParseCookieText(const std::string& text) {
  if (text == m_sourceText) return;
  m_sourceText = text;

  std::vector<std::string> items;
  std::string rest = text;
  while (FindText(";", rest) > 0) items.push_back(Trim(SplitAt(rest, ";")));
  if (!rest.empty()) items.push_back(Trim(rest));

  std::string first = items.empty() ? std::string() : items.front();
  CookieNameText = SplitAt(first, "=");
  CookieValueText = first;

  Attributes attributes;
  for (size_t i = 1; i < items.size(); ++i) {
    std::string value = items[i];
    const std::string name = SplitAt(value, "=");
    attributes.push_back(FindText("=", items[i]) > 0 ? UpperCase(name) + "=" + value : UpperCase(items[i]));
  }
  LoadAttributes(attributes);
}

std::string TIdNetscapeCookie::AttributeValue(const Attributes& attributes, const std::string& name) {
  for (const std::string& item : attributes) {
    std::string value = item;
    if (FindText("=", item) > 0 && SameText(SplitAt(value, "="), name)) return value;
  }
  return "";
}

bool TIdNetscapeCookie::HasItem(const Attributes& attributes, const std::string& name) {
  for (const std::string& item : attributes) {
    if (SameText(item, name)) return true;
  }
  return false;
}

void TIdNetscapeCookie::LoadAttributes(const Attributes& attributes) {
  CookiePath = AttributeValue(attributes, "PATH");
  if (!CookiePath.empty() && CookiePath.front() == '"') CookiePath.erase(0, 1);
  if (!CookiePath.empty() && CookiePath.back() == '"') CookiePath.pop_back();
  SetCookieExpires(AttributeValue(attributes, "EXPIRES"));
  CookieDomain = AttributeValue(attributes, "DOMAIN");
  CookieSecure = HasItem(attributes, "SECURE");
}

namespace {

// Four numbers 0-255 separated by dots.
bool IsDottedAddress(const std::string& text) {
  std::string rest = text;
  for (int part = 0; part < 4; ++part) {
    if (part < 3 && FindText(".", rest) == 0) return false;
    const std::string number = SplitAt(rest, ".");
    if (number.empty() || number.size() > 3) return false;
    for (char c : number) {
      if (c < '0' || c > '9') return false;
    }
    if (std::stoi(number) > 255) return false;
  }
  return rest.empty();
}

bool IsPlainName(const std::string& text) {
  return !IsDottedAddress(text) && (text.empty() || text.front() != '.');
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

// An address must be named exactly; a name such as "b.c" must end the host ("a.b.c"); a domain such as ".b.c"
// must end the host's part from its first dot on.
bool TIdNetscapeCookie::AcceptsHost(const std::string& host) const {
  if (IsDottedAddress(host)) return CookieDomain == host;
  if (!host.empty() && host.front() == '.') return SameText(CookieDomain, host);
  if (IsPlainName(CookieDomain)) return EndsWith(host, CookieDomain);
  const int dot = FindText(".", host);
  const std::string fromDot = dot > 0 ? host.substr(static_cast<size_t>(dot - 1)) : std::string();
  return EndsWith(fromDot, CookieDomain);
}

std::string TIdNetscapeCookie::ClientCookieText() const { return CookieNameText + "=" + CookieValueText; }

namespace {

void AppendPair(std::string& text, const char* name, const std::string& value) {
  if (!value.empty()) text += std::string("; ") + name + "=" + value;
}

}  // namespace

std::string TIdNetscapeCookie::ServerCookieText() const {
  // The name=value pair always leads, even with an empty value: a stored cookie re-parses this text when
  // it is replaced, and without the pair it would take "path" for its name.
  std::string text = ClientCookieText();
  AppendPair(text, "path", CookiePath);
  if (CookieVersion == 0) AppendPair(text, "expires", m_expires);
  AppendPair(text, "domain", CookieDomain);
  if (CookieSecure) text += "; secure";
  return text;
}

// ---- RFC 2109 ----

void TIdCookieRFC2109::SetCookieExpires(const std::string& text) {
  TIdNetscapeCookie::SetCookieExpires(text);
  if (text.empty()) return;
  try {
    CookieMaxAge = static_cast<int64_t>((ParseHttpDate(text) - platform::NowLocal()) * kSecondsPerDay);
  } catch (const EIdFailedToRetreiveTimeZoneInfo&) {
    // Without the zone the age is unknown; the one given by "max-age" (if any) stands.
  }
}

void TIdCookieRFC2109::LoadAttributes(const Attributes& attributes) {
  TIdNetscapeCookie::LoadAttributes(attributes);
  CookieMaxAge = StrToInt64Def(AttributeValue(attributes, "MAX-AGE"), -1);
  CookieVersionText = AttributeValue(attributes, "VERSION");
  CookieComment = AttributeValue(attributes, "COMMENT");
  if (CookieExpires().empty()) {
    CookieVersion = 0;
    if (CookieMaxAge >= 0) {
      SetCookieExpires(FormatHttpDateWithZone(platform::NowLocal() + CookieMaxAge / kSecondsPerDay));
    }
  }
}

std::string TIdCookieRFC2109::ServerCookieText() const {
  std::string text = TIdNetscapeCookie::ServerCookieText();
  if (CookieMaxAge >= 0 && CookieExpires().empty()) AppendPair(text, "max-age", IntToStr(CookieMaxAge));
  AppendPair(text, "comment", CookieComment);
  AppendPair(text, "version", CookieVersionText);
  return text;
}

// ---- RFC 2965 ----

void TIdCookieRFC2965::SetCookiePort(int index, int port) {
  if (index < 0 || index > static_cast<int>(m_ports.size())) throw EIdException("Index out of range.");
  if (index == static_cast<int>(m_ports.size())) {
    m_ports.push_back(port);
  } else {
    m_ports[static_cast<size_t>(index)] = port;
  }
}

void TIdCookieRFC2965::LoadAttributes(const Attributes& attributes) {
  TIdCookieRFC2109::LoadAttributes(attributes);
  CookieCommentURL = AttributeValue(attributes, "COMMENTURL");
  CookieDiscard = HasItem(attributes, "DISCARD");

  // Absent or empty: the default port. Quoted: the listed ports. Anything else: no port at all.
  m_ports.clear();
  const std::string ports = AttributeValue(attributes, "PORT");
  if (ports.empty()) {
    m_ports.push_back(80);
  } else if (ports.size() >= 2 && ports.front() == '"' && ports.back() == '"') {
    std::string list = ports.substr(1, ports.size() - 2);
    int index = 0;
    while (!list.empty()) SetCookiePort(index++, StrToInt(Trim(SplitAt(list, ","))));
    if (m_ports.empty()) m_ports.push_back(80);
  }
}
