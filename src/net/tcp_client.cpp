#include "net/tcp_client.h"

#include <memory>

#include "net/exceptions.h"

void TIdTCPClient::NotifyConnected() {
  if (OnConnected) OnConnected(this);
}

void TIdTCPClient::OpenConnection(int timeout) {
  OperationGuard guard(*this);
  if (IOHandler() == nullptr) {
    auto handler = std::make_unique<TIdIOHandlerSocket>();
    handler->OnStatus = OnStatus;
    InstallOwnHandler(std::move(handler));
  } else if (IOHandler()->IsOpen()) {
    throw EIdAlreadyConnected();
  }
  // Held across the connect: a UI handler may close the connection (and retire the handler) meanwhile.
  TIdIOHandler* handler = IOHandler();
  try {
    handler->PrepareHandler();
    ResetReadState();
    handler->ConnectToPeer(m_host, m_port, timeout, m_boundPortMax, m_boundPortMin, m_boundPort, m_boundIP);
    if (Intercept() != nullptr) Intercept()->Connect(*this);
    ReportStatus(hsConnected, m_host);
    NotifyConnected();
  } catch (...) {
    DropSocket();
    throw;
  }
}

std::string TIdTCPClient::OpenReadAllClose(int) {
  OpenConnection(-1);
  std::string text;
  try {
    text = ReadAllText();
  } catch (...) {
    CloseConnection();
    throw;
  }
  CloseConnection();
  return text;
}
