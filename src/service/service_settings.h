// TServiceSettings: the Settings of the configuration file that the service
// applies at start and again on a reload (SIGHUP) without a restart. Port,
// IPV6 and ListenAddress are not among them: the listening sockets are
// bound once, at start.
//
// Thread-safety: plain values; the service reads and applies them on its
// main thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "protocol/address_filter.h"
#include "protocol/command_server.h"
#include "tls/tls_context.h"

namespace velquarn {

class TIniFile;

struct TServiceSettings {
  int MaxConnections = TCommandServer::kMaxConnections;
  int MaxConnectionsPerAddress = 0;
  int IdleTimeoutSec = 0;
  int ReadTimeoutSec = TCommandServer::kReadTimeoutMs / 1000;
  int StopTimeoutSec = TCommandServer::kDefaultStopTimeoutMs / 1000;
  int ShutdownGraceSec = 0;
  int SlowQueryMs = 0;
  int MaxResultMB = 0;
  // Settings/ReadAhead: a `get` block's successor is fetched while the
  // client reads (on by default; 0 turns it off).
  bool ReadAhead = true;
  size_t MaxLineLength = TCommandServer::kDefaultMaxLineLength;
  long long MaxDateDiff = 3;
  std::string UpdateURL;
  std::string AllowFromText;  // trimmed, as configured
  TAddressFilter AllowFrom;
  std::string AdminFromText;  // trimmed, as configured
  TAddressFilter AdminFrom;
  bool ConfigCommands = true;
  // Read at start only: connections come from load balancers that send a
  // PROXY header first, and only from the addresses of ProxyFrom.
  bool ProxyProtocol = false;
  std::string ProxyFromText;  // trimmed, as configured
  TAddressFilter ProxyFrom;
  // Read at start only: the TLS listener's port (0: none) and the plain
  // one's (-1: Port; 0: none, TLS only).
  int TlsPort = 0;
  int PlainPort = -1;
  // Re-read on every reload: the certificate, key and the rest.
  TTlsServerOptions Tls;
  // Read at start only: whether every client session runs in a worker
  // process of its own instead of a thread of the service's process.
  bool ProcessIsolation = false;
  // In process isolation: a statement running this long past its section's
  // QueryTimeout has its worker killed; 0: never.
  int HardTimeoutSec = kDefaultHardTimeoutSec;
  static constexpr int kDefaultHardTimeoutSec = 60;
};

// Reads the settings of the file's Settings section. MaxLineLength,
// MaxDateDiff and UpdateURL are read as the service always read them (an
// unreadable number is the default). The limits and timeouts, SlowQueryMs,
// ShutdownGraceSec, AllowFrom, AdminFrom, ConfigCommands, ProxyProtocol and
// ProxyFrom, Isolation, HardTimeoutSec and the TLS settings raise Exception
// naming the key and the value when it does not parse: a silent default
// could admit more than the operator allowed.
TServiceSettings ReadServiceSettings(const TIniFile& config);

// Each setting by key name with its effective value as text, in a fixed
// order ("MaxConnections", "2000"; an empty filter is "(none)").
std::vector<std::pair<std::string, std::string>> DescribeSettings(const TServiceSettings& settings);

// "Key: old -> new" for every setting whose effective value differs.
std::vector<std::string> SettingChanges(const TServiceSettings& before,
                                        const TServiceSettings& after);

// The names of the settings read only at start (Port, IPV6, ListenAddress,
// ProxyProtocol, TLSPort, PlainPort, MetricsAddress, Isolation)
// whose text differs between two loads of the file.
std::vector<std::string> RestartOnlyChanges(const TIniFile& before, const TIniFile& after);

}  // namespace velquarn
