#include "app/main_form.h"

#include "app/main_form_layout.h"
#include "app/message_boxes.h"
#include "app/user_texts.h"
#include "platform/codepage.h"
#include "rtl/sysutils.h"

TfMain::TfMain(platform::Ui& ui, std::vector<std::string> arguments)
    : m_ui(ui),
      m_arguments(std::move(arguments)),
      m_pg(ui, layout::kProgressMin, layout::kProgressMax, layout::kProgressPosition),
      m_timer1(ui) {
  m_timer1.OnTimer = [this] { Timer1Timer(); };
  m_ui.CreateWindow(MainFormLayout(), *this);
  FormCreate();
}

TfMain::~TfMain() { m_timer1.SetEnabled(false); }

void TfMain::FormCreate() {
  if (m_arguments.size() < 5) {
    ShowError(m_ui, m_ui.Handle(), texts::kNotStandalone);
    m_ui.Terminate();
    return;
  }
  m_values.UpdateUrl = Trim(m_arguments[0]);
  m_values.ExtractPath = Trim(m_arguments[1]);
  m_values.ArchiveName = m_arguments[2];
  m_values.RunProgram = m_arguments[3];
  m_values.DownloadPath = m_arguments[4];
  if (m_arguments.size() == 6) {
    m_ui.SetCaption(platform::SystemToUtf8(m_arguments[5]));
    m_ui.SetApplicationTitle(m_ui.Caption());
  }
  m_timer1.SetEnabled(true);
  m_ui.ShowCentred();
}

void TfMain::Timer1Timer() {
  ++m_timer1.Tag;
  if (m_timer1.Tag <= 1) return;
  m_timer1.SetEnabled(false);
}

void TfMain::SpeedButton1Click() {
  m_cancelled = true;
  m_ui.Terminate();
}

void TfMain::IdHTTPWorkBegin(int workCountMax) {
  m_pg.SetMax(workCountMax);
  m_pg.SetMin(0);
  m_pg.SetPosition(0);
}

void TfMain::IdHTTPWork(int workCount) {
  m_pg.SetPosition(workCount);
  m_ui.ProcessMessages();
}

void TfMain::IdHTTPWorkEnd() { m_pg.SetPosition(m_pg.Max()); }
