#include "qx/core/persistence_item.h"

#include <gtest/gtest.h>

#include <string>

namespace qx {
namespace {

const std::u16string kId = u"{0B7C2E41-6F3A-4D59-9E18-2C5A7B3D9F60}";

struct Case {
  const char* what;
  std::u16string text;
  bool parsed;
  std::size_t length;  // N, as far as it was read
  std::size_t payloadOffset = 0;
};

// The checks that reach the end of the text; the others are tested through the global restorer.
TEST(PersistenceItem, HeaderOffsetsAndEndsOfText) {
  const Case cases[] = {
      {"payload", u"45 " + kId + u" abcd", true, 45, 42},
      {"leading zeros count", u"0046 " + kId + u" abcd", true, 46, 44},
      {"next item follows", u"42 " + kId + u" a" + u"42 " + kId + u" b", true, 42, 42},
      {"length beyond the text", u"99 " + kId + u" x", true, 99, 42},
      {"smallest length: the header", u"41 " + kId + u" ", true, 41, 42},
      {"largest length", u"10000000 " + kId + u" x", true, 10000000, 48},
      {"overflow keeps what was read", u"21474836470 " + kId, false, 2147483647},
      {"digits at the end", u"45", false, 45},
      {"no blank after the digits", u"45x" + kId + u" x", false, 45},
      {"class id cut by the end", u"45 " + kId.substr(0, 20), false, 45},
      {"class id closing at the end", u"45 " + kId, false, 45},
  };
  for (const Case& c : cases) {
    const PersistenceItemHeader header = ParsePersistenceItem(c.text);
    EXPECT_EQ(c.parsed, header.parsed) << c.what;
    EXPECT_EQ(c.length, header.length) << c.what;
    if (c.parsed) {
      EXPECT_EQ(kId, c.text.substr(header.classIdOffset, kClassIdLength)) << c.what;
      EXPECT_EQ(c.payloadOffset, header.payloadOffset) << c.what;
    }
  }
}

}  // namespace
}  // namespace qx
