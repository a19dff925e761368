#include "common/string_list.h"

#include <gtest/gtest.h>

#include "common/exceptions.h"

namespace velquarn {
namespace {

TEST(TStringList, BadIndexRaisesListErrorNamingIt) {
  TStringList list;
  list.Add("a");
  try {
    list.Strings(5);
    FAIL();
  } catch (const EListError& error) {
    EXPECT_STREQ(error.what(), "List index out of bounds (5)");
    EXPECT_STREQ(error.ClassName(), "EListError");
  }
  EXPECT_THROW(list[-1], EListError);
  EXPECT_THROW(list.Delete(1), EListError);
  EXPECT_THROW(list.SetStrings(1, "x"), EListError);
  EXPECT_THROW(list.Insert(2, "x"), EListError);
  list.Insert(1, "b");
  list.Insert(0, "c");
  EXPECT_EQ(list.Items(), (std::vector<std::string>{"c", "a", "b"}));
}

TEST(TStringList, NameValueAccessIgnoresCase) {
  TStringList list;
  list.SetText("plain\r\nUID=sa\r\nPWD=a=b\r\nuid=other\r\n");
  EXPECT_EQ(list.Names(0), "");
  EXPECT_EQ(list.ValueFromIndex(0), "");
  EXPECT_EQ(list.Names(2), "PWD");
  EXPECT_EQ(list.ValueFromIndex(2), "a=b");
  EXPECT_EQ(list.IndexOfName("uid"), 1);
  EXPECT_EQ(list.IndexOfName("plain"), -1);
  EXPECT_EQ(list.Values("Uid"), "sa");
  EXPECT_EQ(list.Values("missing"), "");
  EXPECT_EQ(list.IndexOf("PLAIN"), 0);

  list.SetValue("uid", "admin");
  EXPECT_EQ(list.Strings(1), "uid=admin");
  list.SetValue("Server", "db1");
  EXPECT_EQ(list.Strings(4), "Server=db1");
  list.SetValue("PWD", "");
  EXPECT_EQ(list.IndexOfName("pwd"), -1);
  EXPECT_EQ(list.Count(), 4);
}

TEST(TStringList, TextSplitsAtEveryLineEnd) {
  TStringList list;
  list.SetText("a\r\nb\nc\rd");
  EXPECT_EQ(list.Items(), (std::vector<std::string>{"a", "b", "c", "d"}));
  list.SetText("a\n\nb\r\n");
  EXPECT_EQ(list.Items(), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(list.Text(), "a\r\n\r\nb\r\n");
  list.SetText("");
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(list.Text(), "");
}

TEST(TStringList, CommaTextQuotesWhatWouldSplit) {
  TStringList list;
  list.Add("a");
  list.Add("b c");
  list.Add("d,e");
  list.Add("say \"hi\"");
  list.Add("");
  EXPECT_EQ(list.CommaText(), "a,\"b c\",\"d,e\",\"say \"\"hi\"\"\",");
  TStringList single;
  single.Add("");
  EXPECT_EQ(single.CommaText(), "\"\"");
}

TEST(TStringList, SetCommaTextReadsWhatCommaTextWrites) {
  TStringList list;
  list.SetCommaText(" a , \"b c\",\"d,e\",\"say \"\"hi\"\"\",");
  EXPECT_EQ(list.Items(), (std::vector<std::string>{"a", "b c", "d,e", "say \"hi\"", ""}));
  list.SetCommaText("x=1 y=2,z=3");
  EXPECT_EQ(list.Items(), (std::vector<std::string>{"x=1", "y=2", "z=3"}));
  list.SetCommaText("\"unterminated");
  EXPECT_EQ(list.Items(), (std::vector<std::string>{"unterminated"}));
  list.SetCommaText("a,,b");
  EXPECT_EQ(list.Items(), (std::vector<std::string>{"a", "", "b"}));
  list.SetCommaText("");
  EXPECT_TRUE(list.Empty());
}

TEST(TStringList, SortIsCaseInsensitiveAndStable) {
  TStringList list;
  for (const char* item : {"b", "B", "a", "C", "A"}) list.Add(item);
  list.Sort();
  EXPECT_EQ(list.Items(), (std::vector<std::string>{"a", "A", "b", "B", "C"}));
}

}  // namespace
}  // namespace velquarn
