#pragma once
// The cookie store: TIdCookies keeps the accepted cookies indexed by domain + path, TIdCookieManager takes
// them from response headers and builds the "Cookie" text for a request. Memory only; ends with the manager.
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "http/cookie.h"
#include "http/uri.h"
#include "net/component.h"

// The cookies stored under one domain + path, at most one per name (names compared without case).
class TIdCookieList {
 public:
  TIdCookieList(std::string domain, std::string path) : m_domain(std::move(domain)), m_path(std::move(path)) {}

  const std::string& Domain() const { return m_domain; }
  const std::string& Path() const { return m_path; }
  std::string Key() const { return m_domain + m_path; }
  int Count() const { return static_cast<int>(m_cookies.size()); }
  TIdNetscapeCookie& Cookie(int index) const { return *m_cookies.at(static_cast<size_t>(index)); }
  int IndexOfName(const std::string& name) const;
  void Add(std::unique_ptr<TIdNetscapeCookie> cookie) { m_cookies.push_back(std::move(cookie)); }
  void Delete(int index) { m_cookies.erase(m_cookies.begin() + index); }

 private:
  std::string m_domain;
  std::string m_path;
  std::vector<std::unique_ptr<TIdNetscapeCookie>> m_cookies;
};

// Owns every stored cookie. The index is guarded by a many-readers, one-writer lock: building a request's text
// reads, adding, replacing and purging write.
class TIdCookies {
 public:
  // Stores cookie under CookieDomain + CookiePath, or, when a cookie of the same name is stored there, gives
  // the stored one the new values (it re-parses the new cookie's ServerCookieText and takes its version).
  // Returns the cookie that is stored.
  TIdNetscapeCookie& AddCookie(std::unique_ptr<TIdNetscapeCookie> cookie);
  // Drops every cookie whose expiry text names a time before now. Cookies without one stay.
  void PurgeExpired();
  // Purges, then joins with "; " the "name=value" of every cookie whose domain applies to the URI's host,
  // whose path begins its DirPart (case kept) and whose value is non-empty; secure cookies only when secure
  // is set. Longer (later-sorting) paths come first, equal paths in order of arrival. Empty when none applies.
  std::string CookieHeaderFor(const TIdURI& uri, bool secure);

  int Count() const;
  // The cookie stored under key (domain + path, exact) with name (any case), or nullptr. The pointer is valid
  // until the store changes.
  const TIdNetscapeCookie* Find(const std::string& key, const std::string& name) const;

 private:
  mutable std::shared_mutex m_lock;
  std::vector<std::unique_ptr<TIdCookieList>> m_index;
};

// A component, so that a client it is assigned to is told when it is destroyed.
class TIdCookieManager : public TIdComponent {
 public:
  using TCookieCollectionEvent = std::function<void(TIdCookieManager& sender, TIdCookies& cookieCollection)>;
  using TNewCookieEvent = std::function<void(TIdCookieManager& sender, TIdNetscapeCookie& cookie, bool& accept)>;

  // Raises onCreate (kept as OnCreate) once the store exists.
  explicit TIdCookieManager(TCookieCollectionEvent onCreate = nullptr);
  // Purges, raises OnDestroy, then frees every cookie.
  ~TIdCookieManager() override;

  // A "Set-cookie" value from host: parsed as RFC 2109, its domain defaulting to host, stored unless host may
  // not set it or OnNewCookie refuses it. Raises nothing for malformed text.
  void AddSetCookie(const std::string& value, const std::string& host);
  // The same for a "Set-cookie2" value (RFC 2965). Raises EConvertError for a non-numeric quoted port.
  void AddSetCookie2(const std::string& value, const std::string& host);
  // Purges, then builds the "Cookie" text for uri.
  std::string CookieHeaderFor(const TIdURI& uri, bool secure) { return m_cookies.CookieHeaderFor(uri, secure); }
  void PurgeExpired() { m_cookies.PurgeExpired(); }

  TIdCookies& CookieCollection() { return m_cookies; }

  TCookieCollectionEvent OnCreate;
  TCookieCollectionEvent OnDestroy;
  TNewCookieEvent OnNewCookie;  // accept starts true

 private:
  void AddCookie(std::unique_ptr<TIdNetscapeCookie> cookie, const std::string& value, const std::string& host);

  TIdCookies m_cookies;
};
