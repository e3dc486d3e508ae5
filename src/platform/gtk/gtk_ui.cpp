#include "platform/gtk/gtk_ui.h"

#include <gtk/gtk.h>

#include <cstdio>

namespace platform {

struct GtkUi::Widgets {
  GtkWidget* window = nullptr;
  GtkWidget* label = nullptr;
  GtkWidget* progress = nullptr;
  GtkWidget* button = nullptr;
  GtkCssProvider* css = nullptr;
  WindowLayout layout;
};

namespace {

std::string RgbText(uint32_t color) {
  char text[32];
  std::snprintf(text, sizeof text, "rgb(%u,%u,%u)", color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
  return text;
}

// The lowered bevel along the client area's edges: dark lines top and left, light lines bottom and right.
gboolean DrawBevel(GtkWidget* widget, cairo_t* cr, gpointer) {
  const double w = gtk_widget_get_allocated_width(widget);
  const double h = gtk_widget_get_allocated_height(widget);
  cairo_set_line_width(cr, 1);
  cairo_set_source_rgb(cr, 0.5, 0.5, 0.5);
  cairo_move_to(cr, 0.5, h - 0.5);
  cairo_line_to(cr, 0.5, 0.5);
  cairo_line_to(cr, w - 0.5, 0.5);
  cairo_stroke(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_move_to(cr, w - 0.5, 0.5);
  cairo_line_to(cr, w - 0.5, h - 0.5);
  cairo_line_to(cr, 0.5, h - 0.5);
  cairo_stroke(cr);
  return FALSE;
}

void Place(GtkWidget* fixed, GtkWidget* child, const ControlRect& rect) {
  gtk_widget_set_size_request(child, rect.width, rect.height);
  gtk_fixed_put(GTK_FIXED(fixed), child, rect.left, rect.top);
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer ui) {
  // The close box asks the loop to end; the window itself stays as it is.
  static_cast<GtkUi*>(ui)->Terminate();
  return TRUE;
}

}  // namespace

void GtkUi::OnClicked(void*, void* ui) {
  GtkUi& self = *static_cast<GtkUi*>(ui);
  self.m_listenerException.Run([&self] { self.m_listener->OnCancelClick(); });
}

int GtkUi::OnTick(void* ui) {
  GtkUi& self = *static_cast<GtkUi*>(ui);
  // A pending terminate request holds the tick back, as a pending message does.
  if (!self.m_terminateRequested) self.m_listenerException.Run([&self] { self.m_listener->OnTimer(); });
  return G_SOURCE_CONTINUE;
}

GtkUi::GtkUi() : m_widgets(std::make_unique<Widgets>()) {}

std::unique_ptr<GtkUi> GtkUi::TryCreate() {
  if (!gtk_init_check(nullptr, nullptr)) return nullptr;
  return std::unique_ptr<GtkUi>(new GtkUi());
}

GtkUi::~GtkUi() {
  if (m_timerSource != 0) g_source_remove(m_timerSource);
  if (m_widgets->window != nullptr) gtk_widget_destroy(m_widgets->window);
  if (m_widgets->css != nullptr) g_object_unref(m_widgets->css);
  // Lets the destruction finish without raising anything a listener left behind.
  while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
}

void GtkUi::CreateWindow(const WindowLayout& layout, UiListener& listener) {
  m_listener = &listener;
  Widgets& w = *m_widgets;
  w.layout = layout;
  w.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_widget_set_name(w.window, "updater");
  gtk_window_set_title(GTK_WINDOW(w.window), layout.caption.c_str());
  gtk_window_set_resizable(GTK_WINDOW(w.window), FALSE);
  gtk_window_set_type_hint(GTK_WINDOW(w.window), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_position(GTK_WINDOW(w.window), GTK_WIN_POS_CENTER);
  gtk_window_set_default_size(GTK_WINDOW(w.window), layout.clientWidth, layout.clientHeight);
  g_signal_connect(w.window, "delete-event", G_CALLBACK(OnDelete), this);

  // Pixel sizes as stored: the layout is not scaled to the screen.
  const std::string css =
      "#updater { background-color: " + RgbText(layout.backgroundColor) + "; }\n"
      "#updater * { font-family: \"" + layout.fontName + "\", \"SimSun\", \"WenQuanYi Zen Hei\", sans-serif; "
      "font-size: " + std::to_string(-layout.fontHeight) + "px; }\n"
      "#updater label { color: black; }\n"
      "#updater button { background: none; border: 1px solid transparent; box-shadow: none; padding: 0; "
      "min-height: 0; min-width: 0; }\n"
      "#updater button:hover { border-color: #808080; }\n"
      "#updater button label { color: " + RgbText(layout.buttonTextColor) + "; }\n"
      "#updater progressbar trough, #updater progressbar progress { min-height: " +
      std::to_string(layout.progressBar.height - 2) + "px; }\n"
      "#updater progressbar progress { background-color: rgb(49,106,197); border-radius: 0; }\n"
      "#updater progressbar trough { background-color: white; border: 1px solid #808080; border-radius: 0; }\n";
  w.css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(w.css, css.c_str(), -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(w.css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, layout.clientWidth, layout.clientHeight);
  gtk_container_add(GTK_CONTAINER(w.window), fixed);

  GtkWidget* bevel = gtk_drawing_area_new();
  g_signal_connect(bevel, "draw", G_CALLBACK(DrawBevel), nullptr);
  Place(fixed, bevel, layout.bevel);

  w.button = gtk_button_new_with_label(layout.buttonCaption.c_str());
  gtk_button_set_relief(GTK_BUTTON(w.button), GTK_RELIEF_NONE);
  gtk_widget_set_can_focus(w.button, FALSE);
  g_signal_connect(w.button, "clicked", G_CALLBACK(OnClicked), this);
  Place(fixed, w.button, layout.button);

  w.label = gtk_label_new(layout.labelCaption.c_str());
  gtk_label_set_xalign(GTK_LABEL(w.label), 0);
  gtk_label_set_single_line_mode(GTK_LABEL(w.label), TRUE);
  Place(fixed, w.label, layout.label);

  w.progress = gtk_progress_bar_new();
  Place(fixed, w.progress, layout.progressBar);
  SetProgress(layout.progressMin, layout.progressMax, layout.progressPosition);

  gtk_widget_show_all(fixed);
}

WindowHandle GtkUi::Handle() const { return m_widgets->window; }

void GtkUi::ShowCentred() {
  gtk_window_set_position(GTK_WINDOW(m_widgets->window), GTK_WIN_POS_CENTER);
  gtk_widget_show(m_widgets->window);
}

void GtkUi::SetCaption(const std::string& text) { gtk_window_set_title(GTK_WINDOW(m_widgets->window), text.c_str()); }

std::string GtkUi::Caption() const {
  const char* title = gtk_window_get_title(GTK_WINDOW(m_widgets->window));
  return title != nullptr ? title : "";
}

// The task bar groups and names the window by its program class. A window copies the class when it is created
// and hands it to the system when it is realized, so a title set in between (the caption of six arguments)
// goes to the window itself; GTK 3's only call for that is a deprecated one, which works until the window is
// realized.
void GtkUi::SetApplicationTitle(const std::string& text) {
  gdk_set_program_class(text.c_str());
  if (m_widgets->window == nullptr) return;
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_window_set_wmclass(GTK_WINDOW(m_widgets->window), g_get_prgname(), text.c_str());
  G_GNUC_END_IGNORE_DEPRECATIONS
}

void GtkUi::SetLabelText(const std::string& text) { gtk_label_set_text(GTK_LABEL(m_widgets->label), text.c_str()); }

void GtkUi::SetProgress(int minimum, int maximum, int position) {
  const double span = static_cast<double>(maximum) - minimum;
  // GTK holds the fraction in 0..1 itself, which shows a position outside the range clamped.
  const double fraction = span > 0 ? (static_cast<double>(position) - minimum) / span : 0.0;
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(m_widgets->progress), fraction);
}

void GtkUi::SetTimer(int intervalMilliseconds) {
  if (m_timerSource != 0) {
    g_source_remove(m_timerSource);
    m_timerSource = 0;
  }
  if (intervalMilliseconds > 0) {
    // Low priority: a tick comes only when no other event is pending.
    m_timerSource = g_timeout_add_full(G_PRIORITY_LOW, static_cast<guint>(intervalMilliseconds), OnTick, this,
                                       nullptr);
  }
}

void GtkUi::RunMessageLoop() {
  while (!m_terminateRequested) {
    g_main_context_iteration(nullptr, TRUE);
    m_listenerException.RaisePending();
  }
}

void GtkUi::Terminate() {
  m_terminateRequested = true;
  // Wake a loop that is waiting for events, so that it sees the request at its next turn.
  g_main_context_wakeup(nullptr);
}

int GtkUi::RunDialog(WindowHandle owner, int messageType, int buttons, const std::string& text,
                     const std::string& caption) {
  GtkWidget* dialog = gtk_message_dialog_new(owner != nullptr ? GTK_WINDOW(owner) : nullptr, GTK_DIALOG_MODAL,
                                             static_cast<GtkMessageType>(messageType),
                                             static_cast<GtkButtonsType>(buttons), "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), caption.c_str());
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  const int response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  return response;
}

void GtkUi::ShowMessage(WindowHandle owner, const std::string& text, const std::string& caption,
                        MessageIcon icon) {
  RunDialog(owner, icon == MessageIcon::Information ? GTK_MESSAGE_INFO : GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, text,
            caption);
}

bool GtkUi::ConfirmYesNo(WindowHandle owner, const std::string& text, const std::string& caption) {
  return RunDialog(owner, GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO, text, caption) == GTK_RESPONSE_YES;
}

void GtkUi::ProcessMessages() {
  while (g_main_context_pending(nullptr)) {
    g_main_context_iteration(nullptr, FALSE);
    m_listenerException.RaisePending();
  }
}

bool GtkUi::PeekMessage() { return g_main_context_pending(nullptr) != FALSE; }

void GtkUi::HandleOneMessage() {
  g_main_context_iteration(nullptr, FALSE);
  m_listenerException.RaisePending();
}

}  // namespace platform
