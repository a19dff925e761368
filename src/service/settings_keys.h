// The keys the service knows, in one table per kind of section, with what
// their values must look like. The configuration check reads these tables;
// a new setting is added here as well as where it is read.
//
// Thread-safety: constant tables.
#pragma once

#include <span>
#include <string_view>

namespace velquarn {

inline constexpr std::string_view kSettingsSection = "Settings";
inline constexpr std::string_view kCustomDataSection = "CustomData";

enum class TSettingKind {
  kText,      // any text; the reader of the key checks it further, if at all
  kBoolean,   // an integer: 0 false, anything else true
  kInteger,   // decimal or hexadecimal ("$", "0x")
  kPositive,  // an integer above 0; 0 or less means the default
  kPort,      // an integer 1..65535
  kLimit,     // a whole number from Minimum on; anything else stops the start
  kAddress,   // empty, or an IP address literal with a port; anything else stops the start
};

struct TSettingKey {
  std::string_view Name;
  TSettingKind Kind;
  std::string_view Default;  // as the service uses it when the value is unusable
  int Minimum = 0;           // kLimit only
};

// The keys of [Settings].
std::span<const TSettingKey> SettingsKeys();
// The keys of a database section (any section other than Settings and
// CustomData).
std::span<const TSettingKey> DatabaseSectionKeys();

// The entry of a key by name (any letter case), or null.
const TSettingKey* FindSettingKey(std::span<const TSettingKey> keys, std::string_view name);

}  // namespace velquarn
