// libFuzzer target for the persistence-item header parser: any UTF-16 text parses without a
// fault, and every accepted item's class id and payload lie inside the text, with the length and
// the braces the checks demand. Items are walked as the global restorer walks them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "qx/core/persistence_item.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  std::memcpy(text.data(), data, text.size() * 2);

  std::size_t position = 0;
  do {
    const std::u16string_view rest = std::u16string_view(text).substr(position);
    const qx::PersistenceItemHeader header = qx::ParsePersistenceItem(rest);
    if (!header.parsed) break;
    Check(header.length >= 1 && header.length <= qx::kMaxPersistenceItemLength);
    Check(header.classIdOffset + qx::kClassIdLength <= header.length);
    Check(header.payloadOffset == header.classIdOffset + qx::kClassIdLength + 1);
    Check(header.payloadOffset <= rest.size());
    Check(rest[header.classIdOffset] == u'{' && rest[header.payloadOffset - 2] == u'}' &&
          rest[header.payloadOffset - 1] == u' ');
    position += header.length;
  } while (position < text.size());
  return 0;
}
