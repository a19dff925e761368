// What a worker process is handed with a client's socket: whether the
// connection speaks TLS and with which server settings, the peer's name and
// address, and the client version list in force.
//
// The TLS settings travel as the PEM text of the context the service has in
// force, so a worker serves with exactly that context even when the files
// have changed (or broken) since it was loaded.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tls/tls_context.h"

namespace velquarn {

struct TWorkerHandOff {
  bool Tls = false;
  std::string PeerName;
  std::string PeerAddress;   // empty: unknown
  TTlsServerOptions TlsPem;  // with Tls: TTlsContext::Pem() of the service's context
  std::vector<std::string> VersionLines;
};

// Each field as "<byte count>:<bytes>", in a fixed order.
std::string EncodeWorkerHandOff(const TWorkerHandOff& hand_off);
// Raises EConvertError on text that is not an encoded hand-off.
TWorkerHandOff DecodeWorkerHandOff(std::string_view text);

}  // namespace velquarn
