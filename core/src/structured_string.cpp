#include "qx/core/structured_string.h"

namespace qx {

bool IsAsciiSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

void StructuredStringWriter::Add(NameRef name, NameRef value) {
  if (entries_++ > 0) text_.push_back(u';');
  text_.append(name.data ? name.data : u"", name.length);
  text_.push_back(u'=');
  text_.append(value.data ? value.data : u"", value.length);
}

}  // namespace qx
