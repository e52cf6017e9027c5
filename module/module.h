// The module object: the process-wide state of the DLL.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>

#include "framework/class_factory.h"
#include "framework/owners.h"

namespace qx {

// One creatable class: its identity, its registry entries and its instance creator.
struct ClassEntry {
  const CLSID* clsid;
  const wchar_t* progId;  // versioned, e.g. "QXSDKCommon.NamedValues.1"
  const wchar_t* versionIndependentProgId;
  const wchar_t* description;     // default value of the class's keys
  const wchar_t* threadingModel;  // "Apartment" or "Both"
  com::InstanceCreator create;
};

// The object map: the creatable classes in registration order.
const ClassEntry* ObjectMap(size_t* count) noexcept;

class CQXSDKCommonModule {
 public:
  static CQXSDKCommonModule& Instance() noexcept;

  bool Initialize(HINSTANCE instance) noexcept;
  void Terminate(bool processExiting) noexcept;

  HINSTANCE Handle() const noexcept { return instance_; }
  LONG Lock() noexcept;
  LONG Unlock() noexcept;
  LONG GetLockCount() const noexcept;

  // The process's standard global interface table, created on first request.
  HRESULT GetGITPtr(IGlobalInterfaceTable** out) noexcept;

  // The cached class object of `clsid`, queried for `iid`.
  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept;

  // Per-user registration (HKCU\Software\Classes and the per-user type library) for the process.
  void SetPerUserRegistration(bool perUser) noexcept { perUser_ = perUser; }
  bool PerUserRegistration() const noexcept { return perUser_; }

  // The module's full path, as registered under InprocServer32.
  std::wstring ModulePath() const;

 private:
  HINSTANCE instance_ = nullptr;
  bool perUser_ = false;
  com::CriticalSection lock_;
  com::ComPtr<IGlobalInterfaceTable> git_;
};

}  // namespace qx
