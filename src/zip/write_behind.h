#pragma once
// A member's output is written, and its CRC taken, on a thread of its own while the decoder produces the
// next pieces: on a machine with two cores decoding and writing overlap instead of taking turns. Pieces
// land in the order they were given, gathered into large writes. After the first write that fails nothing
// more is written; the caller learns of it at its next Write and from Finish, on its own thread, with the
// system's error code of the failed write. An exception raised by a write is carried over and rethrown
// from Write or Finish.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/files.h"

class TWriteBehind {
 public:
  struct Outcome {
    int64_t Written = 0;  // bytes that reached the file
    uint32_t Crc = 0;     // zlib's CRC-32 of those bytes
    bool Failed = false;  // a write moved less than it was given
    int ErrorCode = 0;    // the system's error code of that write
  };

  TWriteBehind() = default;
  ~TWriteBehind();
  TWriteBehind(const TWriteBehind&) = delete;
  TWriteBehind& operator=(const TWriteBehind&) = delete;

  // The file the next pieces go to, from its start; the previous one must be finished. The file stays the
  // caller's, who must not touch it before Finish.
  void Begin(platform::File& file);
  // Takes a copy of the bytes; false, taking nothing, once a write has failed.
  bool Write(const uint8_t* data, int64_t count);
  // Waits until every piece taken is written. Afterwards nothing refers to the file any more.
  Outcome Finish();
  // Finish for a member given up on: waits the same, but what a write raised is dropped.
  void Abandon() noexcept;

 private:
  static constexpr size_t kPieceSize = 256 * 1024;
  static constexpr size_t kPieces = 3;

  void Submit(std::unique_lock<std::mutex>& lock);
  void RethrowCarried();
  void Run();

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::thread m_thread;
  bool m_stopping = false;
  platform::File* m_file = nullptr;
  // The piece being filled, the pieces waiting to be written, and spare ones, all of kPieceSize capacity.
  std::vector<uint8_t> m_filling;
  std::deque<std::vector<uint8_t>> m_queued;
  std::vector<std::vector<uint8_t>> m_spare;
  bool m_writing = false;
  Outcome m_outcome;
  std::exception_ptr m_carried;
};
