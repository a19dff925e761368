// The counters a session's worker process keeps, carried to the service's
// process as text so that one scrape there sees every session. The worker
// sends its whole running totals each time; the receiving side remembers
// what it has already added per worker and adds only the difference, so a
// lost or late report never counts twice.
//
// The text is one line per value: "<kind> <value>" for the traffic and row
// counters, "<kind> <value> <label>" for a section's (the label is the rest
// of the line, spaces included).
//
// Thread-safety: TWorkerCounters belongs to the thread that supervises one
// worker; the metrics it adds to are thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace velquarn {

class TGatewayMetrics;

// The running totals of the metrics in a worker.
std::string EncodeWorkerCounters(const TGatewayMetrics& metrics);

class TWorkerCounters {
 public:
  // Adds to metrics what grew since the previous snapshot of this worker.
  // Unknown or malformed lines are skipped.
  void Merge(std::string_view snapshot, TGatewayMetrics& metrics);
  // The worker has ended: the databases it held open are closed now.
  void Retire(TGatewayMetrics& metrics);

 private:
  std::map<std::string, int64_t, std::less<>> last_;  // by "<kind> <label>"
};

}  // namespace velquarn
