#pragma once
// A scripted HTTP server for tests, on the loopback server or the in-memory peer: it answers each request with
// the next canned reply, so a test states the bytes a server sends and then checks the exact bytes the client
// wrote.
#include <memory>
#include <string>
#include <vector>

#include "support/loopback_server.h"
#include "support/scripted_io_handler.h"

namespace testsupport {

struct HttpReply {
  std::string bytes;        // sent as they are: status line, headers, body, or anything hostile
  bool closeAfter = false;  // the server closes the connection once the reply is sent
};

// A script for LoopbackServer that reads a request head (up to and including the empty line; request bodies
// are not read) and answers it with the next reply of the list, on whichever connection the request arrives.
// When the list is used up the connection is held until the client closes it.
LoopbackServer::Script ServeHttpReplies(std::vector<HttpReply> replies);

// The same for the scripted in-memory peer: a responder that answers each request head with the next reply.
ScriptedIOHandler::Responder AnswerHttpReplies(std::vector<HttpReply> replies);

// The request heads in what a connection received, each including its empty line.
std::vector<std::string> RequestHeads(const std::string& received);

}  // namespace testsupport
