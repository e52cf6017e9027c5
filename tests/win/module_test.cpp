// The DLL's exports: the module lock, aggregation, and self-registration round trips.
#include <string>
#include <vector>

#include "test_support.h"

namespace qx::test {
namespace {

// An export of QXSDKCommon.dll beside the test program (the DLL that is registered).
template <class Fn = HRESULT(STDAPICALLTYPE*)()>
Fn Export(const char* name) {
  static const HMODULE module = LoadLibraryW(L"QXSDKCommon.dll");  // stays loaded for the run
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  EXPECT_NE(nullptr, fn) << name;
  return fn;
}
HRESULT Install(BOOL install, const wchar_t* commandLine) {
  return Export<HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR)>("DllInstall")(install, commandLine);
}

std::wstring ModulePath() {
  wchar_t path[MAX_PATH];
  return std::wstring(path, GetModuleFileNameW(LoadLibraryW(L"QXSDKCommon.dll"), path, MAX_PATH));  // stays loaded
}

ComPtr<IClassFactory> NamedValuesFactory() {
  ComPtr<IClassFactory> factory;
  auto getClassObject = Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
  EXPECT_EQ(S_OK, getClassObject(CLSID_NamedValues, IID_IClassFactory, factory.PutVoid()));
  return factory;
}

using ModuleExports = LeakCheckedTest;

// A held class object, a server lock and a live (aggregated) object each keep the module loaded; the
// inner object counts on the outer one, answers its own unknown only to it, and goes with it.
TEST_F(ModuleExports, CanUnloadNowFollowsClassObjectsLocksAndAggregatedObjects) {
  ComPtr<IClassFactory> factory = NamedValuesFactory();
  EXPECT_EQ(S_FALSE, ModuleCanUnloadNow());
  factory.Reset();
  EXPECT_EQ(S_OK, ModuleCanUnloadNow());

  EXPECT_EQ(S_OK, NamedValuesFactory()->LockServer(TRUE));
  EXPECT_EQ(S_FALSE, ModuleCanUnloadNow());
  factory = NamedValuesFactory();
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  auto* outer = new Outer;
  ASSERT_EQ(S_OK, outer->Aggregate(factory.Get()));
  factory.Reset();
  EXPECT_EQ(S_FALSE, ModuleCanUnloadNow());
  EXPECT_EQ(outer->Inner(), As<IUnknown>(outer->Inner()).Get());
  {
    auto values = As<INamedValues2>(outer);
    EXPECT_EQ(2, outer->Refs());
    EXPECT_EQ(static_cast<IUnknown*>(outer), As<IUnknown>(values.Get()).Get());
  }
  EXPECT_EQ(1, outer->Refs());
  outer->Release();
  EXPECT_EQ(S_OK, ModuleCanUnloadNow());
}

// --- registry ----------------------------------------------------------------------------------

constexpr const wchar_t* kMissing = L"<missing>";

std::wstring ReadString(HKEY root, const std::wstring& path, const wchar_t* name = nullptr) {
  wchar_t value[1024];
  DWORD size = sizeof(value);
  if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return kMissing;
  return value;
}
bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  return RegCloseKey(key), true;
}

// The classes root of the user, open for the run.
HKEY UserClasses() {
  static HKEY key = nullptr;
  if (!key) RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, 0);
  return key;
}

const std::wstring kClassKey = L"CLSID\\" + GuidText(CLSID_NamedValues);
const std::wstring kAppModuleKey = L"AppID\\QXSDKCommon.DLL";
std::wstring RegisteredAppId() { return ReadString(HKEY_CLASSES_ROOT, kAppModuleKey, L"AppID"); }

void ExpectRegistered(HKEY root) {
  const std::wstring clsid = GuidText(CLSID_NamedValues), appId = ReadString(root, kAppModuleKey, L"AppID");
  const std::pair<std::wstring, std::wstring> values[] = {
      {L"QXSDKCommon.NamedValues.1", L"NamedValues Collection"},
      {L"QXSDKCommon.NamedValues.1\\CLSID", clsid},
      {L"QXSDKCommon.NamedValues", L"NamedValues Collection"},
      {L"QXSDKCommon.NamedValues\\CLSID", clsid},
      {L"QXSDKCommon.NamedValues\\CurVer", L"QXSDKCommon.NamedValues.1"},
      {kClassKey, L"NamedValues Collection"},
      {kClassKey + L"\\ProgID", L"QXSDKCommon.NamedValues.1"},
      {kClassKey + L"\\VersionIndependentProgID", L"QXSDKCommon.NamedValues"},
      {kClassKey + L"\\TypeLib", GuidText(LIBID_QXSDKCommon)},
      {L"AppID\\" + appId, L"QXSDKCommon"},
  };
  for (const auto& [key, value] : values) EXPECT_EQ(value, ReadString(root, key)) << key;
  EXPECT_TRUE(KeyExists(root, kClassKey + L"\\Programmable"));
  const std::wstring server = ReadString(root, kClassKey + L"\\InprocServer32");
  EXPECT_EQ(0, _wcsicmp(ModulePath().c_str(), server.c_str())) << server;
  EXPECT_EQ(L"Apartment", ReadString(root, kClassKey + L"\\InprocServer32", L"ThreadingModel"));
}

// The keys registration creates and unregistration removes; CLSID and AppID, shared by every
// server, stay.
std::vector<std::wstring> OwnKeys(const std::wstring& appId) {
  return {L"QXSDKCommon.NamedValues.1", L"QXSDKCommon.NamedValues", kClassKey, kAppModuleKey, L"AppID\\" + appId};
}
void ExpectUnregistered(HKEY root, const std::wstring& appId, bool rootsKept = false) {
  for (const std::wstring& key : OwnKeys(appId)) EXPECT_FALSE(KeyExists(root, key)) << key;
  if (rootsKept) { EXPECT_TRUE(KeyExists(root, L"CLSID") && KeyExists(root, L"AppID")); }
}

// Whether the library is registered for this program's own bitness (the other DLL of the
// prefix may have registered it for the other platform).
bool TypeLibraryRegistered() {
  return KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\" + GuidText(LIBID_QXSDKCommon) +
                                          (sizeof(void*) == 8 ? L"\\1.0\\409\\win64" : L"\\1.0\\409\\win32"));
}

// Round trips per machine (every DllInstall command line but "user", any case), then per user, a
// switch that stays on for the process: so in a child. Then a fresh regsvr32 registers per machine.
TEST(ModuleRegistration, RoundTripsPerMachineAndPerUser) {
  const std::wstring appId = RegisteredAppId();
  ASSERT_NE(kMissing, appId) << "the DLL is not registered";
  EXPECT_EQ(kChildPassed, RunChildTest(L"ModuleRegistrationChild.DISABLED_RoundTrips"));
  for (const std::wstring& key : OwnKeys(appId)) {
    RegDeleteTreeW(UserClasses(), key.c_str());
    RegDeleteKeyW(UserClasses(), key.c_str());
  }
  EXPECT_EQ(0u, RunProcess(L"regsvr32.exe /s \"" + ModulePath() + L"\""));
  ExpectRegistered(HKEY_CLASSES_ROOT);
  EXPECT_TRUE(TypeLibraryRegistered());
}

TEST(ModuleRegistrationChild, DISABLED_RoundTrips) {
  const std::wstring appId = RegisteredAppId();
  ASSERT_EQ(S_OK, Export("DllUnregisterServer")());
  ExpectUnregistered(HKEY_CLASSES_ROOT, appId, true);
  EXPECT_FALSE(TypeLibraryRegistered());
  for (const wchar_t* commandLine : {L"users", L"use", static_cast<const wchar_t*>(nullptr)}) {
    SCOPED_TRACE(testing::PrintToString(commandLine ? commandLine : L"(null)"));
    EXPECT_EQ(S_OK, Install(TRUE, commandLine));
    ExpectRegistered(HKEY_CLASSES_ROOT);
    EXPECT_TRUE(TypeLibraryRegistered());
    ExpectUnregistered(UserClasses(), appId);
    EXPECT_EQ(S_OK, Install(FALSE, commandLine));
    ExpectUnregistered(HKEY_CLASSES_ROOT, appId);
  }
  ASSERT_EQ(S_OK, Export("DllRegisterServer")());
  ASSERT_EQ(S_OK, Install(TRUE, L"USER"));
  ExpectRegistered(UserClasses());
  EXPECT_EQ(S_OK, Install(FALSE, L"User"));
  ExpectUnregistered(UserClasses(), appId, true);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
  EXPECT_EQ(S_OK, Export("DllRegisterServer")());  // the switch stays on for the process
  ExpectRegistered(UserClasses());
  EXPECT_EQ(S_OK, Export("DllUnregisterServer")());
  ExpectUnregistered(UserClasses(), appId);
  ChildDone();
}

}  // namespace
}  // namespace qx::test
