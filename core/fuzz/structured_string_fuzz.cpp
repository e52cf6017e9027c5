// libFuzzer target for the structured-string reader: any UTF-16 text must read without a fault,
// every entry must lie inside the text, carry no separator in its name, come back trimmed, and
// a dump of the entries read must read back to the same entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qx/core/structured_string.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool Trimmed(qx::NameRef part) {
  return part.IsNull() || (part.length > 0 && !qx::IsAsciiSpace(part.data[0]) &&
                           !qx::IsAsciiSpace(part.data[part.length - 1]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  std::memcpy(text.data(), data, text.size() * 2);

  std::vector<std::pair<std::u16string, std::u16string>> entries;
  qx::StructuredStringWriter writer;
  qx::ReadStructuredString(text, &qx::IsAsciiSpace, [&](qx::NameRef name, qx::NameRef value) {
    for (qx::NameRef part : {name, value}) {
      if (part.IsNull()) continue;
      Check(part.data >= text.data() && part.data + part.length <= text.data() + text.size());
      Check(Trimmed(part));
      Check(std::u16string_view(part.data, part.length).find(u';') == std::u16string_view::npos);
    }
    if (!name.IsNull()) Check(std::u16string_view(name.data, name.length).find(u'=') == std::u16string_view::npos);
    // A wholly empty entry writes as "=", which reads back the same way.
    entries.emplace_back(name.IsNull() ? u"" : std::u16string(name.data, name.length),
                         value.IsNull() ? u"" : std::u16string(value.data, value.length));
    writer.Add(name, value);
  });
  // Entries read from text never contain ';' or NUL and are trimmed, so their dump reads back
  // to the same entries.
  {
    size_t i = 0;
    qx::ReadStructuredString(writer.Text(), &qx::IsAsciiSpace, [&](qx::NameRef name, qx::NameRef value) {
      Check(i < entries.size());
      Check(entries[i].first == (name.IsNull() ? u"" : std::u16string(name.data, name.length)));
      Check(entries[i].second == (value.IsNull() ? u"" : std::u16string(value.data, value.length)));
      ++i;
    });
    Check(i == entries.size());
  }
  return 0;
}
