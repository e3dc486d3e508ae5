#pragma once
// One member on its way from the archive to its target, as one value: the driver makes one per listed
// member and hands it to every step (TUnZip::ExtractMember, OpenOutput, Decode, CloseOutput, FinishMember).
// Whatever the member ends with (its check, a refusal, an exception from an event handler), TUnZip::Settle
// takes back what did not land: its temporary file, the directories made for it, its place in the count.
#include <cstdint>
#include <string>
#include <vector>

#include "zip/decoders/decode_context.h"
#include "zip/record_reader.h"
#include "zip/zip_cipher.h"
#include "zip/zip_records.h"

// A fault that ends a member with a message box: the message id of a decoder's fatal status or of a full
// disk; 0 for none. Its text is the box's.
struct TMemberFault {
  int MessageId = 0;
  explicit operator bool() const { return MessageId != 0; }
};

struct TMemberRun {
  // From the archive: its local header read back (with its stored name) and what its decoder needs.
  TMemberHeader Header;
  TMemberInfo Info;
  // Where it lands.
  std::string TargetName;

  // Its data: enciphered or not, the cipher that deciphers them, and the compressed bytes still to be read.
  bool Encrypted = false;
  TZipCipher Cipher;
  uint8_t EncryptionHeader[ziprec::kEncryptionHeaderSize] = {};
  int64_t InputRemaining = 0;

  // Its output: the temporary file beside the target, and the directories made for it, in the order made.
  std::string TempName;
  std::vector<std::string> Directories;
  // The write-behind thread has the member's file.
  bool Writing = false;
  // The temporary file could not be created; the member is reported as a file that cannot be opened.
  bool NotCreated = false;
  // A failed write has been handled: the writes that follow it fail too, quietly.
  bool WriteFailureTaken = false;
  uint32_t RunningCrc = 0;
  int64_t Written = 0;

  // Its outcome. Failed: it cannot pass its check (it failed to open, to decode, was cut, or sent too many
  // bytes). Fault: what ends it with a message box. Counted: it holds a place in ExtractedCount. Settled:
  // what did not land has been taken back.
  bool Failed = false;
  TMemberFault Fault;
  bool Counted = false;
  bool Settled = false;
};
