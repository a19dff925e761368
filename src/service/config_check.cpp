#include "service/config_check.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <exception>
#include <ostream>
#include <span>

#include "commands/open_commands.h"
#include "commands/password_scramble.h"
#include "common/exceptions.h"
#include "common/ini_file.h"
#include "common/text.h"
#include "odbc/odbc_database.h"
#include "odbc/odbc_sources.h"
#include "service/metrics_address.h"
#include "service/settings_keys.h"

namespace velquarn {

namespace {

constexpr int kDefaultLoginTimeout = 30;

// A name this close to a known one is taken for a misspelling of it.
size_t SuggestionLimit(std::string_view name) { return std::max<size_t>(2, name.size() / 4); }

std::string NearestKey(std::span<const TSettingKey> keys, std::string_view name) {
  std::string_view best;
  size_t best_distance = SuggestionLimit(name) + 1;
  for (const TSettingKey& key : keys) {
    const size_t distance = NameDistance(key.Name, name);
    if (distance < best_distance) {
      best = key.Name;
      best_distance = distance;
    }
  }
  return std::string(best);
}

bool ContainsName(const std::vector<std::string>& names, std::string_view name) {
  return std::any_of(names.begin(), names.end(),
                     [name](const std::string& known) { return SameText(known, name); });
}

// The first line of an error text: driver messages may span lines.
std::string FirstLine(std::string_view text) {
  const size_t end = text.find_first_of("\r\n");
  return Trim(text.substr(0, end));
}

// Reads the file and section structure once; the checks add findings.
class TConfigChecker {
 public:
  TConfigChecker(const std::string& path, bool connect, bool ask_driver_manager)
      : path_(path), connect_(connect), ask_driver_manager_(ask_driver_manager) {}

  TConfigCheckResult Run() {
    try {
      config_.LoadFromText(TIniFile::ReadFileText(path_));
    } catch (const std::exception& error) {
      Add(0, std::string(error.what()) + " The service would start on its defaults.");
      return std::move(result_);
    }
    for (const TIniSkippedLine& skipped : config_.SkippedLines()) {
      Add(skipped.line, "\"" + skipped.text + "\" is ignored: not a [section] or key=value line" +
                            " inside a section");
    }
    CheckSections();
    std::stable_sort(
        result_.Findings.begin(), result_.Findings.end(),
        [](const TConfigFinding& a, const TConfigFinding& b) { return a.Line < b.Line; });
    return std::move(result_);
  }

 private:
  void Add(int line, std::string text) { result_.Findings.push_back({line, std::move(text)}); }

  void CheckSections() {
    const std::vector<TIniSectionLines> sections = config_.SectionLines();
    std::vector<const TIniSectionLines*> seen;
    for (const TIniSectionLines& section : sections) {
      auto first = std::find_if(seen.begin(), seen.end(), [&section](const TIniSectionLines* s) {
        return SameText(s->name, section.name);
      });
      if (first != seen.end()) {
        Add(section.line, Format("[%s] repeated: only the first, at line %d, is read",
                                 section.name.c_str(), (*first)->line));
        continue;
      }
      seen.push_back(&section);
      if (SameText(section.name, kSettingsSection)) {
        CheckKeys(section, SettingsKeys());
      } else if (SameText(section.name, kCustomDataSection)) {
        // CustomData is handed to clients as it stands.
      } else if (!CheckSectionName(section)) {
        ++result_.DatabaseSections;
        CheckKeys(section, DatabaseSectionKeys());
        CheckDatabaseSection(section);
      }
    }
  }

  // False, with a finding, when the name is a near miss of a known section:
  // its keys would then be taken for a database's.
  bool CheckSectionName(const TIniSectionLines& section) {
    for (std::string_view known : {kSettingsSection, kCustomDataSection}) {
      if (NameDistance(known, section.name) <= 2) {
        Add(section.line,
            Format("[%s] would be read as a database section; did you mean [%.*s]?",
                   section.name.c_str(), static_cast<int>(known.size()), known.data()));
        return true;
      }
    }
    return false;
  }

  void CheckKeys(const TIniSectionLines& section, std::span<const TSettingKey> keys) {
    std::vector<const TIniKeyLine*> seen;
    for (const TIniKeyLine& line : section.keys) {
      const std::string where = "[" + section.name + "] " + line.key;
      auto first = std::find_if(seen.begin(), seen.end(), [&line](const TIniKeyLine* k) {
        return SameText(k->key, line.key);
      });
      if (first != seen.end()) {
        Add(line.line, Format("%s repeated: only the first, at line %d, is read", where.c_str(),
                              (*first)->line));
        continue;
      }
      seen.push_back(&line);
      const TSettingKey* key = FindSettingKey(keys, line.key);
      if (key == nullptr) {
        const std::string nearest = NearestKey(keys, line.key);
        Add(line.line,
            where + ": unknown key" +
                (nearest.empty() ? std::string(", ignored") : "; did you mean " + nearest + "?"));
        continue;
      }
      CheckValue(line, *key, where);
    }
  }

  void CheckValue(const TIniKeyLine& line, const TSettingKey& key, const std::string& where) {
    if (key.Kind == TSettingKind::kText) return;
    if (key.Kind == TSettingKind::kAddress) {
      try {
        ParseMetricsAddress(line.value);
      } catch (const std::exception&) {
        Add(line.line, Format("%s=%s: not an IP address with a port; the service does not start",
                              where.c_str(), line.value.c_str()));
      }
      return;
    }
    if (key.Kind == TSettingKind::kLimit) {
      int32_t limit = 0;
      const std::string text = Trim(line.value);
      if (!text.empty() && (!TryStrToInt32(text, limit) || limit < key.Minimum)) {
        Add(line.line, Format("%s=%s: not a whole number from %d on; the service does not start",
                              where.c_str(), line.value.c_str(), key.Minimum));
      }
      return;
    }
    const std::string fallback = key.Default.empty() ? std::string("its default")
                                                     : "the default " + std::string(key.Default);
    int64_t value = 0;
    if (!TryStrToInt(line.value, value)) {
      Add(line.line, Format("%s=%s: not an integer; the service would use %s", where.c_str(),
                            line.value.c_str(), fallback.c_str()));
    } else if (key.Kind == TSettingKind::kPort && (value < 1 || value > 65535)) {
      Add(line.line, Format("%s=%s: outside 1..65535", where.c_str(), line.value.c_str()));
    } else if (key.Kind == TSettingKind::kPositive && value <= 0) {
      Add(line.line, Format("%s=%s: must be above 0; the service would use %s", where.c_str(),
                            line.value.c_str(), fallback.c_str()));
    }
  }

  // The value a section's key has when reading finds it, and its line.
  const TIniKeyLine* FindKey(const TIniSectionLines& section, std::string_view key) const {
    for (const TIniKeyLine& line : section.keys) {
      if (SameText(line.key, key)) return &line;
    }
    return nullptr;
  }

  void CheckDatabaseSection(const TIniSectionLines& section) {
    const TIniKeyLine* dsn = FindKey(section, "DSN");
    const TIniKeyLine* driver = FindKey(section, "DriverName");
    const std::string name = "[" + section.name + "]";
    const bool has_dsn = dsn != nullptr && !dsn->value.empty();
    const bool has_driver = driver != nullptr && !driver->value.empty();
    if (has_dsn) {
      if (const TODBCSources* sources = Sources(dsn->line);
          sources != nullptr && !ContainsName(sources->DataSources, dsn->value)) {
        Add(dsn->line, Format("%s DSN=%s: not a data source of the ODBC driver manager (odbc.ini)",
                              name.c_str(), dsn->value.c_str()));
      }
    } else if (has_driver) {
      CheckDriver(name, *driver);
    } else if (!DriverParamsNameTarget(section)) {
      Add(section.line, name + ": neither DSN nor DriverName is set; open cannot connect");
    }
    CheckCharset(name, FindKey(section, "Charset"));
    CheckPassword(name, FindKey(section, "Password"));
    if (connect_) Connect(section);
  }

  void CheckDriver(const std::string& name, const TIniKeyLine& driver) {
    // unixODBC also takes the path of a driver library in place of a name.
    if (driver.value.find('/') != std::string::npos) {
      if (::access(driver.value.c_str(), R_OK) != 0) {
        Add(driver.line,
            Format("%s DriverName=%s: no such driver library", name.c_str(), driver.value.c_str()));
      }
      return;
    }
    const TODBCSources* sources = Sources(driver.line);
    if (sources != nullptr && !ContainsName(sources->Drivers, driver.value)) {
      Add(driver.line, Format("%s DriverName=%s: not an installed ODBC driver (odbcinst.ini)",
                              name.c_str(), driver.value.c_str()));
    }
  }

  // DriverParams may name the data source or driver itself.
  bool DriverParamsNameTarget(const TIniSectionLines& section) const {
    const TIniKeyLine* params = FindKey(section, "DriverParams");
    if (params == nullptr) return false;
    for (const std::string& item : SplitDriverParams(params->value)) {
      const std::string key = Trim(std::string_view(item).substr(0, item.find('=')));
      if (SameText(key, "DSN") || SameText(key, "DRIVER") || SameText(key, "FILEDSN")) return true;
    }
    return false;
  }

  void CheckCharset(const std::string& name, const TIniKeyLine* charset) {
    if (charset == nullptr) return;
    const std::string value = Trim(charset->value);
    if (SameText(value, "UTF-8") || SameText(value, "UTF8") || SameText(value, "CP1252") ||
        SameText(value, "WINDOWS-1252")) {
      return;
    }
    Add(charset->line, Format("%s Charset=%s: unknown; the driver's text is taken as UTF-8",
                              name.c_str(), charset->value.c_str()));
  }

  // Every byte string unscrambles to something, so a password typed in
  // plain text shows only by what it unscrambles to: control characters,
  // which no password written by --scramble-password contains.
  void CheckPassword(const std::string& name, const TIniKeyLine* password) {
    if (password == nullptr || password->value.empty()) return;
    if (password->value.size() > kMaxScrambledPasswordBytes) {
      Add(password->line, Format("%s Password: longer than %zu bytes, so it cannot have been "
                                 "written by velquarn --scramble-password",
                                 name.c_str(), kMaxScrambledPasswordBytes));
      return;
    }
    const std::string plain = UnscramblePassword(password->value);
    const bool readable = std::none_of(plain.begin(), plain.end(), [](char c) {
      const auto byte = static_cast<unsigned char>(c);
      return byte < 0x20 || byte == 0x7F;
    });
    if (!readable) {
      Add(password->line, name +
                              " Password: does not unscramble to readable text; write the "
                              "value with velquarn --scramble-password");
    }
  }

  // The driver manager's lists, asked once; null (with one finding) when
  // the driver manager cannot be asked.
  const TODBCSources* Sources(int line) {
    if (!ask_driver_manager_) return nullptr;
    if (!sources_asked_) {
      sources_asked_ = true;
      try {
        sources_ = ListODBCSources();
        sources_valid_ = true;
      } catch (const std::exception& error) {
        Add(line, std::string("cannot ask the ODBC driver manager: ") + error.what());
      }
    }
    return sources_valid_ ? &sources_ : nullptr;
  }

  // Opens the section as `open <section>` without a user id does and
  // connects, so that the driver reports what it thinks of the parameters.
  void Connect(const TIniSectionLines& section) {
    auto value = [&section, this](std::string_view key) -> std::string {
      const TIniKeyLine* line = FindKey(section, key);
      return line != nullptr ? line->value : "";
    };
    try {
      TcsODBCDatabase database;
      database.SetLoginPrompt(false);
      database.SetConnectionPoolSize(1);
      TStringList& params = database.Params();
      params.SetValue("Database Name", value("DatabaseName"));
      params.SetValue("Server Name", value("ServerName"));
      params.SetValue("UID", value("Username"));
      params.SetValue("PWD", UnscramblePassword(value("Password")));
      database.SetDSN(value("DSN"));
      if (database.DSN().empty()) {
        database.SetODBCDriverName(value("DriverName"));
        for (std::string& item : SplitDriverParams(value("DriverParams"))) {
          params.Add(std::move(item));
        }
      }
      database.SetCharset(value("Charset").empty() ? "UTF-8" : value("Charset"));
      if (TcsODBCDriver* driver = database.ODBCDriver()) {
        driver->SetLoginTimeout(static_cast<int>(
            config_.ReadInteger(section.name, "LoginTimeout", kDefaultLoginTimeout)));
      }
      database.SetConnected(true);
      database.SetConnected(false);
      ++result_.Connected;
    } catch (const std::exception& error) {
      Add(section.line, Format("[%s]: cannot connect: %s", section.name.c_str(),
                               FirstLine(error.what()).c_str()));
    }
  }

  const std::string& path_;
  const bool connect_;
  const bool ask_driver_manager_;
  TIniFile config_;
  TConfigCheckResult result_;
  bool sources_asked_ = false;
  bool sources_valid_ = false;
  TODBCSources sources_;
};

}  // namespace

size_t NameDistance(std::string_view a, std::string_view b) {
  // Optimal string alignment distance over three rows of the usual table.
  auto lower = [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  };
  std::vector<size_t> before(b.size() + 1);
  std::vector<size_t> previous(b.size() + 1);
  std::vector<size_t> current(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const bool same = lower(a[i - 1]) == lower(b[j - 1]);
      current[j] =
          std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (same ? 0 : 1)});
      if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) &&
          lower(a[i - 2]) == lower(b[j - 1])) {
        current[j] = std::min(current[j], before[j - 2] + 1);
      }
    }
    std::swap(before, previous);
    std::swap(previous, current);
  }
  return previous[b.size()];
}

TConfigCheckResult CheckConfigFile(const std::string& path, bool connect, bool ask_driver_manager) {
  return TConfigChecker(path, connect, ask_driver_manager).Run();
}

std::string FormatFinding(std::string_view path, const TConfigFinding& finding) {
  std::string line(path);
  if (finding.Line > 0) line += ":" + std::to_string(finding.Line);
  return line + ": " + finding.Text;
}

int RunConfigCheck(const std::string& path, bool connect, std::ostream& out) {
  const TConfigCheckResult result = CheckConfigFile(path, connect);
  for (const TConfigFinding& finding : result.Findings) out << FormatFinding(path, finding) << '\n';
  if (result.Findings.empty()) {
    out << path << ": OK, " << result.DatabaseSections << " database section(s)";
    if (connect) out << ", " << result.Connected << " connected";
    out << '\n';
    return 0;
  }
  out << path << ": " << result.Findings.size() << " problem(s)\n";
  return 1;
}

}  // namespace velquarn
