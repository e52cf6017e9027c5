// TraceScope driven against a recording stand-in for the tracing library, and end to end against
// the real zelog.dll beside the test program.
#include <atomic>
#include <climits>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/trace_scope.h"
#include "test_support.h"

namespace qx::test {
namespace {

using trace::TracingFunctions;

struct Message {
  bool exit;
  int depth, level;
  unsigned long threadId;
  const char* namePointer;
  std::string name;  // read during the call, as the real library may
  unsigned long elapsed;
};

// The recording tracing library: its switch and limits, and the messages it was given.
std::mutex g_lock;
std::atomic<bool> g_tracing{true};
std::atomic<int> g_depth{10}, g_level{100}, g_switchQueries{0};
std::vector<Message> g_messages;

BOOL WINAPI RecIsTracing() { return ++g_switchQueries, g_tracing ? TRUE : FALSE; }
int WINAPI RecDepth() { return g_depth; }
int WINAPI RecLevel() { return g_level; }
void WINAPI RecEntry(int depth, int level, unsigned long threadId, const char* name) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_messages.push_back(Message{false, depth, level, threadId, name, name, 0});
}
void WINAPI RecExit(int depth, int level, unsigned long threadId, const char* name, unsigned long elapsed) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_messages.push_back(Message{true, depth, level, threadId, name, name, elapsed});
}

class TraceScopeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_messages.clear();
    g_tracing = true, g_depth = 10, g_level = 100, g_switchQueries = 0;
    trace::UseTracingFunctionsForTests(TracingFunctions{RecIsTracing, RecDepth, RecLevel, RecEntry, RecExit});
  }
  void TearDown() override { trace::ResetTracingForTests(); }
};

TEST_F(TraceScopeTest, EntryAndExitCarryTheSameScopeData) {
  const char* const name = "QXGlobalRestorer.RestoreObject";
  {
    TraceScope scope(name, 35, 1);  // name, level, depth; the messages take depth first
    Sleep(120);
  }
  ASSERT_EQ(g_messages.size(), 2u);
  const Message &entry = g_messages[0], &exit = g_messages[1];
  EXPECT_TRUE(!entry.exit && exit.exit && entry.depth == 1 && entry.level == 35 && entry.name == name);
  EXPECT_EQ(entry.threadId, GetCurrentThreadId());
  EXPECT_NE(entry.namePointer, name) << "the scope passes its own copy";
  EXPECT_TRUE(exit.depth == entry.depth && exit.level == entry.level && exit.threadId == entry.threadId);
  EXPECT_EQ(exit.namePointer, entry.namePointer) << "one copy for both messages";
  EXPECT_TRUE(exit.elapsed >= 90u && exit.elapsed < 10000u) << exit.elapsed;
  EXPECT_EQ(g_switchQueries.load(), 2) << "the switch is asked at entry and again at exit";
}

// One scope per row, with the library's limits and switch set before it and changed inside it:
// which messages it writes.
TEST_F(TraceScopeTest, LimitsAndSwitch) {
  const struct {
    const char* label;
    int depthLimit, levelLimit;
    int level, depth;
    bool tracingAtEntry;
    int depthLimitInside, levelLimitInside;  // set inside the scope
    bool tracingInside;
    const char* written;  // "", "enter" or "enter exit"
  } rows[] = {
      {"at both limits", 4, 200, 200, 4, true, 4, 200, true, "enter exit"},
      {"one deeper", 4, 200, 200, 5, true, 4, 200, true, ""},
      {"signed: -1 at -1", -1, -1, -1, -1, true, -1, -1, true, "enter exit"},
      {"signed: INT_MIN", -1, -1, INT_MIN, INT_MIN, true, -1, -1, true, "enter exit"},
      {"off at entry, on at exit", 10, 100, 1, 1, false, 10, 100, true, ""},
      {"on at entry, off at exit", 10, 100, 1, 1, true, 10, 100, false, "enter"},
      {"depth lowered inside", 10, 100, 5, 5, true, 4, 100, true, "enter"},
      {"limits raised inside", 10, 100, 5, 5, true, 50, 500, true, "enter exit"},
  };
  for (const auto& row : rows) {
    g_messages.clear();
    g_depth = row.depthLimit, g_level = row.levelLimit, g_tracing = row.tracingAtEntry;
    {
      TraceScope scope("Op", row.level, row.depth);
      g_depth = row.depthLimitInside, g_level = row.levelLimitInside, g_tracing = row.tracingInside;
    }
    std::string written;
    for (const Message& m : g_messages) written += std::string(written.empty() ? "" : " ") + (m.exit ? "exit" : "enter");
    EXPECT_EQ(row.written, written) << row.label;
  }
}

TEST_F(TraceScopeTest, ScopesOnManyThreadsPairUpByThread) {
  constexpr int kThreads = 8, kScopes = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < kScopes; ++i) TraceScope scope("Concurrent", 1, 1);
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_EQ(g_messages.size(), static_cast<size_t>(2 * kThreads * kScopes));
  // On each thread, entries and exits alternate and each exit repeats its entry's name pointer.
  std::map<unsigned long, const char*> open;
  for (const Message& m : g_messages) {
    if (!m.exit) {
      EXPECT_TRUE(open.emplace(m.threadId, m.namePointer).second);
      continue;
    }
    ASSERT_EQ(open.count(m.threadId), 1u);
    EXPECT_EQ(open[m.threadId], m.namePointer);
    open.erase(m.threadId);
  }
  EXPECT_TRUE(open.empty());
}

// No library, a module lacking the functions, or an incomplete table: scopes stay silent.
TEST(TraceScopeWithoutLibrary, TracingStaysOff) {
  trace::ResetTracingForTests(L"qx_no_such_tracing_library.dll");
  {
    TraceScope scope("Nothing", 1, 1);
    TraceScope nested("StillNothing", INT_MIN, INT_MIN);
  }
  EXPECT_EQ(GetModuleHandleW(L"qx_no_such_tracing_library.dll"), nullptr);
  EXPECT_EQ(trace::ResolveTracingFunctions(GetModuleHandleW(L"kernel32.dll")).isTracing, nullptr);
  EXPECT_EQ(trace::ResolveTracingFunctions(nullptr).logEntryMsg, nullptr);
  trace::UseTracingFunctionsForTests(TracingFunctions{RecIsTracing, nullptr, nullptr, nullptr, nullptr});
  { TraceScope scope("Incomplete", 1, 1); }  // would call through null
  trace::ResetTracingForTests();
}

// Against a private copy of zelog.dll (so that the ZELOG_* settings are read afresh, whatever
// copy the DLL under test may have loaded already).
TEST(ZelogEndToEndTest, LinesOfConcurrentThreadsStayWhole) {
  wchar_t self[MAX_PATH];
  std::wstring original(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
  original = original.substr(0, original.find_last_of(L'\\') + 1) + L"zelog.dll";
  const std::wstring library = TempPath(L"qx_zelog_copy_", L".dll"), log = TempPath(L"qx_zelog_test_", L".log");
  ASSERT_TRUE(CopyFileW(original.c_str(), library.c_str(), FALSE)) << "zelog.dll beside the test program";
  DeleteFileW(log.c_str());
  const wchar_t* names[] = {L"ZELOG_ENABLED", L"ZELOG_DEPTH", L"ZELOG_LEVEL", L"ZELOG_FILE"};
  const std::wstring values[] = {L"1", L"4", L"200", log};
  for (int i = 0; i < 4; ++i) SetEnvironmentVariableW(names[i], values[i].c_str());
  trace::ResetTracingForTests(library.c_str());

  constexpr int kThreads = 8, kScopes = 50;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&go] {
      while (!go) Sleep(0);  // the first scopes of all threads race for the one-time lookup
      for (int i = 0; i < kScopes; ++i) TraceScope scope("Concurrent.Operation", 1, 1);
    });
  }
  go = true;
  for (auto& thread : threads) thread.join();
  { TraceScope filtered("TooDeep", 200, 5); }  // beyond ZELOG_DEPTH
  { TraceScope filtered("TooHigh", 201, 4); }  // beyond ZELOG_LEVEL

  // The lookup keeps the library loaded for the life of the process; give that reference back
  // so that the log is closed and the copy can go.
  trace::ResetTracingForTests(L"qx_no_such_tracing_library.dll");
  if (HMODULE zelog = GetModuleHandleW(library.c_str())) FreeLibrary(zelog);
  EXPECT_EQ(GetModuleHandleW(library.c_str()), nullptr);
  for (const wchar_t* name : names) SetEnvironmentVariableW(name, nullptr);
  trace::ResetTracingForTests();
  const std::vector<std::string> lines = ReadLines(log);
  DeleteFileW(log.c_str());
  DeleteFileW(library.c_str());

  ASSERT_EQ(lines.size(), static_cast<size_t>(2 * kThreads * kScopes));
  int entries = 0, exits = 0;
  for (const std::string& line : lines) {
    const size_t enter = line.find(" enter Concurrent.Operation");
    const bool isEntry = enter != std::string::npos && line.size() == enter + 27;
    const bool isExit = line.find(" exit  Concurrent.Operation elapsed=") != std::string::npos &&
                        line.substr(line.size() - 2) == "ms";
    EXPECT_TRUE(isEntry || isExit) << line;
    // "YYYY-MM-DD hh:mm:ss.mmm tid=N depth=1 level=1 ", the exit ending in "elapsed=Nms".
    EXPECT_TRUE(line.size() > 24 && line[4] == '-' && line[10] == ' ' && line[13] == ':' && line[19] == '.') << line;
    EXPECT_NE(line.find(" depth=1 level=1 "), std::string::npos) << line;
    entries += isEntry;
    exits += isExit;
  }
  EXPECT_EQ(entries, kThreads * kScopes);
  EXPECT_EQ(exits, kThreads * kScopes);
}

}  // namespace
}  // namespace qx::test
