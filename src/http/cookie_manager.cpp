#include "http/cookie_manager.h"

#include <algorithm>
#include <mutex>

#include "http/http_date.h"
#include "platform/clock.h"
#include "rtl/sysutils.h"

int TIdCookieList::IndexOfName(const std::string& name) const {
  for (int i = 0; i < Count(); ++i) {
    if (SameText(Cookie(i).CookieNameText, name)) return i;
  }
  return -1;
}

TIdNetscapeCookie& TIdCookies::AddCookie(std::unique_ptr<TIdNetscapeCookie> cookie) {
  std::unique_lock<std::shared_mutex> lock(m_lock);
  TIdCookieList* list = nullptr;
  for (const auto& candidate : m_index) {
    if (candidate->Domain() == cookie->CookieDomain && candidate->Path() == cookie->CookiePath) {
      list = candidate.get();
      break;
    }
  }
  if (list == nullptr) {
    m_index.push_back(std::make_unique<TIdCookieList>(cookie->CookieDomain, cookie->CookiePath));
    list = m_index.back().get();
  }
  const int existing = list->IndexOfName(cookie->CookieNameText);
  if (existing < 0) {
    list->Add(std::move(cookie));
    return list->Cookie(list->Count() - 1);
  }
  // The server text of the new cookie carries "expires" only for version 0, so a replacement that came with
  // an expiry date leaves the stored cookie without one.
  TIdNetscapeCookie& stored = list->Cookie(existing);
  try {
    stored.ParseCookieText(cookie->ServerCookieText());
  } catch (const EConvertError&) {
    // A stored RFC 2965 cookie reads the text's quoted port list as numbers, which the text of a
    // "Set-cookie" need not hold (it has no port rules): the new cookie, read by its own rules, takes the
    // old one's place instead of failing the response that carried it.
    list->Delete(existing);
    list->Add(std::move(cookie));
    return list->Cookie(list->Count() - 1);
  }
  stored.CookieVersion = cookie->CookieVersion;
  return stored;
}

void TIdCookies::PurgeExpired() {
  std::unique_lock<std::shared_mutex> lock(m_lock);
  const double now = platform::NowLocal();
  for (const auto& list : m_index) {
    for (int i = list->Count() - 1; i >= 0; --i) {
      const std::string& expires = list->Cookie(i).CookieExpires();
      if (!expires.empty() && ParseHttpDate(expires) < now) list->Delete(i);
    }
  }
}

namespace {

bool EndsWithIgnoringCase(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && SameText(std::string_view(text).substr(text.size() - tail.size()), tail);
}

// A domain applies to the host it names, to hosts below it ("b.c" and ".b.c" to "a.b.c"), and to nothing
// else: not to "xb.c", and not to a host whose path happens to contain the domain's text.
bool DomainAppliesTo(const std::string& domain, const std::string& host) {
  if (SameText(domain, host)) return true;
  if (!domain.empty() && domain.front() == '.') return EndsWithIgnoringCase(host, domain);
  return EndsWithIgnoringCase(host, "." + domain);
}

}  // namespace

std::string TIdCookies::CookieHeaderFor(const TIdURI& uri, bool secure) {
  PurgeExpired();
  std::vector<const TIdNetscapeCookie*> kept;
  std::shared_lock<std::shared_mutex> lock(m_lock);
  for (const auto& list : m_index) {
    if (!DomainAppliesTo(list->Domain(), uri.HostPart)) continue;
    for (int i = list->Count() - 1; i >= 0; --i) {
      const TIdNetscapeCookie& cookie = list->Cookie(i);
      // An empty path begins no request path, so such a cookie is kept but never sent.
      if (cookie.CookiePath.empty() || uri.DirPart.compare(0, cookie.CookiePath.size(), cookie.CookiePath) != 0) {
        continue;
      }
      if (cookie.CookieValueText.empty()) continue;
      if (cookie.CookieSecure && !secure) continue;
      kept.push_back(&cookie);
    }
  }
  // Longer (later-sorting) paths are sent first.
  std::stable_sort(kept.begin(), kept.end(), [](const TIdNetscapeCookie* a, const TIdNetscapeCookie* b) {
    return a->CookiePath < b->CookiePath;
  });
  std::string text;
  for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
    if (!text.empty()) text += "; ";
    text += (*it)->ClientCookieText();
  }
  return text;
}

int TIdCookies::Count() const {
  std::shared_lock<std::shared_mutex> lock(m_lock);
  int count = 0;
  for (const auto& list : m_index) count += list->Count();
  return count;
}

const TIdNetscapeCookie* TIdCookies::Find(const std::string& key, const std::string& name) const {
  std::shared_lock<std::shared_mutex> lock(m_lock);
  for (const auto& list : m_index) {
    if (list->Key() != key) continue;
    const int index = list->IndexOfName(name);
    if (index >= 0) return &list->Cookie(index);
  }
  return nullptr;
}

TIdCookieManager::TIdCookieManager(TCookieCollectionEvent onCreate) : OnCreate(std::move(onCreate)) {
  if (OnCreate) OnCreate(*this, m_cookies);
}

TIdCookieManager::~TIdCookieManager() {
  try {
    m_cookies.PurgeExpired();
  } catch (const EIdFailedToRetreiveTimeZoneInfo&) {
    // The store is about to go anyway; a destructor must not raise.
  }
  if (OnDestroy) OnDestroy(*this, m_cookies);
}

void TIdCookieManager::AddSetCookie(const std::string& value, const std::string& host) {
  AddCookie(std::make_unique<TIdCookieRFC2109>(), value, host);
}

void TIdCookieManager::AddSetCookie2(const std::string& value, const std::string& host) {
  AddCookie(std::make_unique<TIdCookieRFC2965>(), value, host);
}

void TIdCookieManager::AddCookie(std::unique_ptr<TIdNetscapeCookie> cookie, const std::string& value,
                                 const std::string& host) {
  cookie->ParseCookieText(value);
  if (cookie->CookieDomain.empty()) cookie->CookieDomain = host;
  if (!cookie->AcceptsHost(host)) return;
  bool accept = true;
  if (OnNewCookie) OnNewCookie(*this, *cookie, accept);
  if (!accept) return;
  m_cookies.AddCookie(std::move(cookie));
}
