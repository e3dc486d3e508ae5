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

void TWriteBehind::Begin(platform::File& file) {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (!m_thread.joinable()) {
    for (size_t i = 0; i < kPieces; ++i) {
      m_spare.emplace_back();
      m_spare.back().reserve(kPieceSize);
    }
    m_thread = std::thread([this] { Run(); });
  }
  if (m_filling.capacity() == 0) {
    m_filling = std::move(m_spare.back());
    m_spare.pop_back();
  }
  m_filling.clear();
  m_file = &file;
  m_outcome = Outcome();
}

bool TWriteBehind::Write(const uint8_t* data, int64_t count) {
  std::unique_lock<std::mutex> lock(m_mutex);
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
  if (m_file == nullptr) return m_outcome;
  if (!m_filling.empty() && !m_outcome.Failed) {
    m_queued.push_back(std::move(m_filling));
    m_changed.notify_all();
  }
  m_changed.wait(lock, [this] { return m_queued.empty() && !m_writing; });
  m_file = nullptr;
  if (m_filling.capacity() == 0) {
    m_filling = std::move(m_spare.back());
    m_spare.pop_back();
  }
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

// Hands the full piece to the writer and waits for an empty one, which a write that ends returns.
void TWriteBehind::Submit(std::unique_lock<std::mutex>& lock) {
  m_queued.push_back(std::move(m_filling));
  m_changed.notify_all();
  m_changed.wait(lock, [this] { return !m_spare.empty() || m_outcome.Failed; });
  if (m_spare.empty()) return;
  m_filling = std::move(m_spare.back());
  m_spare.pop_back();
  m_filling.clear();
}

// Called with the lock held.
void TWriteBehind::RethrowCarried() {
  if (!m_carried) return;
  std::exception_ptr carried = nullptr;
  std::swap(carried, m_carried);
  std::rethrow_exception(carried);
}

void TWriteBehind::Run() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_changed.wait(lock, [this] { return m_stopping || !m_queued.empty(); });
    if (m_queued.empty()) return;
    std::vector<uint8_t> piece = std::move(m_queued.front());
    m_queued.pop_front();
    m_writing = true;
    const bool skip = m_outcome.Failed;
    platform::File* file = m_file;
    uint32_t crc = m_outcome.Crc;
    lock.unlock();

    int64_t written = 0;
    int errorCode = 0;
    std::exception_ptr raised = nullptr;
    if (!skip) {
      try {
        written = std::max<int64_t>(file->Write(piece.data(), static_cast<int64_t>(piece.size())), 0);
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
    m_writing = false;
    m_changed.notify_all();
  }
}
