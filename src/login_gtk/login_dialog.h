// The desktop login dialog for database components with LoginPrompt set.
// Start here: a desktop program calls InstallLoginDialog() once, after which
// every database that prompts shows TcsLoginForm (login_form.h). The service
// never links this library, so its databases keep the headless answer
// "cancelled".
//
// GTK is single-threaded: call these from the thread that runs GTK, normally
// the program's main thread.
#pragma once

#include <string>

namespace velquarn {

class TStringList;

// Makes ShowLogin the process's login prompt (SetLoginPrompt).
void InstallLoginDialog();

// Shows the login dialog for a database, pre-filled from params "Server",
// "DBQ", "UID" and "PWD". On "OK" the four edits are written back under the
// same keys (missing keys are added, empty values kept as "KEY=") and the
// result is true. Cancel, Escape or closing the window leave params
// unchanged and return false; so does a process without a display, where
// GTK cannot start.
bool ShowLogin(const std::string& database_name, TStringList& params);

}  // namespace velquarn
