#include "test_support.h"

namespace qx::test {

ErrorState PeekError() {
  ErrorState state;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Put()) != S_OK || !info) return state;
  state.present = true;
  state.object = info.Get();
  info->GetHelpContext(&state.helpContext);
  UniqueBstr text;
  if (SUCCEEDED(info->GetDescription(text.Put()))) state.description = Text(text.Get());
  if (SUCCEEDED(info->GetSource(text.Put()))) state.source = Text(text.Get());
  if (SUCCEEDED(info->GetHelpFile(text.Put()))) state.helpFile = Text(text.Get());
  info->GetGUID(&state.guid);
  SetErrorInfo(0, info.Get());
  return state;
}

HRESULT ModuleCanUnloadNow() {
  HMODULE module = GetModuleHandleW(L"QXSDKCommon.dll");
  if (!module) return S_OK;
  auto canUnload =
      reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  return canUnload ? canUnload() : E_FAIL;
}

testing::AssertionResult Fails(HRESULT expected, HRESULT actual, const std::wstring& description) {
  const ErrorState error = PeekError();
  SetErrorInfo(0, nullptr);
  if (actual != expected) {
    return testing::AssertionFailure() << std::hex << "hr 0x" << actual << ", expected 0x" << expected;
  }
  if (!error.present) return testing::AssertionFailure() << "no error object";
  if (error.source != L"QXSDK") return testing::AssertionFailure() << "source is not QXSDK";
  if (error.description != description) {
    return testing::AssertionFailure() << "description differs: got " << testing::PrintToString(error.description);
  }
  return testing::AssertionSuccess();
}

LONG CountOf(INamedValues2* nv) {
  LONG count = -1;
  EXPECT_EQ(S_OK, nv->get_Count(&count));
  return count;
}

std::wstring NameOf(IUnknown* item) {
  ComPtr<NamedValue> member;
  if (!item || FAILED(item->QueryInterface(__uuidof(NamedValue), member.PutVoid()))) return L"<not a NamedValue>";
  UniqueBstr name;
  EXPECT_EQ(S_OK, member->get_Name(name.Put()));
  return name.IsNull() ? L"<null>" : Text(name.Get());
}
std::vector<std::wstring> Names(INamedValues2* nv) {
  std::vector<std::wstring> names;
  ComPtr<_EnumNamedValue> members;
  EXPECT_EQ(S_OK, nv->get__MemberEnum(members.Put()));
  ComPtr<NamedValue> member;
  while (members && members->Next(member.Put()) == S_OK) names.push_back(NameOf(member.Get()));
  return names;
}

IErrorInfo* PutThreadError(const wchar_t* description, DWORD helpContext) {
  ComPtr<ICreateErrorInfo> create;
  EXPECT_EQ(S_OK, CreateErrorInfo(create.Put()));
  if (description) create->SetDescription(const_cast<LPOLESTR>(description));
  create->SetSource(const_cast<LPOLESTR>(L"Elsewhere"));
  create->SetHelpContext(helpContext);
  auto info = create.TryQuery<IErrorInfo>();
  SetErrorInfo(0, info.Get());
  return info.Get();  // the thread holds it
}

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

NeutralLocaleTypeLib::NeutralLocaleTypeLib() {
  const std::wstring version = L"TypeLib\\" + GuidText(LIBID_QXSDKCommon) + L"\\1.0\\";
  const wchar_t* platform = sizeof(void*) == 8 ? L"win64" : L"win32";
  wchar_t path[MAX_PATH] = {};
  LONG size = sizeof path;
  if (RegQueryValueW(HKEY_CLASSES_ROOT, (version + L"0\\" + platform).c_str(), path, &size) == ERROR_SUCCESS) return;
  size = sizeof path;
  if (RegQueryValueW(HKEY_CLASSES_ROOT, (version + L"409\\" + platform).c_str(), path, &size) != ERROR_SUCCESS) return;
  if (RegSetValueW(HKEY_CLASSES_ROOT, (version + L"0\\" + platform).c_str(), REG_SZ, path,
                   static_cast<DWORD>(wcslen(path) * sizeof(wchar_t))) == ERROR_SUCCESS) {
    created_ = version + L"0";
  }
}

NeutralLocaleTypeLib::~NeutralLocaleTypeLib() {
  if (!created_.empty()) RegDeleteTreeW(HKEY_CLASSES_ROOT, created_.c_str());
}

std::wstring TempPath(const wchar_t* stem, const wchar_t* extension) {
  wchar_t folder[MAX_PATH + 1];
  GetTempPathW(ARRAYSIZE(folder), folder);
  return std::wstring(folder) + stem + std::to_wstring(GetCurrentProcessId()) + extension;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::vector<std::string> lines;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (!file) return lines;
  std::string content;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, file)) > 0;) content.append(buffer, n);
  fclose(file);
  size_t start = 0;
  for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(content.substr(start, end - start));
  EXPECT_EQ(start, content.size()) << "every line ends with CR LF";
  return lines;
}

DWORD RunProcess(std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start " << testing::PrintToString(commandLine);
    return 0xFFFFFFFF;
  }
  DWORD code = 0xFFFFFFFF;
  if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

void ChildDone() {
  if (!testing::Test::HasFailure()) ExitProcess(kChildPassed);
}

DWORD RunChildTest(const std::wstring& fullName) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return RunProcess(L"\"" + std::wstring(self) + L"\" --gtest_brief=1 --gtest_also_run_disabled_tests --gtest_filter=" +
                    fullName);
}

}  // namespace qx::test

int main(int argc, char** argv) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  CoUninitialize();
  return result;
}
