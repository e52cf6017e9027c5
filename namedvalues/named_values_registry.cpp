// The registry form of NamedValues: LoadFromRegistry and DumpToRegistry, through the shared
// registry codec. Every failure of a value counts toward the result here.
#include <utility>
#include <vector>

#include "common/error_reporter.h"
#include "framework/boundary.h"
#include "namedvalues/named_values.h"
#include "namedvalues/registry_form.h"

namespace qx {

using com::ComBoundary;
using com::kDescribeWhereFound;

HRESULT CNamedValues::LoadFromRegistry(qxnvRegistryKeyConstants RootKey, BSTR SubKey, qxnvRegistryOptions Opt) {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::LoadFromRegistry", [&] {
    if (readOnly_) return ReportSystemError(E_ACCESSDENIED);
    CollectionLoadTarget<CNamedValues> target(*this, kNamedValuesRegistryRules);
    HRESULT failure = S_OK;
    const HRESULT hr = LoadRegistryKey(RootKey, SubKey, Opt, target, kNamedValuesRegistryRules, failure);
    if (FAILED(hr)) return hr;
    return FAILED(failure) ? ReportHResult(failure) : S_OK;
  });
}

HRESULT CNamedValues::DumpToRegistry(qxnvRegistryKeyConstants RootKey, BSTR SubKey, qxnvRegistryOptions Opt) {
  return ComBoundary(kDescribeWhereFound, L" CNamedValues::DumpToRegistry", [&] {
    const HRESULT hr =
        DumpRegistryKey(RootKey, SubKey, Opt, kNamedValuesRegistryRules, [&](std::vector<RegistryEntry>& entries) {
          // The members are read through their own interface, as any client would; one that fails
          // is remembered and left out.
          HRESULT failure = S_OK;
          for (const auto& member : Members()) {
            RegistryEntry entry;
            HRESULT read = member->get_Value(entry.value.Put());
            if (SUCCEEDED(read)) read = member->get_Name(entry.name.Put());
            if (FAILED(read)) {
              failure = read;
              continue;
            }
            entries.push_back(std::move(entry));
          }
          return failure;
        });
    return PropagateHResult(hr);
  });
}

}  // namespace qx
