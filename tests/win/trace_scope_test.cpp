// TraceScope driven against a recording stand-in for the tracing library, and end to end against
// the real zelog.dll beside the test program.
#include <atomic>
#include <climits>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/trace_scope.h"
#include "test_support.h"

namespace qx::test {
namespace {

using trace::TracingFunctions;
constexpr int kThreads = 8, kScopes = 50;  // of the end-to-end test

struct Message {
  bool exit;
  int depth, level;
  unsigned long threadId;
  std::string name;  // read during the call, as the real library may
};

// The recording tracing library: its switch and limits, and the messages it was given.
bool g_tracing = true;
int g_depth = 10, g_level = 100;
std::vector<Message> g_messages;

BOOL WINAPI RecIsTracing() { return g_tracing ? TRUE : FALSE; }
int WINAPI RecDepth() { return g_depth; }
int WINAPI RecLevel() { return g_level; }
void WINAPI RecEntry(int d, int l, DWORD thread, const char* n) { g_messages.push_back({false, d, l, thread, n}); }
void WINAPI RecExit(int d, int l, DWORD thread, const char* n, DWORD) { g_messages.push_back({true, d, l, thread, n}); }

// One scope per row, with the library's limits and switch set before it and changed inside it:
// which messages it writes, each carrying the scope's own depth, level, thread and name.
TEST(TraceScopeTest, LimitsAndSwitch) {
  const struct {
    const char* label;
    int depthLimit, levelLimit, level, depth;
    bool tracingAtEntry;
    int depthLimitInside, levelLimitInside;  // set inside the scope
    bool tracingInside;
    const char* written;  // "", "enter" or "enter exit"
  } rows[] = {
      {"at both limits", 4, 200, 200, 4, true, 4, 200, true, "enter exit"},
      {"one deeper", 4, 200, 200, 5, true, 4, 200, true, ""},
      {"one level higher", 4, 200, 201, 4, true, 4, 200, true, ""},
      {"signed: INT_MIN under 0", 0, 0, INT_MIN, INT_MIN, true, 0, 0, true, "enter exit"},
      {"off at entry, on at exit", 10, 100, 1, 1, false, 10, 100, true, ""},
      {"on at entry, off at exit", 10, 100, 1, 1, true, 10, 100, false, "enter"},
      {"depth lowered inside", 10, 100, 5, 5, true, 4, 100, true, "enter"},
  };
  trace::UseTracingFunctionsForTests(TracingFunctions{RecIsTracing, RecDepth, RecLevel, RecEntry, RecExit});
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    g_messages.clear();
    g_depth = row.depthLimit, g_level = row.levelLimit, g_tracing = row.tracingAtEntry;
    {
      TraceScope scope("Op", row.level, row.depth);
      g_depth = row.depthLimitInside, g_level = row.levelLimitInside, g_tracing = row.tracingInside;
    }
    std::string written;
    for (const Message& m : g_messages) {
      written += std::string(written.empty() ? "" : " ") + (m.exit ? "exit" : "enter");
      EXPECT_TRUE(m.depth == row.depth && m.level == row.level && m.threadId == GetCurrentThreadId() && m.name == "Op");
    }
    EXPECT_EQ(row.written, written);
  }
  trace::ResetTracingForTests();
}

// Threads racing for the one-time lookup and writing at once through zelog.dll (loaded afresh by a
// child with these settings): every line is whole; scopes beyond the limits write none.
TEST(ZelogEndToEndTest, LinesOfConcurrentThreadsStayWhole) {
  const std::wstring log = TempPath(L"qx_zelog_test_", L".log");
  DeleteFileW(log.c_str());
  const wchar_t* names[] = {L"ZELOG_ENABLED", L"ZELOG_DEPTH", L"ZELOG_LEVEL", L"ZELOG_FILE"};
  const std::wstring values[] = {L"1", L"4", L"200", log};
  for (int i = 0; i < 4; ++i) SetEnvironmentVariableW(names[i], values[i].c_str());
  EXPECT_EQ(kChildPassed, RunChildTest(L"ZelogChild.DISABLED_ConcurrentScopes"));
  for (const wchar_t* name : names) SetEnvironmentVariableW(name, nullptr);
  const std::vector<std::string> lines = ReadLines(log);
  DeleteFileW(log.c_str());

  const std::regex whole(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} tid=\d+ depth=1 level=1 )"
                         R"((enter Concurrent\.Operation|exit  Concurrent\.Operation elapsed=\d+ms))");
  ASSERT_EQ(lines.size(), static_cast<size_t>(2 * kThreads * kScopes));
  int entries = 0;
  for (const std::string& line : lines) {
    EXPECT_TRUE(std::regex_match(line, whole)) << line;
    entries += line.find(" enter ") != std::string::npos;
  }
  EXPECT_EQ(entries, kThreads * kScopes);
}

TEST(ZelogChild, DISABLED_ConcurrentScopes) {
  trace::ResetTracingForTests();
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&go] {
      while (!go) Sleep(0);
      for (int i = 0; i < kScopes; ++i) TraceScope scope("Concurrent.Operation", 1, 1);
    });
  }
  go = true;
  for (auto& thread : threads) thread.join();
  { TraceScope filtered("TooDeep", 200, 5); }
  { TraceScope filtered("TooHigh", 201, 4); }
  ChildDone();
}

}  // namespace
}  // namespace qx::test
