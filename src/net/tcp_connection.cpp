#include "net/tcp_connection.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "net/anti_freeze.h"
#include "net/exceptions.h"
#include "net/stack.h"
#include "platform/files.h"
#include "rtl/sysutils.h"

namespace {

void EncodeInt32(int32_t value, uint8_t* bytes) {
  const uint32_t bits = static_cast<uint32_t>(value);
  bytes[0] = static_cast<uint8_t>(bits >> 24);
  bytes[1] = static_cast<uint8_t>(bits >> 16);
  bytes[2] = static_cast<uint8_t>(bits >> 8);
  bytes[3] = static_cast<uint8_t>(bits);
}

}  // namespace

TIdTCPConnection::OperationGuard::OperationGuard(TIdTCPConnection& connection) : m_connection(connection) {
  ++m_connection.m_operationsInProgress;
}

TIdTCPConnection::OperationGuard::~OperationGuard() {
  if (--m_connection.m_operationsInProgress == 0) m_connection.m_retiredHandlers.clear();
}

TIdTCPConnection::TIdTCPConnection()
    : m_inputBuffer([this](TIdSimpleBuffer*, int count) { AddWork(wmRead, count); }) {}

TIdTCPConnection::~TIdTCPConnection() {
  try {
    DropSocket();
  } catch (...) {
    // A failing disconnect hook must not escape a destructor; the handler below closes the socket anyway.
  }
  SetIOHandler(nullptr);
}

// --- Handler ownership

void TIdTCPConnection::SetIOHandler(TIdIOHandler* value) {
  if (value == m_ioHandler) return;
  if (m_ownHandler) {
    ReleaseOwnHandler();
  } else if (m_ioHandler != nullptr) {
    m_ioHandler->RemoveFreeNotification(this);
  }
  m_ioHandler = value;
  m_socketHandler = dynamic_cast<TIdIOHandlerSocket*>(value);
  if (value != nullptr) value->FreeNotification(this);
}

void TIdTCPConnection::SetIntercept(TIdConnectionIntercept* value) {
  if (value == m_intercept) return;
  if (m_intercept != nullptr) m_intercept->RemoveFreeNotification(this);
  m_intercept = value;
  if (value != nullptr) value->FreeNotification(this);
}

void TIdTCPConnection::InstallOwnHandler(std::unique_ptr<TIdIOHandler> handler) {
  SetIOHandler(handler.get());
  m_ownHandler = std::move(handler);
}

void TIdTCPConnection::ReleaseOwnHandler() {
  m_ownHandler->RemoveFreeNotification(this);
  m_ioHandler = nullptr;
  m_socketHandler = nullptr;
  // An operation below us on the stack (a wait inside idle processing) may still use the handler and its
  // binding: keep it until the outermost operation has returned.
  if (m_operationsInProgress > 0) {
    m_retiredHandlers.push_back(std::move(m_ownHandler));
  } else {
    m_ownHandler.reset();
  }
}

void TIdTCPConnection::Notification(TIdComponent* component) {
  if (component == m_ioHandler) {
    m_ioHandler = nullptr;
    m_socketHandler = nullptr;
  }
  if (component == m_intercept) m_intercept = nullptr;
}

// --- Connection state

void TIdTCPConnection::NotifyDisconnected() {
  if (OnDisconnected) OnDisconnected(this);
}

void TIdTCPConnection::ResetReadState() {
  m_inputBuffer.Clear();
  m_closedGracefully = false;
}

void TIdTCPConnection::DetectPeerClose(bool raiseIfDisconnected, bool ignoreBuffered) {
  if (NoticePeerClose(ignoreBuffered) && raiseIfDisconnected) throw EIdConnClosedGracefully();
}

bool TIdTCPConnection::NoticePeerClose(bool ignoreBuffered) {
  bool disconnected = false;
  if (m_ioHandler != nullptr) {
    if (m_closedGracefully) {
      if (m_ioHandler->IsOpen()) {
        DropSocket();
        ReportStatus(hsDisconnected);
        NotifyDisconnected();
      }
      disconnected = true;
    } else {
      disconnected = !m_ioHandler->IsOpen();
    }
  }
  return disconnected && (m_inputBuffer.DataSize() == 0 || ignoreBuffered);
}

void TIdTCPConnection::PollPeerClose(bool raise) {
  ReceiveIntoBuffer(raise, kPeerClosePollTimeout, /*raiseOnTimeout=*/false);
}

bool TIdTCPConnection::IsConnected() {
  DetectPeerClose(/*raiseIfDisconnected=*/false, /*ignoreBuffered=*/false);
  return m_ioHandler != nullptr && m_ioHandler->IsOpen();
}

void TIdTCPConnection::CloseConnection() {
  const bool wasConnected = IsConnected();
  if (wasConnected) {
    ReportStatus(hsDisconnecting);
    DropSocket();
  }
  if (m_ownHandler) ReleaseOwnHandler();
  if (wasConnected) {
    NotifyDisconnected();
    ReportStatus(hsDisconnected);
  }
}

void TIdTCPConnection::DropSocket() {
  if (m_ioHandler == nullptr) return;
  if (m_intercept != nullptr) m_intercept->Disconnect();
  m_ioHandler->CloseHandler();
}

// --- Reading

int TIdTCPConnection::ReceiveIntoBuffer(bool raiseIfDisconnected, int timeout, bool raiseOnTimeout) {
  OperationGuard guard(*this);
  if (timeout == IdTimeoutDefault) timeout = m_readTimeout == 0 ? IdTimeoutInfinite : m_readTimeout;
  DetectPeerClose(raiseIfDisconnected, /*ignoreBuffered=*/false);
  if (!IsConnected()) {
    if (raiseIfDisconnected) throw EIdNotConnected();
    return 0;
  }
  int n = 0;
  do {
    if (!m_ioHandler->WaitReadable(timeout)) {
      if (raiseOnTimeout) throw EIdReadTimeout();
      return -1;
    }
    // The wait served the UI, which may have closed the connection and dropped the handler.
    // Without an intercept nothing rewrites the bytes: they are received straight into the input buffer.
    const bool direct = m_intercept == nullptr;
    uint8_t* target = nullptr;
    if (m_ioHandler != nullptr) {
      const int32_t size = std::max(m_recvBufferSize, kLeastReceiveSize);
      if (direct) {
        target = m_inputBuffer.PrepareAppend(size);
      } else {
        m_recvScratch.SetSize(size);
        target = m_recvScratch.Memory();
      }
      n = m_ioHandler->ReceiveSome(target, size);
    } else {
      n = 0;
      if (raiseIfDisconnected) throw EIdNotConnected();
    }
    m_closedGracefully = n == 0;
    if (n == Id_SOCKET_ERROR) {
      const int code = GStack->LastPlatformError();
      if (code != platform::kWsaShutdown && code != platform::kWsaConnectionAborted) GStack->FailWithSocketError(code);
      n = 0;
      DropSocket();
      if (m_inputBuffer.DataSize() == 0) GStack->FailWithSocketError(code);
    }
    if (n > 0) {
      if (!direct) {
        m_recvScratch.SetSize(n);
        m_recvScratch.SetPosition(0);
        m_intercept->Receive(m_recvScratch);
        n = static_cast<int>(m_recvScratch.DataSize());
        target = m_recvScratch.Memory();
      }
      if (m_asciiFilter) {
        for (int i = 0; i < n; ++i) target[i] &= 0x7F;
      }
      if (direct) {
        m_inputBuffer.CommitAppend(n);
      } else {
        m_inputBuffer.Append(target, n);
      }
    }
    DetectPeerClose(raiseIfDisconnected, /*ignoreBuffered=*/false);
  } while (n == 0 && IsConnected());
  return n;
}

std::string TIdTCPConnection::ReadLine(const std::string& terminator, int timeout, int32_t maxLength) {
  if (maxLength == -1) maxLength = m_maxLineLength;
  const std::string& term = terminator.empty() ? std::string("\n") : terminator;
  const int64_t termLength = static_cast<int64_t>(term.size());
  m_readLnSplit = false;
  m_readLnTimedOut = false;
  int64_t found = 0;     // 1-based position of the terminator, 0 while not found
  int64_t searched = 0;  // bytes already searched
  while (true) {
    const int64_t size = m_inputBuffer.DataSize();
    if (size > searched) {
      // Resume just early enough to see a terminator whose first bytes ended the previous search.
      const int64_t from = std::max<int64_t>(0, searched - (termLength - 1));
      const char* memory = reinterpret_cast<const char*>(m_inputBuffer.Memory());
      const char* hit = termLength == 1
                            ? static_cast<const char*>(std::memchr(memory + from, term[0], size - from))
                            : std::search(memory + from, memory + size, term.begin(), term.end());
      if (hit != nullptr && hit != memory + size) found = (hit - memory) + 1;
      searched = size;
    }
    if (maxLength != 0 && ((found > 0 && found - 1 > maxLength) || (found == 0 && searched > maxLength))) {
      if (m_maxLineAction == maException) throw EIdReadLnMaxLineLengthExceeded();
      m_readLnSplit = true;
      return m_inputBuffer.TakeBytes(maxLength);
    }
    if (found == 0) {
      DetectPeerClose(/*raiseIfDisconnected=*/true, /*ignoreBuffered=*/true);
      const bool raiseOnTimeout = timeout == IdTimeoutDefault;
      if (ReceiveIntoBuffer(/*raiseIfDisconnected=*/true, timeout, raiseOnTimeout) == -1) {
        m_readLnTimedOut = true;
        return std::string();
      }
      continue;
    }
    std::string line = m_inputBuffer.TakeBytes(static_cast<int>(found - 1 + termLength));
    line.resize(static_cast<size_t>(found - 1));
    if (term == "\n" && !line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
}

std::string TIdTCPConnection::ReadNonEmptyLine(int maxAttempts) {
  for (int attempt = 0; attempt < maxAttempts; ++attempt) {
    std::string line = Trim(ReadLine("\n"));
    if (!line.empty()) return line;
  }
  return std::string();
}

bool TIdTCPConnection::FillInputBuffer(int32_t count, bool untilClose) {
  while (m_inputBuffer.DataSize() < count) {
    ReceiveIntoBuffer(/*raiseIfDisconnected=*/!untilClose, IdTimeoutDefault, /*raiseOnTimeout=*/true);
    // A handler dropped under the wait (a UI handler closed the connection) is no end of the peer's data.
    if (untilClose && m_ioHandler == nullptr) throw EIdNotConnected();
    if (NoticePeerClose(/*ignoreBuffered=*/true)) {
      if (!untilClose) throw EIdConnClosedGracefully();
      return false;
    }
  }
  return true;
}

void TIdTCPConnection::ReadExact(void* buffer, int32_t count) {
  if (count <= 0 || buffer == nullptr) return;
  FillInputBuffer(count);
  std::memcpy(buffer, m_inputBuffer.Memory(), static_cast<size_t>(count));
  m_inputBuffer.DropBytes(count);
}

int32_t TIdTCPConnection::ReadInt32(bool convert) {
  uint8_t bytes[4];
  ReadExact(bytes, 4);
  if (!convert) {
    int32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
  }
  return static_cast<int32_t>(static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
                              static_cast<uint32_t>(bytes[2]) << 8 | static_cast<uint32_t>(bytes[3]));
}

void TIdTCPConnection::ReadToStream(TStream& stream, int32_t byteCount, bool readUntilClose) {
  if (byteCount == -1 && !readUntilClose) byteCount = ReadInt32(/*convert=*/true);
  if (byteCount >= 0) {
    // The count is the peer's word (a length header, a chunk size): room is made ahead only for a bounded
    // part of it, so that "2 GB follow" and then a few bytes cannot claim the memory before they arrive.
    const int64_t position = stream.Position();
    stream.SetSize(position + std::min(byteCount, kReadToStreamPresizeLimit));
    stream.SetPosition(position);
  }
  int32_t remaining = readUntilClose ? std::numeric_limits<int32_t>::max() : byteCount;
  // The room made ahead and not filled goes again however the read ends, before the end of the work is told.
  const auto trim = [&stream] {
    if (stream.Size() > stream.Position()) stream.SetSize(stream.Position());
  };
  TIdWorkScope work(*this, wmRead, readUntilClose ? 0 : byteCount);
  // Bytes go from the input buffer straight into the stream; removing them reports the read work.
  const auto moveBuffered = [&](int32_t count) {
    stream.WriteBuffer(m_inputBuffer.Memory(), count);
    m_inputBuffer.DropBytes(count);
    remaining -= count;
  };
  try {
    const int32_t piece = std::min(remaining, m_recvBufferSize);
    // What an earlier receive brought in beyond its own read goes out in pieces too: a receive may take far
    // more than a piece, and the work reports keep their size.
    for (int32_t buffered = static_cast<int32_t>(std::min<int64_t>(m_inputBuffer.DataSize(), remaining));
         buffered > 0; buffered -= std::min(buffered, piece)) {
      moveBuffered(std::min(buffered, piece));
    }
    // What arrived before a failure or the close is kept, without being reported as work.
    const auto keepArrived = [&] {
      const int32_t left = static_cast<int32_t>(std::min<int64_t>(m_inputBuffer.DataSize(), remaining));
      stream.WriteBuffer(m_inputBuffer.Memory(), left);
      m_inputBuffer.Clear();
      remaining -= left;
    };
    while (remaining > 0 && IsConnected()) {
      const int32_t count = std::min(remaining, piece);
      bool filled = false;
      try {
        filled = FillInputBuffer(count, readUntilClose);
      } catch (...) {
        keepArrived();
        throw;
      }
      if (!filled) {
        keepArrived();
        break;  // the end of a read until close
      }
      moveBuffered(count);
    }
  } catch (...) {
    trim();
    throw;
  }
  trim();
}

std::string TIdTCPConnection::TakeAvailable() {
  if (IsConnected()) ReceiveIntoBuffer(/*raiseIfDisconnected=*/false, IdTimeoutDefault, /*raiseOnTimeout=*/true);
  return m_inputBuffer.TakeBytes(static_cast<int>(m_inputBuffer.DataSize()));
}

std::string TIdTCPConnection::ReadAllText() {
  std::string text;
  TIdWorkScope work(*this, wmRead, 0);
  while (IsConnected()) text += TakeAvailable();
  return text;
}

// --- Writing

void TIdTCPConnection::WriteBytes(const void* data, int32_t count, bool bypassWriteBuffering) {
  if (count <= 0 || data == nullptr) return;
  OperationGuard guard(*this);
  DetectPeerClose(/*raiseIfDisconnected=*/true, /*ignoreBuffered=*/true);
  if (!IsConnected()) throw EIdNotConnected();
  if (bypassWriteBuffering || !m_writeBuffer) {
    if (m_intercept != nullptr) {
      TIdSimpleBuffer transformed;
      transformed.Write(data, count);
      transformed.SetPosition(0);
      m_intercept->Send(transformed);
      SendDirect(transformed.Memory(), static_cast<int32_t>(transformed.DataSize()));
    } else {
      // Without an intercept nothing rewrites the data: send it in place instead of copying it first.
      SendDirect(static_cast<const uint8_t*>(data), count);
    }
    return;
  }
  m_writeBuffer->Append(data, count);
  if (m_writeBufferThreshold > 0 && m_writeBuffer->DataSize() >= m_writeBufferThreshold) {
    FlushWriteBuffering(m_writeBufferThreshold);
  }
}

void TIdTCPConnection::SendDirect(const uint8_t* data, int32_t count) {
  int32_t position = 0;
  while (position < count) {
    // A work or UI handler may have closed the connection between two sends.
    if (m_ioHandler == nullptr) throw EIdNotConnected();
    const int n = m_ioHandler->SendSome(data + position, count - position);
    m_closedGracefully = n == 0;
    DetectPeerClose(/*raiseIfDisconnected=*/true, /*ignoreBuffered=*/false);
    if (n == Id_SOCKET_ERROR) {
      const int code = GStack->LastPlatformError();
      if (code == platform::kWsaShutdown || code == platform::kWsaConnectionAborted ||
          code == platform::kWsaConnectionReset) {
        DropSocket();
      }
      GStack->FailWithSocketError(code);
    }
    TIdAntiFreezeBase::RunIdle(/*idle=*/false);
    AddWork(wmWrite, n);
    position += n;
  }
}

void TIdTCPConnection::WriteText(const std::string& text) {
  if (!text.empty()) WriteBytes(text.data(), static_cast<int32_t>(text.size()));
}

void TIdTCPConnection::WriteLine(const std::string& text) { WriteText(text + "\r\n"); }

void TIdTCPConnection::WriteInt32(int32_t value, bool convert) {
  uint8_t bytes[4];
  if (convert) {
    EncodeInt32(value, bytes);
  } else {
    std::memcpy(bytes, &value, 4);
  }
  WriteBytes(bytes, 4);
}

void TIdTCPConnection::WriteFromStream(TStream& stream, bool fromStart, int64_t size, bool withLengthPrefix) {
  if (fromStart) stream.SetPosition(0);
  const int64_t start = stream.Position();
  const int64_t end = size != 0 ? start + size : stream.Size();
  const int64_t count = end - start;
  if (withLengthPrefix) WriteInt32(static_cast<int32_t>(count), /*convert=*/true);
  TIdWorkScope work(*this, wmWrite, static_cast<int32_t>(count));
  std::vector<uint8_t> scratch(static_cast<size_t>(std::max(m_sendBufferSize, 1)));
  while (true) {
    const int64_t n = std::min<int64_t>(end - stream.Position(), static_cast<int64_t>(scratch.size()));
    if (n <= 0) break;
    const int64_t read = stream.Read(scratch.data(), n);
    if (read <= 0) throw EIdNoDataToRead();
    WriteBytes(scratch.data(), static_cast<int32_t>(read));
  }
}

int64_t TIdTCPConnection::SendFileContents(const std::string& fileName, bool) {
  // No platform file-transfer call is used: the file always goes through WriteFromStream.
  if (!platform::FileExists(fileName)) throw EIdFileNotFound(fileName);
  platform::File file = platform::File::Open(fileName, platform::FileAccess::Read, platform::FileShare::DenyWrite);
  if (!file.IsOpen()) throw EIdFileNotFound(fileName);
  TFileStream stream(std::move(file));
  WriteFromStream(stream, /*fromStart=*/true, 0, /*withLengthPrefix=*/false);
  return stream.Size();
}

void TIdTCPConnection::BeginWriteBuffering(int32_t threshold) {
  m_writeBuffer = std::make_unique<TIdSimpleBuffer>();
  m_writeBufferThreshold = threshold;
}

void TIdTCPConnection::EndWriteBuffering() {
  try {
    FlushWriteBuffering(-1);
  } catch (...) {
    m_writeBuffer.reset();
    throw;
  }
  m_writeBuffer.reset();
}

void TIdTCPConnection::FlushWriteBuffering(int32_t count) {
  if (!m_writeBuffer || m_writeBuffer->DataSize() == 0) return;
  if (count != -1 && m_writeBuffer->DataSize() >= count) {
    WriteBytes(m_writeBuffer->Memory(), count, /*bypassWriteBuffering=*/true);
    m_writeBuffer->DropBytes(count);
  } else {
    WriteBytes(m_writeBuffer->Memory(), static_cast<int32_t>(m_writeBuffer->DataSize()), /*bypassWriteBuffering=*/true);
    m_writeBuffer->Clear();
  }
}

void TIdTCPConnection::DiscardWriteBuffering() {
  if (m_writeBuffer) m_writeBuffer->Clear();
}

// --- Numbered replies

void TIdTCPConnection::CheckReplyCode(int code, std::initializer_list<int> allowed) {
  if (allowed.size() == 0 || std::find(allowed.begin(), allowed.end(), code) != allowed.end()) return;
  RaiseReplyError();
}

int TIdTCPConnection::ReadReply(std::initializer_list<int> allowed) {
  std::vector<std::string> lines{ReadNonEmptyLine()};
  if (lines.front().size() > 3 && lines.front()[3] == '-') {
    const std::string code = lines.front().substr(0, 3);
    while (true) {
      const std::string& line = lines.emplace_back(ReadNonEmptyLine());
      if (line.size() < 4 || (line.compare(0, 3, code) == 0 && line[3] == ' ')) break;
    }
  }
  m_lastCmdResult.ParseLines(lines);
  CheckReplyCode(m_lastCmdResult.NumericCode(), allowed);
  return m_lastCmdResult.NumericCode();
}

int TIdTCPConnection::SendCommand(const std::string& command, std::initializer_list<int> allowed) {
  WriteLine(command);
  return ReadReply(allowed);
}

void TIdTCPConnection::RaiseReplyError() {
  RaiseReplyErrorAs(m_lastCmdResult.NumericCode(), m_lastCmdResult.TextAsString());
}

void TIdTCPConnection::RaiseReplyErrorAs(int code, const std::string& text) { throw EIdProtocolReplyError(code, text); }
