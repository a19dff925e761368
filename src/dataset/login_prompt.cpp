#include "dataset/login_prompt.h"

#include <atomic>

namespace velquarn {

namespace {

bool HeadlessPrompt(const std::string&, TStringList&) { return false; }

std::atomic<TLoginPromptFunc> g_prompt{&HeadlessPrompt};

}  // namespace

void SetLoginPrompt(TLoginPromptFunc prompt) {
  g_prompt.store(prompt != nullptr ? prompt : &HeadlessPrompt);
}

bool ShowLoginPrompt(const std::string& database_name, TStringList& params) {
  return g_prompt.load()(database_name, params);
}

}  // namespace velquarn
