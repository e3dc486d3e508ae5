#pragma once
// A hook object a connection can carry: it sees received and sent data as a stream it may rewrite, and is
// told when the connection opens and closes. The base passes everything through unchanged.
#include "rtl/streams.h"

class TIdTCPConnection;

class TIdConnectionIntercept {
 public:
  virtual ~TIdConnectionIntercept() = default;
  virtual void Connect(TIdTCPConnection&) {}
  virtual void Disconnect() {}
  // The stream is positioned at its start and holds one receive; its size after the call is what the
  // connection keeps.
  virtual void Receive(TStream&) {}
  // The same for the data of one write, before it is sent.
  virtual void Send(TStream&) {}
};
