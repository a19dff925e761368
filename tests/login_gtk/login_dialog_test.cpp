#include "login_gtk/login_dialog.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "common/string_list.h"
#include "dataset/database.h"
#include "dataset/login_prompt.h"
#include "dataset/sql_driver.h"
#include "login_gtk/login_form.h"

extern char** environ;

// fontconfig keeps its caches until the process ends; that is not a leak of
// the dialog's.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace velquarn {
namespace {

// Set in the child process of the no-display test: no X server there.
constexpr char kHeadlessChild[] = "VELQUARN_LOGIN_TEST_HEADLESS";

// Gives the tests a display: the caller's DISPLAY when set, otherwise a
// private Xvfb that this process starts and stops.
class XServer : public ::testing::Environment {
 public:
  void SetUp() override {
    // No accessibility bus in tests: it needs a session bus and keeps
    // allocations of its own for the life of the process.
    setenv("NO_AT_BRIDGE", "1", 1);
    const char* display = std::getenv("DISPLAY");
    if (std::getenv(kHeadlessChild) != nullptr || (display != nullptr && *display != '\0')) {
      return;
    }
    int fds[2];
    if (pipe(fds) != 0) {
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24", "-nolisten",
             "tcp", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    // Xvfb writes its display number to the descriptor once it accepts
    // clients; end of file means it did not start.
    std::string number;
    char c;
    while (pid_ > 0 && read(fds[0], &c, 1) == 1 && c != '\n') {
      number += c;
    }
    close(fds[0]);
    if (!number.empty()) {
      setenv("DISPLAY", (":" + number).c_str(), 1);
    }
  }

  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

 private:
  pid_t pid_ = -1;
};

const auto* const kXServer = ::testing::AddGlobalTestEnvironment(new XServer);

bool DisplayAvailable() { return gtk_init_check(nullptr, nullptr) != FALSE; }

// Runs the window's pending work until it is mapped, laid out and drawn.
void WaitUntilDrawn(TcsLoginForm& form) {
  for (int i = 0; i < 200 && !gtk_widget_get_mapped(GTK_WIDGET(form.Window())); ++i) {
    while (gtk_events_pending()) {
      gtk_main_iteration();
    }
    gdk_display_sync(gdk_display_get_default());
    g_usleep(5000);
  }
  for (int i = 0; i < 10; ++i) {
    while (gtk_events_pending()) {
      gtk_main_iteration();
    }
    g_usleep(5000);
  }
}

// Keeps a picture of the dialog for people to look at, when asked to.
void SaveScreenshot(TcsLoginForm& form) {
  const char* path = std::getenv("VELQUARN_LOGIN_SCREENSHOT");
  if (path == nullptr) {
    return;
  }
  GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(form.Window()));
  GdkPixbuf* shot = gdk_pixbuf_get_from_window(window, 0, 0, gdk_window_get_width(window),
                                               gdk_window_get_height(window));
  ASSERT_NE(shot, nullptr);
  EXPECT_TRUE(gdk_pixbuf_save(shot, path, "png", nullptr, nullptr));
  g_object_unref(shot);
}

// Delivers a key press to the form as the window system would. Synthetic X
// events are not taken by GDK's XInput2 handling, so the event is handed to
// GTK directly, with the hardware keycode its key bindings look up.
void PressKey(TcsLoginForm& form, guint keyval) {
  GdkDisplay* display = gdk_display_get_default();
  GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
  event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(GTK_WIDGET(form.Window()))));
  event->key.send_event = TRUE;
  event->key.time = GDK_CURRENT_TIME;
  event->key.keyval = keyval;
  GdkKeymapKey* keys = nullptr;
  gint count = 0;
  if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys,
                                        &count)) {
    event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
    event->key.group = static_cast<guint8>(keys[0].group);
    g_free(keys);
  }
  gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
  gtk_main_do_event(event);
  gdk_event_free(event);
}

struct Box {
  int x, y, width, height;
};

Box PlaceIn(GtkWidget* widget, GtkWidget* ancestor) {
  GtkAllocation allocation;
  gtk_widget_get_allocation(widget, &allocation);
  int x = 0;
  int y = 0;
  gtk_widget_translate_coordinates(widget, ancestor, 0, 0, &x, &y);
  return {x, y, allocation.width, allocation.height};
}

// Which of the form's controls has the focus, by name.
std::string Focused(TcsLoginForm& form) {
  GtkWidget* focus = gtk_window_get_focus(form.Window());
  if (focus == GTK_WIDGET(form.edServer())) return "server";
  if (focus == GTK_WIDGET(form.edDatabase())) return "database";
  if (focus == GTK_WIDGET(form.edUser())) return "user";
  if (focus == GTK_WIDGET(form.edPassword())) return "password";
  if (focus == GTK_WIDGET(form.OkButton())) return "ok";
  if (focus == GTK_WIDGET(form.CancelButton())) return "cancel";
  return "other";
}

class LoginDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DisplayAvailable()) {
      GTEST_SKIP() << "no DISPLAY and no Xvfb";
    }
    params_.Add("Driver=SQLite3");
    params_.Add("DBQ=/srv/sales.db");
    params_.Add("UID=anna");
    params_.Add("PWD=s3cret");
  }
  void TearDown() override {
    TcsLoginForm::SetShownHook(nullptr);
    SetLoginPrompt(nullptr);
  }

  TStringList params_;
};

TEST_F(LoginDialog, ShowsParamsMaskedAndOkWritesThemBack) {
  InstallLoginDialog();
  bool hook_ran = false;
  TcsLoginForm::SetShownHook([&](TcsLoginForm& form) {
    hook_ran = true;
    EXPECT_STREQ(gtk_window_get_title(form.Window()), "Login");
    EXPECT_STREQ(gtk_frame_get_label(form.GroupBox()), "Database login");
    EXPECT_EQ(form.DatabaseName(), "sales");
    EXPECT_STREQ(gtk_entry_get_text(form.edServer()), "");
    EXPECT_STREQ(gtk_entry_get_text(form.edDatabase()), "/srv/sales.db");
    EXPECT_STREQ(gtk_entry_get_text(form.edUser()), "anna");
    EXPECT_STREQ(gtk_entry_get_text(form.edPassword()), "s3cret");
    EXPECT_FALSE(gtk_entry_get_visibility(form.edPassword()));
    EXPECT_EQ(gtk_entry_get_invisible_char(form.edPassword()), static_cast<gunichar>('*'));
    EXPECT_TRUE(gtk_entry_get_visibility(form.edUser()));
    WaitUntilDrawn(form);
    SaveScreenshot(form);
    form.ClickOK();
  });

  ASSERT_TRUE(ShowLoginPrompt("sales", params_));

  EXPECT_TRUE(hook_ran);
  EXPECT_EQ(params_.Text(),
            "Driver=SQLite3\r\nDBQ=/srv/sales.db\r\nUID=anna\r\nPWD=s3cret\r\n"
            "Server=\r\n");
}

TEST_F(LoginDialog, OkStoresEditedValuesAndAnEmptyUserId) {
  TcsLoginForm::SetShownHook([](TcsLoginForm& form) {
    gtk_entry_set_text(form.edServer(), "db1.example");
    gtk_entry_set_text(form.edUser(), "");
    gtk_entry_set_text(form.edPassword(), "other");
    form.ClickOK();
  });

  ASSERT_TRUE(ShowLogin("sales", params_));

  EXPECT_EQ(params_.Text(),
            "Driver=SQLite3\r\nDBQ=/srv/sales.db\r\nUID=\r\nPWD=other\r\n"
            "Server=db1.example\r\n");
}

TEST_F(LoginDialog, CancelEscapeAndCloseLeaveParamsUnchanged) {
  const std::string before = params_.Text();
  for (auto answer : {&TcsLoginForm::ClickCancel, &TcsLoginForm::CloseWindow}) {
    TcsLoginForm::SetShownHook([answer](TcsLoginForm& form) {
      gtk_entry_set_text(form.edUser(), "mallory");
      (form.*answer)();
    });
    EXPECT_FALSE(ShowLogin("sales", params_));
    EXPECT_EQ(params_.Text(), before);
  }

  TcsLoginForm::SetShownHook([](TcsLoginForm& form) {
    gtk_entry_set_text(form.edUser(), "mallory");
    WaitUntilDrawn(form);
    gtk_widget_grab_focus(GTK_WIDGET(form.edUser()));
    PressKey(form, GDK_KEY_Escape);
  });
  EXPECT_FALSE(ShowLogin("sales", params_));
  EXPECT_EQ(params_.Text(), before);
}

TEST_F(LoginDialog, EnterInAnEditPressesTheDefaultButton) {
  TcsLoginForm::SetShownHook([](TcsLoginForm& form) {
    EXPECT_EQ(gtk_window_get_default_widget(form.Window()), GTK_WIDGET(form.OkButton()));
    gtk_entry_set_text(form.edUser(), "bert");
    WaitUntilDrawn(form);
    gtk_widget_grab_focus(GTK_WIDGET(form.edPassword()));
    PressKey(form, GDK_KEY_Return);
  });

  ASSERT_TRUE(ShowLogin("sales", params_));
  EXPECT_EQ(params_.Values("UID"), "bert");
}

TEST_F(LoginDialog, LayoutAndTabOrderFollowTheForm) {
  TcsLoginForm::SetShownHook([](TcsLoginForm& form) {
    WaitUntilDrawn(form);
    GtkWidget* window = GTK_WIDGET(form.Window());
    int width = 0;
    int height = 0;
    gtk_window_get_size(form.Window(), &width, &height);
    EXPECT_EQ(width, TcsLoginForm::kWidth);
    EXPECT_EQ(height, TcsLoginForm::kHeight);
    EXPECT_FALSE(gtk_window_get_resizable(form.Window()));

    Box ok = PlaceIn(GTK_WIDGET(form.OkButton()), window);
    Box cancel = PlaceIn(GTK_WIDGET(form.CancelButton()), window);
    EXPECT_EQ((std::vector<int>{ok.x, ok.y, ok.width, ok.height}),
              (std::vector<int>{100, 148, 75, 25}));
    EXPECT_EQ((std::vector<int>{cancel.x, cancel.y, cancel.width, cancel.height}),
              (std::vector<int>{184, 148, 75, 25}));

    // The edits sit at x 104 of the group box, 24 pixels apart, 121 wide,
    // each below the one before and all inside the group box.
    GtkWidget* group = GTK_WIDGET(form.GroupBox());
    Box group_box = PlaceIn(group, window);
    GtkEntry* edits[] = {form.edServer(), form.edDatabase(), form.edUser(), form.edPassword()};
    int previous_bottom = 0;
    Box first = PlaceIn(GTK_WIDGET(edits[0]), window);
    for (int i = 0; i < 4; ++i) {
      Box edit = PlaceIn(GTK_WIDGET(edits[i]), window);
      EXPECT_EQ(edit.width, 121) << i;
      EXPECT_EQ(edit.x, first.x) << i;
      EXPECT_EQ(edit.y - first.y, 24 * i) << i;
      EXPECT_GE(edit.y, previous_bottom) << i;
      EXPECT_LE(edit.y + edit.height, group_box.y + group_box.height) << i;
      previous_bottom = edit.y + edit.height;
    }
    EXPECT_LE(previous_bottom, ok.y);

    // No label runs under its edit.
    GList* rows = gtk_container_get_children(GTK_CONTAINER(gtk_bin_get_child(GTK_BIN(group))));
    int labels = 0;
    for (GList* item = rows; item != nullptr; item = item->next) {
      if (GTK_IS_LABEL(item->data)) {
        Box label = PlaceIn(GTK_WIDGET(item->data), window);
        EXPECT_LE(label.x + label.width, first.x) << gtk_label_get_text(GTK_LABEL(item->data));
        ++labels;
      }
    }
    g_list_free(rows);
    EXPECT_EQ(labels, 4);

    gtk_widget_grab_focus(GTK_WIDGET(form.edServer()));
    std::vector<std::string> order{Focused(form)};
    for (int i = 0; i < 5; ++i) {
      gtk_widget_child_focus(window, GTK_DIR_TAB_FORWARD);
      order.push_back(Focused(form));
    }
    EXPECT_EQ(order,
              (std::vector<std::string>{"server", "database", "user", "password", "ok", "cancel"}));
    form.ClickCancel();
  });

  EXPECT_FALSE(ShowLogin("sales", params_));
}

// A driver that only remembers the parameters it connected with: the
// database's side of the prompt is what is under test here.
class ParamsRecordingDriver : public TcsCustomSQLDriver {
 public:
  explicit ParamsRecordingDriver(std::string& seen) : seen_(seen) {}
  void Disconnect() override {}
  void Connect() override { seen_ = Database()->Params().Text(); }
  void ControlTransaction(int) override {}
  bool InTransaction() override { return false; }
  void GetIndexFields(const std::string&, const std::string&, TStringList&) override {}
  void GetIndexNames(const std::string&, TStringList&) override {}
  void GetTableNames(const std::string&, const std::string&, TStringList&, bool, bool) override {}
  void GetDatabaseNames(TStringList&) override {}
  int ExecSQL(const std::string&, TParams*, TcsDataset*) override { return 0; }
  bool FetchRecord(TRecordSink&, char*) override { return false; }
  void ReleaseConnection(TConnectionHandle*& connection, bool) override { connection = nullptr; }
  TConnectionHandle* AcquireConnection() override { return nullptr; }

 private:
  std::string& seen_;
};

TEST_F(LoginDialog, DatabaseConnectsWithTheAnswersOrAbortsOnCancel) {
  InstallLoginDialog();
  std::string seen;
  TcsCustomDatabase db;
  db.SetDriver(std::make_unique<ParamsRecordingDriver>(seen));
  db.SetParams(params_);
  ASSERT_TRUE(db.LoginPrompt());

  TcsLoginForm::SetShownHook([](TcsLoginForm& form) {
    gtk_entry_set_text(form.edUser(), "bert");
    form.ClickCancel();
  });
  EXPECT_THROW(db.Open(), EAbort);
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(seen, "");

  TcsLoginForm::SetShownHook([](TcsLoginForm& form) {
    gtk_entry_set_text(form.edUser(), "bert");
    form.ClickOK();
  });
  db.Open();
  EXPECT_TRUE(db.Connected());
  EXPECT_EQ(seen, "Driver=SQLite3\r\nDBQ=/srv/sales.db\r\nUID=bert\r\nPWD=s3cret\r\nServer=\r\n");
}

// gtk_init cannot be undone, so the case without a display runs in a child
// process of this program with DISPLAY removed.
TEST(LoginDialogHeadless, WithoutDisplayAnswersCancelled) {
  if (std::getenv(kHeadlessChild) != nullptr) {
    TStringList params;
    params.Add("UID=anna");
    EXPECT_FALSE(ShowLogin("sales", params));
    EXPECT_EQ(params.Text(), "UID=anna\r\n");
    return;
  }
  std::vector<std::string> env_text;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string line = *entry;
    if (line.rfind("DISPLAY=", 0) != 0 && line.rfind("WAYLAND_DISPLAY=", 0) != 0) {
      env_text.push_back(line);
    }
  }
  env_text.push_back(std::string(kHeadlessChild) + "=1");
  env_text.push_back("WAYLAND_DISPLAY=velquarn-no-such-display");
  std::vector<char*> env;
  for (auto& line : env_text) env.push_back(line.data());
  env.push_back(nullptr);
  std::string filter = "--gtest_filter=LoginDialogHeadless.WithoutDisplayAnswersCancelled";
  char exe[] = "/proc/self/exe";
  char* argv[] = {exe, filter.data(), nullptr};
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, exe, nullptr, nullptr, argv, env.data()), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace velquarn
