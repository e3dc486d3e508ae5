#pragma once
// The blocking, buffered TCP connection: every received byte goes into the input buffer, and line, exact
// and stream reads are served from it; writes go out at once or through an optional write buffer. Progress
// is reported through work events (read work where bytes leave the input buffer, write work per send),
// state through status events. The transport is a socket handler (io_handler.h).
//
// Re-entrance: idle processing runs UI handlers inside every wait, and such a handler may call
// CloseConnection on this very connection. A handler the connection created for itself is then only
// retired: it stays alive, with its closed socket, until the outermost operation in progress has returned,
// so the waiting operation fails cleanly (EIdConnClosedGracefully) instead of touching freed memory.
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "net/buffers.h"
#include "net/component.h"
#include "net/connection_intercept.h"
#include "net/io_handler.h"
#include "net/rfc_reply.h"
#include "rtl/streams.h"

enum TIdMaxLineAction { maException, maSplit };

inline constexpr int32_t IdMaxLineLengthDefault = 16384;
inline constexpr int32_t IdDefaultBufferSize = 32768;
// The least one receive asks the socket for, whatever RecvBufferSize says: a receive takes what has arrived
// (up to this much) in one system call, and the input buffer hands it on in RecvBufferSize pieces. Asking for
// 10240 bytes at a time made a fast download a string of system calls (and waits) for small pieces; under
// Wine each of them costs a round trip to its server.
inline constexpr int32_t kLeastReceiveSize = 65536;
// The wait, in ms, with which PollPeerClose takes in what is already waiting in the socket.
inline constexpr int kPeerClosePollTimeout = 1;
// The most ReadToStream sets aside in its stream before the bytes arrive.
inline constexpr int32_t kReadToStreamPresizeLimit = 1024 * 1024;

class TIdTCPConnection : public TIdComponent {
 public:
  TIdTCPConnection();
  // Closes the socket and releases a handler the connection created for itself.
  ~TIdTCPConnection() override;

  // --- Properties
  bool ASCIIFilter() const { return m_asciiFilter; }
  void SetASCIIFilter(bool value) { m_asciiFilter = value; }
  // Not owned; dropped when destroyed elsewhere.
  TIdConnectionIntercept* Intercept() const { return m_intercept; }
  void SetIntercept(TIdConnectionIntercept* value);
  TIdIOHandler* IOHandler() const { return m_ioHandler; }
  // IOHandler when it is a socket handler (to reach its binding), else none.
  TIdIOHandlerSocket* Socket() const { return m_socketHandler; }
  // Not owned. Releases a handler the connection created for itself first (deferred while an operation
  // runs); dropped when the handler is destroyed elsewhere.
  void SetIOHandler(TIdIOHandler* value);
  // Longest line ReadLine accepts by default; 0: no limit.
  int32_t MaxLineLength() const { return m_maxLineLength; }
  void SetMaxLineLength(int32_t value) { m_maxLineLength = value; }
  TIdMaxLineAction MaxLineAction() const { return m_maxLineAction; }
  void SetMaxLineAction(TIdMaxLineAction value) { m_maxLineAction = value; }
  // Wait limit in ms of reads given the default timeout (IdTimeoutDefault); 0: no limit.
  int ReadTimeout() const { return m_readTimeout; }
  void SetReadTimeout(int value) { m_readTimeout = value; }
  // The piece size of stream reads (and of their work reports); a receive asks for this much, at least
  // kLeastReceiveSize.
  int32_t RecvBufferSize() const { return m_recvBufferSize; }
  void SetRecvBufferSize(int32_t value) { m_recvBufferSize = value; }
  // Piece size of stream writes.
  int32_t SendBufferSize() const { return m_sendBufferSize; }
  void SetSendBufferSize(int32_t value) { m_sendBufferSize = value; }
  TNotifyEvent OnDisconnected;

  // --- State
  // Received bytes not yet consumed. Removing bytes from it reports read work.
  TIdManagedBuffer& InputBuffer() { return m_inputBuffer; }
  // Results of the last ReadLine.
  bool ReadLnSplit() const { return m_readLnSplit; }
  bool ReadLnTimedOut() const { return m_readLnTimedOut; }
  bool ClosedGracefully() const { return m_closedGracefully; }
  TIdRFCReply& LastCmdResult() { return m_lastCmdResult; }

  // --- Connection state
  virtual void NotifyDisconnected();
  // Clears the input buffer and the peer-closed flag.
  virtual void ResetReadState();
  // Notices a peer close recorded by the last receive or send (closing the socket, hsDisconnected,
  // OnDisconnected). With raiseIfDisconnected, fails with EIdConnClosedGracefully when disconnected and the
  // input buffer is empty or ignoreBuffered is set.
  virtual void DetectPeerClose(bool raiseIfDisconnected, bool ignoreBuffered);
  // Takes in a close (or data) already waiting in the socket: one wait of kPeerClosePollTimeout.
  virtual void PollPeerClose(bool raise = true);
  virtual bool IsConnected();
  // When connected: hsDisconnecting, socket closed; a self-created handler released; when it was connected:
  // OnDisconnected and hsDisconnected. Nothing is reported for a connection that was not connected.
  virtual void CloseConnection();
  // The intercept's disconnect hook, then the handler's close.
  virtual void DropSocket();

  // --- Reading
  // The only place bytes enter the input buffer. timeout: IdTimeoutDefault = ReadTimeout (0 there = no
  // limit), IdTimeoutInfinite = no limit. Returns the count received (> 0), 0 after a close, or -1 on a
  // timeout when raiseOnTimeout is false. Failures: EIdConnClosedGracefully, EIdNotConnected, EIdReadTimeout,
  // EIdSocketError.
  virtual int ReceiveIntoBuffer(bool raiseIfDisconnected = true, int timeout = IdTimeoutDefault,
                                bool raiseOnTimeout = true);
  // A line without its terminator (default LF; with LF a CR before it is dropped too). maxLength -1 =
  // MaxLineLength. A longer line fails with EIdReadLnMaxLineLengthExceeded (maException; the bytes stay
  // buffered) or yields maxLength bytes with ReadLnSplit set (maSplit). A timeout given explicitly returns
  // an empty line with ReadLnTimedOut set; the default timeout fails with EIdReadTimeout.
  virtual std::string ReadLine(const std::string& terminator = "\n", int timeout = IdTimeoutDefault,
                               int32_t maxLength = -1);
  // Up to maxAttempts ReadLine calls; the first line that is not empty once trimmed, else empty.
  std::string ReadNonEmptyLine(int maxAttempts = 2147483647);
  // Exactly count bytes into the buffer; EIdConnClosedGracefully when the peer closes first.
  void ReadExact(void* buffer, int32_t count);
  int32_t ReadInt32(bool convert = true);
  // Appends bytes to the stream: byteCount of them (-1: a 4-byte length read first), or until the peer
  // closes. A known count pre-sizes the stream (by at most kReadToStreamPresizeLimit bytes; beyond that
  // it grows as the bytes arrive); the stream is cut at its position at the end. A peer that
  // closes early leaves the bytes received in the stream and EIdConnClosedGracefully reaches the caller
  // (reading until close ends normally there).
  void ReadToStream(TStream& stream, int32_t byteCount = -1, bool readUntilClose = false);
  // One receive when connected, then everything buffered, removed.
  std::string TakeAvailable();
  virtual std::string ReadAllText();

  // --- Writing
  // Sends at once (or appends to the open write buffer). Failures: EIdConnClosedGracefully,
  // EIdNotConnected, EIdSocketError.
  void WriteBytes(const void* data, int32_t count, bool bypassWriteBuffering = false);
  virtual void WriteText(const std::string& text);
  virtual void WriteLine(const std::string& text);
  void WriteInt32(int32_t value, bool convert = true);
  // Sends the stream from its start (fromStart) or position, size bytes (0: to the end), in pieces of
  // SendBufferSize, inside StartWork/FinishWork (wmWrite). EIdNoDataToRead when the stream runs dry.
  virtual void WriteFromStream(TStream& stream, bool fromStart = true, int64_t size = 0,
                               bool withLengthPrefix = false);
  // Sends a file; EIdFileNotFound "File "<name>" not found" when it is missing. Returns its size.
  virtual int64_t SendFileContents(const std::string& fileName, bool allowPlatformTransfer = true);
  // Collects writes until EndWriteBuffering; a threshold above 0 flushes that many bytes whenever the buffer
  // holds at least as many.
  void BeginWriteBuffering(int32_t threshold = -1);
  // Flushes and releases the write buffer (released also when the flush fails).
  void EndWriteBuffering();
  void FlushWriteBuffering(int32_t count = -1);
  void DiscardWriteBuffering();
  bool WriteBuffering() const { return m_writeBuffer != nullptr; }

  // --- Numbered replies
  virtual void CheckReplyCode(int code, std::initializer_list<int> allowed);
  virtual int ReadReply(std::initializer_list<int> allowed = {});
  virtual int SendCommand(const std::string& command, std::initializer_list<int> allowed = {});
  virtual void RaiseReplyError();
  virtual void RaiseReplyErrorAs(int code, const std::string& text);

 protected:
  // Counts an operation that may run foreign code (events, idle processing) while it uses the handler.
  class OperationGuard {
   public:
    explicit OperationGuard(TIdTCPConnection& connection);
    ~OperationGuard();
    OperationGuard(const OperationGuard&) = delete;
    OperationGuard& operator=(const OperationGuard&) = delete;

   private:
    TIdTCPConnection& m_connection;
  };

  void Notification(TIdComponent* component) override;
  // Installs a handler owned by the connection (created by the client on connect).
  void InstallOwnHandler(std::unique_ptr<TIdIOHandler> handler);

 private:
  void ReleaseOwnHandler();
  // What DetectPeerClose raises for, without raising: true when disconnected and the input buffer is empty or
  // ignoreBuffered is set (the close noticed as DetectPeerClose does).
  bool NoticePeerClose(bool ignoreBuffered);
  // Receives until the input buffer holds count bytes (the part of ReadExact before the copy). A connection
  // that ends first is the end of a read until close (untilClose): false; for any other read it fails with
  // EIdConnClosedGracefully.
  bool FillInputBuffer(int32_t count, bool untilClose = false);
  void SendDirect(const uint8_t* data, int32_t count);

  bool m_asciiFilter = false;
  TIdConnectionIntercept* m_intercept = nullptr;
  TIdIOHandler* m_ioHandler = nullptr;
  TIdIOHandlerSocket* m_socketHandler = nullptr;  // m_ioHandler when it is a socket handler
  std::unique_ptr<TIdIOHandler> m_ownHandler;     // set while the client's own handler is installed
  std::vector<std::unique_ptr<TIdIOHandler>> m_retiredHandlers;  // released when no operation runs
  int m_operationsInProgress = 0;
  int32_t m_maxLineLength = IdMaxLineLengthDefault;
  TIdMaxLineAction m_maxLineAction = maException;
  int m_readTimeout = 0;
  int32_t m_recvBufferSize = IdDefaultBufferSize;
  int32_t m_sendBufferSize = IdDefaultBufferSize;

  TIdManagedBuffer m_inputBuffer;
  TIdSimpleBuffer m_recvScratch;  // receive target when an intercept rewrites the received bytes
  std::unique_ptr<TIdSimpleBuffer> m_writeBuffer;
  int32_t m_writeBufferThreshold = 0;
  bool m_closedGracefully = false;
  bool m_readLnSplit = false;
  bool m_readLnTimedOut = false;
  TIdRFCReply m_lastCmdResult;
};
