#pragma once
// The base of the connection and the socket handler: work events (nested per mode, only the outermost start
// and finish are reported), status events, notification of destroyed components, and the process-wide
// socket stack, which exists while any component does.
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

enum TWorkMode { wmRead, wmWrite };

enum TIdStatus {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText,
  ftpTransfer,
  ftpReady,
  ftpAborted
};

class TIdComponent;

// Work events carry 32-bit counts; a larger count (a body beyond 2 GiB) is reported as the largest one.
inline int32_t ClampWorkCount(int64_t count) {
  return count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count);
}

using TIdStatusEvent = std::function<void(TIdComponent* ASender, TIdStatus AStatus, const std::string& AStatusText)>;
using TWorkBeginEvent = std::function<void(TIdComponent* Sender, TWorkMode AWorkMode, int32_t AWorkCountMax)>;
using TWorkEvent = std::function<void(TIdComponent* Sender, TWorkMode AWorkMode, int32_t AWorkCount)>;
using TWorkEndEvent = std::function<void(TIdComponent* Sender, TWorkMode AWorkMode)>;
using TNotifyEvent = std::function<void(TIdComponent* Sender)>;

class TIdComponent {
 public:
  // The first live component creates the socket stack (GStack); fails like TIdStackWindows' constructor.
  TIdComponent();
  // The last one destroyed releases the stack.
  virtual ~TIdComponent();
  TIdComponent(const TIdComponent&) = delete;
  TIdComponent& operator=(const TIdComponent&) = delete;

  TIdStatusEvent OnStatus;
  TWorkBeginEvent OnWorkBegin;
  TWorkEvent OnWork;
  TWorkEndEvent OnWorkEnd;

  // Only the outermost StartWork of a mode raises OnWorkBegin and resets the running total; AddWork raises
  // OnWork with the running total (held at INT32_MAX once it gets there), and only inside a StartWork; only the
  // outermost FinishWork raises OnWorkEnd.
  virtual void StartWork(TWorkMode mode, int32_t max);
  virtual void AddWork(TWorkMode mode, int32_t count);
  virtual void FinishWork(TWorkMode mode);

  // Raises OnStatus with the status text ("Resolving hostname %s." ...) when OnStatus is assigned.
  void ReportStatus(TIdStatus status);
  void ReportStatus(TIdStatus status, const std::string& argument);
  static std::string StatusText(TIdStatus status, const std::string& argument);

  // Asks to be told (Notification) when this component is destroyed.
  void FreeNotification(TIdComponent* observer);
  void RemoveFreeNotification(TIdComponent* observer);

  // Live components in the process.
  static int LiveCount();

 protected:
  // The component is being destroyed; drop every reference to it.
  virtual void Notification(TIdComponent*) {}

 private:
  struct WorkState {
    int32_t level = 0;
    int32_t max = 0;
    int32_t count = 0;
  };
  WorkState m_work[2];
  std::vector<TIdComponent*> m_observers;  // told when this one goes
  std::vector<TIdComponent*> m_observed;   // this one is told when those go
};

// StartWork when made, FinishWork when the scope ends, however it ends: every read and write that reports
// work brackets it this way. A handler of OnWorkEnd that raises while an exception already leaves the scope
// is not heard, so that the first failure is the one that travels.
class TIdWorkScope {
 public:
  TIdWorkScope(TIdComponent& component, TWorkMode mode, int32_t max)
      : m_component(component), m_mode(mode), m_uncaught(std::uncaught_exceptions()) {
    m_component.StartWork(mode, max);
  }
  ~TIdWorkScope() noexcept(false) {
    if (std::uncaught_exceptions() == m_uncaught) {
      m_component.FinishWork(m_mode);
      return;
    }
    try {
      m_component.FinishWork(m_mode);
    } catch (...) {
    }
  }
  TIdWorkScope(const TIdWorkScope&) = delete;
  TIdWorkScope& operator=(const TIdWorkScope&) = delete;

 private:
  TIdComponent& m_component;
  TWorkMode m_mode;
  int m_uncaught;
};
