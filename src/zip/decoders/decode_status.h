#pragma once
// What ended a decoder's run. Every decoder returns one; the extraction driver decides, per compression
// method, which of them end the member with a message (MessageIdOf) and which it leaves to its CRC check.
enum class TDecodeStatus {
  Ok,                 // the member decoded to its end and every byte was written
  InputEnded,         // the compressed data ended before the member did
  InvalidData,        // a code, tree or block that no encoder writes, or data for more than the declared size
  BadHeader,          // a repeat in a dynamic Deflate header reaches past the code lengths
  StackOverflow,      // a shrunk string longer than the code space (a code chain that loops)
  UnsupportedMethod,  // a reduce factor outside 1..4
  OutputShort,        // a write came back short
  Cancelled,          // the run's cancel flag was set
};

// The message id of a status that ends a member with a message; 0 for Ok, InputEnded and Cancelled.
int MessageIdOf(TDecodeStatus status);
