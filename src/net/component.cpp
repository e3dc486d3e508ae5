#include "net/component.h"

#include <algorithm>
#include <mutex>

#include "net/stack.h"
#include "rtl/sysutils.h"

namespace {

// Guards the stack instance together with the count of live components.
std::mutex g_stackLock;
int g_liveComponents = 0;

void Erase(std::vector<TIdComponent*>& list, TIdComponent* component) {
  list.erase(std::remove(list.begin(), list.end(), component), list.end());
}

}  // namespace

TIdComponent::TIdComponent() {
  std::lock_guard<std::mutex> lock(g_stackLock);
  if (g_liveComponents == 0) GStack = new TIdStackWindows();
  ++g_liveComponents;
}

TIdComponent::~TIdComponent() {
  // Observers may drop further references from Notification; work on a copy.
  const std::vector<TIdComponent*> observers = m_observers;
  for (TIdComponent* observer : observers) {
    Erase(observer->m_observed, this);
    observer->Notification(this);
  }
  for (TIdComponent* observed : m_observed) Erase(observed->m_observers, this);
  std::lock_guard<std::mutex> lock(g_stackLock);
  if (--g_liveComponents == 0) {
    delete GStack;
    GStack = nullptr;
  }
}

int TIdComponent::LiveCount() {
  std::lock_guard<std::mutex> lock(g_stackLock);
  return g_liveComponents;
}

void TIdComponent::StartWork(TWorkMode mode, int32_t max) {
  WorkState& work = m_work[mode];
  if (++work.level == 1) {
    work.max = max;
    work.count = 0;
    // A handler that raises refuses the work: it has not begun, and the next work must begin afresh.
    try {
      if (OnWorkBegin) OnWorkBegin(this, mode, max);
    } catch (...) {
      --work.level;
      throw;
    }
  }
}

void TIdComponent::AddWork(TWorkMode mode, int32_t count) {
  WorkState& work = m_work[mode];
  if (work.level < 1) return;
  // The running total is a 32-bit count: past 2 GiB it stays at its largest value, since a total that
  // wrapped to a negative or small number would move a progress bar backwards.
  work.count = ClampWorkCount(static_cast<int64_t>(work.count) + count);
  if (OnWork) OnWork(this, mode, work.count);
}

void TIdComponent::FinishWork(TWorkMode mode) {
  WorkState& work = m_work[mode];
  if (work.level == 1 && OnWorkEnd) OnWorkEnd(this, mode);
  --work.level;
}

std::string TIdComponent::StatusText(TIdStatus status, const std::string& argument) {
  switch (status) {
    case hsResolving: return Format("Resolving hostname %s.", argument.c_str());
    case hsConnecting: return Format("Connecting to %s.", argument.c_str());
    case hsConnected: return "Connected.";
    case hsDisconnecting: return "Disconnecting.";
    case hsDisconnected: return "Disconnected.";
    case hsStatusText:
    case ftpTransfer:
    case ftpReady:
    case ftpAborted: return argument;
  }
  return argument;
}

void TIdComponent::ReportStatus(TIdStatus status) { ReportStatus(status, std::string()); }

void TIdComponent::ReportStatus(TIdStatus status, const std::string& argument) {
  if (OnStatus) OnStatus(this, status, StatusText(status, argument));
}

void TIdComponent::FreeNotification(TIdComponent* observer) {
  if (observer == nullptr || observer == this) return;
  if (std::find(m_observers.begin(), m_observers.end(), observer) != m_observers.end()) return;
  m_observers.push_back(observer);
  observer->m_observed.push_back(this);
}

void TIdComponent::RemoveFreeNotification(TIdComponent* observer) {
  if (observer == nullptr) return;
  Erase(m_observers, observer);
  Erase(observer->m_observed, this);
}
