#include "zip/write_behind.h"

#include <algorithm>
#include <cstring>

#include "zip/crc32.h"

TWriteBehind::~TWriteBehind() {
  if (!m_thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

void TWriteBehind::Begin(const std::string& path) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_thread.joinable()) {
      for (size_t i = 0; i < kPieces; ++i) {
        m_spare.push_back(Piece{std::unique_ptr<uint8_t[]>(new uint8_t[kPieceSize])});
      }
      m_thread = std::thread([this] { Run(); });
    }
    if (!m_filling.Bytes) TakeSpare();
    m_filling.Size = 0;
    m_toCreate = path;
    m_toFile = !path.empty();
    m_active = true;
    m_outcome = Outcome();
  }
  m_changed.notify_all();
}

bool TWriteBehind::Write(const uint8_t* data, int64_t count) {
  bool taken = true;
  while (count > 0 && taken) {
    const Span room = Room();
    const int64_t take = std::min(count, room.Size);
    std::memcpy(room.Data, data, static_cast<size_t>(take));
    taken = Commit(take);
    data += take;
    count -= take;
  }
  return taken;
}

TWriteBehind::Span TWriteBehind::Room() {
  return Span{m_filling.Bytes.get() + m_filling.Size, static_cast<int64_t>(kPieceSize - m_filling.Size)};
}

bool TWriteBehind::Commit(int64_t count) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [this] { return m_toCreate.empty(); });
  RethrowCarried();
  if (m_outcome.Failed) return false;
  m_filling.Size += static_cast<size_t>(count);
  if (m_filling.Size == kPieceSize) Submit(lock);
  RethrowCarried();
  return !m_outcome.Failed;
}

TWriteBehind::Outcome TWriteBehind::Finish() {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (!m_active) return m_outcome;
  if (m_filling.Size > 0 && !m_outcome.Failed) m_queued.push_back(std::move(m_filling));
  // With the writer asleep, what is left (less than a batch) is written here: waking it and waiting to be
  // woken in turn would take longer than the writes, for a small member several times longer.
  while (m_toCreate.empty() && !m_working && !m_queued.empty()) WritePiece(lock);
  m_draining = true;
  m_changed.notify_all();
  m_changed.wait(lock, [this] { return m_toCreate.empty() && m_queued.empty() && !m_working; });
  m_draining = false;
  m_active = false;
  if (!m_filling.Bytes) TakeSpare();
  m_filling.Size = 0;
  RethrowCarried();
  return m_outcome;
}

void TWriteBehind::Abandon() noexcept {
  try {
    Finish();
  } catch (...) {
  }
}

// Hands the full piece to the writer and takes an empty one. The two threads wake each other only for a
// batch of pieces: a wake-up per piece would cost more than the work it hands over. After a failure nothing more is
// written, and the piece is filled again.
void TWriteBehind::Submit(std::unique_lock<std::mutex>& lock) {
  if (m_outcome.Failed) {
    m_filling.Size = 0;
    return;
  }
  m_queued.push_back(std::move(m_filling));
  if (m_queued.size() == kWakeBatch) m_changed.notify_all();
  if (m_spare.empty()) {
    m_changed.wait(lock, [this] { return m_spare.size() >= kWakeBatch || (!m_spare.empty() && m_outcome.Failed); });
  }
  TakeSpare();
}

// Called with the lock held, as are the three below.
void TWriteBehind::TakeSpare() {
  m_filling = std::move(m_spare.back());
  m_spare.pop_back();
  m_filling.Size = 0;
}

void TWriteBehind::RethrowCarried() {
  if (!m_carried) return;
  std::exception_ptr carried = nullptr;
  std::swap(carried, m_carried);
  std::rethrow_exception(carried);
}

void TWriteBehind::Run() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    // Pieces are taken only while Finish is not writing one itself: they land in order.
    m_changed.wait(lock, [this] {
      return m_stopping || !m_toCreate.empty() ||
             (!m_working && (m_queued.size() >= kWakeBatch || (m_draining && !m_queued.empty())));
    });
    if (!m_toCreate.empty()) {
      Create(lock);
      m_changed.notify_all();
    } else if (!m_queued.empty()) {
      // Written down to the last queued piece once awake, then asleep until the next batch.
      while (!m_queued.empty() && !m_working) {
        WritePiece(lock);
        if (m_spare.size() == kWakeBatch || m_queued.empty() || m_outcome.Failed) m_changed.notify_all();
      }
    } else {
      return;
    }
  }
}

// The path stays in m_toCreate until the file is tried: Write waits for that.
void TWriteBehind::Create(std::unique_lock<std::mutex>& lock) {
  const std::string path = m_toCreate;
  m_working = true;
  lock.unlock();
  // Nothing may leave this thread: an exception here would end the process. It goes to the caller instead.
  platform::File file;
  int errorCode = 0;
  std::exception_ptr raised = nullptr;
  try {
    file = platform::File::Create(path);
    if (!file.IsOpen()) errorCode = platform::LastErrorCode();
  } catch (...) {
    raised = std::current_exception();
  }
  lock.lock();
  m_file = std::move(file);
  if (!m_file.IsOpen()) {
    m_outcome.Failed = true;
    m_outcome.NotCreated = true;
    m_outcome.ErrorCode = errorCode;
  }
  if (raised) m_carried = raised;
  m_toCreate.clear();
  m_working = false;
}

void TWriteBehind::WritePiece(std::unique_lock<std::mutex>& lock) {
  Piece piece = std::move(m_queued.front());
  m_queued.pop_front();
  m_working = true;
  const bool skip = m_outcome.Failed;
  const bool toFile = m_toFile;
  uint32_t crc = m_outcome.Crc;
  lock.unlock();

  int64_t written = 0;
  int errorCode = 0;
  std::exception_ptr raised = nullptr;
  if (!skip) {
    try {
      written = toFile ? std::max<int64_t>(m_file.Write(piece.Bytes.get(), static_cast<int64_t>(piece.Size)), 0)
                       : static_cast<int64_t>(piece.Size);
      if (written < static_cast<int64_t>(piece.Size)) errorCode = platform::LastErrorCode();
      crc = Crc32(crc, piece.Bytes.get(), static_cast<size_t>(written));
    } catch (...) {
      raised = std::current_exception();
    }
  }

  lock.lock();
  if (!skip) {
    m_outcome.Written += written;
    m_outcome.Crc = crc;
    if (raised || written < static_cast<int64_t>(piece.Size)) {
      m_outcome.Failed = true;
      m_outcome.ErrorCode = errorCode;
    }
    if (raised) m_carried = raised;
  }
  piece.Size = 0;
  m_spare.push_back(std::move(piece));
  m_working = false;
}
