#include "net/anti_freeze.h"

#include "platform/threads.h"

namespace {
// Written on creation and destruction only, on the main thread.
TIdAntiFreezeBase* g_registered = nullptr;
}  // namespace

TIdAntiFreezeBase::TIdAntiFreezeBase() { g_registered = this; }

TIdAntiFreezeBase::~TIdAntiFreezeBase() { g_registered = nullptr; }

TIdAntiFreezeBase* TIdAntiFreezeBase::Instance() { return g_registered; }

bool TIdAntiFreezeBase::ShouldUseIdle() {
  // The thread test comes first: only the main thread may look at the registration slot.
  return platform::IsMainThread() && g_registered != nullptr && g_registered->m_active;
}

void TIdAntiFreezeBase::RunIdle(bool idle, bool overrideIdle) {
  if (!ShouldUseIdle()) return;
  if (idle || !g_registered->m_onlyWhenIdle || overrideIdle) g_registered->ProcessUiMessages();
}

void TIdAntiFreeze::ProcessUiMessages() {
  if (ApplicationHasPriority()) {
    m_pump.ProcessMessages();
  } else if (m_pump.PeekMessage()) {
    m_pump.HandleOneMessage();
  }
}
