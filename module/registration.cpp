// Self-registration: the AppID, the keys of every class of the object map, and the type library,
// per machine (HKEY_CLASSES_ROOT) or per user (HKEY_CURRENT_USER\Software\Classes).
//
// The keys are described as a small tree and written or removed by one walker, with the
// registrar's three removal rules: a plain key is removed on unregistration once nothing of its
// own is left in it, a NoRemove key is never removed (only its children are visited), and a
// ForceRemove key is removed with everything below it (and replaced whole on registration).
#include "module/registration.h"

#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "framework/owners.h"
#include "module/module.h"
#include "module/qxsdk_idl.h"

namespace qx {
namespace {

using com::ComPtr;

constexpr GUID kAppId = {0xca3c774d, 0xfaba, 0x40c0, {0xa7, 0xc2, 0x48, 0x32, 0x42, 0x0c, 0x15, 0x55}};
constexpr const wchar_t* kAppName = L"QXSDKCommon";
constexpr const wchar_t* kAppModuleKey = L"QXSDKCommon.DLL";

enum class Removal { Plain, NoRemove, ForceRemove };

struct RegKey {
  std::wstring name;
  Removal removal = Removal::Plain;
  std::optional<std::wstring> defaultValue;
  std::vector<std::pair<std::wstring, std::wstring>> values;
  std::vector<RegKey> children;
};

// A key with a default value.
RegKey Key(std::wstring name, std::wstring value, Removal removal = Removal::Plain) {
  RegKey key;
  key.name = std::move(name);
  key.defaultValue = std::move(value);
  key.removal = removal;
  return key;
}

// A key without a default value.
RegKey EmptyKey(std::wstring name, Removal removal = Removal::Plain) {
  RegKey key;
  key.name = std::move(name);
  key.removal = removal;
  return key;
}

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

HRESULT FromWin32(LONG status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

HRESULT WriteKey(HKEY parent, const RegKey& entry) {
  if (entry.removal == Removal::ForceRemove) RegDeleteTreeW(parent, entry.name.c_str());
  com::UniqueRegKey key;
  LONG status =
      RegCreateKeyExW(parent, entry.name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, key.Put(), nullptr);
  if (status != ERROR_SUCCESS) return FromWin32(status);
  if (entry.defaultValue) {
    status = SetString(key.Get(), nullptr, *entry.defaultValue);
    if (status != ERROR_SUCCESS) return FromWin32(status);
  }
  for (const auto& [name, value] : entry.values) {
    status = SetString(key.Get(), name.c_str(), value);
    if (status != ERROR_SUCCESS) return FromWin32(status);
  }
  for (const RegKey& child : entry.children) {
    const HRESULT hr = WriteKey(key.Get(), child);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

bool IsEmptyKey(HKEY key) {
  DWORD subkeys = 0, values = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                       nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return subkeys == 0 && values == 0;
}

HRESULT RemoveKey(HKEY parent, const RegKey& entry) {
  if (entry.removal == Removal::ForceRemove) {
    const LONG status = RegDeleteTreeW(parent, entry.name.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
      RegDeleteKeyW(parent, entry.name.c_str());
      return S_OK;
    }
    return FromWin32(status);
  }
  com::UniqueRegKey key;
  LONG status = RegOpenKeyExW(parent, entry.name.c_str(), 0, KEY_READ | KEY_WRITE, key.Put());
  if (status == ERROR_FILE_NOT_FOUND) return S_OK;  // already gone
  if (status != ERROR_SUCCESS) return FromWin32(status);
  for (const RegKey& child : entry.children) {
    const HRESULT hr = RemoveKey(key.Get(), child);
    if (FAILED(hr)) return hr;
  }
  if (entry.removal == Removal::NoRemove) return S_OK;
  if (entry.defaultValue) RegDeleteValueW(key.Get(), nullptr);
  for (const auto& [name, value] : entry.values) RegDeleteValueW(key.Get(), name.c_str());
  if (IsEmptyKey(key.Get())) {
    status = RegDeleteKeyW(parent, entry.name.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return FromWin32(status);
  }
  return S_OK;
}

std::vector<RegKey> AppIdKeys() {
  const std::wstring appId = GuidText(kAppId);
  RegKey appIdRoot = EmptyKey(L"AppID", Removal::NoRemove);
  appIdRoot.children.push_back(Key(appId, kAppName));
  RegKey moduleKey = EmptyKey(kAppModuleKey);
  moduleKey.values.emplace_back(L"AppID", appId);
  appIdRoot.children.push_back(std::move(moduleKey));
  return {std::move(appIdRoot)};
}

std::vector<RegKey> ClassKeys(const ClassEntry& entry, const std::wstring& modulePath) {
  const std::wstring clsid = GuidText(*entry.clsid);
  const std::wstring libid = GuidText(LIBID_QXSDKCommon);

  RegKey progId = Key(entry.progId, entry.description);
  progId.children.push_back(Key(L"CLSID", clsid));

  RegKey versionIndependent = Key(entry.versionIndependentProgId, entry.description);
  versionIndependent.children.push_back(Key(L"CLSID", clsid));
  versionIndependent.children.push_back(Key(L"CurVer", entry.progId));

  RegKey classKey = Key(clsid, entry.description, Removal::ForceRemove);
  classKey.children.push_back(Key(L"ProgID", entry.progId));
  classKey.children.push_back(Key(L"VersionIndependentProgID", entry.versionIndependentProgId));
  classKey.children.push_back(EmptyKey(L"Programmable", Removal::ForceRemove));
  RegKey server = Key(L"InprocServer32", modulePath);
  server.values.emplace_back(L"ThreadingModel", entry.threadingModel);
  classKey.children.push_back(std::move(server));
  classKey.children.push_back(Key(L"TypeLib", libid));

  RegKey clsidRoot = EmptyKey(L"CLSID", Removal::NoRemove);
  clsidRoot.children.push_back(std::move(classKey));

  std::vector<RegKey> keys;
  keys.push_back(std::move(progId));
  keys.push_back(std::move(versionIndependent));
  keys.push_back(std::move(clsidRoot));
  return keys;
}

// The root the class keys live under: HKEY_CLASSES_ROOT, or the user's own classes.
HRESULT OpenClassesRoot(bool perUser, com::UniqueRegKey& root) {
  const HKEY base = perUser ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT;
  const wchar_t* path = perUser ? L"Software\\Classes" : L"";
  return FromWin32(RegCreateKeyExW(base, path, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, root.Put(), nullptr));
}

HRESULT Apply(const std::vector<RegKey>& keys, bool registering, bool perUser) {
  com::UniqueRegKey root;
  HRESULT hr = OpenClassesRoot(perUser, root);
  if (FAILED(hr)) return hr;
  for (const RegKey& key : keys) {
    hr = registering ? WriteKey(root.Get(), key) : RemoveKey(root.Get(), key);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// Keeps the thread locale at the system default while registration runs.
class SystemLocaleScope {
 public:
  SystemLocaleScope() : saved_(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
  ~SystemLocaleScope() { SetThreadLocale(saved_); }
  SystemLocaleScope(const SystemLocaleScope&) = delete;
  SystemLocaleScope& operator=(const SystemLocaleScope&) = delete;

 private:
  LCID saved_;
};

using RegisterForUserFn = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnregisterForUserFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

// An export of the automation library, looked up by name: older systems lack the per-user ones.
template <class Fn>
Fn OleAutomationExport(const char* name) {
  HMODULE oleaut = GetModuleHandleW(L"OLEAUT32.DLL");
  FARPROC proc = oleaut ? GetProcAddress(oleaut, name) : nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

HRESULT LoadOwnTypeLibrary(const std::wstring& modulePath, ComPtr<ITypeLib>& library) {
  return LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, library.Put());
}

HRESULT LibraryAttributes(ITypeLib* library, TLIBATTR& out) {
  TLIBATTR* attributes = nullptr;
  const HRESULT hr = library->GetLibAttr(&attributes);
  if (FAILED(hr)) return hr;
  out = *attributes;
  library->ReleaseTLibAttr(attributes);
  return S_OK;
}

std::wstring HexText(unsigned value) {
  wchar_t text[16];
  swprintf(text, 16, L"%x", value);
  return text;
}

// Wine's type-library marshaler, which serves the library's own interfaces across apartments,
// looks the library up under locale 0 only, while the library registers under its own locale.
// So the registration of this bitness is mirrored under locale 0: under each classes root that
// holds the own-locale entry (the per-user functions may fall back to the machine's root).
struct NeutralLocaleEntry {
  std::wstring versionPath;  // TypeLib\{libid}\major.minor
  std::wstring ownLocale;    // the library's locale, as the key names it
  std::wstring platform;     // win32 or win64
};

NeutralLocaleEntry NeutralLocaleOf(const TLIBATTR& a) {
  return {L"TypeLib\\" + GuidText(a.guid) + L"\\" + HexText(a.wMajorVerNum) + L"." + HexText(a.wMinorVerNum),
          HexText(a.lcid), a.syskind == SYS_WIN64 ? L"win64" : L"win32"};
}

std::vector<RegKey> NeutralLocaleKeys(const NeutralLocaleEntry& entry, const std::wstring& modulePath) {
  RegKey locale = EmptyKey(L"0");
  locale.children.push_back(Key(entry.platform, modulePath));
  RegKey version = EmptyKey(entry.versionPath, Removal::NoRemove);
  version.children.push_back(std::move(locale));
  return {std::move(version)};
}

// The classes roots to visit: the user's own classes first when registering per user.
std::vector<bool> ClassesRoots(bool perUser) { return perUser ? std::vector<bool>{true, false} : std::vector<bool>{false}; }

HRESULT RegisterNeutralLocale(const TLIBATTR& a, const std::wstring& modulePath, bool perUser) {
  if (a.lcid == 0) return S_OK;
  const NeutralLocaleEntry entry = NeutralLocaleOf(a);
  for (const bool userRoot : ClassesRoots(perUser)) {
    com::UniqueRegKey root, own;
    if (FAILED(OpenClassesRoot(userRoot, root))) continue;
    const std::wstring ownPath = entry.versionPath + L"\\" + entry.ownLocale + L"\\" + entry.platform;
    if (RegOpenKeyExW(root.Get(), ownPath.c_str(), 0, KEY_READ, own.Put()) != ERROR_SUCCESS) continue;
    const HRESULT hr = Apply(NeutralLocaleKeys(entry, modulePath), true, userRoot);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT UnregisterNeutralLocale(const TLIBATTR& a, const std::wstring& modulePath, bool perUser) {
  if (a.lcid == 0) return S_OK;
  const NeutralLocaleEntry entry = NeutralLocaleOf(a);
  for (const bool userRoot : ClassesRoots(perUser)) {
    const HRESULT hr = Apply(NeutralLocaleKeys(entry, modulePath), false, userRoot);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT RegisterTypeLibrary(const std::wstring& modulePath, bool perUser) {
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadOwnTypeLibrary(modulePath, library);
  if (FAILED(hr)) return hr;
  TLIBATTR a;
  hr = LibraryAttributes(library.Get(), a);
  if (FAILED(hr)) return hr;
  // The help directory is the folder of the help file the library names, if it names one.
  com::UniqueBstr helpFile;
  std::wstring helpDir;
  if (SUCCEEDED(library->GetDocumentation(-1, nullptr, nullptr, nullptr, helpFile.Put())) && !helpFile.IsNull()) {
    helpDir.assign(helpFile.Get(), helpFile.Length());
    const size_t slash = helpDir.find_last_of(L"\\/");
    helpDir.resize(slash == std::wstring::npos ? 0 : slash);
  }
  auto* path = const_cast<OLECHAR*>(modulePath.c_str());
  auto* dir = helpDir.empty() ? nullptr : const_cast<OLECHAR*>(helpDir.c_str());
  RegisterForUserFn forUser = perUser ? OleAutomationExport<RegisterForUserFn>("RegisterTypeLibForUser") : nullptr;
  hr = forUser ? forUser(library.Get(), path, dir) : RegisterTypeLib(library.Get(), path, dir);
  if (FAILED(hr)) return hr;
  return RegisterNeutralLocale(a, modulePath, perUser);
}

HRESULT UnregisterTypeLibrary(const std::wstring& modulePath, bool perUser) {
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadOwnTypeLibrary(modulePath, library);
  if (FAILED(hr)) return hr;
  TLIBATTR a;
  hr = LibraryAttributes(library.Get(), a);
  if (FAILED(hr)) return hr;
  // The locale-0 mirror goes first, so that the platform finds the version key otherwise empty.
  hr = UnregisterNeutralLocale(a, modulePath, perUser);
  if (FAILED(hr)) return hr;
  if (perUser) {
    if (auto fn = OleAutomationExport<UnregisterForUserFn>("UnRegisterTypeLibForUser")) {
      return fn(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, a.syskind);
    }
  }
  return UnRegisterTypeLib(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, a.syskind);
}

}  // namespace

HRESULT RegisterServer() noexcept {
  try {
    SystemLocaleScope locale;
    const CQXSDKCommonModule& module = CQXSDKCommonModule::Instance();
    const bool perUser = module.PerUserRegistration();
    const std::wstring path = module.ModulePath();
    HRESULT hr = Apply(AppIdKeys(), true, perUser);
    if (FAILED(hr)) return hr;
    size_t count = 0;
    const ClassEntry* map = ObjectMap(&count);
    for (size_t i = 0; i < count; ++i) {
      hr = Apply(ClassKeys(map[i], path), true, perUser);
      if (FAILED(hr)) return hr;
    }
    return RegisterTypeLibrary(path, perUser);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnregisterServer() noexcept {
  try {
    SystemLocaleScope locale;
    const CQXSDKCommonModule& module = CQXSDKCommonModule::Instance();
    const bool perUser = module.PerUserRegistration();
    const std::wstring path = module.ModulePath();
    size_t count = 0;
    const ClassEntry* map = ObjectMap(&count);
    for (size_t i = 0; i < count; ++i) {
      const HRESULT hr = Apply(ClassKeys(map[i], path), false, perUser);
      if (FAILED(hr)) return hr;
    }
    // A library that is not registered any more is no failure of unregistration.
    const HRESULT hr = UnregisterTypeLibrary(path, perUser);
    if (FAILED(hr) && hr != TYPE_E_REGISTRYACCESS && hr != TYPE_E_LIBNOTREGISTERED) return hr;
    return Apply(AppIdKeys(), false, perUser);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace qx
