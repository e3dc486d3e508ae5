#include "zip/record_reader.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/files.h"

namespace {

using ziprec::SignatureForm;

// Well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF) with at least one byte beyond
// ASCII: in a name from a Unix host, an encoding no legacy code page's names are likely to fall into.
bool IsUtf8BeyondAscii(const std::string& text) {
  bool beyondAscii = false;
  for (size_t i = 0; i < text.size();) {
    const auto byte = [&text](size_t at) { return static_cast<uint8_t>(text[at]); };
    const uint8_t lead = byte(i);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    beyondAscii = true;
    const size_t length = lead < 0xC2 ? 0 : lead <= 0xDF ? 2 : lead <= 0xEF ? 3 : lead <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80) return false;
    }
    const uint8_t second = byte(i + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second > 0x8F)) {
      return false;
    }
    i += length;
  }
  return beyondAscii;
}

// What tells the two kinds of record apart.
template <class Fields>
struct TRecordKind;

template <>
struct TRecordKind<ziprec::TLocalHeader> {
  static constexpr int kSize = ziprec::kLocalHeaderSize;
  static SignatureForm Signature(const uint8_t* p) { return ziprec::LocalSignature(p); }
  static ziprec::TLocalHeader Parse(const uint8_t* p) { return ziprec::ParseLocalHeader(p); }
  static void ApplyExtra(ziprec::TLocalHeader& values, const std::vector<uint8_t>& extra) {
    ziprec::ApplyLocalExtra(values, extra.data(), static_cast<int64_t>(extra.size()));
  }
  static int Host(const ziprec::TLocalHeader&, const TNameRules& rules) { return rules.Host; }
  static int64_t Trailer(const ziprec::TLocalHeader&) { return 0; }
};

template <>
struct TRecordKind<ziprec::TCentralRecord> {
  static constexpr int kSize = ziprec::kCentralRecordSize;
  static SignatureForm Signature(const uint8_t* p) { return ziprec::CentralSignature(p); }
  static ziprec::TCentralRecord Parse(const uint8_t* p) { return ziprec::ParseCentralRecord(p); }
  static void ApplyExtra(ziprec::TCentralRecord& values, const std::vector<uint8_t>& extra) {
    ziprec::ApplyCentralExtra(values, extra.data(), static_cast<int64_t>(extra.size()));
  }
  static int Host(const ziprec::TCentralRecord& values, const TNameRules&) { return values.VersionMadeBy >> 8; }
  static int64_t Trailer(const ziprec::TCentralRecord& values) { return values.CommentLength; }
};

// The extra field behind the whole stored name, even when only its first 255 bytes are kept.
std::vector<uint8_t> ReadExtra(TStream32& stream, int64_t position, uint16_t length) {
  std::vector<uint8_t> extra(length);
  const int64_t got = stream.ReadAt(position, extra.data(), length);
  extra.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
  return extra;
}

// The name's kept bytes, deciphered for an enciphered record.
std::string ReadRawName(TStream32& stream, int64_t position, uint16_t length, bool enciphered) {
  std::string name(std::min<size_t>(length, ziprec::kMaxNameLength), '\0');
  const int64_t got = stream.ReadAt(position, name.data(), static_cast<int64_t>(name.size()));
  name.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
  if (enciphered) ziprec::DecipherName(reinterpret_cast<uint8_t*>(name.data()), static_cast<int64_t>(name.size()));
  return name;
}

}  // namespace

TStoredName MakeStoredName(const std::string& raw, uint16_t flags, const std::vector<uint8_t>& extra,
                           const TNameRules& rules) {
  const std::string unicodePath = ziprec::UnicodePath(extra.data(), static_cast<int64_t>(extra.size()), raw);
  // The system reads a path up to its first zero byte: a name that went on past one would be checked,
  // matched and numbered as one path and written as another (and the search for a free temporary name
  // beside it would never end, every candidate being the existing directory in front of the zero).
  const std::string& meant = unicodePath.empty() ? raw : unicodePath;
  TStoredName name{meant.substr(0, meant.find('\0')), true};
  // A Unix host writes names in its locale's encoding, UTF-8 nowadays, without saying so.
  if ((flags & ziprec::kFlagUtf8Name) != 0 || !unicodePath.empty() ||
      (rules.Host == ziprec::kHostUnix && IsUtf8BeyondAscii(name.Text))) {
    const std::string utf8 = name.Text;
    name.Held = platform::Utf8ToSystem(utf8, name.Text);
  } else if (rules.TranslateOem) {
    name.Text = platform::OemToSystem(name.Text);
  }
  std::replace(name.Text.begin(), name.Text.end(), platform::kForeignSeparator, platform::kPathSeparator);
  return name;
}

template <class Fields>
bool TRecordAt<Fields>::Whole() const {
  return Form != SignatureForm::None && Got == TRecordKind<Fields>::kSize;
}

template <class Fields>
TRecordAt<Fields> ReadRecordAt(TStream32& stream, int64_t position, const TNameRules& rules) {
  using Kind = TRecordKind<Fields>;
  TRecordAt<Fields> record;
  uint8_t bytes[Kind::kSize] = {};
  record.Got = stream.ReadAt(position, bytes, Kind::kSize);
  if (record.Got >= 4) record.Form = Kind::Signature(bytes);
  // A record that is cut or unsigned is still taken apart as far as it goes: the read-back of a member whose
  // local header could not be checked (a spanned set's) takes what is there.
  const bool enciphered = record.Whole() && record.Form == SignatureForm::Enciphered;
  if (enciphered) ziprec::DecipherRecordBody(bytes, Kind::kSize - 4);
  record.Values = Kind::Parse(bytes);
  const int64_t namePosition = position + Kind::kSize;
  const std::string raw = ReadRawName(stream, namePosition, record.Values.NameLength, enciphered);
  const std::vector<uint8_t> extra =
      ReadExtra(stream, namePosition + record.Values.NameLength, record.Values.ExtraLength);
  const TNameRules nameRules{Kind::Host(record.Values, rules), rules.TranslateOem};
  record.Name = MakeStoredName(raw, record.Values.Flags, extra, nameRules);
  Kind::ApplyExtra(record.Values, extra);
  record.End = namePosition + record.Values.NameLength + record.Values.ExtraLength + Kind::Trailer(record.Values);
  return record;
}

template struct TRecordAt<ziprec::TLocalHeader>;
template struct TRecordAt<ziprec::TCentralRecord>;
template TRecordAt<ziprec::TLocalHeader> ReadRecordAt(TStream32&, int64_t, const TNameRules&);
template TRecordAt<ziprec::TCentralRecord> ReadRecordAt(TStream32&, int64_t, const TNameRules&);

SignatureForm ReadLocalFixedPart(TStream32& stream, int64_t position, uint8_t (&bytes)[ziprec::kLocalHeaderSize]) {
  if (stream.ReadAt(position, bytes, ziprec::kLocalHeaderSize) != ziprec::kLocalHeaderSize) return SignatureForm::None;
  const SignatureForm form = ziprec::LocalSignature(bytes);
  if (form == SignatureForm::Enciphered) ziprec::DecipherRecordBody(bytes, ziprec::kLocalHeaderSize - 4);
  return form;
}
