#include "commands/sql_commands.h"

#include <gtest/gtest.h>

#include "commands/open_commands.h"

namespace velquarn {
namespace {

TEST(WhereGuard, RefusesDeleteAndUpdateWithoutWhere) {
  EXPECT_FALSE(PassesWhereGuard("delete from T\r\n"));
  EXPECT_FALSE(PassesWhereGuard("UPDATE T SET A=1\r\n"));
  EXPECT_FALSE(PassesWhereGuard("  \tDeLeTe from T"));
  EXPECT_FALSE(PassesWhereGuard("update T set A=1 where(B=2)"));
  EXPECT_FALSE(PassesWhereGuard("delete from T\r\nwhere id=1"));
  EXPECT_FALSE(PassesWhereGuard("deletefrom T"));
}

TEST(WhereGuard, PassesWhereClausesAndOtherStatements) {
  EXPECT_TRUE(PassesWhereGuard("delete from T where id=1\r\n"));
  EXPECT_TRUE(PassesWhereGuard("Update T set A=1 WHERE B=2"));
  EXPECT_TRUE(PassesWhereGuard("update T set A=' where ' "));
  EXPECT_TRUE(PassesWhereGuard("insert into T values(1)"));
  EXPECT_TRUE(PassesWhereGuard("select * from T"));
  EXPECT_TRUE(PassesWhereGuard(""));
  EXPECT_TRUE(PassesWhereGuard("delet"));
}

TEST(WhereGuard, MessageEndsWithTheStatement) {
  EXPECT_EQ(WhereGuardMessage("delete from T\r\n"),
            "**Allvarligt fel vid uppdatering av data. Kontakta TESSIK.** delete from T\r\n");
}

TEST(ConnectionLoss, CodesMatchOnlyWithTheirBlanks) {
  EXPECT_TRUE(IsConnectionLoss("[x] CWBCO1003 - gone", false));
  EXPECT_FALSE(IsConnectionLoss("[x] CWBCO1003: gone", false));
  EXPECT_FALSE(IsConnectionLoss("[x] CWBCO10030 gone", true));
  EXPECT_FALSE(IsConnectionLoss("[x] cwbco1003 gone", true));
  EXPECT_FALSE(IsConnectionLoss("a CWBCO1047 b", false));
  EXPECT_TRUE(IsConnectionLoss("a CWBCO1047 b", true));
}

TEST(ExecSql3, HexDecodesEitherCaseAndDropsAnOddDigit) {
  EXPECT_EQ(DecodeHexStatement("414243"), "ABC");
  EXPECT_EQ(DecodeHexStatement("6a6B0d0A4"), "jk\r\n");
  EXPECT_EQ(DecodeHexStatement(""), "");
  EXPECT_EQ(DecodeHexStatement("00FF"), std::string("\0\xFF", 2));
}

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

}  // namespace
}  // namespace velquarn
