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

#include "framework/owners.h"
#include "module/qxsdk_idl.h"

namespace qx {

struct RegistryRules {
  // Load: single values (their types, their adds) and nested loads make the result; otherwise
  // only bad options and a key that cannot be opened do.
  bool keepEntryFailures;
  // Load: a key that opens but cannot be queried is described as a key that cannot be opened
  // (0x800404A2), rather than by its system error.
  bool queryFailsAsOpen;
  // Dump: a value without a registry form is returned as the failure (it is skipped either way).
  bool keepConversionFailures;
};

inline constexpr RegistryRules kNamedValuesRegistryRules{true, false, false};
inline constexpr RegistryRules kMTNVSRegistryRules{false, true, true};

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

// Adds the values of root\subKey, last index first, and with qxnvIncludeSubkeys its subkeys.
// Describes its own failures on the thread and returns the result under `rules`.
HRESULT LoadRegistryKey(qxnvRegistryKeyConstants root, BSTR subKey, qxnvRegistryOptions options,
                        RegistryLoadTarget& target, const RegistryRules& rules);

// One member as it is written: its name and a copy of its value.
struct RegistryEntry {
  com::UniqueBstr name;
  com::UniqueVariant value;
};

// Opens or creates root\subKey by `options`, then writes the entries that `gather` lists (called
// once the key is open; its failure is remembered as the result). Describes the key's failures
// on the thread.
HRESULT DumpRegistryKey(qxnvRegistryKeyConstants root, BSTR subKey, qxnvRegistryOptions options,
                        const RegistryRules& rules, const std::function<HRESULT(std::vector<RegistryEntry>&)>& gather);

// The handle of a key as a root key argument (so that nested loads open subkeys of it).
inline qxnvRegistryKeyConstants AsRoot(HKEY key) {
  return static_cast<qxnvRegistryKeyConstants>(static_cast<LONG>(reinterpret_cast<LONG_PTR>(key)));
}

}  // namespace qx
