#include "support/http_peer.h"

namespace testsupport {

LoopbackServer::Script ServeHttpReplies(std::vector<HttpReply> replies) {
  // Shared by the connections of one server, which run one after the other on the server's thread.
  struct State {
    std::vector<HttpReply> replies;
    size_t next = 0;
  };
  auto state = std::make_shared<State>(State{std::move(replies), 0});
  return [state](LoopbackConnection& connection) {
    while (state->next < state->replies.size()) {
      const std::string head = connection.ReadUntil("\r\n\r\n");
      if (head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0) return;  // the client left
      const HttpReply& reply = state->replies[state->next++];
      connection.Send(reply.bytes);
      if (reply.closeAfter) {
        connection.Close();
        return;
      }
    }
    connection.ReadUntilClose();
  };
}

ScriptedIOHandler::Responder AnswerHttpReplies(std::vector<HttpReply> replies) {
  struct State {
    std::vector<HttpReply> replies;
    size_t next = 0;
    size_t connection = 0;  // the one the counts are of
    size_t answered = 0;    // its request heads answered
    bool closed = false;    // by its last reply
  };
  auto state = std::make_shared<State>(State{std::move(replies)});
  return [state](ScriptedIOHandler& peer, size_t connection, const std::string& sent) {
    if (connection != state->connection) *state = State{std::move(state->replies), state->next, connection};
    const size_t heads = RequestHeads(sent).size();
    while (!state->closed && state->answered < heads && state->next < state->replies.size()) {
      const HttpReply& reply = state->replies[state->next++];
      ++state->answered;
      peer.Serve(reply.bytes, reply.closeAfter);
      state->closed = reply.closeAfter;
    }
  };
}

std::vector<std::string> RequestHeads(const std::string& received) {
  std::vector<std::string> heads;
  for (size_t start = 0; start < received.size();) {
    const size_t end = received.find("\r\n\r\n", start);
    if (end == std::string::npos) break;
    heads.push_back(received.substr(start, end + 4 - start));
    start = end + 4;
  }
  return heads;
}

}  // namespace testsupport
