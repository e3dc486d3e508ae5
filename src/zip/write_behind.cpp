#include "zip/write_behind.h"

#include <zlib.h>

#include <algorithm>

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
        m_spare.emplace_back();
        m_spare.back().reserve(kPieceSize);
      }
      m_thread = std::thread([this] { Run(); });
    }
    if (m_filling.capacity() == 0) TakeSpare();
    m_filling.clear();
    m_toCreate = path;
    m_active = true;
    m_outcome = Outcome();
  }
  m_changed.notify_all();
}

bool TWriteBehind::Write(const uint8_t* data, int64_t count) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [this] { return m_toCreate.empty(); });
  RethrowCarried();
  while (count > 0 && !m_outcome.Failed) {
    const size_t take = std::min(static_cast<size_t>(count), kPieceSize - m_filling.size());
    m_filling.insert(m_filling.end(), data, data + take);
    data += take;
    count -= static_cast<int64_t>(take);
    if (m_filling.size() == kPieceSize) Submit(lock);
    RethrowCarried();
  }
  return !m_outcome.Failed;
}

TWriteBehind::Outcome TWriteBehind::Finish() {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (!m_active) return m_outcome;
  if (!m_filling.empty() && !m_outcome.Failed) m_queued.push_back(std::move(m_filling));
  m_draining = true;
  m_changed.notify_all();
  m_changed.wait(lock, [this] { return m_toCreate.empty() && m_queued.empty() && !m_working; });
  m_draining = false;
  m_active = false;
  if (m_filling.capacity() == 0) TakeSpare();
  m_filling.clear();
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
// batch of pieces: a wake-up per piece would cost more than the copying.
void TWriteBehind::Submit(std::unique_lock<std::mutex>& lock) {
  m_queued.push_back(std::move(m_filling));
  if (m_queued.size() == kWakeBatch) m_changed.notify_all();
  if (m_spare.empty()) m_changed.wait(lock, [this] { return m_spare.size() >= kWakeBatch || m_outcome.Failed; });
  if (!m_spare.empty()) TakeSpare();
}

// Called with the lock held, as are the three below.
void TWriteBehind::TakeSpare() {
  m_filling = std::move(m_spare.back());
  m_spare.pop_back();
  m_filling.clear();
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
    m_changed.wait(lock, [this] {
      return m_stopping || !m_toCreate.empty() || m_queued.size() >= kWakeBatch || (m_draining && !m_queued.empty());
    });
    if (!m_toCreate.empty()) {
      Create(lock);
      m_changed.notify_all();
    } else if (!m_queued.empty()) {
      // Written down to the last queued piece once awake, then asleep until the next batch.
      while (!m_queued.empty()) {
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
  platform::File file = platform::File::Create(path);
  const int errorCode = file.IsOpen() ? 0 : platform::LastErrorCode();
  lock.lock();
  m_file = std::move(file);
  if (!m_file.IsOpen()) {
    m_outcome.Failed = true;
    m_outcome.NotCreated = true;
    m_outcome.ErrorCode = errorCode;
  }
  m_toCreate.clear();
  m_working = false;
}

void TWriteBehind::WritePiece(std::unique_lock<std::mutex>& lock) {
  std::vector<uint8_t> piece = std::move(m_queued.front());
  m_queued.pop_front();
  m_working = true;
  const bool skip = m_outcome.Failed;
  uint32_t crc = m_outcome.Crc;
  lock.unlock();

  int64_t written = 0;
  int errorCode = 0;
  std::exception_ptr raised = nullptr;
  if (!skip) {
    try {
      written = std::max<int64_t>(m_file.Write(piece.data(), static_cast<int64_t>(piece.size())), 0);
      if (written < static_cast<int64_t>(piece.size())) errorCode = platform::LastErrorCode();
      crc = static_cast<uint32_t>(crc32(crc, piece.data(), static_cast<uInt>(written)));
    } catch (...) {
      raised = std::current_exception();
    }
  }

  lock.lock();
  if (!skip) {
    m_outcome.Written += written;
    m_outcome.Crc = crc;
    if (raised || written < static_cast<int64_t>(piece.size())) {
      m_outcome.Failed = true;
      m_outcome.ErrorCode = errorCode;
    }
    if (raised) m_carried = raised;
  }
  piece.clear();
  m_spare.push_back(std::move(piece));
  m_working = false;
}
