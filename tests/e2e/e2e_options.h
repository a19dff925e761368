// Options for starting the real binary from an end-to-end test program, and
// a client of the started binary.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "client/velquarn_client.h"
#include "support/velquarn_process.h"

namespace velquarn::testing {

inline TVelquarnProcessOptions VelquarnOptions() {
  TVelquarnProcessOptions options;
  options.binary = VELQUARN_BINARY;
  return options;
}

// VELQUARN_E2E_ISOLATION: the Settings/Isolation every started server gets
// (tests/support/velquarn_process.cpp adds it); empty: the default.
inline std::string IsolationUnderTest() {
  const char* isolation = std::getenv("VELQUARN_E2E_ISOLATION");
  return isolation != nullptr ? isolation : "";
}

// The [Settings] line a test that writes a whole configuration file itself
// adds, so that the file keeps the isolation under test ("" by default).
inline std::string IsolationSetting() {
  const std::string isolation = IsolationUnderTest();
  return isolation.empty() ? "" : "Isolation=" + isolation + "\n";
}

// A client connected to the server that has read the greeting line.
inline TVelquarnClient ConnectGreeted(const TVelquarnProcess& server, int read_timeout_ms) {
  TVelquarnClient client;
  client.SetReadTimeoutMs(read_timeout_ms);
  client.Connect("127.0.0.1", server.Port());
  EXPECT_EQ(client.ReadLine(), "200 Velquarn 2.1");
  return client;
}

// Sends a command line and returns the reply's whole first line as sent,
// for byte-exact checks.
inline std::string ReplyLine(TVelquarnClient& client, const std::string& command) {
  client.SendLine(command);
  return client.ReadLine();
}

}  // namespace velquarn::testing
