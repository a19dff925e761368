// Installing and removing the service as the systemd unit
// "VelquarnSvc.service". The unit folder is $VELQUARN_UNIT_DIR, default
// /etc/systemd/system. systemctl (daemon-reload, enable, disable) runs only
// when it exists, systemd is running (/run/systemd/system exists) and the
// unit folder is one systemd reads, so a test folder never touches the host.
#pragma once

#include <string>

namespace velquarn {

inline constexpr const char* kServiceName = "VelquarnSvc";
inline constexpr const char* kServiceDisplayName = "Velquarn";
// The account the unit runs the service as; it must exist (the package
// creates it).
inline constexpr const char* kServiceUser = "velquarn";

std::string UnitDirectory();
std::string UnitFilePath();

// The unit file's text for the executable and, when not empty, the
// configuration file it is started with. The service runs as kServiceUser
// with the hardening of the packaged unit; the configuration's folder (where
// the log file lives too) is the only one it may write.
std::string UnitFileText(const std::string& executable, const std::string& config_path);

// Write the unit file (and enable the unit) / disable it and remove the
// file. Raise Exception with the error text on failure; removing a unit that
// is not installed fails.
void InstallUnit(const std::string& executable, const std::string& config_path);
void UninstallUnit();

}  // namespace velquarn
