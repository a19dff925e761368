#include "test_locale.h"

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace velquarn::testing {

namespace {

class TLocaleFolder {
 public:
  TLocaleFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "velquarn-locale-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    folder_ = pattern;
    const std::string command =
        "localedef -i de_DE -f UTF-8 '" + folder_ + "/de_DE.UTF-8' >/dev/null 2>&1";
    // localedef reports warnings with exit status 1 while still writing the
    // locale; whether setlocale accepts it is the real test.
    std::system(command.c_str());
    setenv("LOCPATH", folder_.c_str(), 1);
    const std::string saved = setlocale(LC_NUMERIC, nullptr);
    if (setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr) name_ = "de_DE.UTF-8";
    setlocale(LC_NUMERIC, saved.c_str());
  }
  ~TLocaleFolder() {
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }
  const std::string& Name() const { return name_; }

 private:
  std::string folder_;
  std::string name_;
};

}  // namespace

const std::string& GermanLocale() {
  static const TLocaleFolder folder;
  return folder.Name();
}

TScopedLocale::TScopedLocale(int category, const std::string& name)
    : category_(category), saved_(setlocale(category, nullptr)) {
  ok_ = !name.empty() && setlocale(category, name.c_str()) != nullptr;
}

TScopedLocale::~TScopedLocale() { setlocale(category_, saved_.c_str()); }

}  // namespace velquarn::testing
