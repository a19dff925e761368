// The event-log entries about one client session's database work: a failed
// connection to its database section and a statement slower than
// Settings/SlowQueryMs. `open` hands SessionDriverEvents to the session's
// driver, which calls them on the session's thread.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "common/log_priority.h"
#include "odbc/odbc_driver.h"

namespace velquarn {

struct TCommandEnvironment;

// The source name of the event-log entries that commands write.
inline constexpr const char* kEventSource = "Velquarn";

// The most of a statement's text a slow-statement entry quotes.
inline constexpr size_t kSlowStatementQuote = 200;

// "Connect to database section S for PEER failed: SQLSTATE 08001: first
// line of the driver's first message". The SQLSTATE is "none" for an error
// that carries no diagnostic record.
std::string ConnectFailureText(std::string_view section, std::string_view peer,
                               const std::exception& error);
// "Open of database section S for PEER failed: TEXT" (the first line), for
// an `open` refused before any connect (an unreadable PasswordFile, a user
// id the connection string cannot carry).
std::string OpenFailureText(std::string_view section, std::string_view peer,
                            const std::exception& error);
// The priority of the connect entry: a warning for a refused login (SQLSTATE class
// 28, the client's credentials), an error for everything else (the database
// or the configuration is at fault).
TLogPriority ConnectFailurePriority(const std::exception& error);

// "Slow statement on database section S for PEER: N ms (SlowQueryMs M): "
// and the first kSlowStatementQuote characters of the statement, without
// leading and trailing blanks and line breaks.
std::string SlowStatementText(std::string_view section, std::string_view peer, uint64_t elapsed_ms,
                              int threshold_ms, std::string_view sql);

// The driver events of a session opened on section for peer. The
// environment must outlive the driver; the threshold is read from its live
// settings at each statement, so a reload applies at once. When the
// environment has metrics, the connections and failed attempts are counted
// under metrics_label (the section's spelling in the configuration, or the
// data-source label), which is looked up once, here.
TcsODBCDriver::TEvents SessionDriverEvents(const TCommandEnvironment& environment,
                                           std::string section, std::string peer,
                                           std::string_view metrics_label);

}  // namespace velquarn
