#include "http/header_info.h"

#include <vector>

#include "http/http_date.h"
#include "http/text_search.h"
#include "platform/clock.h"
#include "rtl/sysutils.h"

// ---- entity ----

TIdEntityHeaderInfo::TIdEntityHeaderInfo() { ClearFields(); }

void TIdEntityHeaderInfo::ClearFields() {
  HeaderLines.Clear();
  Connection.clear();
  ContentVersion.clear();
  ContentEncoding.clear();
  ContentLanguage.clear();
  ContentType.clear();
  ContentLength = -1;
  ContentRangeStart = 0;
  ContentRangeEnd = 0;
  Date = 0;
  Expires = 0;
  LastModified = 0;
}

void TIdEntityHeaderInfo::ReadFromLines() { ReadEntityFields(); }

void TIdEntityHeaderInfo::WriteToLines() {
  HeaderLines.Clear();
  WriteEntityFields();
}

void TIdEntityHeaderInfo::ReadEntityFields() {
  Connection = HeaderLines.ValueOf("Connection");
  ContentVersion = HeaderLines.ValueOf("Content-Version");
  ContentEncoding = HeaderLines.ValueOf("Content-Encoding");
  ContentLanguage = HeaderLines.ValueOf("Content-Language");
  ContentType = HeaderLines.ValueOf("Content-Type");
  ContentLength = StrToInt64Def(Trim(HeaderLines.ValueOf("Content-Length")), -1);
  Date = ParseHttpDate(HeaderLines.ValueOf("Date"));
  LastModified = ParseHttpDate(HeaderLines.ValueOf("Last-Modified"));
  // A whole number N is N seconds from now, except -1, which servers send for "already expired" and which is
  // left to the date parser.
  const std::string expires = HeaderLines.ValueOf("Expires");
  int32_t seconds = 0;
  if (TryStrToInt(Trim(expires), seconds) && seconds != -1) {
    Expires = platform::NowLocal() + seconds / kSecondsPerDay;
  } else {
    Expires = ParseHttpDate(expires);
  }
  Pragma = HeaderLines.ValueOf("Pragma");
}

void TIdEntityHeaderInfo::WriteEntityFields() {
  const auto setText = [this](const char* name, const std::string& value) {
    if (!value.empty()) HeaderLines.SetValue(name, value);
  };
  setText("Connection", Connection);
  setText("Content-Version", ContentVersion);
  setText("Content-Encoding", ContentEncoding);
  setText("Content-Language", ContentLanguage);
  setText("Content-Type", ContentType);
  if (ContentLength >= 0) HeaderLines.SetValue("Content-Length", IntToStr(ContentLength));
  setText("Cache-control", CacheControl);
  if (Date > 0) HeaderLines.SetValue("Date", FormatHttpDateWithZone(Date));
  if (Expires > 0) HeaderLines.SetValue("Expires", FormatHttpDateWithZone(Expires));
  if (LastModified > 0) HeaderLines.SetValue("Last-Modified", FormatHttpDateGMT(LastModified));
  setText("Pragma", Pragma);
  if (CustomHeaders.Count() > 0) HeaderLines.AddStrings(CustomHeaders.Lines());
}

// ---- request ----

TIdRequestHeaderInfo::TIdRequestHeaderInfo() { ClearFields(); }

TIdRequestHeaderInfo& TIdRequestHeaderInfo::operator=(const TIdRequestHeaderInfo& other) {
  if (this == &other) return *this;
  TIdEntityHeaderInfo::operator=(other);
  Accept = other.Accept;
  AcceptCharSet = other.AcceptCharSet;
  AcceptEncoding = other.AcceptEncoding;
  AcceptLanguage = other.AcceptLanguage;
  Host = other.Host;
  From = other.From;
  Referer = other.Referer;
  UserAgent = other.UserAgent;
  ProxyConnection = other.ProxyConnection;
  Username = other.Username;
  Password = other.Password;
  BasicAuthentication = other.BasicAuthentication;
  AuthHandler.reset();
  return *this;
}

void TIdRequestHeaderInfo::ClearFields() {
  Accept = kDefaultAccept;
  UserAgent = kDefaultUserAgent;
  AcceptCharSet.clear();
  BasicAuthentication = false;
  TIdEntityHeaderInfo::ClearFields();
}

void TIdRequestHeaderInfo::ReadFromLines() {
  ReadEntityFields();
  ProxyConnection = HeaderLines.ValueOf("Proxy-Connection");
  Host = HeaderLines.ValueOf("Host");
  Accept = HeaderLines.ValueOf("Accept");
  AcceptCharSet = HeaderLines.ValueOf("Accept-Charset");
  AcceptEncoding = HeaderLines.ValueOf("Accept-Encoding");
  AcceptLanguage = HeaderLines.ValueOf("Accept-Language");
  From = HeaderLines.ValueOf("From");
  Referer = HeaderLines.ValueOf("Referer");
  UserAgent = HeaderLines.ValueOf("User-Agent");
  std::string range = HeaderLines.ValueOf("Range");
  if (range.empty()) {
    ContentRangeStart = 0;
    ContentRangeEnd = 0;
  } else {
    SplitAt(range, "=");
    ContentRangeStart = StrToInt64Def(SplitAt(range, "-"), 0);
    ContentRangeEnd = StrToInt64Def(range, 0);
  }
}

void TIdRequestHeaderInfo::WriteToLines() {
  TIdEntityHeaderInfo::WriteToLines();
  const auto setText = [this](const char* name, const std::string& value) {
    if (!value.empty()) HeaderLines.SetValue(name, value);
  };
  setText("Proxy-Connection", ProxyConnection);
  setText("Host", Host);
  setText("Accept", Accept);
  setText("Accept-Charset", AcceptCharSet);
  setText("Accept-Encoding", AcceptEncoding);
  setText("Accept-Language", AcceptLanguage);
  setText("From", From);
  setText("Referer", Referer);
  setText("User-Agent", UserAgent);
  if (LastModified > 0) HeaderLines.SetValue("If-Modified-Since", FormatHttpDateWithZone(LastModified));
  if (ContentRangeStart != 0 || ContentRangeEnd != 0) {
    std::string range = "bytes=" + IntToStr(ContentRangeStart) + "-";
    if (ContentRangeEnd != 0) range += IntToStr(ContentRangeEnd);
    HeaderLines.SetValue("Range", range);
  }
  if (!AuthHandler && BasicAuthentication) {
    AuthHandler = std::make_unique<TIdBasicAuthentication>();
    AuthHandler->SetUsername(Username);
    AuthHandler->SetPassword(Password);
  }
  if (AuthHandler) setText("Authorization", AuthHandler->CredentialsText());
}

// ---- response ----

TIdResponseHeaderInfo::TIdResponseHeaderInfo() { ContentType = "text/html"; }

void TIdResponseHeaderInfo::ClearFields() {
  TIdEntityHeaderInfo::ClearFields();
  ContentType = "text/html";
  Location.clear();
  Server.clear();
  WWWAuthenticate.Clear();
  ProxyAuthenticate.Clear();
}

void TIdResponseHeaderInfo::ReadFromLines() {
  Location = HeaderLines.ValueOf("Location");
  Server = HeaderLines.ValueOf("Server");
  ProxyConnection = HeaderLines.ValueOf("Proxy-Connection");

  // "bytes 0-99/1000": first and last byte of the part.
  std::string range = HeaderLines.ValueOf("Content-Range");
  if (HeaderLines.IndexOfHeader("Content-Range") >= 0) {
    SplitAt(range, " ");
    ContentRangeStart = StrToInt64(SplitAt(range, "-"));
    ContentRangeEnd = StrToInt64(SplitAt(range, "/"));
  } else {
    ContentRangeStart = 0;
    ContentRangeEnd = 0;
  }

  std::vector<std::string> challenges;
  HeaderLines.CollectValues("WWW-Authenticate", challenges);
  WWWAuthenticate.Clear();
  WWWAuthenticate.AddStrings(challenges);
  challenges.clear();
  HeaderLines.CollectValues("Proxy-Authenticate", challenges);
  ProxyAuthenticate.Clear();
  ProxyAuthenticate.AddStrings(challenges);

  ReadEntityFields();
}

// ---- proxy ----

void TIdProxyConnectionInfo::Clear() {
  m_proxyServer.clear();
  m_proxyPort = 0;
  ProxyUsername.clear();
  ProxyPassword.clear();
  BasicAuthentication = false;
  AuthHandler.reset();
}

void TIdProxyConnectionInfo::SetProxyServer(const std::string& server) {
  if (!SameText(server, m_proxyServer)) AuthHandler.reset();
  m_proxyServer = server;
}

void TIdProxyConnectionInfo::SetProxyPort(int port) {
  if (port != m_proxyPort) AuthHandler.reset();
  m_proxyPort = port;
}

void TIdProxyConnectionInfo::SetHeaders(TIdHeaderList& headers) {
  if (!AuthHandler && BasicAuthentication) {
    AuthHandler = std::make_unique<TIdBasicAuthentication>();
    AuthHandler->SetUsername(ProxyUsername);
    AuthHandler->SetPassword(ProxyPassword);
  }
  if (!AuthHandler) return;
  const std::string credentials = AuthHandler->CredentialsText();
  if (!credentials.empty()) headers.SetValue("Proxy-Authorization", credentials);
}
