#include "support/zip_builder.h"

#include <zlib.h>

#include <stdexcept>

#include "zip/zip_cipher.h"

namespace ziptest {
namespace {

void Put16(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

void EncipherRecord(std::string& record, size_t start, size_t bodyLength) {
  TZipCipher cipher = TZipCipher::HeaderKey();
  cipher.Encipher(reinterpret_cast<uint8_t*>(&record[start + 4]), static_cast<int64_t>(bodyLength));
}

void EncipherName(std::string& name) {
  TZipCipher cipher = TZipCipher::HeaderKey();
  cipher.Encipher(reinterpret_cast<uint8_t*>(name.data()), static_cast<int64_t>(name.size()));
}

}  // namespace

uint32_t Crc32(const std::string& data) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string Deflate(const std::string& data) {
  z_stream stream{};
  if (deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflate");
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::string BuildZip(const std::vector<Member>& members, const ArchiveOptions& options) {
  const char second = options.EncipheredHeaders ? 'L' : 'K';
  std::string archive;
  std::string central;
  for (const Member& m : members) {
    const uint32_t crc = m.DeclaredCrc >= 0 ? static_cast<uint32_t>(m.DeclaredCrc) : Crc32(m.Data);
    std::string payload = m.Method == 8 && !m.StoredAsGiven ? Deflate(m.Data) : m.Data;
    uint16_t flags = m.Flags;
    if (!m.Password.empty()) {
      flags |= 1;
      TZipCipher cipher = TZipCipher::FromPassword(m.Password);
      std::string header(12, '\x5A');
      header[11] = static_cast<char>(m.CheckByte >= 0       ? static_cast<uint32_t>(m.CheckByte)
                                     : m.DataDescriptor ? (m.DosDateTime >> 8) & 0xFF
                                                        : crc >> 24);
      payload = header + payload;
      cipher.Encipher(reinterpret_cast<uint8_t*>(payload.data()), static_cast<int64_t>(payload.size()));
    }
    if (m.DataDescriptor) flags |= 8;
    const uint32_t uncompressed =
        m.DeclaredUncompressedSize >= 0 ? static_cast<uint32_t>(m.DeclaredUncompressedSize) : static_cast<uint32_t>(m.Data.size());
    const uint32_t offset = static_cast<uint32_t>(archive.size());

    const size_t localStart = archive.size();
    archive += 'P';
    archive += second;
    archive += "\x03\x04";
    Put16(archive, 20);
    Put16(archive, flags);
    Put16(archive, m.Method);
    Put32(archive, m.DosDateTime);
    Put32(archive, m.DataDescriptor ? 0 : crc);
    Put32(archive, m.DataDescriptor ? 0 : static_cast<uint32_t>(payload.size()));
    Put32(archive, m.DataDescriptor ? 0 : uncompressed);
    Put16(archive, static_cast<uint32_t>(m.Name.size()));
    Put16(archive, static_cast<uint32_t>(m.LocalExtra.size()));
    std::string name = m.Name;
    if (options.EncipheredHeaders) {
      EncipherRecord(archive, localStart, 26);
      EncipherName(name);
    }
    archive += name + m.LocalExtra + payload;
    if (m.DataDescriptor) {
      archive += "PK\x07\x08";
      Put32(archive, crc);
      Put32(archive, static_cast<uint32_t>(payload.size()));
      Put32(archive, uncompressed);
    }

    const size_t centralStart = central.size();
    central += 'P';
    central += second;
    central += "\x01\x02";
    Put16(central, m.VersionMadeBy);
    Put16(central, 20);
    Put16(central, flags);
    Put16(central, m.Method);
    Put32(central, m.DosDateTime);
    Put32(central, crc);
    Put32(central, static_cast<uint32_t>(payload.size()));
    Put32(central, uncompressed);
    Put16(central, static_cast<uint32_t>(m.Name.size()));
    Put16(central, static_cast<uint32_t>(m.CentralExtra.size()));
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put32(central, m.ExternalAttributes);
    Put32(central, offset);
    if (options.EncipheredHeaders) EncipherRecord(central, centralStart, 42);
    central += name + m.CentralExtra;
  }
  const uint32_t centralOffset = static_cast<uint32_t>(archive.size());
  archive += central;
  const size_t endStart = archive.size();
  archive += 'P';
  archive += second;
  archive += "\x05\x06";
  Put16(archive, 0);
  Put16(archive, 0);
  Put16(archive, static_cast<uint32_t>(members.size()));
  Put16(archive, static_cast<uint32_t>(members.size()));
  Put32(archive, static_cast<uint32_t>(central.size()));
  Put32(archive, centralOffset);
  Put16(archive, static_cast<uint32_t>(options.Comment.size() & 0xFFFF));
  if (options.EncipheredHeaders) EncipherRecord(archive, endStart, 18);
  archive += options.Comment;
  return options.Prefix + archive;
}

}  // namespace ziptest
