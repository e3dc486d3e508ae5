#pragma once
// A hook object a connection can carry: it sees received and sent data as a stream it may rewrite, and is
// told when the connection opens and closes. The base passes everything through unchanged. It is a component
// of its own, so that a connection carrying it is told when it is destroyed.
#include "net/component.h"
#include "rtl/streams.h"

class TIdTCPConnection;

class TIdConnectionIntercept : public TIdComponent {
 public:
  virtual void Connect(TIdTCPConnection&) {}
  virtual void Disconnect() {}
  // The stream is positioned at its start and holds one receive; its size after the call is what the
  // connection keeps.
  virtual void Receive(TStream&) {}
  // The same for the data of one write, before it is sent.
  virtual void Send(TStream&) {}
};
