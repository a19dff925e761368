// The login prompt that a database component with LoginPrompt set shows
// before it connects. The default answers "cancelled" (a service never
// prompts); a desktop program installs the dialog with SetLoginPrompt.
#pragma once

#include <string>

namespace velquarn {

class TStringList;

// Shows the prompt pre-filled from params "Server", "DBQ", "UID" and "PWD";
// on OK writes them back and returns true; on cancel leaves params unchanged
// and returns false.
using TLoginPromptFunc = bool (*)(const std::string& database_name, TStringList& params);

void SetLoginPrompt(TLoginPromptFunc prompt);  // null restores the default
bool ShowLoginPrompt(const std::string& database_name, TStringList& params);

}  // namespace velquarn
