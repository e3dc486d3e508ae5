#pragma once
// One cookie as received in a "Set-cookie" (RFC 2109 form) or "Set-cookie2" (RFC 2965 form) header value:
// parsing, the attributes, the host check and the texts written back.
#include <cstdint>
#include <string>
#include <vector>

class TIdNetscapeCookie {
 public:
  TIdNetscapeCookie() = default;
  virtual ~TIdNetscapeCookie() = default;

  // Splits a header value into "name=value" and its attributes and loads them. Does nothing when text is the
  // value last parsed. Raises EConvertError for a non-numeric entry of a quoted RFC 2965 "Port" list.
  void ParseCookieText(const std::string& text);
  // Whether host may set this cookie for CookieDomain (see the .cpp for the rules).
  bool AcceptsHost(const std::string& host) const;
  // The cookie as a server would send it: "name=value; path=...; expires=...; domain=...; secure" and so on.
  virtual std::string ServerCookieText() const;
  // "name=value", as sent in a "Cookie" header.
  std::string ClientCookieText() const;

  const std::string& CookieSourceText() const { return m_sourceText; }
  const std::string& CookieExpires() const { return m_expires; }
  // Stores the expiry text as received (or computed); the RFC 2109 form also derives CookieMaxAge from it.
  virtual void SetCookieExpires(const std::string& text) { m_expires = text; }

  std::string CookieNameText;
  std::string CookieValueText;
  std::string CookiePath;
  std::string CookieDomain;  // the sending host when the value names none
  bool CookieSecure = false;
  int CookieVersion = 0;

 protected:
  using Attributes = std::vector<std::string>;  // "NAME=value" with the name upper-cased, or "NAME"
  virtual void LoadAttributes(const Attributes& attributes);
  static std::string AttributeValue(const Attributes& attributes, const std::string& name);
  static bool HasItem(const Attributes& attributes, const std::string& name);

 private:
  std::string m_sourceText;
  std::string m_expires;
};

class TIdCookieRFC2109 : public TIdNetscapeCookie {
 public:
  TIdCookieRFC2109() { CookieVersion = 1; }

  std::string ServerCookieText() const override;
  // A non-empty text also sets CookieMaxAge to the whole seconds from now to that date.
  void SetCookieExpires(const std::string& text) override;

  int64_t CookieMaxAge = -1;  // seconds; -1 = none
  std::string CookieVersionText;
  std::string CookieComment;

 protected:
  void LoadAttributes(const Attributes& attributes) override;
};

class TIdCookieRFC2965 : public TIdCookieRFC2109 {
 public:
  TIdCookieRFC2965() { CookieVersion = 2; }

  const std::vector<int>& CookiePorts() const { return m_ports; }
  // Sets the port at index, appending when index is the count. Raises EIdException "Index out of range."
  // for an index beyond that.
  void SetCookiePort(int index, int port);

  std::string CookieCommentURL;
  bool CookieDiscard = false;

 protected:
  void LoadAttributes(const Attributes& attributes) override;

 private:
  std::vector<int> m_ports;
};
