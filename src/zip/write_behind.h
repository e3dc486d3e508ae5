#pragma once
// A member's file is created, its output written and its CRC taken on a thread of its own while the
// decoder produces the next pieces: on a machine with two cores decoding and file work overlap instead of
// taking turns. Pieces land in the order they were given, gathered into writes of 256 KiB. A producer may
// also put its bytes straight into the piece being filled (Room, then Commit), which saves copying them on
// the way. After the first failure (the file cannot be created, or a write moves less than it was given)
// nothing more is written; the caller learns of it at its next Write or Commit and from Finish, on its own
// thread, with the system's error code. An exception raised by a write is carried over and rethrown from
// Write, Commit or Finish.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"

class TWriteBehind {
 public:
  struct Outcome {
    int64_t Written = 0;      // bytes that reached the file
    uint32_t Crc = 0;         // zlib's CRC-32 of those bytes
    bool Failed = false;      // the file could not be created, or a write moved less than it was given
    bool NotCreated = false;  // the failure was the creation
    int ErrorCode = 0;        // the system's error code of the failure
  };

  TWriteBehind() = default;
  ~TWriteBehind();
  TWriteBehind(const TWriteBehind&) = delete;
  TWriteBehind& operator=(const TWriteBehind&) = delete;

  // Creates (or truncates) the file at path for the pieces that follow; the previous file must be finished.
  // An empty path creates no file: the pieces are only counted and their CRC taken, for a check.
  void Begin(const std::string& path);
  // Takes a copy of the bytes; false, taking nothing, once the creation or a write has failed. The first
  // Write of a file waits for its creation, so that a file that cannot be created is known before any byte
  // is taken for it.
  bool Write(const uint8_t* data, int64_t count);
  // After Begin, the free part of the piece being filled: at least one byte, valid until the next call. A
  // producer that writes there hands the first count bytes on with Commit, which answers as Write does.
  struct Span {
    uint8_t* Data;
    int64_t Size;
  };
  Span Room();
  bool Commit(int64_t count);
  // Waits until the file is created and every piece taken is written.
  Outcome Finish();
  // Finish for a member given up on: waits the same, but what a write raised is dropped.
  void Abandon() noexcept;
  // After Finish: the file, open when it could be created. The caller sets its time and closes it.
  platform::File& File() { return m_file; }

 private:
  // Large enough that a wake-up is rare beside the work it brings, small enough that little is left to write
  // when a member ends and the decoder has to wait for it.
  static constexpr size_t kPieceSize = 256 * 1024;
  static constexpr size_t kPieces = 8;
  static constexpr size_t kWakeBatch = kPieces / 2;

  struct Piece {
    std::unique_ptr<uint8_t[]> Bytes;
    size_t Size = 0;
  };

  void Submit(std::unique_lock<std::mutex>& lock);
  void TakeSpare();
  void RethrowCarried();
  void Run();
  void Create(std::unique_lock<std::mutex>& lock);
  void WritePiece(std::unique_lock<std::mutex>& lock);

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::thread m_thread;
  bool m_stopping = false;
  platform::File m_file;
  // The path of a file still to be created; empty once it was tried.
  std::string m_toCreate;
  // The pieces go into m_file; otherwise they are only counted, for a check.
  bool m_toFile = false;
  bool m_active = false;
  // The piece being filled (only the producer's thread touches it), the pieces waiting to be written, and
  // spare ones, all of kPieceSize bytes.
  Piece m_filling;
  std::deque<Piece> m_queued;
  std::vector<Piece> m_spare;
  // A file is being created or a piece written, by the writer or by Finish: one at a time, so in order.
  bool m_working = false;
  // Finish waits for the queue to empty: the writer then writes whatever is queued, without waiting for a batch.
  bool m_draining = false;
  Outcome m_outcome;
  std::exception_ptr m_carried;
};
