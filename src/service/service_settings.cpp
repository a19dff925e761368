#include "service/service_settings.h"

#include <climits>

#include "common/exceptions.h"
#include "common/ini_file.h"
#include "common/text.h"

namespace velquarn {

namespace {

constexpr const char* kSettings = "Settings";

// A whole number from minimum up, or the default when the key is absent or
// empty. Anything else is refused: a limit that silently fell back to
// "none" would leave the door open.
int ReadLimit(const TIniFile& config, const char* key, int fallback, int minimum) {
  const std::string text = Trim(config.ReadString(kSettings, key, ""));
  if (text.empty()) return fallback;
  int32_t value = 0;
  if (!TryStrToInt32(text, value) || value < minimum) {
    throw Exception(Format("Settings/%s: '%s' is not a valid value (a whole number from %d on)",
                           key, text.c_str(), minimum));
  }
  return value;
}

// Settings/ConfigCommands: a switch that closes a door must not fall back
// to "open" on a typing error, so only these words count.
bool ParseSwitch(const char* key, const std::string& value, bool fallback) {
  const std::string text = Trim(value);
  if (text.empty()) return fallback;
  for (const char* on : {"1", "true", "yes", "on"}) {
    if (SameText(text, on)) return true;
  }
  for (const char* off : {"0", "false", "no", "off"}) {
    if (SameText(text, off)) return false;
  }
  throw Exception(Format("Settings/%s: '%s' is not 0 or 1", key, text.c_str()));
}

std::string FilterText(const std::string& text) { return text.empty() ? "(none)" : text; }

int ReadPort(const TIniFile& config, const char* key, int fallback) {
  const std::string text = Trim(config.ReadString(kSettings, key, ""));
  if (text.empty()) return fallback;
  int32_t value = 0;
  if (!TryStrToInt32(text, value) || value < 0 || value > 65535) {
    throw Exception(Format("Settings/%s: '%s' is not a port (0 to 65535)", key, text.c_str()));
  }
  return value;
}

void ReadTlsSettings(const TIniFile& config, TServiceSettings& settings) {
  settings.TlsPort = ReadPort(config, "TLSPort", 0);
  settings.PlainPort = ReadPort(config, "PlainPort", -1);
  TTlsServerOptions& tls = settings.Tls;
  tls.Certificate = Trim(config.ReadString(kSettings, "TLSCertificate", ""));
  tls.Key = Trim(config.ReadString(kSettings, "TLSKey", ""));
  tls.ClientCA = Trim(config.ReadString(kSettings, "TLSClientCA", ""));
  tls.MinVersion = Trim(config.ReadString(kSettings, "TLSMinVersion", "1.2"));
  tls.Ciphers = Trim(config.ReadString(kSettings, "TLSCiphers", ""));
  if (tls.MinVersion != "1.2" && tls.MinVersion != "1.3") {
    throw Exception(
        Format("Settings/TLSMinVersion: '%s' is not 1.2 or 1.3", tls.MinVersion.c_str()));
  }
  if (settings.TlsPort > 0 && (tls.Certificate.empty() || tls.Key.empty())) {
    throw Exception("Settings/TLSPort: TLS needs Settings/TLSCertificate and Settings/TLSKey");
  }
  if (settings.PlainPort == 0 && settings.TlsPort == 0) {
    throw Exception("Settings/PlainPort: 0 serves TLS only, but Settings/TLSPort is 0");
  }
}

// Settings/Isolation: only the two words; a typing error must not quietly
// run drivers in the shared process the operator meant to keep them out of.
bool ReadProcessIsolation(const TIniFile& config) {
  const std::string text = Trim(config.ReadString(kSettings, "Isolation", ""));
  if (text.empty() || SameText(text, "thread")) return false;
  if (SameText(text, "process")) return true;
  throw Exception(
      Format("Settings/Isolation: '%s' is not a valid value (thread or process)", text.c_str()));
}

}  // namespace

TServiceSettings ReadServiceSettings(const TIniFile& config) {
  TServiceSettings settings;
  settings.MaxConnections = ReadLimit(config, "MaxConnections", TCommandServer::kMaxConnections, 1);
  settings.MaxConnectionsPerAddress = ReadLimit(config, "MaxConnectionsPerAddress", 0, 0);
  settings.IdleTimeoutSec = ReadLimit(config, "IdleTimeout", 0, 0);
  settings.ReadTimeoutSec =
      ReadLimit(config, "ReadTimeout", TCommandServer::kReadTimeoutMs / 1000, 1);
  settings.StopTimeoutSec =
      ReadLimit(config, "StopTimeout", TCommandServer::kDefaultStopTimeoutMs / 1000, 1);
  settings.ShutdownGraceSec = ReadLimit(config, "ShutdownGraceSec", 0, 0);
  settings.SlowQueryMs = ReadLimit(config, "SlowQueryMs", 0, 0);
  settings.MaxResultMB = ReadLimit(config, "MaxResultMB", 0, 0);
  settings.ReadAhead =
      ParseSwitch("ReadAhead", config.ReadString(kSettings, "ReadAhead", ""), true);
  const long long max_line =
      config.ReadInteger(kSettings, "MaxLineLength", TCommandServer::kDefaultMaxLineLength);
  settings.MaxLineLength =
      max_line > 0 ? static_cast<size_t>(max_line) : TCommandServer::kDefaultMaxLineLength;
  settings.MaxDateDiff = config.ReadInteger(kSettings, "MaxDateDiff", 3);
  settings.UpdateURL = Trim(config.ReadString(kSettings, "UpdateURL", ""));
  settings.AllowFromText = Trim(config.ReadString(kSettings, "AllowFrom", ""));
  settings.AllowFrom = TAddressFilter::Parse("AllowFrom", settings.AllowFromText);
  settings.AdminFromText = Trim(config.ReadString(kSettings, "AdminFrom", ""));
  settings.AdminFrom = TAddressFilter::Parse("AdminFrom", settings.AdminFromText);
  settings.ConfigCommands =
      ParseSwitch("ConfigCommands", config.ReadString(kSettings, "ConfigCommands", ""), true);
  settings.ProxyProtocol =
      ParseSwitch("ProxyProtocol", config.ReadString(kSettings, "ProxyProtocol", ""), false);
  settings.ProxyFromText = Trim(config.ReadString(kSettings, "ProxyFrom", ""));
  settings.ProxyFrom = TAddressFilter::Parse("ProxyFrom", settings.ProxyFromText);
  // Without a list, anyone could send a header and pass for any address.
  if (settings.ProxyProtocol && settings.ProxyFrom.Empty()) {
    throw Exception(
        "Settings/ProxyFrom: empty; with ProxyProtocol=1 it must list the load balancers' "
        "addresses");
  }
  ReadTlsSettings(config, settings);
  settings.ProcessIsolation = ReadProcessIsolation(config);
  settings.HardTimeoutSec =
      ReadLimit(config, "HardTimeoutSec", TServiceSettings::kDefaultHardTimeoutSec, 0);
  return settings;
}

std::vector<std::pair<std::string, std::string>> DescribeSettings(
    const TServiceSettings& settings) {
  return {
      {"MaxConnections", std::to_string(settings.MaxConnections)},
      {"MaxConnectionsPerAddress", std::to_string(settings.MaxConnectionsPerAddress)},
      {"IdleTimeout", std::to_string(settings.IdleTimeoutSec)},
      {"ReadTimeout", std::to_string(settings.ReadTimeoutSec)},
      {"StopTimeout", std::to_string(settings.StopTimeoutSec)},
      {"ShutdownGraceSec", std::to_string(settings.ShutdownGraceSec)},
      {"SlowQueryMs", std::to_string(settings.SlowQueryMs)},
      {"MaxResultMB", std::to_string(settings.MaxResultMB)},
      {"ReadAhead", settings.ReadAhead ? "1" : "0"},
      {"MaxLineLength", std::to_string(settings.MaxLineLength)},
      {"MaxDateDiff", std::to_string(settings.MaxDateDiff)},
      {"UpdateURL", FilterText(settings.UpdateURL)},
      {"AllowFrom", FilterText(settings.AllowFromText)},
      {"AdminFrom", FilterText(settings.AdminFromText)},
      {"ConfigCommands", settings.ConfigCommands ? "1" : "0"},
      {"ProxyFrom", FilterText(settings.ProxyFromText)},
      {"TLSCertificate", FilterText(settings.Tls.Certificate)},
      {"TLSKey", FilterText(settings.Tls.Key)},
      {"TLSClientCA", FilterText(settings.Tls.ClientCA)},
      {"TLSMinVersion", settings.Tls.MinVersion},
      {"TLSCiphers", FilterText(settings.Tls.Ciphers)},
      {"HardTimeoutSec", std::to_string(settings.HardTimeoutSec)},
  };
}

std::vector<std::string> SettingChanges(const TServiceSettings& before,
                                        const TServiceSettings& after) {
  const auto old_values = DescribeSettings(before);
  const auto new_values = DescribeSettings(after);
  std::vector<std::string> changes;
  for (size_t i = 0; i < old_values.size(); ++i) {
    if (old_values[i].second != new_values[i].second) {
      changes.push_back(old_values[i].first + ": " + old_values[i].second + " -> " +
                        new_values[i].second);
    }
  }
  return changes;
}

std::vector<std::string> RestartOnlyChanges(const TIniFile& before, const TIniFile& after) {
  std::vector<std::string> changed;
  for (const char* key : {"Port", "IPV6", "ListenAddress", "ProxyProtocol", "TLSPort", "PlainPort",
                          "MetricsAddress", "Isolation"}) {
    if (Trim(before.ReadString(kSettings, key, "")) != Trim(after.ReadString(kSettings, key, ""))) {
      changed.emplace_back(key);
    }
  }
  return changed;
}

}  // namespace velquarn
