// The structured-string reader; the writer is checked through the collections' string form and
// by the round trip of the fuzz target.
#include "qx/core/structured_string.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace qx {
namespace {

// An entry as read, with "<null>" for absent parts so that null and empty can be told apart.
using Entry = std::pair<std::u16string, std::u16string>;

std::u16string Show(NameRef part) { return part.IsNull() ? u"<null>" : std::u16string(part.data, part.length); }

std::vector<Entry> Read(std::u16string_view text) {
  std::vector<Entry> entries;
  ReadStructuredString(text, &IsAsciiSpace,
                       [&](NameRef name, NameRef value) { entries.emplace_back(Show(name), Show(value)); });
  return entries;
}

TEST(StructuredStringReader, Entries) {
  const struct {
    std::u16string text;
    std::vector<Entry> entries;
  } rows[] = {
      {u" a = 1 ; b=x=y ;c ", {{u"a", u"1"}, {u"b", u"x=y"}, {u"c", u"<null>"}}},  // trimmed; further '=' kept
      {u"k=", {{u"k", u"<null>"}}},
      {u"=v", {{u"<null>", u"v"}}},
      {u" \t\r\n", {}},
      {u";x=1", {{u"<null>", u"<null>"}, {u"x", u"1"}}},  // a leading or doubled ';' is an entry
      {u"a=1;;b=2", {{u"a", u"1"}, {u"<null>", u"<null>"}, {u"b", u"2"}}},
      {u"a=1;", {{u"a", u"1"}}},  // one trailing ';' is not
      {u"a=1; ;", {{u"a", u"1"}, {u"<null>", u"<null>"}}},
      {u";", {{u"<null>", u"<null>"}}},
      {std::u16string(u"a=1;b\0c=2;d=3", 13), {{u"a", u"1"}, {u"b", u"<null>"}}},  // stops at the first NUL
  };
  for (const auto& row : rows) EXPECT_EQ(row.entries, Read(row.text)) << (&row - rows);
}

TEST(StructuredStringReader, LongTextWithoutEqualsIsLinear) {
  // 200,000 entries with no '=' anywhere: each entry's search stays inside the entry.
  std::u16string text;
  for (int i = 0; i < 200000; ++i) text += u"name;";
  size_t count = 0;
  ReadStructuredString(text, &IsAsciiSpace, [&](NameRef, NameRef value) {
    EXPECT_TRUE(value.IsNull());
    ++count;
  });
  EXPECT_EQ(200000u, count);
}

}  // namespace
}  // namespace qx
