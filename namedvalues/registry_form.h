// The registry form of the named-value collections (NamedValues and MTNVS): loading the values
// (and, on request, the subkeys, as nested collections) of a key, and writing members as values.
//
// The registry is reached through the ANSI functions only; key names, value names and string
// data pass between BSTRs and the process's ANSI code page. The two collections differ only in
// what they count as a failure (RegistryRules) and in how they add a member and make a nested
// collection (RegistryLoadTarget).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <functional>
#include <vector>

#include "framework/com_object.h"
#include "framework/owners.h"
#include "module/qxsdk_idl.h"

namespace qx {

struct RegistryRules {
  // Load: a nested collection that cannot be made ends the whole load, rather than becoming a
  // VT_ERROR E_OUTOFMEMORY value.
  bool nestedFailureEndsLoad;
  // Load: a key that opens but cannot be queried is described as a key that cannot be opened
  // (0x800404A2), rather than by its system error.
  bool queryFailsAsOpen;
  // Dump: a value without a registry form is returned as the failure (it is skipped either way).
  bool keepConversionFailures;
};

inline constexpr RegistryRules kNamedValuesRegistryRules{false, false, false};
inline constexpr RegistryRules kMTNVSRegistryRules{true, true, true};

// The handle of a key as a root key argument (so that nested loads open subkeys of it).
inline qxnvRegistryKeyConstants AsRoot(HKEY key) {
  return static_cast<qxnvRegistryKeyConstants>(static_cast<LONG>(reinterpret_cast<LONG_PTR>(key)));
}

// What a loading collection supplies.
class RegistryLoadTarget {
 public:
  // Adds a member, replacing the value of one of the same name.
  virtual HRESULT AddLoaded(BSTR name, const VARIANT& value) = 0;
  // A new collection of the target's kind, loaded from subkey `name` of `key` with its subkeys,
  // into `value` (VT_DISPATCH, or a VT_ERROR value when it could not be made). Returns the
  // nested load's result; throws to end the whole load.
  virtual HRESULT LoadNested(HKEY key, BSTR name, com::UniqueVariant& value) = 0;

 protected:
  ~RegistryLoadTarget() = default;
};

// The loader's view of a collection of class C: entries replace members of the same name
// (C::InternalAdd); a subkey becomes a new C of its own (default style and order), loaded
// through its LoadFromRegistry.
template <class C>
class CollectionLoadTarget final : public RegistryLoadTarget {
 public:
  CollectionLoadTarget(C& collection, const RegistryRules& rules) noexcept : collection_(collection), rules_(rules) {}
  HRESULT AddLoaded(BSTR name, const VARIANT& value) override {
    return collection_.InternalAdd(name, value, true, nullptr);
  }
  HRESULT LoadNested(HKEY key, BSTR name, com::UniqueVariant& value) override {
    com::ComPtr<C> nested;
    try {
      nested = com::MakeCom<C>();
    } catch (...) {
      if (rules_.nestedFailureEndsLoad) throw;
      V_VT(value.Put()) = VT_ERROR;
      V_ERROR(value.AddressOf()) = E_OUTOFMEMORY;
      return E_OUTOFMEMORY;
    }
    const HRESULT hr = nested->LoadFromRegistry(AsRoot(key), name, qxnvIncludeSubkeys);
    V_VT(value.Put()) = VT_DISPATCH;
    V_DISPATCH(value.AddressOf()) = static_cast<INamedValues2*>(nested.Detach());
    return hr;
  }

 private:
  C& collection_;
  const RegistryRules& rules_;
};

// Adds the values of root\subKey, last index first, and with qxnvIncludeSubkeys its subkeys.
// Returns the failure of the key itself (bad options, a key that cannot be opened), described on
// the thread. A failing value or subkey does not stop the load: `entryFailure` receives the last
// one (an unsupported or unknown type is described when it is met; its member is still added).
HRESULT LoadRegistryKey(qxnvRegistryKeyConstants root, BSTR subKey, qxnvRegistryOptions options,
                        RegistryLoadTarget& target, const RegistryRules& rules, HRESULT& entryFailure);

// One member as it is written: its name and a copy of its value.
struct RegistryEntry {
  com::UniqueBstr name;
  com::UniqueVariant value;
};

// Opens or creates root\subKey by `options`, then writes the entries that `gather` lists (called
// once the key is open). Returns the failure of the key itself, described on the thread, else the
// last remembered one: of `gather`, or (under `rules`) of a value without a registry form.
HRESULT DumpRegistryKey(qxnvRegistryKeyConstants root, BSTR subKey, qxnvRegistryOptions options,
                        const RegistryRules& rules, const std::function<HRESULT(std::vector<RegistryEntry>&)>& gather);

}  // namespace qx
