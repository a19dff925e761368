#include "metrics/worker_counters.h"

#include <gtest/gtest.h>

#include <string>

#include "metrics/gateway_metrics.h"

namespace velquarn {
namespace {

TEST(WorkerCounters, SnapshotsAddOnlyWhatGrewSinceTheLastOne) {
  TGatewayMetrics worker("1.2", 0);
  TGatewayMetrics service("1.2", 0);
  service.rows_sent.Add(100);  // another worker's rows, already counted
  TWorkerCounters counters;

  worker.rows_sent.Add(5);
  worker.bytes_sent.Add(70);
  worker.Section("north wing").connects.Add();
  worker.Section("north wing").databases_open.Add(1);
  counters.Merge(EncodeWorkerCounters(worker), service);
  // The same totals again (a report after a command that sent nothing).
  counters.Merge(EncodeWorkerCounters(worker), service);
  EXPECT_EQ(service.rows_sent.Value(), 105u);
  EXPECT_EQ(service.bytes_sent.Value(), 70u);
  EXPECT_EQ(service.Section("north wing").connects.Value(), 1u);
  EXPECT_EQ(service.Section("north wing").databases_open.Value(), 1);

  worker.rows_sent.Add(3);
  worker.retries.Add();
  worker.Section("north wing").databases_open.Add(-1);
  worker.Section("dsn").connect_failures.Add();
  counters.Merge(EncodeWorkerCounters(worker), service);
  EXPECT_EQ(service.rows_sent.Value(), 108u);
  EXPECT_EQ(service.retries.Value(), 1u);
  EXPECT_EQ(service.Section("north wing").databases_open.Value(), 0);
  EXPECT_EQ(service.Section("dsn").connect_failures.Value(), 1u);
}

TEST(WorkerCounters, AWorkerThatDiesTakesItsOpenDatabasesAlong) {
  TGatewayMetrics worker("1.2", 0);
  TGatewayMetrics service("1.2", 0);
  service.Section("lite").databases_open.Add(2);  // two other sessions
  TWorkerCounters counters;
  worker.Section("lite").databases_open.Add(1);
  worker.rows_sent.Add(9);
  counters.Merge(EncodeWorkerCounters(worker), service);
  EXPECT_EQ(service.Section("lite").databases_open.Value(), 3);
  counters.Retire(service);
  EXPECT_EQ(service.Section("lite").databases_open.Value(), 2);
  EXPECT_EQ(service.rows_sent.Value(), 9u);  // what was sent stays counted
  counters.Retire(service);
  EXPECT_EQ(service.Section("lite").databases_open.Value(), 2);
}

TEST(WorkerCounters, MalformedAndShrinkingCountersAreIgnored) {
  TGatewayMetrics service("1.2", 0);
  TWorkerCounters counters;
  counters.Merge("rows 10\nrows\nrows x\nbogus 5\nsent 4 \n\nreceived -3\n", service);
  EXPECT_EQ(service.rows_sent.Value(), 10u);
  EXPECT_EQ(service.bytes_received.Value(), 0u);
  // A counter that went backwards (never from a real worker) adds nothing,
  // and the next growth counts from the highest value seen.
  counters.Merge("rows 4\n", service);
  counters.Merge("rows 12\n", service);
  EXPECT_EQ(service.rows_sent.Value(), 12u);
}

}  // namespace
}  // namespace velquarn
