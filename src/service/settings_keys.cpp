#include "service/settings_keys.h"

#include "common/text.h"

namespace velquarn {

namespace {

// ListenAddress, AllowFrom, AdminFrom, ConfigCommands, ReadAhead, ProxyProtocol,
// ProxyFrom, Isolation and the TLS keys have readers of
// their own that reject a bad value at start; the check only knows the names.
// The limits and timeouts (kLimit) are refused at start too.
constexpr TSettingKey kSettingKeys[] = {
    {"IPV6", TSettingKind::kBoolean, "0"},
    {"Port", TSettingKind::kPort, "8888"},
    {"MaxDateDiff", TSettingKind::kInteger, "3"},
    {"UpdateURL", TSettingKind::kText, ""},
    {"MaxLineLength", TSettingKind::kPositive, "67108864"},
    {"MaxConnections", TSettingKind::kLimit, "2000", 1},
    {"MaxConnectionsPerAddress", TSettingKind::kLimit, "0", 0},
    {"IdleTimeout", TSettingKind::kLimit, "0", 0},
    {"ReadTimeout", TSettingKind::kLimit, "60", 1},
    {"StopTimeout", TSettingKind::kLimit, "10", 1},
    {"ListenAddress", TSettingKind::kText, ""},
    {"AllowFrom", TSettingKind::kText, ""},
    {"AdminFrom", TSettingKind::kText, ""},
    {"ConfigCommands", TSettingKind::kText, ""},
    {"ShutdownGraceSec", TSettingKind::kLimit, "0", 0},
    {"SlowQueryMs", TSettingKind::kLimit, "0", 0},
    {"MaxResultMB", TSettingKind::kLimit, "0", 0},
    {"ReadAhead", TSettingKind::kText, ""},
    {"ProxyProtocol", TSettingKind::kText, ""},
    {"ProxyFrom", TSettingKind::kText, ""},
    {"TLSPort", TSettingKind::kText, "0"},
    {"PlainPort", TSettingKind::kText, ""},
    {"TLSCertificate", TSettingKind::kText, ""},
    {"TLSKey", TSettingKind::kText, ""},
    {"TLSClientCA", TSettingKind::kText, ""},
    {"TLSMinVersion", TSettingKind::kText, "1.2"},
    {"TLSCiphers", TSettingKind::kText, ""},
    {"MetricsAddress", TSettingKind::kAddress, ""},
    {"Isolation", TSettingKind::kText, "thread"},
    {"HardTimeoutSec", TSettingKind::kLimit, "60", 0},
};

constexpr TSettingKey kDatabaseSection[] = {
    {"DatabaseName", TSettingKind::kText, ""},       {"ServerName", TSettingKind::kText, ""},
    {"Username", TSettingKind::kText, ""},           {"Password", TSettingKind::kText, ""},
    {"PasswordFile", TSettingKind::kText, ""},       {"DSN", TSettingKind::kText, ""},
    {"DriverName", TSettingKind::kText, ""},         {"DriverParams", TSettingKind::kText, ""},
    {"LoginTimeout", TSettingKind::kInteger, "30"},  {"QueryTimeout", TSettingKind::kInteger, "30"},
    {"ServerTimeZone", TSettingKind::kInteger, "0"}, {"Charset", TSettingKind::kText, "UTF-8"},
};

}  // namespace

std::span<const TSettingKey> SettingsKeys() { return kSettingKeys; }

std::span<const TSettingKey> DatabaseSectionKeys() { return kDatabaseSection; }

const TSettingKey* FindSettingKey(std::span<const TSettingKey> keys, std::string_view name) {
  for (const TSettingKey& key : keys) {
    if (SameText(key.Name, name)) return &key;
  }
  return nullptr;
}

}  // namespace velquarn
