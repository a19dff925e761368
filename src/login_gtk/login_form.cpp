#include "login_gtk/login_form.h"

#include <utility>

#include "common/string_list.h"

namespace velquarn {

namespace {

// The layout is in fixed pixel positions, so the theme's font size and its
// generous entry and button padding would push the rows into each other.
// The row labels get 88 pixels before their edits; at 8 points the common
// sans faces need a condensed cut for "Database name:" to fit.
// The styles apply to this form's widgets only, never to the whole screen:
// the dialog lives inside programs with their own look.
constexpr char kFormCss[] =
    "* { font-family: Sans; font-size: 8pt; }\n"
    "label.row { font-stretch: condensed; }\n"
    "entry { min-height: 17px; padding-top: 1px; padding-bottom: 1px; }\n"
    "button { min-height: 0; padding: 1px 4px; }\n";

constexpr int kGroupLeft = 8;
constexpr int kGroupTop = 8;
constexpr int kGroupWidth = 266;
constexpr int kGroupHeight = 130;
constexpr int kLabelLeft = 16;
constexpr int kEditLeft = 104;
constexpr int kEditWidth = 121;
constexpr int kEditHeight = 21;
constexpr int kButtonTop = 148;
constexpr int kOkLeft = 100;
constexpr int kCancelLeft = 184;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

constexpr char kServerKey[] = "Server";
constexpr char kDatabaseKey[] = "DBQ";
constexpr char kUserKey[] = "UID";
constexpr char kPasswordKey[] = "PWD";

TcsLoginForm::TShownHook& ShownHook() {
  static TcsLoginForm::TShownHook hook;
  return hook;
}

void ApplyStyle(GtkWidget* widget, gpointer provider) {
  gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(provider),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  if (GTK_IS_CONTAINER(widget)) {
    gtk_container_forall(GTK_CONTAINER(widget), &ApplyStyle, provider);
  }
}

// Adds a label and its edit on one row of the group box.
GtkWidget* AddRow(GtkFixed* fixed, const char* caption, int top) {
  GtkWidget* label = gtk_label_new(caption);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_style_context_add_class(gtk_widget_get_style_context(label), "row");
  gtk_fixed_put(fixed, label, kLabelLeft, top + 3);
  GtkWidget* edit = gtk_entry_new();
  gtk_widget_set_size_request(edit, kEditWidth, kEditHeight);
  gtk_entry_set_width_chars(GTK_ENTRY(edit), 1);
  gtk_entry_set_activates_default(GTK_ENTRY(edit), TRUE);
  gtk_label_set_mnemonic_widget(GTK_LABEL(label), edit);
  gtk_fixed_put(fixed, edit, kEditLeft, top);
  return edit;
}

GtkWidget* AddButton(GtkFixed* fixed, const char* caption, int left) {
  GtkWidget* button = gtk_button_new_with_label(caption);
  gtk_widget_set_size_request(button, kButtonWidth, kButtonHeight);
  gtk_fixed_put(fixed, button, left, kButtonTop);
  return button;
}

// TStringList::SetValue removes the line for an empty value; the dialog must
// keep "UID=" when the user cleared the user id, so lines are written whole.
void StoreValue(TStringList& params, const char* key, const char* value) {
  std::string line = std::string(key) + "=" + value;
  int index = params.IndexOfName(key);
  if (index >= 0) {
    params.SetStrings(index, std::move(line));
  } else {
    params.Add(std::move(line));
  }
}

}  // namespace

TcsLoginForm::TcsLoginForm(std::string database_name) : database_name_(std::move(database_name)) {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  // The form is a toplevel we destroy ourselves; keep our reference even if
  // something else destroys it first.
  g_object_ref_sink(window_);
  gtk_window_set_title(GTK_WINDOW(window_), "Login");
  gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_modal(GTK_WINDOW(window_), TRUE);
  gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
  gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(window_), kWidth, kHeight);

  GtkWidget* form = gtk_fixed_new();
  gtk_widget_set_size_request(form, kWidth, kHeight);
  gtk_container_add(GTK_CONTAINER(window_), form);

  group_ = gtk_frame_new("Database login");
  gtk_widget_set_size_request(group_, kGroupWidth, kGroupHeight);
  gtk_fixed_put(GTK_FIXED(form), group_, kGroupLeft, kGroupTop);
  GtkWidget* rows = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(group_), rows);

  // Rows are added top to bottom and the buttons after them: GtkFixed keeps
  // insertion order and focus moves by position, which gives the tab order
  // edits, OK, Cancel.
  ed_server_ = AddRow(GTK_FIXED(rows), "Server name:", 20);
  ed_database_ = AddRow(GTK_FIXED(rows), "Database name:", 44);
  ed_user_ = AddRow(GTK_FIXED(rows), "User id:", 68);
  ed_password_ = AddRow(GTK_FIXED(rows), "Password:", 92);
  gtk_entry_set_visibility(GTK_ENTRY(ed_password_), FALSE);
  gtk_entry_set_invisible_char(GTK_ENTRY(ed_password_), '*');
  gtk_entry_set_input_purpose(GTK_ENTRY(ed_password_), GTK_INPUT_PURPOSE_PASSWORD);

  ok_ = AddButton(GTK_FIXED(form), "OK", kOkLeft);
  cancel_ = AddButton(GTK_FIXED(form), "Cancel", kCancelLeft);
  gtk_widget_set_can_default(ok_, TRUE);
  gtk_window_set_default(GTK_WINDOW(window_), ok_);

  g_signal_connect(ok_, "clicked", G_CALLBACK(&TcsLoginForm::OnOkClicked), this);
  g_signal_connect(cancel_, "clicked", G_CALLBACK(&TcsLoginForm::OnCancelClicked), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(&TcsLoginForm::OnDeleteEvent), this);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(&TcsLoginForm::OnKeyPress), this);

  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, kFormCss, -1, nullptr);
  ApplyStyle(window_, css);
  g_object_unref(css);

  gtk_widget_show_all(form);
  gtk_widget_grab_focus(ed_server_);
}

TcsLoginForm::~TcsLoginForm() {
  g_signal_handlers_disconnect_by_data(window_, this);
  gtk_widget_destroy(window_);
  g_object_unref(window_);
  // Let the window server see the window go even when the program runs no
  // GTK main loop of its own.
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

void TcsLoginForm::LoadParams(const TStringList& params) {
  gtk_entry_set_text(edServer(), params.Values(kServerKey).c_str());
  gtk_entry_set_text(edDatabase(), params.Values(kDatabaseKey).c_str());
  gtk_entry_set_text(edUser(), params.Values(kUserKey).c_str());
  gtk_entry_set_text(edPassword(), params.Values(kPasswordKey).c_str());
}

void TcsLoginForm::StoreParams(TStringList& params) const {
  StoreValue(params, kServerKey, gtk_entry_get_text(edServer()));
  StoreValue(params, kDatabaseKey, gtk_entry_get_text(edDatabase()));
  StoreValue(params, kUserKey, gtk_entry_get_text(edUser()));
  StoreValue(params, kPasswordKey, gtk_entry_get_text(edPassword()));
}

bool TcsLoginForm::ShowModal() {
  result_ = Result::kNone;
  loop_ = g_main_loop_new(nullptr, FALSE);
  gtk_widget_show(window_);
  guint hook_source = 0;
  if (ShownHook()) {
    hook_source = g_idle_add(&TcsLoginForm::RunShownHook, this);
  }
  g_main_loop_run(loop_);
  // The loop can end before the idle ran (a real click at once): never let
  // the hook fire later with a form that is gone.
  if (hook_source != 0) {
    GSource* source = g_main_context_find_source_by_id(nullptr, hook_source);
    if (source != nullptr && !g_source_is_destroyed(source)) {
      g_source_destroy(source);
    }
  }
  g_main_loop_unref(loop_);
  loop_ = nullptr;
  gtk_widget_hide(window_);
  return result_ == Result::kOK;
}

void TcsLoginForm::ClickOK() { gtk_button_clicked(OkButton()); }

void TcsLoginForm::ClickCancel() { gtk_button_clicked(CancelButton()); }

void TcsLoginForm::CloseWindow() {
  // The same path as the window manager's close button.
  GdkEvent* event = gdk_event_new(GDK_DELETE);
  GdkWindow* gdk_window = gtk_widget_get_window(window_);
  event->any.window = gdk_window != nullptr ? GDK_WINDOW(g_object_ref(gdk_window)) : nullptr;
  event->any.send_event = TRUE;
  gtk_main_do_event(event);
  gdk_event_free(event);
}

void TcsLoginForm::SetShownHook(TShownHook hook) { ShownHook() = std::move(hook); }

void TcsLoginForm::OnOkClicked(GtkButton*, gpointer self) {
  static_cast<TcsLoginForm*>(self)->Finish(Result::kOK);
}

void TcsLoginForm::OnCancelClicked(GtkButton*, gpointer self) {
  static_cast<TcsLoginForm*>(self)->Finish(Result::kCancel);
}

gboolean TcsLoginForm::OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
  static_cast<TcsLoginForm*>(self)->Finish(Result::kCancel);
  return TRUE;  // keep the window: the destructor destroys it
}

gboolean TcsLoginForm::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer self) {
  if (event->keyval != GDK_KEY_Escape) {
    return FALSE;
  }
  static_cast<TcsLoginForm*>(self)->ClickCancel();
  return TRUE;
}

gboolean TcsLoginForm::RunShownHook(gpointer self) {
  auto* form = static_cast<TcsLoginForm*>(self);
  TShownHook hook = ShownHook();
  if (hook) {
    hook(*form);
  }
  return G_SOURCE_REMOVE;
}

void TcsLoginForm::Finish(Result result) {
  if (result_ != Result::kNone) {
    return;
  }
  result_ = result;
  if (loop_ != nullptr) {
    g_main_loop_quit(loop_);
  }
}

}  // namespace velquarn
