// What the driver manager knows: the names of its data sources (user and
// system) and of its installed drivers, as SQLDataSources and SQLDrivers
// list them. Used to check a configuration before the service starts.
//
// Thread-safety: each call uses its own environment handle; calls may run
// on any thread once LoadODBC may be called there.
#pragma once

#include <string>
#include <vector>

namespace velquarn {

struct TODBCSources {
  std::vector<std::string> DataSources;  // as listed, in the driver manager's order
  std::vector<std::string> Drivers;
};

// Loads the driver manager when needed. Raises Exception when it cannot be
// loaded or an environment cannot be allocated.
TODBCSources ListODBCSources();

}  // namespace velquarn
