// The DLL's exports: class objects, the module lock, aggregation, and self-registration.
//
// Registration tests change the prefix's registry; ModuleRegistration restores the machine
// registration after each of its tests, whatever happened. The per-user switch of DllInstall is
// process-wide and sticky, so the DllInstall tests run in a child process of this program.
#include <string>
#include <vector>

#include "test_support.h"

namespace qx::test {
namespace {

// The exports of QXSDKCommon.dll beside the test program (the DLL that is registered).
struct Exports {
  HMODULE module = LoadLibraryW(L"QXSDKCommon.dll");  // stays loaded for the run
  template <class Fn>
  Fn Find(const char* name) const {
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    EXPECT_NE(nullptr, fn) << name;
    return fn;
  }
  using Call = HRESULT(STDAPICALLTYPE*)();
  Call canUnloadNow = Find<Call>("DllCanUnloadNow"), registerServer = Find<Call>("DllRegisterServer"),
       unregisterServer = Find<Call>("DllUnregisterServer");
  HRESULT(STDAPICALLTYPE* getClassObject)(REFCLSID, REFIID, void**) =
      Find<decltype(getClassObject)>("DllGetClassObject");
  HRESULT(STDAPICALLTYPE* install)(BOOL, LPCWSTR) = Find<decltype(install)>("DllInstall");
};
const Exports& Dll() {
  static const Exports exports;
  return exports;
}

std::wstring ModulePath() {
  wchar_t path[MAX_PATH];
  return std::wstring(path, GetModuleFileNameW(Dll().module, path, MAX_PATH));
}

ComPtr<IClassFactory> NamedValuesFactory() {
  ComPtr<IClassFactory> factory;
  EXPECT_EQ(S_OK, Dll().getClassObject(CLSID_NamedValues, IID_IClassFactory, factory.PutVoid()));
  return factory;
}

class ModuleExports : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(S_OK, Dll().canUnloadNow()) << "objects of an earlier test are alive"; }
};

TEST_F(ModuleExports, CanUnloadNowFollowsClassObjectsLocksAndObjects) {
  void* out = &out;
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, Dll().getClassObject(IID_IUnknown, IID_IClassFactory, &out));
  EXPECT_EQ(nullptr, out);
  ComPtr<IClassFactory> factory = NamedValuesFactory();
  EXPECT_EQ(factory.Get(), NamedValuesFactory().Get()) << "the class object is cached";
  EXPECT_EQ(S_FALSE, Dll().canUnloadNow());
  factory.Reset();
  EXPECT_EQ(S_OK, Dll().canUnloadNow());

  EXPECT_EQ(S_OK, NamedValuesFactory()->LockServer(TRUE));
  EXPECT_EQ(S_FALSE, Dll().canUnloadNow());
  factory = NamedValuesFactory();
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  ComPtr<INamedValues2> object;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, __uuidof(INamedValues2), object.PutVoid()));
  factory.Reset();
  EXPECT_EQ(S_FALSE, Dll().canUnloadNow());
  object.Reset();
  EXPECT_EQ(S_OK, Dll().canUnloadNow());
}

TEST_F(ModuleExports, AggregatedNamedValuesDelegateToTheOuterObject) {
  auto* outer = new Outer;
  void* out = &out;
  EXPECT_EQ(CLASS_E_NOAGGREGATION, NamedValuesFactory()->CreateInstance(outer, __uuidof(INamedValues2), &out));
  EXPECT_EQ(nullptr, out);
  ASSERT_EQ(S_OK, outer->Aggregate(NamedValuesFactory().Get()));
  EXPECT_EQ(1, outer->Refs());
  ComPtr<IUnknown> innerSelf;
  ASSERT_EQ(S_OK, outer->Inner()->QueryInterface(IID_IUnknown, innerSelf.PutVoid()));
  EXPECT_EQ(outer->Inner(), innerSelf.Get()) << "the inner unknown is its own identity";
  innerSelf.Reset();
  {
    ComPtr<INamedValues2> values;
    ASSERT_EQ(S_OK, outer->QueryInterface(__uuidof(INamedValues2), values.PutVoid()));
    EXPECT_EQ(2, outer->Refs());
    ComPtr<IUnknown> identity;
    ASSERT_EQ(S_OK, values->QueryInterface(IID_IUnknown, identity.PutVoid()));
    EXPECT_EQ(static_cast<IUnknown*>(outer), identity.Get());
    identity.Reset();
    EXPECT_EQ(S_OK, values->Add(Bstr(L"Timeout").Get(), VarI4(30).AddressOf(), nullptr));
    EXPECT_EQ(1, CountOf(values.Get()));
  }
  EXPECT_EQ(1, outer->Refs());
  EXPECT_EQ(S_FALSE, Dll().canUnloadNow());
  outer->Release();
  EXPECT_EQ(S_OK, Dll().canUnloadNow()) << "the inner object went with the outer one";
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

// The classes root of the user.
struct UserClasses {
  UserClasses() {
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
  }
  ~UserClasses() { RegCloseKey(key); }
  HKEY key = nullptr;
};

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
  GUID parsed{};
  EXPECT_EQ(S_OK, CLSIDFromString(appId.c_str(), &parsed)) << appId;
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

class ModuleRegistration : public testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(kMissing, appId_) << "the DLL is not registered"; }
  // Back to the machine registration, made by a fresh process, and no per-user leftovers.
  void TearDown() override {
    UserClasses user;
    for (const std::wstring& key : OwnKeys(appId_)) {
      RegDeleteTreeW(user.key, key.c_str());
      RegDeleteKeyW(user.key, key.c_str());
    }
    EXPECT_EQ(0u, RunProcess(L"regsvr32.exe /s \"" + ModulePath() + L"\""));
    ExpectRegistered(HKEY_CLASSES_ROOT);
    EXPECT_TRUE(TypeLibraryRegistered());
  }
  const std::wstring appId_ = RegisteredAppId();
};

TEST_F(ModuleRegistration, UnregisterRemovesOwnKeysOnlyAndRegisterRestoresThem) {
  ExpectRegistered(HKEY_CLASSES_ROOT);
  EXPECT_TRUE(TypeLibraryRegistered());
  HKEY stray = nullptr;  // registration replaces the whole class key, whatever it held
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, (kClassKey + L"\\Stray").c_str(), 0, nullptr, 0,
                                           KEY_WRITE, nullptr, &stray, nullptr));
  RegCloseKey(stray);
  ASSERT_EQ(S_OK, Dll().registerServer());
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey + L"\\Stray"));

  ASSERT_EQ(S_OK, Dll().unregisterServer());
  ExpectUnregistered(HKEY_CLASSES_ROOT, appId_, true);
  EXPECT_FALSE(TypeLibraryRegistered());
  ASSERT_EQ(S_OK, Dll().registerServer());
  ExpectRegistered(HKEY_CLASSES_ROOT);
  EXPECT_TRUE(TypeLibraryRegistered());
  EXPECT_TRUE(NewNamedValues());
}

TEST_F(ModuleRegistration, DllInstallPerUser) {
  EXPECT_EQ(kChildPassed, RunChildTest(L"ModuleInstallChild.DISABLED_PerUser"));
  ExpectUnregistered(UserClasses().key, appId_);
}
TEST_F(ModuleRegistration, DllInstallOtherCommandLinesRegisterPerMachine) {
  EXPECT_EQ(kChildPassed, RunChildTest(L"ModuleInstallChild.DISABLED_PerMachine"));
}

// Run only in a child process by the test above.
TEST(ModuleInstallChild, DISABLED_PerUser) {
  UserClasses user;
  const std::wstring appId = RegisteredAppId();
  ExpectUnregistered(user.key, appId);
  ASSERT_EQ(S_OK, Dll().install(TRUE, L"USER"));
  ExpectRegistered(user.key);
  ExpectRegistered(HKEY_CLASSES_ROOT);  // the machine's keys are left alone
  EXPECT_EQ(S_OK, Dll().install(FALSE, L"User"));
  ExpectUnregistered(user.key, appId, true);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
  EXPECT_EQ(S_OK, Dll().registerServer());  // the switch stays on for the process
  ExpectRegistered(user.key);
  EXPECT_EQ(S_OK, Dll().unregisterServer());
  ExpectUnregistered(user.key, appId);
  ChildDone();
}

TEST(ModuleInstallChild, DISABLED_PerMachine) {
  UserClasses user;
  const std::wstring appId = RegisteredAppId();
  ASSERT_EQ(S_OK, Dll().unregisterServer());
  ExpectUnregistered(HKEY_CLASSES_ROOT, appId);
  for (const wchar_t* commandLine : {L"users", L"use", static_cast<const wchar_t*>(nullptr)}) {
    SCOPED_TRACE(testing::PrintToString(commandLine ? commandLine : L"(null)"));
    EXPECT_EQ(S_OK, Dll().install(TRUE, commandLine));
    ExpectRegistered(HKEY_CLASSES_ROOT);
    ExpectUnregistered(user.key, appId);
    EXPECT_EQ(S_OK, Dll().install(FALSE, commandLine));
    ExpectUnregistered(HKEY_CLASSES_ROOT, appId);
  }
  ChildDone();
}

}  // namespace
}  // namespace qx::test
