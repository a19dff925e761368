// Readiness notices to systemd (Type=notify): one datagram with the state
// text ("READY=1", "STOPPING=1") to the socket named by $NOTIFY_SOCKET.
// Does nothing when the variable is unset. Thread-safe.
#pragma once

#include <string_view>

namespace velquarn {

// Returns false when the notice could not be sent.
bool NotifyServiceManager(std::string_view state) noexcept;

}  // namespace velquarn
