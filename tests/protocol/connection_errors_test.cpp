#include "protocol/connection_errors.h"

#include <gtest/gtest.h>

#include <string>

namespace velquarn {
namespace {

// The command loop and the service's exception handler tell a connection's
// own failures from a command's by this one base class.
TEST(ConnectionErrors, EveryConnectionFailureIsAConnectionError) {
  const EConnectionClosed closed;
  const ESocketError socket_error(104, "recv");
  const ELineTooLong too_long(10, "127.0.0.1:5");
  const EReadTimeout timeout(1000, "127.0.0.1:5");
  for (const Exception* error :
       {static_cast<const Exception*>(&closed), static_cast<const Exception*>(&socket_error),
        static_cast<const Exception*>(&too_long), static_cast<const Exception*>(&timeout)}) {
    EXPECT_NE(dynamic_cast<const EConnectionError*>(error), nullptr) << error->ClassName();
  }
  EXPECT_EQ(dynamic_cast<const EConnectionError*>(&static_cast<const Exception&>(Exception("x"))),
            nullptr);
  EXPECT_STREQ(closed.ClassName(), "EConnectionClosed");
  EXPECT_EQ(closed.Message(), "Connection Closed Gracefully.");
  EXPECT_EQ(socket_error.ErrorCode(), 104);
  EXPECT_NE(socket_error.Message().find("(Socket Error # 104)"), std::string::npos);
}

}  // namespace
}  // namespace velquarn
