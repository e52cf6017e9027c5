// libFuzzer target for the structured-string reader: any UTF-16 text reads without a fault, every
// entry lies inside the text, trimmed, with no ';' in it and no '=' in its name, and the dump of
// the entries read reads back to the same entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "qx/core/structured_string.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

using Entries = std::vector<std::pair<std::u16string_view, std::u16string_view>>;

// The entries of `text`; an empty part must come as null, and is kept as empty (a wholly empty
// entry dumps as "=", which reads back the same way).
Entries Read(std::u16string_view text, qx::StructuredStringWriter* writer) {
  Entries entries;
  qx::ReadStructuredString(text, &qx::IsAsciiSpace, [&](qx::NameRef name, qx::NameRef value) {
    Check((name.IsNull() || name.length > 0) && (value.IsNull() || value.length > 0));
    entries.emplace_back(std::u16string_view(name.data, name.length), std::u16string_view(value.data, value.length));
    if (writer) writer->Add(name, value);
  });
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  std::memcpy(text.data(), data, text.size() * 2);

  qx::StructuredStringWriter writer;
  const Entries entries = Read(text, &writer);
  for (const auto& [name, value] : entries) {
    for (std::u16string_view part : {name, value}) {
      if (part.empty()) continue;
      Check(part.data() >= text.data() && part.data() + part.size() <= text.data() + text.size());
      Check(!qx::IsAsciiSpace(part.front()) && !qx::IsAsciiSpace(part.back()));
      Check(part.find(u';') == std::u16string_view::npos);
    }
    Check(name.find(u'=') == std::u16string_view::npos);
  }
  Check(Read(writer.Text(), nullptr) == entries);
  return 0;
}
