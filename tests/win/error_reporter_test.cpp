// The error reporter called directly, reading the string table of the real QXSDKCommon.dll.
#include <climits>
#include <functional>
#include <memory>
#include <string>

#include "common/error_reporter.h"
#include "test_support.h"

namespace qx::test {
namespace {

std::wstring Description() { return PeekError().description; }

std::wstring SystemText(DWORD code) {
  UniqueBstr text;
  EXPECT_EQ(0u, FormatSystemMessage(code, text.Put(), 0)) << std::hex << code;
  return Text(text.Get());
}
std::wstring Message(UINT id) { return Text(LoadMessageText(id).Get()); }

constexpr DWORD kNoSystemText = 0xE0001234;  // a code the system's message tables do not know

class ErrorReporter : public testing::Test {
 protected:
  static void SetUpTestSuite() { SetMessageModule(LoadLibraryW(L"QXSDKCommon.dll")); }  // stays loaded
  void SetUp() override { ClearErrorInfo(); }
  void TearDown() override { ClearErrorInfo(); }
};

TEST_F(ErrorReporter, ObjectFieldsAndSystemTexts) {
  SetErrorText(L"abc", L"def");
  const ErrorState first = PeekError();
  EXPECT_EQ(L"abcdef", first.description);
  EXPECT_EQ(L"QXSDK", first.source);
  EXPECT_EQ(L"qxsdk.chm", first.helpFile);
  EXPECT_EQ(0u, first.helpContext);
  EXPECT_NE(GUID_NULL, first.guid);
  SetErrorText(nullptr, nullptr);
  EXPECT_NE(first.object, PeekError().object);
  EXPECT_EQ(first.guid, PeekError().guid) << "one GUID for every object of the module";
  ClearErrorInfo();
  auto built = BuildErrorInfo(L"x", L"y");
  ASSERT_TRUE(built);
  EXPECT_FALSE(PeekError().present) << "built, not installed";
  UniqueBstr text;
  built->GetDescription(text.Put());
  EXPECT_EQ(L"xy", Text(text.Get()));

  // The system's own text ends in a line end; ours is the same text without it.
  wchar_t* raw = nullptr;
  ASSERT_NE(0u,
            FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                           nullptr, ERROR_FILE_NOT_FOUND, 0, reinterpret_cast<LPWSTR>(&raw), 0, nullptr));
  const std::wstring system(raw), ours = SystemText(ERROR_FILE_NOT_FOUND);
  LocalFree(raw);
  ASSERT_TRUE(!ours.empty() && system.size() > ours.size());
  EXPECT_EQ(ours, system.substr(0, ours.size()));
  EXPECT_EQ(std::wstring::npos, system.find_first_not_of(L"\r\n", ours.size()));
  EXPECT_EQ(std::wstring::npos, ours.find_last_of(L"\r\n"));
  BSTR untouched = nullptr;
  EXPECT_EQ(static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND), FormatSystemMessage(kNoSystemText, &untouched, 0));
  EXPECT_EQ(nullptr, untouched);
  EXPECT_EQ(static_cast<DWORD>(E_POINTER), FormatSystemMessage(ERROR_FILE_NOT_FOUND, nullptr, 0));
}

// Which reports keep an error object already on the thread and which replace it.
TEST_F(ErrorReporter, ReportsKeepOrReplaceTheThreadsObject) {
  const struct {
    const char* label;
    const wchar_t* present;  // the foreign object's description; "-" for none
    std::function<void()> report;
    bool kept;
  } rows[] = {
      {"system S_OK", L"kept", [] { ReportSystemError(S_OK); }, true},
      {"library error over a described one", L"Specific",
       [] { ReportLibraryError(msg::kNamedValues, L" CMTNVS::Refresh"); }, true},
      {"library error over a silent one", nullptr, [] { ReportLibraryError(msg::kNamedValues, L" x"); }, false},
      {"propagated code", L"kept", [] { PropagateHResult(LibraryCode(msg::kNameNotFound), L"Name"); }, true},
      {"reported code", L"old", [] { ReportHResult(E_INVALIDARG, L"unused"); }, false},
      {"reported S_FALSE", L"kept", [] { ReportHResult(S_FALSE, L"x"); }, true},
      {"propagated success code", L"kept", [] { PropagateHResult(static_cast<HRESULT>(0x00040400), L"x"); }, true},
  };
  for (const auto& row : rows) {
    IErrorInfo* present = PutThreadError(row.present);
    row.report();
    EXPECT_EQ(row.kept, PeekError().object == present) << row.label;
    if (row.kept) { EXPECT_EQ(L"Elsewhere", PeekError().source) << row.label; }
  }
  // A success code leaves a thread without an object as it is.
  for (HRESULT hr : {S_OK, S_FALSE, static_cast<HRESULT>(0x00040400)}) {
    ClearErrorInfo();
    EXPECT_EQ(hr, ReportHResult(hr, L"x"));
    EXPECT_EQ(hr, PropagateHResult(hr, L"x"));
    if (hr == S_OK) { EXPECT_EQ(S_OK, ReportSystemError(hr)); }
    EXPECT_FALSE(PeekError().present) << hr;
  }
  // The well-known codes get an object without a description.
  for (HRESULT hr : {E_NOTIMPL, E_NOINTERFACE, E_POINTER, E_FAIL, DISP_E_PARAMNOTFOUND, DISP_E_TYPEMISMATCH,
                     DISP_E_OVERFLOW, E_ACCESSDENIED, E_OUTOFMEMORY, E_INVALIDARG}) {
    ClearErrorInfo();
    EXPECT_EQ(hr, ReportSystemError(hr));
    const ErrorState error = PeekError();
    EXPECT_TRUE(error.present && error.description.empty() && error.source == L"QXSDK") << std::hex << hr;
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
      {"system text of a success code", [] { ReportSystemError(1); }, SystemText(1)},
      {"no system text", [] { ReportSystemError(static_cast<HRESULT>(kNoSystemText)); },
       L" Error message formatting failed with [13d]"},
      {"library error", [] { ReportLibraryError(msg::kNamedValues, L" CMTNVS::Refresh"); },
       L"NAMEDVALUES error CMTNVS::Refresh"},
      {"library error after a system one", [] { ReportSystemError(E_POINTER), ReportLibraryError(msg::kMTNVS, L" G"); },
       L"MTNVS error.  G"},
      {"number -1", [] { SetLibraryErrorNumber(msg::kUnsupportedRegType, -1); },
       L"NamedValues cannot load this type of data from the Registry.-1 (0xffffffff)"},
      {"number INT_MIN", [] { SetLibraryErrorNumber(msg::kUnknownRegType, INT_MIN); },
       L"Registry data-type indicator was not recognized.-2147483648 (0x80000000)"},
      {"system text and suffix",
       [] { SetLibraryErrorWithSystemText(msg::kOpeningRegKey, ERROR_FILE_NOT_FOUND, L"Software\\X"); },
       L"Error opening registry key. " + notFound + L"Software\\X"},
      {"no system text and suffix",
       [] { SetLibraryErrorWithSystemText(msg::kOpeningRegKey, kNoSystemText, L"Software\\X"); },
       L"Error opening registry key. Software\\X"},
      {"propagated library code", [] { PropagateHResult(LibraryCode(msg::kNameNotFound), L"Name"); },
       L"Name not found in collection: Name"},
      {"reported library code", [] { ReportHResult(LibraryCode(msg::kMTNVSLockWait), L"!"); },
       L"MTNVS couldn't get it's own lock while waiting forever. !"},
      {"library code without text", [] { ReportHResult(static_cast<HRESULT>(0x8004A123)); },
       L"Failed to load resource ID = 0xa123"},
      {"last of the MTNV codes", [] { ReportHResult(static_cast<HRESULT>(0x8004301B)); },
       L"Failed to load resource ID = 0x301b"},
  };
  for (const auto& row : rows) {
    ClearErrorInfo();
    row.report();
    EXPECT_TRUE(PeekError().present) << row.label;
    EXPECT_EQ(row.description, Description()) << row.label;
  }
  // Codes just outside the library's ranges are not library codes.
  for (unsigned code : {0x800403FFu, 0x8004301Cu, 0x8004A0FFu, 0x8004B000u, 0x00040500u, 0xC0040500u}) {
    EXPECT_FALSE(IsLibraryCode(static_cast<HRESULT>(code))) << std::hex << code;
    ClearErrorInfo();
    ReportHResult(static_cast<HRESULT>(code));
    EXPECT_EQ(std::wstring::npos, Description().find(L"Failed to load resource")) << std::hex << code;
  }
}

TEST_F(ErrorReporter, SiblingModuleStrings) {
  ASSERT_EQ(nullptr, GetModuleHandleW(L"QXSDK.dll"));
  EXPECT_EQ(L"Failed to load resource ID = 0xa123", Message(0xA123));
  // Built beside the test program by the test build: a resource-only stand-in for the sibling.
  std::unique_ptr<HINSTANCE__, decltype(&FreeLibrary)> sibling(LoadLibraryW(L"QXSDK.dll"), &FreeLibrary);
  ASSERT_TRUE(sibling);
  EXPECT_EQ(L"Sibling message 0xA123.", Message(0xA123));
  EXPECT_EQ(static_cast<HRESULT>(0x8004A123), ReportHResult(static_cast<HRESULT>(0x8004A123), L" tag"));
  EXPECT_EQ(L"Sibling message 0xA123. tag", Description());
  ReportHResult(static_cast<HRESULT>(0x80040500));
  EXPECT_EQ(L"Sibling message 0x500.", Description());
  std::wstring digits;
  for (int i = 0; i < 255; ++i) digits += static_cast<wchar_t>(L'0' + i % 10);
  EXPECT_EQ(digits, Message(0xA124)) << "the sibling holds 300 characters; 255 are read";
  EXPECT_EQ(L"Name not found in collection: ", Message(msg::kNameNotFound)) << "own table first";
  EXPECT_EQ(L"Failed to load resource ID = 0xa125", Message(0xA125));
  sibling.reset();
  EXPECT_EQ(L"Failed to load resource ID = 0xa123", Message(0xA123));
}

}  // namespace
}  // namespace qx::test
