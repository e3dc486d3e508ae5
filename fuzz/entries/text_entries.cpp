// The HTTP text machinery and the command-line splitter: every input is text a server, a URL or the caller
// chose.
#include <string>
#include <vector>

#include "app/command_line.h"
#include "fuzz_entries.h"
#include "http/cookie_manager.h"
#include "http/header_list.h"
#include "http/http_date.h"
#include "http/uri.h"
#include "platform/codepage.h"
#include "rtl/sysutils.h"

namespace {

// The text without the bytes that trimming removes (every control byte and the blank).
std::string WithoutBlanks(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (static_cast<unsigned char>(c) > ' ') result += c;
  }
  return result;
}

// A name a request would use: letters, digits and '-', not empty.
std::string TokenFrom(const std::string& text) {
  std::string name;
  for (char c : text) {
    const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (alnum || c == '-') name += c;
  }
  return name.empty() ? std::string("X") : name;
}

}  // namespace

// The input is a URL: parsed, composed every way, and composed for a proxy.
void FuzzUri(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TIdURI uri(text);
  for (int variant = 0; variant < 4; ++variant) {
    try {
      const std::string composed = uri.ComposeText((variant & 1) != 0, (variant & 2) != 0);
      // What was composed reads back to the same host.
      const TIdURI again(composed);
      (void)again;
    } catch (const EIdURIException&) {
    }
  }
  try {
    uri.ComposeForProxy();
  } catch (const EIdURIException&) {
  }
  NormalizeSlashes(text);
}

// Input: base path, a zero byte, new path; a third part's first byte picks the delimiter.
void FuzzMergePath(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  const std::string basePath = input.Until('\0');
  const std::string newPath = input.Until('\0');
  const char delimiter = input.AtEnd() ? '/' : static_cast<char>(input.Byte());
  const std::string merged = MergePath(basePath, newPath, delimiter);
  // Resolving may shorten and join, never invent: the result is no longer than both paths together plus
  // a delimiter between and around them.
  FuzzCheck(merged.size() <= basePath.size() + newPath.size() + 3, "MergePath grew the path");
}

// Input: four bytes of time-zone bias, then the date text.
void FuzzHttpDate(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  // Real biases lie within a day; larger ones would be a caller's fault, not the server's.
  const int bias = static_cast<int>(input.Bits32() % (2 * 24 * 60 + 1)) - 24 * 60;
  const std::string text = input.Rest();
  const double dateTime = ParseHttpDate(text, bias);
  FormatHttpDateGMT(dateTime);
  FormatHttpDateWithZone(dateTime, bias);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  DecodeDateTime(dateTime, year, month, day, hour, minute, second);
}

// Input: fold width byte, then a header block; after it, "name\0value" pairs set and read back.
void FuzzHeaderList(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  TIdHeaderList headers(static_cast<int>(input.Byte()));
  headers.SetText(input.Until('\0'));
  for (int i = 0; i < headers.Count(); ++i) {
    headers.NameAt(i);
    headers.ValueAt(i);
  }
  while (!input.AtEnd()) {
    const std::string name = TokenFrom(input.Until('\0'));
    const std::string value = input.Until('\0');
    headers.SetValue(name, value);
    if (value.empty()) continue;
    // Folding breaks only at blanks, tabs and commas and unfolding joins with blanks: apart from blanks the
    // value reads back as set, and no line break reaches the lines.
    FuzzCheck(WithoutBlanks(headers.ValueOf(name)) == WithoutBlanks(value),
              "header value changed by folding: [" + value + "] read back as [" + headers.ValueOf(name) + "]");
    for (const std::string& line : headers.Lines()) {
      FuzzCheck(line.find_first_of("\r\n") == std::string::npos, "header line holds a line break");
    }
  }
  headers.Text();
}

// Input lines: the host, then Set-cookie values ("2" in front: Set-cookie2), and last a request URL.
void FuzzCookies(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  const std::string host = input.Until('\n');
  std::vector<std::string> lines;
  while (!input.AtEnd()) lines.push_back(input.Until('\n'));
  const std::string url = lines.empty() ? std::string("http://" + host + "/") : lines.back();
  if (!lines.empty()) lines.pop_back();
  TIdCookieManager manager;
  for (const std::string& line : lines) {
    if (!line.empty() && line[0] == '2') {
      try {
        manager.AddSetCookie2(line.substr(1), host);
      } catch (const EConvertError&) {
        // A non-numeric quoted port.
      }
    } else {
      manager.AddSetCookie(line, host);
    }
  }
  const TIdURI uri(url);
  // A CR inside a value may reach this text; the request's header list turns it into a blank.
  manager.CookieHeaderFor(uri, /*secure=*/false);
  manager.CookieHeaderFor(uri, /*secure=*/true);
}

// Input: byte 0 odd for the GBK lead-byte table, even for none; the rest is the raw command line.
void FuzzCommandLine(const uint8_t* data, size_t size) {
  TFuzzInput input(data, size);
  static const platform::LeadByteTable kNoLeadBytes{};
  const bool gbk = (input.Byte() & 1) != 0;
  const std::string raw = input.Rest();
  const std::vector<std::string> items = SplitCommandLine(raw, gbk ? platform::GbkLeadBytes() : kNoLeadBytes);
  size_t total = 0;
  for (const std::string& item : items) {
    FuzzCheck(!item.empty(), "an empty item did not end the list");
    total += item.size();
  }
  FuzzCheck(total <= raw.size(), "the items hold more bytes than the command line");
}
