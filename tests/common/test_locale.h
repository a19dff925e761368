// A real regional locale for tests that need one: compiled once per test
// program with localedef into a temporary folder that LOCPATH then names.
#pragma once

#include <string>

namespace velquarn::testing {

// The name to give setlocale for the German locale (decimal comma, date
// "%d.%m.%Y"), or an empty string when localedef or its sources are missing.
const std::string& GermanLocale();

// Sets one locale category for the scope and restores the previous one.
class TScopedLocale {
 public:
  TScopedLocale(int category, const std::string& name);
  TScopedLocale(const TScopedLocale&) = delete;
  TScopedLocale& operator=(const TScopedLocale&) = delete;
  ~TScopedLocale();
  bool Ok() const { return ok_; }

 private:
  int category_;
  std::string saved_;
  bool ok_;
};

}  // namespace velquarn::testing
