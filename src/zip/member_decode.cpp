// A member's data through its method's decoder into its file. A decoder's fatal status and a full disk come
// back as the member's fault, which ShowFault turns into the message box.
#include <zlib.h>

#include <algorithm>

#include "platform/ui.h"
#include "zip/decoders/decoders.h"
#include "zip/decoders/decompress_stream.h"
#include "zip/member_run.h"
#include "zip/messages.h"
#include "zip/unzip.h"
#include "zip/write_behind.h"

// Which statuses of a method's decoder end the member with their message. The shrink and reduce decoders
// stop at every fault, the zlib path at a failed write only; the other decoders leave their faults to the
// CRC check, which then fails the member.
enum class TFatalStatuses { None, WriteFailure, All };

struct TUnZip::TMethod {
  uint16_t Number;
  TDecodeStatus (TUnZip::*Decode)(TMemberRun& run, TDecodeContext& context);
  TFatalStatuses Fatal;

  bool IsFatal(TDecodeStatus status) const {
    return Fatal == TFatalStatuses::All || (Fatal == TFatalStatuses::WriteFailure && status == TDecodeStatus::OutputShort);
  }
};

const TUnZip::TMethod* TUnZip::FindMethod(uint16_t number) {
  static constexpr TMethod kMethods[] = {
      {0, &TUnZip::CopyStored, TFatalStatuses::None},  // stored
      {1, &TUnZip::RunDecoder<Unshrink>, TFatalStatuses::All},  // shrunk
      {2, &TUnZip::RunDecoder<Unreduce>, TFatalStatuses::All},  // reduced, factor 1
      {3, &TUnZip::RunDecoder<Unreduce>, TFatalStatuses::All},  // reduced, factor 2
      {4, &TUnZip::RunDecoder<Unreduce>, TFatalStatuses::All},  // reduced, factor 3
      {5, &TUnZip::RunDecoder<Unreduce>, TFatalStatuses::All},  // reduced, factor 4
      {6, &TUnZip::RunDecoder<Explode>, TFatalStatuses::None},  // imploded
      {8, &TUnZip::InflateMember, TFatalStatuses::WriteFailure},  // Deflate
      {9, &TUnZip::RunDecoder<Inflate64>, TFatalStatuses::None},  // Deflate64
  };
  for (const TMethod& method : kMethods) {
    if (method.Number == number) return &method;
  }
  return nullptr;
}

template <TDecodeStatus (*decoder)(const TMemberInfo&, TDecodeContext&)>
TDecodeStatus TUnZip::RunDecoder(TMemberRun& run, TDecodeContext& context) {
  return decoder(run.Info, context);
}

TMemberFault TUnZip::Decode(TMemberRun& run) {
  run.RunningCrc = 0xFFFFFFFFu;
  run.InputRemaining = run.Info.CompressedSize;
  const TMethod* method = FindMethod(run.Info.Method);
  if (method == nullptr) {
    ReportError(run.TargetName, std::string(), zipmsg::kUnsupportedCompressionMethod, m_volumeName);
    run.Failed = true;
    FinishWrites(run);
    return run.Fault;
  }
  TDecodeContext context;
  context.ReadBlock = [this, &run](uint8_t* buffer, int64_t count) { return ReadBlock(run, buffer, count, run.Encrypted); };
  context.WriteBlock = [this, &run](const uint8_t* buffer, int64_t count) { return WriteBlock(run, buffer, count); };
  context.ReportProgress = [this, &run](int byFile, int byArchive) { ReportProgress(run, byFile, byArchive); };
  context.ArchiveRemaining = &m_archiveRemaining;
  context.ArchiveTotal = m_archiveTotal;
  context.Cancel = &m_cancel;
  const TDecodeStatus status = (this->*method->Decode)(run, context);
  // A failed write is reported before the status it caused, as it happened first; a file that was never
  // created is the member's one report, and a full disk its one fault.
  FinishWrites(run);
  const int messageId = !run.Fault && !run.NotCreated && method->IsFatal(status) ? MessageIdOf(status) : 0;
  if (messageId != 0) TakeFault(run, m_archiveFile, std::string(), messageId, run.TargetName);
  return run.Fault;
}

void TUnZip::TakeFault(TMemberRun& run, const std::string& fileName, const std::string& extendedMsg, int code,
                       const std::string& volumeName) {
  ReportError(fileName, extendedMsg, code, volumeName);
  if (!m_cancel) run.Fault = TMemberFault{code};
}

void TUnZip::ShowFault(TMemberRun& run, const TMemberFault& fault) {
  if (!fault) return;
  run.Failed = true;
  if (m_ui != nullptr) {
    m_ui->ShowMessage(m_ui->Handle(), MessageText(fault.MessageId), std::string(), platform::MessageIcon::Information);
  }
}

// Stored data are read straight into the writer's room, and zlib inflates straight into it: the bytes are
// not copied on their way. Both fill as much of the room as the member still has, which also asks zlib for
// large batches: it copies the last 32 KiB of each call's output into its window, so calls of one chunk
// would copy all of the output once more.
TDecodeStatus TUnZip::CopyStored(TMemberRun& run, TDecodeContext&) {
  while (run.InputRemaining > 0) {
    const TWriteBehind::Span room = m_writeBehind->Room();
    // Enciphered data are deciphered in the room, as they come.
    const int64_t got = ReadBlock(run, room.Data, std::min(run.InputRemaining, room.Size), run.Encrypted);
    if (got <= 0) return TDecodeStatus::InputEnded;
    if (!CommitChunks(run, got)) return TDecodeStatus::OutputShort;
    if (m_cancel) return TDecodeStatus::Cancelled;
  }
  return TDecodeStatus::Ok;
}

TDecodeStatus TUnZip::InflateMember(TMemberRun& run, TDecodeContext&) {
  TDecompressStream inflater(*m_archive, run.InputRemaining, run.Encrypted ? &run.Cipher : nullptr, &m_cancel);
  int64_t remaining = run.Info.UncompressedSize;
  while (remaining > 0 && !m_cancel) {
    if (m_ui != nullptr) m_ui->ProcessMessages();
    const TWriteBehind::Span room = m_writeBehind->Room();
    const int64_t batch = std::min(remaining, room.Size);
    const int64_t produced = inflater.Read(room.Data, batch);
    if (produced <= 0) {
      AdvanceArchiveProgress(remaining);
      ReportMemberProgress(run);
    }
    if (produced > 0 && !CommitChunks(run, produced)) return TDecodeStatus::OutputShort;
    // Any status without output ends the member, -5 (input used up) included: no later call can produce
    // anything either, and the declared size may be far larger than the data.
    if (produced == Z_BUF_ERROR) return TDecodeStatus::InputEnded;
    if (produced < 0) return TDecodeStatus::InvalidData;
    if (produced < batch) break;
    remaining -= batch;
  }
  // A stream that goes on past the declared size is not the member its directory describes, even when the
  // declared bytes fit the CRC: it fails as a member that tries to write more than declared does.
  uint8_t beyond = 0;
  if (remaining == 0 && !m_cancel && inflater.Read(&beyond, 1) > 0) run.Failed = true;
  return m_cancel ? TDecodeStatus::Cancelled : TDecodeStatus::Ok;
}

int64_t TUnZip::ReadBlock(TMemberRun& run, uint8_t* buffer, int64_t count, bool decipher) {
  // Never past the member's data, whatever a decoder asks for.
  const int64_t want = std::min(count, run.InputRemaining);
  if (want <= 0) return 0;
  const int64_t got = m_archive->Read(buffer, want);
  if (got <= 0) return 0;
  run.InputRemaining -= got;
  if (decipher) run.Cipher.Decipher(buffer, got);
  return got;
}

void TUnZip::ReportMemberProgress(const TMemberRun& run) {
  ReportProgress(run, ProgressPercent(run.Written, run.Info.UncompressedSize),
                 ProgressPercent(m_archiveTotal - m_archiveRemaining, m_archiveTotal));
}

void TUnZip::ReportProgress(const TMemberRun& run, int byFile, int byArchive) {
  if (run.Fault) return;
  if (m_ui != nullptr) m_ui->ProcessMessages();
  if (OnProgress) OnProgress(*this, static_cast<uint8_t>(byFile), static_cast<uint8_t>(byArchive));
}

void TUnZip::AdvanceArchiveProgress(int64_t bytes) { m_archiveRemaining = std::max<int64_t>(m_archiveRemaining - bytes, 0); }
