#include "commands/xml_field_defs.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dataset/field.h"

namespace velquarn {
namespace {

std::unique_ptr<TField> MakeField(TFieldType type, const std::string& name, int size,
                                  bool required = false, bool read_only = false) {
  std::unique_ptr<TField> field = CreateFieldOfType(type, size);
  field->SetFieldName(name);
  field->SetOrigin(name);
  field->SetRequired(required);
  field->SetReadOnly(read_only);
  return field;
}

TEST(XmlFieldDefs, DocumentOfAnIntegerAndAStringColumn) {
  auto id = MakeField(ftInteger, "ID", 0, true);
  auto name = MakeField(ftString, "NAME", 30);
  EXPECT_EQ(BuildFieldDefsXml({id.get(), name.get()}),
            "<?xml version = \"1.0\" ?><fielddefs datetimeformat=\"iso\" decimalseparator=\".\">"
            "<field><name>ID</name><size>0</size><origin>ID</origin><required>true</required>"
            "<datatype>int32</datatype></field><field><name>NAME</name><size>30</size>"
            "<origin>NAME</origin><datatype>string</datatype></field></fielddefs>");
}

TEST(XmlFieldDefs, BcdHasSizeZeroAndPrecision) {
  auto amount = MakeField(ftBCD, "AMOUNT", 4, false, true);
  amount->SetPrecision(18);
  const std::string xml = BuildFieldDefsXml({amount.get()});
  EXPECT_NE(xml.find("<field><name>AMOUNT</name><size>0</size><origin>AMOUNT</origin>"
                     "<precision>18</precision><readonly>true</readonly>"
                     "<datatype>double</datatype></field>"),
            std::string::npos)
      << xml;
}

TEST(XmlFieldDefs, NamesEscapeAmpersandAndLessThanAndKeepCp1252Bytes) {
  auto field = MakeField(ftString, "a&b<c>\"\xE5", 5);
  field->SetOrigin("o&<");
  const std::string xml = BuildFieldDefsXml({field.get()});
  EXPECT_NE(xml.find("<name>a&amp;b&lt;c>\"\xE5</name>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<origin>o&amp;&lt;</origin>"), std::string::npos) << xml;
}

}  // namespace
}  // namespace velquarn
