#include "commands/open_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velquarn {
namespace {

TEST(OpenParams, PositionsAndBangs) {
  TOpenParams p = ParseOpenParams({"sales"});
  EXPECT_EQ(p.open_name, "sales");
  EXPECT_FALSE(p.has_module);

  p = ParseOpenParams({"sales", "bob"});
  EXPECT_EQ(p.user_id, "bob");
  EXPECT_EQ(p.password, "");

  p = ParseOpenParams({"sales", "!ordermod", "!123"});
  EXPECT_EQ(p.user_id, "");
  EXPECT_TRUE(p.has_module);
  EXPECT_EQ(p.module_name, "ordermod");
  EXPECT_EQ(p.module_date, 123);

  p = ParseOpenParams({"sales", "u", "p", "!mod"});
  EXPECT_EQ(p.user_id, "u");
  EXPECT_EQ(p.password, "p");
  EXPECT_EQ(p.module_name, "mod");
  EXPECT_EQ(p.module_date, 0);

  // Positions 3 and 4 win; without "!" they are ignored.
  p = ParseOpenParams({"s", "!a", "!1", "!b", "!2", "!c"});
  EXPECT_EQ(p.module_name, "b");
  EXPECT_EQ(p.module_date, 2);
  p = ParseOpenParams({"s", "!a", "!1", "x", "y"});
  EXPECT_EQ(p.module_name, "a");
  EXPECT_EQ(p.module_date, 1);

  EXPECT_EQ(ParseOpenParams({"s", "!m", "!x12"}).module_date, 0);
  EXPECT_EQ(ParseOpenParams({"s", "!m", "!$10"}).module_date, 0);
  EXPECT_EQ(ParseOpenParams({"s", "!m", "!99999999999"}).module_date, 0);
  // A lone "!" names an empty module, which is still a module parameter.
  EXPECT_TRUE(ParseOpenParams({"s", "!"}).has_module);
  EXPECT_EQ(ParseOpenParams({}).open_name, "");
}

TEST(OpenParams, RejectionTextIsCp1252) {
  EXPECT_EQ(ClientVersionRejectedText("ordermod"),
            "Felaktig klientversion av modulen \"ordermod\". Kontakta IT-avdelningen f\xF6r "
            "hj\xE4lp.");
}

TEST(OpenParams, DriverParamsSplitAtCommasOnly) {
  using Items = std::vector<std::string>;
  EXPECT_EQ(SplitDriverParams("Database=/tmp/a b.db,StepAPI=1"),
            (Items{"Database=/tmp/a b.db", "StepAPI=1"}));
  EXPECT_EQ(SplitDriverParams("\"Options=a,b\",,X=\"q\"\"\","), (Items{"Options=a,b", "X=q\""}));
  EXPECT_EQ(SplitDriverParams(""), Items{});
}

}  // namespace
}  // namespace velquarn
