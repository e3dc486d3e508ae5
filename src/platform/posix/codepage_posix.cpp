#include <iconv.h>

#include <cerrno>
#include <string>

#include "platform/codepage.h"

namespace platform {

// A Linux system speaks UTF-8: no byte leads a double-byte character.
const LeadByteTable& SystemLeadBytesOfPlatform() {
  static const LeadByteTable none{};
  return none;
}

std::string GbkToUtf8(const std::string& gbk) {
  iconv_t converter = iconv_open("UTF-8", "GBK");
  if (converter == reinterpret_cast<iconv_t>(-1)) return gbk;
  std::string out(gbk.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(gbk.data());
  size_t inLeft = gbk.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(converter, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
      if (errno == E2BIG) {
        const size_t used = static_cast<size_t>(outPtr - out.data());
        out.resize(out.size() * 2);
        outPtr = out.data() + used;
        outLeft = out.size() - used;
        continue;
      }
      // An invalid byte: show a replacement and go on, so that a message is never lost.
      ++in;
      --inLeft;
      if (outLeft < 3) break;
      *outPtr++ = '?';
      --outLeft;
    }
  }
  out.resize(static_cast<size_t>(outPtr - out.data()));
  iconv_close(converter);
  return out;
}

std::string SystemToUtf8(const std::string& text) { return text; }

std::string OemToSystem(const std::string& text) { return text; }

bool Utf8ToSystem(const std::string& utf8, std::string& text) {
  text = utf8;
  return true;
}

}  // namespace platform
