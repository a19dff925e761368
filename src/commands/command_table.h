// The service's command table: every command word of the protocol in
// dispatch order, with its parameter delimiter and its handler. Handlers of
// one command family live in their own file and reach the service's shared
// state through TCommandEnvironment.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "common/log_priority.h"
#include "protocol/address_filter.h"
#include "protocol/command_handler.h"

namespace velquarn {

class TIniFile;
class TGatewayMetrics;

// The settings a reload (SIGHUP) may replace while connections run. A
// snapshot is immutable; the service swaps in a new one whole.
struct TLiveSettings {
  // The configuration file as last loaded (database sections for `open`).
  std::shared_ptr<const TIniFile> Config;
  // Settings/ConfigCommands: false turns `sys getconfig` and `sys setconfig`
  // off for every peer.
  bool ConfigCommands = true;
  // Settings/AdminFrom: the peers that may run `sys getconfig` and
  // `sys setconfig` (empty: every peer).
  TAddressFilter AdminFrom;
  // Settings/SlowQueryMs: statements running longer are logged; 0: off.
  int SlowQueryMs = 0;
  // Settings/MaxResultMB: the most one session's result may hold; 0: no
  // limit.
  int MaxResultMB = 0;
  // Settings/ReadAhead: after a `get` block, the next block's rows are
  // fetched while the client reads (false: only when asked).
  bool ReadAhead = true;
};

// What the handlers share with the service. The service fills it before it
// activates the command server and keeps it alive until after deactivation;
// handlers only read it. Live() and SetLive lock mutex_; everything else is
// written before the server is activated.
struct TCommandEnvironment {
  // The configuration file's path, for the commands that read or write the
  // file itself.
  std::string ConfigPath;
  // Writes an error entry to the event log under the given source.
  std::function<void(const std::string& source, const std::string& text)> LogEvent;
  // Writes an entry of the given priority to the event log.
  std::function<void(TLogPriority priority, const std::string& source, const std::string& text)>
      LogAt;
  // Checks a client's module name and its packed DOS module date against the
  // accepted versions: false refuses the module (`open` answers 599); an
  // error of the list or of a date conversion is raised (the client gets
  // 500). Empty: every module is accepted.
  std::function<bool(const std::string& module, int32_t date)> CheckVersion;
  // Settings/MaxDateDiff plus one.
  int MaxDateDiff = 4;
  // The gateway's counters (rows sent, retries, per-section connections);
  // null: nothing is counted.
  TGatewayMetrics* Metrics = nullptr;

  // The current live settings; never null.
  std::shared_ptr<const TLiveSettings> Live() const {
    std::scoped_lock lock(mutex_);
    return live_;
  }
  void SetLive(std::shared_ptr<const TLiveSettings> live) {
    std::scoped_lock lock(mutex_);
    live_ = std::move(live);
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const TLiveSettings> live_ =
      std::make_shared<const TLiveSettings>();  // Guarded by mutex_
};

// The table in dispatch order: sql quit get open close info test tran prep
// exec clear sys sndf call sqlbatch crtf addrec execsql2 infoJSON getJSON
// execsql3. The server appends Help on its first activation.
TCommandTable BuildCommandTable(TCommandEnvironment& environment);

}  // namespace velquarn
