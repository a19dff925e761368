// TcsLoginForm: the modal "Login" dialog, built with GTK 3.
//
// Layout (pixels, client area 282 x 217, fixed size, centred): a group
// "Database login" holding the labels "Server name:", "Database name:",
// "User id:" and "Password:" at x 16 and their edits at x 104 (121 wide) on
// rows y 20, 44, 68 and 92; the password edit masks with "*". Buttons "OK"
// (100, 148; the default button) and "Cancel" (184, 148; also Escape), both
// 75 x 25. Tab order: the four edits, OK, Cancel.
//
// Thread-safety: GTK objects; an instance is used only by the thread that
// initialised GTK.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

namespace velquarn {

class TStringList;

class TcsLoginForm {
 public:
  static constexpr int kWidth = 282;
  static constexpr int kHeight = 217;

  // Builds the hidden form for the named database.
  // REQUIRES: GTK is initialised (gtk_init_check returned true).
  explicit TcsLoginForm(std::string database_name);
  TcsLoginForm(const TcsLoginForm&) = delete;
  TcsLoginForm& operator=(const TcsLoginForm&) = delete;
  ~TcsLoginForm();  // destroys the window

  // Fills the edits from "Server", "DBQ", "UID" and "PWD"; a missing key
  // gives an empty edit.
  void LoadParams(const TStringList& params);
  // Writes the four edits back under the same keys. A missing key is added;
  // an empty edit is stored as an empty value ("UID="), not removed.
  void StoreParams(TStringList& params) const;

  // Shows the form modally until "OK", "Cancel", Escape or the window is
  // closed; true for "OK". The shown hook, if set, runs once inside the
  // modal loop after the form is shown.
  bool ShowModal();

  // Presses a button or closes the window as a user would; meant for the
  // shown hook. Each ends the modal loop.
  void ClickOK();
  void ClickCancel();
  void CloseWindow();

  // A callback run inside ShowModal once the form is shown, so that a
  // program without a user (a test) can read the edits and press a button.
  // Null removes it.
  using TShownHook = std::function<void(TcsLoginForm&)>;
  static void SetShownHook(TShownHook hook);

  const std::string& DatabaseName() const { return database_name_; }
  GtkWindow* Window() const { return GTK_WINDOW(window_); }
  GtkFrame* GroupBox() const { return GTK_FRAME(group_); }
  GtkEntry* edServer() const { return GTK_ENTRY(ed_server_); }
  GtkEntry* edDatabase() const { return GTK_ENTRY(ed_database_); }
  GtkEntry* edUser() const { return GTK_ENTRY(ed_user_); }
  GtkEntry* edPassword() const { return GTK_ENTRY(ed_password_); }
  GtkButton* OkButton() const { return GTK_BUTTON(ok_); }
  GtkButton* CancelButton() const { return GTK_BUTTON(cancel_); }

 private:
  enum class Result { kNone, kOK, kCancel };

  static void OnOkClicked(GtkButton* button, gpointer self);
  static void OnCancelClicked(GtkButton* button, gpointer self);
  static gboolean OnDeleteEvent(GtkWidget* widget, GdkEvent* event, gpointer self);
  static gboolean OnKeyPress(GtkWidget* widget, GdkEventKey* event, gpointer self);
  static gboolean RunShownHook(gpointer self);
  void Finish(Result result);

  std::string database_name_;
  GtkWidget* window_ = nullptr;  // owned: a toplevel, destroyed by ~TcsLoginForm
  GtkWidget* group_ = nullptr;   // the widgets below belong to window_
  GtkWidget* ed_server_ = nullptr;
  GtkWidget* ed_database_ = nullptr;
  GtkWidget* ed_user_ = nullptr;
  GtkWidget* ed_password_ = nullptr;
  GtkWidget* ok_ = nullptr;
  GtkWidget* cancel_ = nullptr;
  GMainLoop* loop_ = nullptr;  // set while ShowModal runs
  Result result_ = Result::kNone;
};

}  // namespace velquarn
