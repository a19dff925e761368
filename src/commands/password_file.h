// The `PasswordFile` key of a database section: a file that holds the
// section's database password, so that the password need not stand,
// scrambled and reversible, in the configuration file (where `sys getconfig`
// hands it out).
//
// Thread-safety: pure functions apart from reading the environment and the
// file.
#pragma once

#include <string>
#include <string_view>

namespace velquarn {

// The file's path: an absolute path as it stands; a relative one against
// $CREDENTIALS_DIRECTORY when the service manager set it (systemd's
// LoadCredential=), else against the folder of the configuration file.
std::string ResolvePasswordFilePath(std::string_view path, std::string_view config_path);

// The password: the file's first line without its line end, read as UTF-8
// and converted to the server's code page. Raises Exception naming the path
// when the file cannot be opened or is not a regular file, and when group or
// others may read it ("... is readable by group or others (mode 0644);
// allow its owner only, chmod 600"): a secret that every local user can read
// is refused rather than used.
std::string ReadPasswordFile(const std::string& path);

}  // namespace velquarn
