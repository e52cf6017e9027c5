// The structured-string form of NamedValues: DumpToString and LoadFromString.
#include <cwctype>

#include "common/error_reporter.h"
#include "common/variant_text.h"
#include "framework/boundary.h"
#include "namedvalues/named_values.h"
#include "qx/core/structured_string.h"

namespace qx {

using com::ComBoundary;
using com::kDescribeWhereFound;
using com::UniqueBstr;
using com::UniqueVariant;

namespace {

bool RuntimeIsSpace(char16_t c) { return iswspace(static_cast<wint_t>(c)) != 0; }

}  // namespace

HRESULT CNamedValues::DumpToString(BSTR* pStr) {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::DumpToString", [&] {
    if (!pStr) return ReportSystemError(E_POINTER);
    *pStr = nullptr;
    StructuredStringWriter writer;
    // Converting an object value runs its code, which may change this collection: the dump
    // walks a counted snapshot, and reads each name only after its value is converted.
    for (const auto& member : Members()) {
      const VARIANT& value = member->Value();
      if (V_VT(&value) == VT_BSTR) {
        writer.Add(member->Name(), NameOf(V_BSTR(&value)));
        continue;
      }
      UniqueVariant text;
      const HRESULT hr = VariantToText(value, text);
      if (FAILED(hr)) return PropagateHResult(hr);
      writer.Add(member->Name(), NameOf(V_BSTR(&text.Get())));
    }
    if (!writer.Empty()) {
      const std::u16string& text = writer.Text();
      *pStr = UniqueBstr::Copy(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size())).Detach();
    }
    return S_OK;
  });
}

HRESULT CNamedValues::LoadFromString(BSTR str) {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::LoadFromString", [&] {
    if (readOnly_) return ReportSystemError(E_ACCESSDENIED);
    if (!str) return S_OK;
    HRESULT failure = S_OK;
    const std::u16string_view text(reinterpret_cast<const char16_t*>(str), SysStringLen(str));
    ReadStructuredString(text, &RuntimeIsSpace, [&](NameRef name, NameRef value) {
      // Each entry goes in on its own: a failed one is remembered and the rest still load.
      const HRESULT hr = AddLoaded(name, value);
      if (FAILED(hr)) failure = hr;
    });
    return FAILED(failure) ? ReportHResult(failure) : S_OK;
  });
}

}  // namespace qx
