// qx_test_restorer.dll: a stand-in for the SDK modules whose objects the global restorer brings
// back. Two restorer classes (A and B) implement IQXRestorer; what they do is steered by the
// payload of their item, a list of commands separated by ';':
//
//   set:name=value   add the member name = "value" to the working context
//   server:name      (RestoreServers) add the member name = "A" or "B" to the servers
//   error:text       (RestoreServers) add an error with that description to the errors
//   fail:XXXXXXXX    return that HRESULT (hex) without an error object
//   raise:XXXXXXXX   return that HRESULT with an error object "Restorer raised XXXXXXXX"
//
// RestoreObject returns a record of what it received: a NamedValues collection with the
// members Class ("A" or "B"), Item (the text handed in), Context (the context's string form) and
// Guard (an object that counts live records). TestRestorerCounts reports the counts;
// DllRegisterServer registers both classes.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <string_view>

#include "framework/class_factory.h"
#include "framework/com_object.h"
#include "module/qxsdk_idl.h"
#include "qx/core/persistence_item.h"
#include "restorer_dll/test_restorer.h"

namespace {

using qx::com::ComPtr;
using qx::com::UniqueBstr;
using qx::com::UniqueVariant;

HINSTANCE g_module = nullptr;
volatile LONG g_created = 0;
volatile LONG g_liveRestorers = 0;
volatile LONG g_liveRecords = 0;

// Lives as long as the record that holds it.
class CRecordGuard final : public qx::com::ComObject<CRecordGuard, qx::com::ClassOptions{}, IUnknown> {
 public:
  CRecordGuard() noexcept { InterlockedIncrement(&g_liveRecords); }
  ~CRecordGuard() { InterlockedDecrement(&g_liveRecords); }
};

UniqueVariant Text(std::wstring_view text) {
  UniqueVariant v;
  V_VT(v.AddressOf()) = VT_BSTR;
  V_BSTR(v.AddressOf()) = UniqueBstr::Copy(text.data(), static_cast<UINT>(text.size())).Detach();
  return v;
}

HRESULT Put(_NamedValues* nv, std::wstring_view name, UniqueVariant value) {
  UniqueBstr key = UniqueBstr::Copy(name.data(), static_cast<UINT>(name.size()));
  ComPtr<NamedValue> added;
  return nv->Add(key.Get(), value.AddressOf(), added.Put());
}

HRESULT Raise(HRESULT hr) {
  ComPtr<ICreateErrorInfo> create;
  wchar_t text[64];
  swprintf(text, 64, L"Restorer raised %08X", static_cast<unsigned>(hr));
  if (SUCCEEDED(CreateErrorInfo(create.Put())) && SUCCEEDED(create->SetDescription(text)) &&
      SUCCEEDED(create->SetSource(const_cast<LPOLESTR>(L"QXSDK")))) {
    SetErrorInfo(0, create.TryQuery<IErrorInfo>().Get());
  }
  return hr;
}

template <wchar_t Kind>
class CTestRestorer final : public qx::com::ComObject<CTestRestorer<Kind>, qx::com::ClassOptions{}, IQXRestorer> {
 public:
  CTestRestorer() noexcept {
    InterlockedIncrement(&g_created);
    InterlockedIncrement(&g_liveRestorers);
  }
  ~CTestRestorer() { InterlockedDecrement(&g_liveRestorers); }

  HRESULT STDMETHODCALLTYPE RestoreObject(BSTR persistenceData, _NamedValues* pnvsContext,
                                          IUnknown** hObject) override {
    if (!hObject) return E_POINTER;
    *hObject = nullptr;
    HRESULT hr = Run(persistenceData, pnvsContext, nullptr, nullptr);
    if (FAILED(hr)) return hr;
    ComPtr<_NamedValues> record;
    hr = CoCreateInstance(CLSID_NamedValues, nullptr, CLSCTX_INPROC_SERVER, __uuidof(_NamedValues),
                          record.PutVoid());
    if (FAILED(hr)) return hr;
    UniqueBstr context;
    if (pnvsContext) pnvsContext->DumpToString(context.Put());
    UniqueVariant guard;
    V_VT(guard.AddressOf()) = VT_UNKNOWN;
    V_UNKNOWN(guard.AddressOf()) = qx::com::MakeCom<CRecordGuard>().Detach();
    const wchar_t kind[] = {Kind, 0};
    Put(record.Get(), L"Class", Text(kind));
    Put(record.Get(), L"Item", Text(std::wstring_view(persistenceData, SysStringLen(persistenceData))));
    Put(record.Get(), L"Context", Text(std::wstring_view(context.Get(), context.Length())));
    Put(record.Get(), L"Guard", std::move(guard));
    return record.QueryTo(__uuidof(IUnknown), reinterpret_cast<void**>(hObject));
  }

  HRESULT STDMETHODCALLTYPE RestoreServers(BSTR persistenceData, _QXErrors* pErrors, _NamedValues* pnvsContext,
                                           _NamedValues* pServers) override {
    return Run(persistenceData, pnvsContext, pErrors, pServers);
  }

 private:
  // Carries out the commands of the item's payload.
  static HRESULT Run(BSTR itemText, _NamedValues* context, _QXErrors* errors, _NamedValues* servers) {
    const std::u16string_view item(reinterpret_cast<const char16_t*>(itemText), SysStringLen(itemText));
    const qx::PersistenceItemHeader header = qx::ParsePersistenceItem(item);
    if (!header.parsed || header.payloadOffset > header.length) return E_INVALIDARG;
    std::wstring_view payload(itemText + header.payloadOffset,
                              std::min<size_t>(header.length, item.size()) - header.payloadOffset);
    while (!payload.empty()) {
      const size_t end = std::min(payload.find(L';'), payload.size());
      const std::wstring_view command = payload.substr(0, end);
      payload.remove_prefix(std::min(end + 1, payload.size()));
      const size_t colon = command.find(L':');
      if (colon == std::wstring_view::npos) continue;
      const std::wstring_view verb = command.substr(0, colon), argument = command.substr(colon + 1);
      const HRESULT code = static_cast<HRESULT>(wcstoul(std::wstring(argument).c_str(), nullptr, 16));
      HRESULT hr = S_OK;
      if (verb == L"set" && context) {
        const size_t equals = std::min(argument.find(L'='), argument.size());
        hr = Put(context, argument.substr(0, equals), Text(argument.substr(std::min(equals + 1, argument.size()))));
      } else if (verb == L"server" && servers) {
        const wchar_t kind[] = {Kind, 0};
        hr = Put(servers, argument, Text(kind));
      } else if (verb == L"error" && errors) {
        UniqueBstr description = UniqueBstr::Copy(argument.data(), static_cast<UINT>(argument.size()));
        ComPtr<_QXError> added;
        hr = errors->Add(1, description.Get(), nullptr, nullptr, 0, UniqueVariant().Get(), added.Put());
      } else if (verb == L"fail") {
        return code;
      } else if (verb == L"raise") {
        return Raise(code);
      }
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
};

struct RestorerClass {
  const CLSID* clsid;
  const wchar_t* description;
  qx::com::InstanceCreator create;
};
const RestorerClass kClasses[] = {
    {&qx::test::CLSID_TestRestorerA, L"QX test restorer A", &qx::com::CreateComInstance<CTestRestorer<L'A'>>},
    {&qx::test::CLSID_TestRestorerB, L"QX test restorer B", &qx::com::CreateComInstance<CTestRestorer<L'B'>>},
};

std::wstring ClassKey(const CLSID& clsid) {
  wchar_t text[40] = {};
  StringFromGUID2(clsid, text, 40);
  return std::wstring(L"CLSID\\") + text;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return qx::com::ModuleLock::Count() == 0 ? S_OK : S_FALSE; }

// A new class object for each request: a client that holds one keeps nothing else alive.
extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (const RestorerClass& c : kClasses) {
    if (clsid != *c.clsid) continue;
    auto* factory = new (std::nothrow) qx::com::ClassFactory(c.create);
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    const HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return E_FAIL;
  for (const RestorerClass& c : kClasses) {
    const std::wstring key = ClassKey(*c.clsid), server = key + L"\\InprocServer32";
    const auto bytes = [](const wchar_t* text) { return static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)); };
    if (RegSetValueW(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, c.description, 0) != ERROR_SUCCESS ||
        RegSetValueW(HKEY_CLASSES_ROOT, server.c_str(), REG_SZ, path, 0) != ERROR_SUCCESS ||
        RegSetKeyValueW(HKEY_CLASSES_ROOT, server.c_str(), L"ThreadingModel", REG_SZ, L"Apartment",
                        bytes(L"Apartment")) != ERROR_SUCCESS) {
      return E_FAIL;
    }
  }
  return S_OK;
}

extern "C" void STDAPICALLTYPE TestRestorerCounts(LONG* created, LONG* liveRestorers, LONG* liveRecords) {
  *created = g_created;
  *liveRestorers = g_liveRestorers;
  *liveRecords = g_liveRecords;
}
