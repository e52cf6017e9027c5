// qx_test_restorer.dll: restorer classes A and B, stand-ins for the SDK modules whose objects the
// global restorer brings back. The payload of an item steers them, commands separated by ';':
//   set:name=value   add the member name = "value" to the working context
//   server:name      (RestoreServers) add the member name = "A" or "B" to the servers
//   fail:XXXXXXXX    return that HRESULT (hex) without an error object
//   drop:name        empty the collection held by the context's member `name`, then the context
// RestoreObject returns a record of what it received: a NamedValues collection with the members
// Class ("A" or "B"), Item (the text handed in), Context (the context's string form) and Created
// (how many restorers this DLL has made so far).
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <string_view>

#include "framework/class_factory.h"
#include "framework/com_object.h"
#include "module/qxsdk_idl.h"

namespace {

using qx::com::ComPtr;
using qx::com::UniqueBstr;
using qx::com::UniqueVariant;

volatile LONG g_created = 0;

UniqueVariant Text(std::wstring_view text) {
  UniqueVariant v;
  V_VT(v.AddressOf()) = VT_BSTR;
  V_BSTR(v.AddressOf()) = UniqueBstr::Copy(text.data(), static_cast<UINT>(text.size())).Detach();
  return v;
}

HRESULT Put(_NamedValues* nv, std::wstring_view name, UniqueVariant value) {
  ComPtr<NamedValue> added;
  return nv->Add(UniqueBstr::Copy(name.data(), static_cast<UINT>(name.size())).Get(), value.AddressOf(), added.Put());
}

// Empties the collection that the context's member `name` holds, then the context itself: the
// references they held go while the global restorer waits for this call.
HRESULT Drop(_NamedValues* context, std::wstring_view name) {
  ComPtr<NamedValue> member;
  UniqueVariant value;
  ComPtr<INamedValues2> held, own;
  HRESULT hr = context->get_Item(Text(name).AddressOf(), member.Put());
  if (SUCCEEDED(hr)) hr = member->get_Value(value.Put());
  if (SUCCEEDED(hr)) hr = V_DISPATCH(value.AddressOf())->QueryInterface(__uuidof(INamedValues2), held.PutVoid());
  if (SUCCEEDED(hr)) hr = held->Clear();
  if (SUCCEEDED(hr)) hr = context->QueryInterface(__uuidof(INamedValues2), own.PutVoid());
  return SUCCEEDED(hr) ? own->Clear() : hr;
}

template <wchar_t Kind>
class CTestRestorer final : public qx::com::ComObject<CTestRestorer<Kind>, qx::com::ClassOptions{}, IQXRestorer> {
 public:
  CTestRestorer() noexcept {
    InterlockedIncrement(&g_created);
    CoCreateInstance(CLSID_NamedValues, nullptr, CLSCTX_INPROC_SERVER, __uuidof(_NamedValues), witness_.PutVoid());
  }

  HRESULT STDMETHODCALLTYPE RestoreObject(BSTR persistenceData, _NamedValues* pnvsContext,
                                          IUnknown** hObject) override {
    *hObject = nullptr;
    ComPtr<_NamedValues> record;
    HRESULT hr = Run(persistenceData, pnvsContext, nullptr);
    if (FAILED(hr)) return hr;
    hr = CoCreateInstance(CLSID_NamedValues, nullptr, CLSCTX_INPROC_SERVER, __uuidof(_NamedValues), record.PutVoid());
    if (FAILED(hr)) return hr;
    UniqueBstr context;
    pnvsContext->DumpToString(context.Put());
    Put(record.Get(), L"Class", Text(kKind));
    Put(record.Get(), L"Item", Text(std::wstring_view(persistenceData, SysStringLen(persistenceData))));
    Put(record.Get(), L"Context", Text(std::wstring_view(context.Get(), context.Length())));
    Put(record.Get(), L"Created", Text(std::to_wstring(g_created)));
    return record.QueryTo(__uuidof(IUnknown), reinterpret_cast<void**>(hObject));
  }

  HRESULT STDMETHODCALLTYPE RestoreServers(BSTR persistenceData, _QXErrors*, _NamedValues* pnvsContext,
                                           _NamedValues* pServers) override {
    return Run(persistenceData, pnvsContext, pServers);
  }

 private:
  static constexpr wchar_t kKind[] = {Kind, 0};
  // A library object as long as the restorer lives: the library's leak check sees a leaked restorer.
  ComPtr<_NamedValues> witness_;

  // Carries out the commands of the item's payload.
  static HRESULT Run(BSTR itemText, _NamedValues* context, _NamedValues* servers) {
    // The global restorer has checked the header: the payload runs from after "} " to the length.
    const std::wstring_view item(itemText, SysStringLen(itemText));
    const size_t start = item.find(L"} ") + 2, length = wcstoul(itemText, nullptr, 10);
    std::wstring_view payload = item.substr(start, std::min(length, item.size()) - start);
    while (!payload.empty()) {
      const size_t end = std::min(payload.find(L';'), payload.size());
      const std::wstring_view command = payload.substr(0, end);
      payload.remove_prefix(std::min(end + 1, payload.size()));
      const size_t colon = command.find(L':');
      if (colon == std::wstring_view::npos) continue;
      const std::wstring_view verb = command.substr(0, colon), argument = command.substr(colon + 1);
      HRESULT hr = S_OK;
      if (verb == L"set") {
        const size_t equals = std::min(argument.find(L'='), argument.size());
        hr = Put(context, argument.substr(0, equals), Text(argument.substr(std::min(equals + 1, argument.size()))));
      } else if (verb == L"server" && servers) {
        hr = Put(servers, argument, Text(kKind));
      } else if (verb == L"drop") {
        hr = Drop(context, argument);
      } else if (verb == L"fail") {
        return static_cast<HRESULT>(wcstoul(std::wstring(argument).c_str(), nullptr, 16));
      }
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
};

struct RestorerClass {
  const wchar_t* clsid;
  qx::com::InstanceCreator create;
};
const RestorerClass kClasses[] = {
    {L"{6B1F4C2A-93D7-4E58-A1C6-0F2B7D3E9A41}", &qx::com::CreateComInstance<CTestRestorer<L'A'>>},
    {L"{6B1F4C2A-93D7-4E58-A1C6-0F2B7D3E9A42}", &qx::com::CreateComInstance<CTestRestorer<L'B'>>},
};

}  // namespace

// A new class object for each request: a client that holds one keeps nothing else alive.
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  *out = nullptr;
  wchar_t text[40] = {};
  StringFromGUID2(clsid, text, 40);
  for (const RestorerClass& c : kClasses) {
    if (_wcsicmp(text, c.clsid) != 0) continue;
    auto* factory = new qx::com::ClassFactory(c.create);
    factory->AddRef();
    const HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(GetModuleHandleW(L"qx_test_restorer.dll"), path, MAX_PATH);
  for (const RestorerClass& c : kClasses) {
    const std::wstring key = std::wstring(L"CLSID\\") + c.clsid + L"\\InprocServer32";
    if (RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, path, (length + 1) * sizeof(wchar_t)) ||
        RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), L"ThreadingModel", REG_SZ, L"Apartment", sizeof L"Apartment")) {
      return E_FAIL;
    }
  }
  return S_OK;
}
