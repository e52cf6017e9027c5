// The DLL's exported entry points.
#include <windows.h>

#include <cwchar>

#include "framework/module_lock.h"
#include "module/module.h"
#include "module/registration.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  auto& module = qx::CQXSDKCommonModule::Instance();
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    return module.Initialize(instance) ? TRUE : FALSE;
  }
  if (reason == DLL_PROCESS_DETACH) module.Terminate(reserved != nullptr);
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return qx::com::ModuleLock::Count() == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  return qx::CQXSDKCommonModule::Instance().GetClassObject(clsid, iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return qx::RegisterServer(); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return qx::UnregisterServer(); }

// `regsvr32 /i:user` registers for the current user only. The switch is compared over five
// characters, terminator included, so "User" matches and "users" does not.
extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR commandLine) {
  if (commandLine && _wcsnicmp(commandLine, L"user", 5) == 0) {
    qx::CQXSDKCommonModule::Instance().SetPerUserRegistration(true);
  }
  if (!install) return qx::UnregisterServer();
  const HRESULT hr = qx::RegisterServer();
  if (FAILED(hr)) qx::UnregisterServer();
  return hr;
}
