#include "commands/sql_commands.h"

#include <gtest/gtest.h>

#include "common/exceptions.h"
#include "dataset/sql_errors.h"

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

TEST(ConnectionLoss, ErrorsAreJudgedByTheirRecordsFields) {
  // Class 08 and 57P01 in any record, whatever the text says.
  EcsSQLError link(DriverRecord(10054, "08S01", "Communication link failure"));
  EXPECT_TRUE(IsConnectionLoss(link, false));
  EcsSQLError later(DriverRecord(7, "HY000", "first"));
  later.AddError(DriverRecord(0, "57P01", "terminating connection"));
  EXPECT_TRUE(IsConnectionLoss(later, false));
  EXPECT_FALSE(IsConnectionLoss(EcsSQLError(DriverRecord(1, "42000", "08S01 syntax")), true));
  // Text that only looks like a record is no SQLSTATE.
  EXPECT_FALSE(IsConnectionLoss(EcsSQLError(-1, "08S01:spoofed"), true));
  // The host codes count in a record's message, and in no other error.
  EcsSQLError host(DriverRecord(-99999, "HY000", "[x] CWBCO1047 - ended"));
  EXPECT_FALSE(IsConnectionLoss(host, false));
  EXPECT_TRUE(IsConnectionLoss(host, true));
  EXPECT_FALSE(IsConnectionLoss(Exception("refused: delete ... CWBCO1003 ..."), true));
}

}  // namespace
}  // namespace velquarn
