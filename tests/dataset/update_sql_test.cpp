#include "dataset/update_sql.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "common/exceptions.h"
#include "common/text.h"
#include "dataset/params.h"
#include "dataset/update_params.h"

namespace velquarn {
namespace {

// A dataset's fields as the generator sees them, by upper-case name.
class FakeFields {
 public:
  FakeFields& Add(const std::string& name, TFieldType type, bool changed = false,
                  bool is_null = false, bool old_is_null = false) {
    fields_[UpperCase(name)] = TUpdateFieldInfo{type, is_null, old_is_null, changed};
    return *this;
  }
  TUpdateFieldLookup Lookup() const {
    return [this](const std::string& name) -> std::optional<TUpdateFieldInfo> {
      auto it = fields_.find(UpperCase(name));
      if (it == fields_.end()) return std::nullopt;
      return it->second;
    };
  }

 private:
  std::map<std::string, TUpdateFieldInfo> fields_;
};

// Table dbo.Orders, key ID, update fields ID, NAME and QTY.
struct Orders : TUpdateParams {
  explicit Orders(TUpdateMode mode = upWhereChanged) {
    SetTableName("dbo.Orders");
    KeyFields().Add("ID");
    UpdateFields().Add("ID");
    UpdateFields().Add("NAME");
    UpdateFields().Add("QTY");
    SetUpdateMode(mode);
  }
};

TEST(UpdateSQL, InsertExampleComesOutByteForByte) {
  FakeFields fields;
  fields.Add("ID", ftInteger).Add("NAME", ftString).Add("QTY", ftInteger);
  EXPECT_EQ(GenerateUpdateSQL(ukInsert, Orders(), false, fields.Lookup()),
            "insert into \"dbo\".\"Orders\" (\"ID\" , \"NAME\" , \"QTY\") "
            "Values(:ID , :NAME , :QTY) ");
}

TEST(UpdateSQL, UpdateExampleHasTwoBlanksAfterWhere) {
  FakeFields fields;
  fields.Add("ID", ftInteger).Add("NAME", ftString, true).Add("QTY", ftInteger);
  EXPECT_EQ(GenerateUpdateSQL(ukModify, Orders(), false, fields.Lookup()),
            "update \"dbo\".\"Orders\" set \"NAME\"=:NAME where  \"ID\"=:OLD_ID and "
            "\"NAME\"=:OLD_NAME ");
}

TEST(UpdateSQL, DeleteUsesTheWhereClauseOfTheMode) {
  FakeFields fields;
  fields.Add("ID", ftInteger).Add("NAME", ftString, true).Add("QTY", ftInteger);
  EXPECT_EQ(GenerateUpdateSQL(ukDelete, Orders(upWhereKeyOnly), false, fields.Lookup()),
            "delete from \"dbo\".\"Orders\" where  \"ID\"=:OLD_ID ");
  EXPECT_EQ(GenerateUpdateSQL(ukDelete, Orders(upWhereAll), false, fields.Lookup()),
            "delete from \"dbo\".\"Orders\" where  \"ID\"=:OLD_ID and \"NAME\"=:OLD_NAME and "
            "\"QTY\"=:OLD_QTY ");
}

TEST(UpdateSQL, TableNamesAreQuotedAtTheFirstDotOnly) {
  EXPECT_EQ(QuoteTableName("Orders"), "\"Orders\"");
  EXPECT_EQ(QuoteTableName("a.b.c"), "\"a\".\"b.c\"");
  EXPECT_EQ(QuoteTableName("\"my schema\".Orders"), "\"my schema\".Orders");
  EXPECT_EQ(QuoteTableName("we\"ird.t\"x"), "\"we\"\"ird\".\"t\"\"x\"");
  EXPECT_EQ(QuoteTableName(".t"), "\"\".\"t\"");
}

TEST(UpdateSQL, FieldNamesAreQuotedWhole) {
  EXPECT_EQ(QuoteFieldName("a.b"), "\"a.b\"");
  EXPECT_EQ(QuoteFieldName("x\"y"), "\"x\"\"y\"");
}

// A MySQL-family driver reports a backquote: identifiers take it, inner
// backquotes doubled, while parameter references keep the parser's double
// quotes.
TEST(UpdateSQL, TheDriversIdentifierQuoteIsUsedThroughout) {
  EXPECT_EQ(QuoteTableName("a.b.c", '`'), "`a`.`b.c`");
  EXPECT_EQ(QuoteTableName("`my db`.Orders", '`'), "`my db`.Orders");
  EXPECT_EQ(QuoteTableName("\"x\".t", '`'), "`\"x\"`.`t`");
  EXPECT_EQ(QuoteFieldName("x`y", '`'), "`x``y`");
  FakeFields fields;
  fields.Add("ID", ftInteger).Add("NAME", ftString, true).Add("QTY", ftInteger);
  EXPECT_EQ(GenerateUpdateSQL(ukModify, Orders(), false, fields.Lookup(), '`'),
            "update `dbo`.`Orders` set `NAME`=:NAME where  `ID`=:OLD_ID and `NAME`=:OLD_NAME ");
  EXPECT_EQ(GenerateUpdateSQL(ukInsert, Orders(), false, fields.Lookup(), '`'),
            "insert into `dbo`.`Orders` (`ID` , `NAME` , `QTY`) Values(:ID , :NAME , :QTY) ");
  TUpdateParams spaced;
  spaced.SetTableName("T");
  spaced.KeyFields().Add("order id");
  FakeFields key;
  key.Add("order id", ftInteger);
  EXPECT_EQ(GenerateUpdateSQL(ukDelete, spaced, false, key.Lookup(), '`'),
            "delete from `T` where  `order id`=:\"OLD_order id\" ");
}

TEST(UpdateSQL, ParameterNamesWithDelimitersSurviveParsing) {
  TUpdateParams update;
  update.SetTableName("T");
  update.KeyFields().Add("order id");
  update.UpdateFields().Add("unit price");
  update.UpdateFields().Add("QTY");
  FakeFields fields;
  fields.Add("unit price", ftFloat, true).Add("QTY", ftInteger, true);

  std::string sql = GenerateUpdateSQL(ukModify, update, false, fields.Lookup());
  EXPECT_EQ(sql,
            "update \"T\" set \"unit price\"=:\"unit price\" , \"QTY\"=:QTY where  "
            "\"order id\"=:\"OLD_order id\" and \"unit price\"=:\"OLD_unit price\" and "
            "\"QTY\"=:OLD_QTY ");
  TParams params;
  EXPECT_EQ(ParseSQL(sql, &params),
            "update \"T\" set \"unit price\"=? , \"QTY\"=? where  \"order id\"=? and "
            "\"unit price\"=? and \"QTY\"=? ");
  ASSERT_EQ(params.Count(), 5);
  EXPECT_EQ(params[0].Name(), "unit price");
  EXPECT_EQ(params[1].Name(), "QTY");
  EXPECT_EQ(params[2].Name(), "OLD_order id");
  EXPECT_EQ(params[3].Name(), "OLD_unit price");
  EXPECT_EQ(params[4].Name(), "OLD_QTY");
}

TEST(UpdateSQL, ChangedFieldWithNullOldValueGivesIsNull) {
  FakeFields fields;
  fields.Add("ID", ftInteger).Add("NAME", ftString, true, false, true).Add("QTY", ftInteger, true);
  std::string sql = GenerateUpdateSQL(ukModify, Orders(), false, fields.Lookup());
  EXPECT_EQ(sql,
            "update \"dbo\".\"Orders\" set \"NAME\"=:NAME , \"QTY\"=:QTY where  "
            "\"ID\"=:OLD_ID and \"NAME\" is null and \"QTY\"=:OLD_QTY ");
  TParams params;
  ParseSQL(sql, &params);
  EXPECT_EQ(params.FindParam("OLD_NAME"), nullptr);
}

TEST(UpdateSQL, WhereAllLooksForNullOldValuesWithIsNull) {
  FakeFields fields;
  fields.Add("ID", ftInteger).Add("NAME", ftString, false, false, true).Add("QTY", ftInteger);
  EXPECT_EQ(GenerateUpdateSQL(ukDelete, Orders(upWhereAll), false, fields.Lookup()),
            "delete from \"dbo\".\"Orders\" where  \"ID\"=:OLD_ID and \"NAME\" is null and "
            "\"QTY\"=:OLD_QTY ");
}

TEST(UpdateSQL, WhereAllLeavesMemoAndBlobOutButSetsThem) {
  Orders update(upWhereAll);
  update.UpdateFields().Add("NOTES");
  update.UpdateFields().Add("PHOTO");
  FakeFields fields;
  fields.Add("ID", ftInteger)
      .Add("NAME", ftString)
      .Add("QTY", ftInteger)
      .Add("NOTES", ftMemo, true)
      .Add("PHOTO", ftBlob, true);
  EXPECT_EQ(GenerateUpdateSQL(ukModify, update, false, fields.Lookup()),
            "update \"dbo\".\"Orders\" set \"NOTES\"=:NOTES , \"PHOTO\"=:PHOTO where  "
            "\"ID\"=:OLD_ID and \"NAME\"=:OLD_NAME and \"QTY\"=:OLD_QTY ");
}

TEST(UpdateSQL, WhereChangedSkipsKeysMissingFieldsAndUnchangedOnes) {
  Orders update;
  update.KeyFields().Clear();
  update.KeyFields().Add("id");  // keys match without letter case
  update.UpdateFields().Add("GONE");
  FakeFields fields;
  fields.Add("ID", ftInteger, true).Add("NAME", ftString).Add("QTY", ftInteger, true);
  EXPECT_EQ(GenerateUpdateSQL(ukModify, update, false, fields.Lookup()),
            "update \"dbo\".\"Orders\" set \"ID\"=:ID , \"QTY\"=:QTY where  \"id\"=:OLD_id and "
            "\"QTY\"=:OLD_QTY ");
}

TEST(UpdateSQL, KeyOnlyIgnoresOtherFields) {
  FakeFields fields;
  fields.Add("ID", ftInteger).Add("NAME", ftString, true).Add("QTY", ftInteger, true);
  EXPECT_EQ(GenerateUpdateSQL(ukModify, Orders(upWhereKeyOnly), false, fields.Lookup()),
            "update \"dbo\".\"Orders\" set \"NAME\"=:NAME , \"QTY\"=:QTY where  "
            "\"ID\"=:OLD_ID ");
}

TEST(UpdateSQL, NothingToSendGivesEmptyText) {
  FakeFields unchanged;
  unchanged.Add("ID", ftInteger).Add("NAME", ftString).Add("QTY", ftInteger);
  EXPECT_EQ(GenerateUpdateSQL(ukModify, Orders(), false, unchanged.Lookup()), "");

  Orders no_fields;
  no_fields.SetUpdateFields(nullptr);
  EXPECT_TRUE(no_fields.UpdateFields().Empty());
  EXPECT_EQ(GenerateUpdateSQL(ukInsert, no_fields, false, unchanged.Lookup()), "");
  EXPECT_EQ(GenerateUpdateSQL(ukModify, no_fields, false, unchanged.Lookup()), "");
  EXPECT_EQ(GenerateUpdateSQL(ukDelete, no_fields, false, unchanged.Lookup()),
            "delete from \"dbo\".\"Orders\" where  \"ID\"=:OLD_ID ");
}

TEST(UpdateSQL, WhereWithoutConditionsIsSentAsItIs) {
  TUpdateParams update;
  update.SetTableName("T");
  update.SetUpdateMode(upWhereKeyOnly);
  EXPECT_EQ(GenerateUpdateSQL(ukDelete, update, false, FakeFields().Lookup()),
            "delete from \"T\" where  ");
}

TEST(UpdateSQL, InsertWithoutSuppressionKeepsNullsAndMissingFields) {
  FakeFields fields;
  fields.Add("ID", ftInteger).Add("NAME", ftString, false, true);
  EXPECT_EQ(GenerateUpdateSQL(ukInsert, Orders(), false, fields.Lookup()),
            "insert into \"dbo\".\"Orders\" (\"ID\" , \"NAME\" , \"QTY\") "
            "Values(:ID , :NAME , :QTY) ");
}

TEST(UpdateSQL, SuppressNullsLeavesNullFieldsOut) {
  FakeFields fields;
  fields.Add("ID", ftInteger).Add("NAME", ftString, false, true).Add("QTY", ftInteger);
  EXPECT_EQ(GenerateUpdateSQL(ukInsert, Orders(), true, fields.Lookup()),
            "insert into \"dbo\".\"Orders\" (\"ID\" , \"QTY\") Values(:ID , :QTY) ");

  FakeFields single;
  single.Add("ID", ftInteger, false, true).Add("NAME", ftString, false, true).Add("QTY", ftInteger);
  EXPECT_EQ(GenerateUpdateSQL(ukInsert, Orders(), true, single.Lookup()),
            "insert into \"dbo\".\"Orders\" (\"QTY\") Values(:QTY) ");
}

TEST(UpdateSQL, SuppressNullsRefusesARowOfNullsAndMissingFields) {
  FakeFields nulls;
  nulls.Add("ID", ftInteger, false, true)
      .Add("NAME", ftString, false, true)
      .Add("QTY", ftInteger, false, true);
  try {
    GenerateUpdateSQL(ukInsert, Orders(), true, nulls.Lookup());
    FAIL() << "no error";
  } catch (const EDatabaseError& error) {
    EXPECT_EQ(error.Message(), "Cannot insert into dbo.Orders: every update field is null");
  }

  FakeFields missing;
  missing.Add("ID", ftInteger).Add("NAME", ftString);
  try {
    GenerateUpdateSQL(ukInsert, Orders(), true, missing.Lookup());
    FAIL() << "no error";
  } catch (const EDatabaseError& error) {
    EXPECT_EQ(error.Message(), "Field 'QTY' not found");
  }
}

TEST(UpdateSQL, JoinEndsEveryLineWithOneBlank) {
  EXPECT_EQ(JoinSQLLines({}), "");
  EXPECT_EQ(JoinSQLLines({"a", "", "b"}), "a  b ");
  EXPECT_EQ(JoinSQLLines({"x\r\ny", "z\n"}), "x y z\n ");
}

TEST(FieldChange, StringsIgnoreTrailingBlanksButNotCase) {
  const auto rule = TChangeRule::kString;
  EXPECT_FALSE(ValueChanged(rule, TVariant("abc  "), TVariant("abc"), false));
  EXPECT_TRUE(ValueChanged(rule, TVariant("abc"), TVariant("ABC"), false));
  EXPECT_TRUE(ValueChanged(rule, TVariant(" abc"), TVariant("abc"), false));
  EXPECT_TRUE(ValueChanged(rule, TVariant(), TVariant(""), false));
  EXPECT_TRUE(ValueChanged(rule, TVariant("  "), TVariant(), false));
  EXPECT_FALSE(ValueChanged(rule, TVariant(), TVariant(), false));
  EXPECT_FALSE(ValueChanged(rule, TVariant("   "), TVariant(""), false));
}

TEST(FieldChange, BytesCompareLengthAndEveryByte) {
  const auto rule = TChangeRule::kBytes;
  EXPECT_FALSE(ValueChanged(rule, TVariant(std::string("\x01\x00", 2)),
                            TVariant(std::string("\x01\x00", 2)), false));
  EXPECT_TRUE(ValueChanged(rule, TVariant(std::string("\x01\x00", 2)),
                           TVariant(std::string("\x01", 1)), false));
  EXPECT_TRUE(ValueChanged(rule, TVariant(std::string("\x01\x02", 2)),
                           TVariant(std::string("\x01\x03", 2)), false));
  EXPECT_TRUE(ValueChanged(rule, TVariant(), TVariant(std::string()), false));
}

TEST(FieldChange, BlobsFollowTheirModifiedFlagOrTheirValue) {
  EXPECT_TRUE(ValueChanged(TChangeRule::kBlob, TVariant("a"), TVariant("a"), true));
  EXPECT_TRUE(ValueChanged(TChangeRule::kBlob, TVariant("a"), TVariant("b"), false));
  EXPECT_FALSE(ValueChanged(TChangeRule::kBlob, TVariant("a"), TVariant("a"), false));
  EXPECT_TRUE(ValueChanged(TChangeRule::kValue, TVariant(1), TVariant(2), false));
  EXPECT_FALSE(ValueChanged(TChangeRule::kValue, TVariant(2.5), TVariant(2.5), false));
  EXPECT_TRUE(ValueChanged(TChangeRule::kValue, TVariant(0), TVariant(), false));
}

}  // namespace
}  // namespace velquarn
