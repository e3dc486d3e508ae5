#pragma once
// Idle processing: while a connection waits on the main (user-interface) thread, its waits are cut into
// slices of IdleTimeOut milliseconds and the UI's pending messages are processed between them. One instance
// is registered per process; creating one replaces the registered one, destroying any clears the slot.
#include "platform/ui.h"

class TIdAntiFreezeBase {
 public:
  // The wait slice, in ms, until SetIdleTimeOut gives another.
  static constexpr int kDefaultIdleTimeOut = 250;

  TIdAntiFreezeBase();
  virtual ~TIdAntiFreezeBase();
  TIdAntiFreezeBase(const TIdAntiFreezeBase&) = delete;
  TIdAntiFreezeBase& operator=(const TIdAntiFreezeBase&) = delete;

  bool Active() const { return m_active; }
  void SetActive(bool value) { m_active = value; }
  // True: every pending message at each turn; false: at most one, and only when one is waiting.
  bool ApplicationHasPriority() const { return m_applicationHasPriority; }
  void SetApplicationHasPriority(bool value) { m_applicationHasPriority = value; }
  // Length of the wait slices in milliseconds.
  int IdleTimeOut() const { return m_idleTimeOut; }
  void SetIdleTimeOut(int value) { m_idleTimeOut = value; }
  // True: process messages only after a slice that found nothing to read; false: after every slice.
  bool OnlyWhenIdle() const { return m_onlyWhenIdle; }
  void SetOnlyWhenIdle(bool value) { m_onlyWhenIdle = value; }

  // An instance is registered, the caller is on the main thread, and the instance is Active.
  static bool ShouldUseIdle();
  // Processes UI messages through the registered instance when ShouldUseIdle and (idle, or not
  // OnlyWhenIdle, or overrideIdle).
  static void RunIdle(bool idle, bool overrideIdle = false);
  // The registered instance, or none.
  static TIdAntiFreezeBase* Instance();

  virtual void ProcessUiMessages() = 0;

 private:
  bool m_active = true;
  bool m_applicationHasPriority = true;
  int m_idleTimeOut = kDefaultIdleTimeOut;
  bool m_onlyWhenIdle = true;
};

class TIdAntiFreeze : public TIdAntiFreezeBase {
 public:
  // The pump must outlive the instance.
  explicit TIdAntiFreeze(platform::MessagePump& pump) : m_pump(pump) {}

  void ProcessUiMessages() override;

 private:
  platform::MessagePump& m_pump;
};
