// The password of an enciphered member: the one that served the last member, then the list, then OnGetPassword.
#include <algorithm>
#include <iterator>

#include "zip/member_run.h"
#include "zip/messages.h"
#include "zip/unzip.h"

namespace {

using ziprec::kEncryptionHeaderSize;

}  // namespace

bool TUnZip::TestPassword(TMemberRun& run, const std::string& password) {
  if (password.empty()) return false;
  TZipCipher cipher = TZipCipher::FromPassword(password);
  uint8_t header[kEncryptionHeaderSize];
  std::copy(std::begin(run.EncryptionHeader), std::end(run.EncryptionHeader), header);
  cipher.Decipher(header, kEncryptionHeaderSize);
  // The check byte is the high byte of the CRC. A member streamed with a data descriptor may not have
  // known its CRC when it was enciphered, so there the high byte of the DOS time is taken too; writers
  // differ in which of the two they use.
  const uint8_t check = header[kEncryptionHeaderSize - 1];
  const bool crcFits = check == static_cast<uint8_t>(run.Header.Crc >> 24);
  const bool timeFits = (run.Header.Local.Flags & ziprec::kFlagDataDescriptor) != 0 &&
                        check == static_cast<uint8_t>((run.Header.Local.DosDateTime >> 8) & 0xFF);
  if (!crcFits && !timeFits) return false;
  run.Cipher = cipher;
  return true;
}

bool TUnZip::PasswordCheck(TMemberRun& run) {
  run.InputRemaining = run.Info.CompressedSize;
  ReadBlock(run, run.EncryptionHeader, kEncryptionHeaderSize, /*decipher=*/false);
  if (TestPassword(run, m_password)) return true;
  for (const std::string& candidate : m_passwords) {
    m_password = candidate;
    if (TestPassword(run, m_password)) return true;
  }
  if (!OnGetPassword) {
    ReportError(run.TargetName, "OnGetPassword", zipmsg::kRequiredEventNotAssigned, m_volumeName);
    return false;
  }
  for (int attempt = 0; attempt < PasswordAttempts && !m_cancel; ++attempt) {
    bool tryAgain = true;
    std::string answer;
    OnGetPassword(*this, run.TargetName, answer, tryAgain);
    if (!tryAgain) {
      ReportError(run.TargetName, MessageText(zipmsg::kUserCanceled), zipmsg::kInvalidPassword, m_volumeName);
      return false;
    }
    if (TestPassword(run, answer)) {
      m_password = answer;
      m_passwords.insert(m_passwords.begin(), answer);
      return true;
    }
    ReportError(run.TargetName, answer, zipmsg::kInvalidPassword, m_volumeName);
    m_password.clear();
  }
  return false;
}
