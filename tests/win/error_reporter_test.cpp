// The error reporter called directly, reading the string table of the real QXSDKCommon.dll.
#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/error_reporter.h"
#include "test_support.h"

namespace qx::test {
namespace {

ErrorState Current() { return PeekError(); }
std::wstring Description() { return PeekError().description; }
bool HasError() { return PeekError().present; }
IErrorInfo* InstallForeign(const wchar_t* description) { return PutThreadError(description); }

std::wstring SystemText(DWORD code) {
  UniqueBstr text;
  EXPECT_EQ(0u, FormatSystemMessage(code, text.Put(), 0)) << std::hex << code;
  return Text(text.Get());
}

std::wstring Message(UINT id) { return Text(LoadMessageText(id).Get()); }

// A code the system's message tables do not know.
constexpr DWORD kNoSystemText = 0xE0001234;

class ErrorReporter : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The DLL beside the test program; it stays loaded for the rest of the run.
    HMODULE dll = LoadLibraryW(L"QXSDKCommon.dll");
    ASSERT_NE(nullptr, dll);
    SetMessageModule(dll);
  }
  void SetUp() override { ClearErrorInfo(); }
  void TearDown() override { ClearErrorInfo(); }
};

TEST_F(ErrorReporter, ObjectFieldsBuildAndClear) {
  SetErrorText(L"abc", L"def");
  const ErrorState first = Current();
  EXPECT_EQ(L"abcdef", first.description);
  EXPECT_EQ(L"QXSDK", first.source);
  EXPECT_EQ(L"qxsdk.chm", first.helpFile);
  EXPECT_EQ(0u, first.helpContext);
  EXPECT_NE(GUID_NULL, first.guid);

  SetErrorText(nullptr, nullptr);
  const ErrorState second = Current();
  EXPECT_NE(first.object, second.object);
  EXPECT_EQ(L"", second.description);
  EXPECT_EQ(L"QXSDK", second.source);
  EXPECT_EQ(first.guid, second.guid);  // one GUID for every object of the module

  ClearErrorInfo();
  EXPECT_FALSE(HasError());
  auto built = BuildErrorInfo(L"x", L"y");  // built, not installed
  ASSERT_TRUE(built);
  EXPECT_FALSE(HasError());
  UniqueBstr text;
  built->GetDescription(text.Put());
  EXPECT_EQ(L"xy", Text(text.Get()));
}

TEST_F(ErrorReporter, FormatSystemMessage) {
  EXPECT_EQ(static_cast<DWORD>(E_POINTER), FormatSystemMessage(ERROR_FILE_NOT_FOUND, nullptr, 0));

  // The system's own text ends in a line end; ours is the same text without it.
  wchar_t* raw = nullptr;
  ASSERT_NE(0u,
            FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                           nullptr, ERROR_FILE_NOT_FOUND, 0, reinterpret_cast<LPWSTR>(&raw), 0, nullptr));
  const std::wstring system(raw);
  LocalFree(raw);
  const std::wstring text = SystemText(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(L'\n', text.back());
  EXPECT_NE(L'\r', text.back());
  ASSERT_GT(system.size(), text.size()) << "expected the system text to end in a line end";
  EXPECT_EQ(text, system.substr(0, text.size()));
  EXPECT_EQ(std::wstring::npos, system.find_first_not_of(L"\r\n", text.size()));

  BSTR untouched = nullptr;
  EXPECT_EQ(static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND), FormatSystemMessage(kNoSystemText, &untouched, 0));
  EXPECT_EQ(nullptr, untouched);
}

TEST_F(ErrorReporter, ReportSystemError) {
  EXPECT_EQ(S_OK, ReportSystemError(S_OK));
  EXPECT_FALSE(HasError());
  IErrorInfo* present = InstallForeign(L"kept");
  EXPECT_EQ(S_OK, ReportSystemError(S_OK));
  EXPECT_EQ(present, Current().object);

  // The well-known codes get an object without a description.
  for (HRESULT hr : {E_NOTIMPL, E_NOINTERFACE, E_POINTER, E_FAIL, DISP_E_PARAMNOTFOUND, DISP_E_TYPEMISMATCH,
                     DISP_E_OVERFLOW, E_ACCESSDENIED, E_OUTOFMEMORY, E_INVALIDARG}) {
    ClearErrorInfo();
    EXPECT_EQ(hr, ReportSystemError(hr));
    const ErrorState error = Current();
    EXPECT_TRUE(error.object) << std::hex << hr;
    EXPECT_EQ(L"", error.description) << std::hex << hr;
    EXPECT_EQ(L"QXSDK", error.source);
    EXPECT_EQ(L"qxsdk.chm", error.helpFile);
    EXPECT_EQ(0u, error.helpContext);
  }

  // Anything else, success codes included, is described by the system's text.
  EXPECT_EQ(1, ReportSystemError(1));
  EXPECT_EQ(SystemText(1), Description());
  EXPECT_FALSE(Description().empty());
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), ReportSystemError(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)));
  EXPECT_EQ(SystemText(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)), Description());

  EXPECT_EQ(static_cast<HRESULT>(kNoSystemText), ReportSystemError(static_cast<HRESULT>(kNoSystemText)));
  EXPECT_EQ(L" Error message formatting failed with [13d]", Description());
}

TEST_F(ErrorReporter, ReportLibraryErrorKeepsOnlyADescription) {
  ReportLibraryError(msg::kNamedValues, L" CMTNVS::Refresh");
  EXPECT_EQ(L"NAMEDVALUES error CMTNVS::Refresh", Description());
  EXPECT_EQ(L"QXSDK", Current().source);

  IErrorInfo* specific = InstallForeign(L"Specific");
  ReportLibraryError(msg::kNamedValues, L" CMTNVS::Refresh");
  const ErrorState kept = Current();
  EXPECT_EQ(specific, kept.object);
  EXPECT_EQ(L"Specific", kept.description);
  EXPECT_EQ(L"Elsewhere", kept.source);

  IErrorInfo* silent = InstallForeign(nullptr);
  ReportLibraryError(msg::kNamedValues, L" CMTNVS::Refresh");
  const ErrorState replaced = Current();
  EXPECT_NE(silent, replaced.object);
  EXPECT_EQ(L"NAMEDVALUES error CMTNVS::Refresh", replaced.description);
  EXPECT_EQ(L"QXSDK", replaced.source);

  ClearErrorInfo();
  EXPECT_EQ(E_POINTER, ReportSystemError(E_POINTER));
  ReportLibraryError(msg::kMTNVS, L" CMTNVS::get_MTReadOnly");
  EXPECT_EQ(L"MTNVS error.  CMTNVS::get_MTReadOnly", Description());
}

TEST_F(ErrorReporter, PropagateAndReportHResult) {
  // Propagate keeps whatever is there, even without a description.
  ReportSystemError(E_INVALIDARG);
  IErrorInfo* present = Current().object;
  EXPECT_EQ(LibraryCode(msg::kNameNotFound), PropagateHResult(LibraryCode(msg::kNameNotFound), L"Name"));
  EXPECT_EQ(present, Current().object);

  // Report replaces; a foreign code's suffix is not used.
  InstallForeign(L"old");
  EXPECT_EQ(E_INVALIDARG, ReportHResult(E_INVALIDARG, L"unused"));
  EXPECT_EQ(L"", Description());
  EXPECT_EQ(LibraryCode(msg::kMTNVSLockWait), ReportHResult(LibraryCode(msg::kMTNVSLockWait), L"!"));

  // Success codes leave the thread alone, with or without an object on it.
  for (HRESULT hr : {S_OK, S_FALSE, static_cast<HRESULT>(0x00040400)}) {
    ClearErrorInfo();
    EXPECT_EQ(hr, ReportHResult(hr, L"x"));
    EXPECT_EQ(hr, PropagateHResult(hr, L"x"));
    EXPECT_FALSE(HasError()) << hr;
    present = InstallForeign(L"kept");
    ReportHResult(hr, L"x");
    PropagateHResult(hr, L"x");
    EXPECT_EQ(present, Current().object) << hr;
  }
}

// Each report, made on a thread without an error object: the description it leaves.
TEST_F(ErrorReporter, DescriptionsOfEachReport) {
  const std::wstring notFound = SystemText(ERROR_FILE_NOT_FOUND);
  const struct {
    const char* label;
    std::function<void()> report;
    std::wstring description;
  } rows[] = {
      {"name suffix", [] { SetLibraryError(msg::kNameNotFound, L"Foo"); }, L"Name not found in collection: Foo"},
      {"no suffix", [] { SetLibraryError(msg::kNameNotFound); }, L"Name not found in collection: "},
      {"number -1", [] { SetLibraryErrorNumber(msg::kUnsupportedRegType, -1); },
       L"NamedValues cannot load this type of data from the Registry.-1 (0xffffffff)"},
      {"number 7", [] { SetLibraryErrorNumber(msg::kUnknownRegType, 7); },
       L"Registry data-type indicator was not recognized.7 (0x7)"},
      {"number 0", [] { SetLibraryErrorNumber(msg::kUnknownRegType, 0); },
       L"Registry data-type indicator was not recognized.0 (0)"},
      {"number INT_MIN", [] { SetLibraryErrorNumber(msg::kUnknownRegType, INT_MIN); },
       L"Registry data-type indicator was not recognized.-2147483648 (0x80000000)"},
      {"system text and suffix",
       [] { SetLibraryErrorWithSystemText(msg::kOpeningRegKey, ERROR_FILE_NOT_FOUND, L"Software\\X"); },
       L"Error opening registry key. " + notFound + L"Software\\X"},
      {"system text", [] { SetLibraryErrorWithSystemText(msg::kOpeningRegKey, ERROR_FILE_NOT_FOUND); },
       L"Error opening registry key. " + notFound},
      {"no system text", [] { SetLibraryErrorWithSystemText(msg::kOpeningRegKey, kNoSystemText, L"Software\\X"); },
       L"Error opening registry key. Software\\X"},
      {"propagated library code", [] { PropagateHResult(LibraryCode(msg::kNameNotFound), L"Name"); },
       L"Name not found in collection: Name"},
      {"propagated system code", [] { PropagateHResult(E_INVALIDARG, L"unused"); }, L""},
      {"reported system code", [] { ReportHResult(E_INVALIDARG, L"unused"); }, L""},
      {"reported library code", [] { ReportHResult(LibraryCode(msg::kMTNVSLockWait), L"!"); },
       L"MTNVS couldn't get it's own lock while waiting forever. !"},
      {"library code without text", [] { ReportHResult(static_cast<HRESULT>(0x8004A123)); },
       L"Failed to load resource ID = 0xa123"},
      {"first library code", [] { ReportHResult(static_cast<HRESULT>(0x80040400)); },
       L"Failed to load resource ID = 0x400"},
      {"last of the MTNV codes", [] { ReportHResult(static_cast<HRESULT>(0x8004301B)); },
       L"Failed to load resource ID = 0x301b"},
      {"first of the sibling's", [] { ReportHResult(static_cast<HRESULT>(0x8004A100)); },
       L"Failed to load resource ID = 0xa100"},
      {"last of the sibling's", [] { ReportHResult(static_cast<HRESULT>(0x8004AFFF)); },
       L"Failed to load resource ID = 0xafff"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    ClearErrorInfo();
    row.report();
    EXPECT_TRUE(HasError());
    EXPECT_EQ(row.description, Description());
  }
  for (unsigned code : {0x80040400u, 0x8004301Bu, 0x8004A100u, 0x8004AFFFu}) {
    EXPECT_TRUE(IsLibraryCode(static_cast<HRESULT>(code))) << std::hex << code;
  }
  // Codes outside the library's ranges are not library codes.
  for (unsigned code : {0x800403FFu, 0x8004301Cu, 0x8004A0FFu, 0x8004B000u, 0x00040500u, 0xC0040500u}) {
    EXPECT_FALSE(IsLibraryCode(static_cast<HRESULT>(code))) << std::hex << code;
    ClearErrorInfo();
    ReportHResult(static_cast<HRESULT>(code));
    EXPECT_EQ(std::wstring::npos, Description().find(L"Failed to load resource")) << std::hex << code;
  }
}

// The messages no class's own suite reaches (those do check the others, text by text).
TEST_F(ErrorReporter, MessagesOfTheTable) {
  const std::pair<UINT, const wchar_t*> table[] = {
      {100, L"QXSDKCommon"},
      {1199, L"Empty strings not allowed. "},
      {1509, L"Error creating QXErrors object."},
      {1510, L"Error restoring servers from persistence string."},
      {1511, L"Error restoring object from persistence string."},
      {1546, L"Error getting the servers for the object."},
      {1560, L"Failed to allocate a string. "},
      {1561, L"Failed to allocate a SAFEARRAY. "},
      {1568, L"Failed to allocate an IEnumVARIANT. "},
      {1569, L"Failed to allocate a VARIANT. "},
      {1915, L"Timed out waiting for a secondary asynch object to complete."},
      {1945, L"Failed to create a win32 event. "},
      {12298, L"Error creating MTNVS. "},
      {12303, L"MTNVS error. "},
      {12312, L"MTNV error. "},
      {12313, L"MTNVS couldn't get it's own lock while waiting forever. "},
      {12314, L"MTNV tried to get parent lock more than the maximum number of times. "},
  };
  for (const auto& [id, text] : table) {
    const auto loaded = LoadMessageText(id);
    EXPECT_EQ(text, Text(loaded.Get())) << id;
    EXPECT_EQ(wcslen(text), loaded.Length()) << id;
    if (id < 0x400) continue;
    EXPECT_EQ(LibraryCode(id), ReportHResult(LibraryCode(id), L"|"));
    EXPECT_EQ(std::wstring(text) + L"|", Description()) << id;
  }
  EXPECT_EQ(L"Failed to load resource ID = 0x1234", Message(4660));
}

TEST_F(ErrorReporter, SiblingModuleStrings) {
  ASSERT_EQ(nullptr, GetModuleHandleW(L"QXSDK.dll"));
  EXPECT_EQ(L"Failed to load resource ID = 0xa123", Message(0xA123));

  // Built beside the test program by the test build: a resource-only stand-in for the sibling.
  std::unique_ptr<HINSTANCE__, decltype(&FreeLibrary)> sibling(LoadLibraryW(L"QXSDK.dll"), &FreeLibrary);
  ASSERT_TRUE(sibling);
  ASSERT_EQ(sibling.get(), GetModuleHandleW(L"QXSDK.dll"));

  EXPECT_EQ(L"Sibling message 0xA123.", Message(0xA123));
  EXPECT_EQ(static_cast<HRESULT>(0x8004A123), ReportHResult(static_cast<HRESULT>(0x8004A123), L" tag"));
  EXPECT_EQ(L"Sibling message 0xA123. tag", Description());
  ReportHResult(static_cast<HRESULT>(0x80040500));
  EXPECT_EQ(L"Sibling message 0x500.", Description());
  std::wstring digits;
  for (int i = 0; i < 255; ++i) digits += static_cast<wchar_t>(L'0' + i % 10);
  EXPECT_EQ(digits, Message(0xA124));  // the sibling holds 300 characters; 255 are read
  EXPECT_EQ(L"Name not found in collection: ", Message(msg::kNameNotFound));  // own table first
  EXPECT_EQ(L"Failed to load resource ID = 0xa125", Message(0xA125));

  sibling.reset();
  ASSERT_EQ(nullptr, GetModuleHandleW(L"QXSDK.dll"));
  EXPECT_EQ(L"Failed to load resource ID = 0xa123", Message(0xA123));
}

}  // namespace
}  // namespace qx::test
