#include "login_gtk/login_dialog.h"

#include <gtk/gtk.h>

#include "dataset/login_prompt.h"
#include "login_gtk/login_form.h"

namespace velquarn {

void InstallLoginDialog() { SetLoginPrompt(&ShowLogin); }

bool ShowLogin(const std::string& database_name, TStringList& params) {
  // No display (a session without X or Wayland): nobody can answer, which
  // counts as cancelled.
  if (!gtk_init_check(nullptr, nullptr)) {
    return false;
  }
  TcsLoginForm form(database_name);
  form.LoadParams(params);
  if (!form.ShowModal()) {
    return false;
  }
  form.StoreParams(params);
  return true;
}

}  // namespace velquarn
