#pragma once
// The exception classes of the connection layer. Every network failure is an EIdException (or a class
// derived from it) carrying its fixed message text; EIdSocketError also carries the Windows Sockets code.
#include <cstdint>
#include <exception>
#include <string>

#include "rtl/exception.h"

class EIdException : public Exception {
 public:
  using Exception::Exception;
};

// Failures a caller may swallow.
class EIdSilentException : public EIdException {
 public:
  using EIdException::EIdException;
};

// "Connection Closed Gracefully.": the peer closed and nothing (left) to read, or the socket was closed
// under a waiting read.
class EIdConnClosedGracefully : public EIdSilentException {
 public:
  EIdConnClosedGracefully() : EIdSilentException("Connection Closed Gracefully.") {}
};

class EIdReadTimeout : public EIdException {
 public:
  EIdReadTimeout() : EIdException("Read Timeout") {}
};

class EIdReadLnMaxLineLengthExceeded : public EIdException {
 public:
  EIdReadLnMaxLineLengthExceeded() : EIdException("Max line length exceeded.") {}
};

class EIdAlreadyConnected : public EIdException {
 public:
  EIdAlreadyConnected() : EIdException("Already connected.") {}
};

class EIdConnectTimeout : public EIdException {
 public:
  EIdConnectTimeout() : EIdException("Connect timed out.") {}
};

// A threaded connect that failed without a socket error code; the message is the failure's own.
class EIdConnectException : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdClosedSocket : public EIdException {
 public:
  EIdClosedSocket() : EIdException("Disconnected.") {}
};

class EIdTCPConnectionError : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdNotConnected : public EIdTCPConnectionError {
 public:
  EIdNotConnected() : EIdTCPConnectionError("Not Connected") {}
};

class EIdNoDataToRead : public EIdTCPConnectionError {
 public:
  EIdNoDataToRead() : EIdTCPConnectionError("No data to read.") {}
};

class EIdNotEnoughDataInBuffer : public EIdTCPConnectionError {
 public:
  EIdNotEnoughDataInBuffer() : EIdTCPConnectionError("Not enough data in buffer.") {}
};

// "File "<name>" not found"
class EIdFileNotFound : public EIdTCPConnectionError {
 public:
  explicit EIdFileNotFound(const std::string& fileName)
      : EIdTCPConnectionError("File \"" + fileName + "\" not found") {}
};

class EIdIOHandlerPropInvalid : public EIdTCPConnectionError {
 public:
  using EIdTCPConnectionError::EIdTCPConnectionError;
};

// A numbered reply whose code is not among the allowed ones; the message is the reply's text.
class EIdProtocolReplyError : public EIdException {
 public:
  EIdProtocolReplyError(int replyCode, const std::string& replyText)
      : EIdException(replyText), m_replyCode(replyCode) {}
  int ReplyErrorCode() const { return m_replyCode; }

 private:
  int m_replyCode;
};

// A TLS failure: the handshake (certificate expired, untrusted or not naming the host; not TLS at all) or a
// damaged record later. The message names the cause; the reply code is 0.
class EIdSSLProtocolReplyError : public EIdProtocolReplyError {
 public:
  explicit EIdSSLProtocolReplyError(const std::string& message) : EIdProtocolReplyError(0, message) {}
};

// "Socket Error # <code>" CR LF <text of the code>.
class EIdSocketError : public EIdException {
 public:
  EIdSocketError(int32_t lastError, const std::string& message) : EIdException(message), m_lastError(lastError) {}
  int32_t LastError() const { return m_lastError; }

 private:
  int32_t m_lastError;
};

// The socket library could not be loaded, or a function was used before start-up or is not exported.
// Message: "<system text>: <title>" when a system code is known, else the title alone.
class EIdWS2StubError : public EIdException {
 public:
  EIdWS2StubError(const std::string& title, uint32_t win32Error, const std::string& win32ErrorMessage)
      : EIdException(win32Error != 0 ? win32ErrorMessage + ": " + title : title),
        m_title(title),
        m_win32Error(win32Error),
        m_win32ErrorMessage(win32ErrorMessage) {}
  const std::string& Title() const { return m_title; }
  uint32_t Win32Error() const { return m_win32Error; }
  const std::string& Win32ErrorMessage() const { return m_win32ErrorMessage; }

 private:
  std::string m_title;
  uint32_t m_win32Error;
  std::string m_win32ErrorMessage;
};

class EIdStackError : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdStackInitializationFailed : public EIdStackError {
 public:
  EIdStackInitializationFailed() : EIdStackError("Winsock Initialization Error.") {}
};

class EIdStackSetSizeExceeded : public EIdStackError {
 public:
  EIdStackSetSizeExceeded() : EIdStackError("Set Size Exceeded.") {}
};

// "<text> is not a valid IP address."
class EIdInvalidIPAddress : public EIdStackError {
 public:
  explicit EIdInvalidIPAddress(const std::string& text) : EIdStackError(text + " is not a valid IP address.") {}
};

class EIdInvalidSocket : public EIdException {
 public:
  EIdInvalidSocket() : EIdException("Cannot allocate socket.") {}
};

// "<name> is not a valid service."
class EIdInvalidServiceName : public EIdException {
 public:
  explicit EIdInvalidServiceName(const std::string& name) : EIdException(name + " is not a valid service.") {}
};

class EIdSocketHandleError : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdCouldNotBindSocket : public EIdSocketHandleError {
 public:
  EIdCouldNotBindSocket() : EIdSocketHandleError("Could not bind socket. Address and port are already in use.") {}
};

// "Can not bind in port range (<lowest> - <highest>)"
class EIdCanNotBindPortInRange : public EIdSocketHandleError {
 public:
  EIdCanNotBindPortInRange(int lowest, int highest)
      : EIdSocketHandleError("Can not bind in port range (" + std::to_string(lowest) + " - " +
                             std::to_string(highest) + ")") {}
};

// "Invalid Port Range (<lowest> - <highest>)"
class EIdInvalidPortRange : public EIdSocketHandleError {
 public:
  EIdInvalidPortRange(int lowest, int highest)
      : EIdSocketHandleError("Invalid Port Range (" + std::to_string(lowest) + " - " + std::to_string(highest) +
                             ")") {}
};

// Whether a failure is a break of the connection: it ended (EIdConnClosedGracefully, EIdNotConnected,
// EIdClosedSocket), broke (EIdSocketError) or fell silent (EIdReadTimeout). What was under way may be had from a
// new connection; any other failure (a refused status, a broken framing, TLS) is the peer's word, or this side's.
bool IsConnectionBreak(const std::exception_ptr& failure);
// Whether a failure is the peer's end of the connection: the end of its bytes (EIdConnClosedGracefully) or
// a reset (EIdSocketError). A silence is none, and neither is a connection this side closed (a cancel).
bool IsPeerClose(const std::exception_ptr& failure);
