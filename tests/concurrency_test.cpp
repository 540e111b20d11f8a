// Calls that overlap: threads of one process, and processes on one working
// directory.  Whatever the overlap, every call gives what it gives when the
// calls are made one after the other; a call of another process waits for
// the working directory, and a lock never outlives its process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include "builders/files.h"
#include "builders/packer.h"
#include "platform/platform.h"
#include "support/host_calls.h"
#include "support/link_fixture.h"

namespace varnel {
namespace {

using testing::CallOutcome;
using testing::Exists;
using testing::HostCall;
using testing::HostCallKind;
using testing::HostCallPlan;
using testing::HostJob;
using testing::LaneRecord;
using testing::ListDir;
using testing::TempDir;

using Clock = std::chrono::steady_clock;

// Polls for `done` until it holds or `ms` have passed.
template <typename Done>
bool Within(int ms, Done done) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The test's second process (tests/call_child.cpp), killed when the test
// leaves it running.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& args) {
#if defined(_WIN32)
    std::string command = std::string("\"") + VARNEL_CALL_CHILD + "\"";
    for (const std::string& a : args) command += " \"" + a + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    running_ = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &info_) != 0;
#else
    std::vector<char*> argv = {const_cast<char*>(VARNEL_CALL_CHILD)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    running_ = posix_spawn(&pid_, VARNEL_CALL_CHILD, nullptr, nullptr, argv.data(), environ) == 0;
#endif
    EXPECT_TRUE(running_) << "the child did not start";
  }
  ~ChildProcess() {
    Kill();
#if defined(_WIN32)
    if (info_.hProcess != nullptr) {
      CloseHandle(info_.hThread);
      CloseHandle(info_.hProcess);
    }
#endif
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // True when the child has ended within `ms`; `status` then holds its exit
  // status (-1 when it did not exit by itself).
  bool Wait(int ms, int* status = nullptr) {
    int ended = -1;
    bool done = !running_ || Within(ms, [&] { return Ended(&ended); });
    if (done && running_) {
      running_ = false;
      status_ = ended;
    }
    if (status != nullptr) *status = status_;
    return done;
  }

  void Kill() {
    if (!running_) return;
#if defined(_WIN32)
    TerminateProcess(info_.hProcess, 99);
    WaitForSingleObject(info_.hProcess, INFINITE);
#else
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
#endif
    running_ = false;
  }

 private:
  bool Ended(int* status) {
#if defined(_WIN32)
    if (WaitForSingleObject(info_.hProcess, 0) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    *status = static_cast<int>(code);
    return true;
#else
    int raw = 0;
    if (waitpid(pid_, &raw, WNOHANG) != pid_) return false;
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return true;
#endif
  }

#if defined(_WIN32)
  PROCESS_INFORMATION info_ = {};
#else
  pid_t pid_ = -1;
#endif
  bool running_ = false;
  int status_ = -1;
};

// ---------------------------------------------------------------------------
// The working-directory lock of the platform layer, held by two threads of
// this process (it keeps them apart as it keeps processes apart).

TEST(DirectoryLock, EverySpellingOfOneDirectoryMeetsTheSameLock) {
  TempDir dir;
  const std::string work = dir / "work/";
  std::filesystem::create_directories(work + "sub");
  std::filesystem::create_directory(dir / "other");
  std::string backslashed = work;
  for (char& c : backslashed)
    if (c == '/') c = '\\';
  std::string cwd = std::filesystem::current_path().generic_string();
  if (cwd.back() != '/') cwd += '/';

  struct Case {
    std::string held, asked;
    bool same;
  };
  const Case cases[] = {
      {work, work, true},
      {work, work + "JOB", true},  // a prefix with a name: its directory
      {work, dir / "WORK/", true},
      {work, backslashed, true},
      {work, work + "sub/../", true},
      {"", cwd, true},  // no separator: the current directory
      {"JOB", "", true},
      {work, work + "sub/", false},
      {work, dir / "other/", false},
      {work, dir.Path(), false},
  };
  for (const Case& c : cases) {
    const std::string what = "held \"" + c.held + "\", asked \"" + c.asked + "\"";
    platform::DirectoryLock* held = platform::LockDirectory(c.held.c_str());
    ASSERT_NE(held, nullptr) << what;
    std::atomic<bool> got{false}, release{false}, asked{false};
    std::thread other([&] {
      platform::DirectoryLock* lock = platform::LockDirectory(c.asked.c_str());
      asked = lock != nullptr;
      got = true;
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      platform::UnlockDirectory(lock);
    });
    if (c.same) {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      EXPECT_FALSE(got) << what << ": taken while held";
      platform::UnlockDirectory(held);
      EXPECT_TRUE(Within(10000, [&] { return got.load(); })) << what << ": never taken once free";
    } else {
      EXPECT_TRUE(Within(10000, [&] { return got.load(); })) << what << ": waited for another directory";
      platform::UnlockDirectory(held);
    }
    release = true;
    other.join();
    EXPECT_TRUE(asked) << what;
  }

  // No directory, no lock, and no waiting for one.
  EXPECT_EQ(platform::LockDirectory((dir / "missing/").c_str()), nullptr);
  EXPECT_EQ(ListDir(work), std::vector<std::string>{"sub"}) << "the lock leaves nothing behind";
}

// ---------------------------------------------------------------------------
// Whole calls that overlap.

class Concurrency : public testing::LinkCallFixture {
 protected:
  void SetUp() override {
    LinkCallFixture::SetUp();
    // An FB whose code calls what nothing defines.
    Lib("FBX.OBJ", testing::S0("FBX") + testing::S3(0x85, "AROM") + testing::S4(5, 0, 1) +
                       testing::S7(5, 0, false, "NOWHERE") +
                       testing::S2(5, 0, testing::Rel(0xC0, 0, 0)) + testing::S9());
    testing::PackSpec query;
    query.version = 32;
    query.kind = 5;
    query.info = testing::MakeDriverInfo("Driver the host asks about", 3, {255, 3});
    testing::WritePackFile(lib + testing::kQueryDriver + ".FB", query);

    std::filesystem::create_directory(jobs);
    const std::pair<HostJob, std::string> argFiles[] = {
        {HostJob::kExec32, ModuleArgText(Module::kExec32)},
        {HostJob::kExec33, ModuleArgText(Module::kExec33WithDriver)},
        {HostJob::kExec5, ModuleArgText(Module::kExec5)},
        {HostJob::kMissingFb, ArgFileText({{1, "FBA"}, {2, "NOFB"}}, "32C000000000")},
        {HostJob::kUnresolved, ArgFileText({{1, "FBA"}, {2, "FBX"}}, "32C000000000")},
    };
    for (const auto& [job, text] : argFiles) testing::WriteFile(jobs + testing::JobArgName(job), text);
  }

  testing::CallPlace In(const std::string& workDir) const { return {workDir, lib, jobs}; }

  // What each job gives when nothing overlaps it: the reference is checked
  // against this first, so that a plan whose calls all failed alike cannot
  // pass for one that works.
  static int ExpectedResult(const HostCall& c) {
    switch (c.job) {
      case HostJob::kExec32:
      case HostJob::kExec33:
      case HostJob::kExec5: return 0;
      case HostJob::kMissingFb: return 1005;
      case HostJob::kUnresolved: return 2009;
      case HostJob::kNoArgFile: return 1001;
      case HostJob::kNoLogDirectory: return 102;
      case HostJob::kDriverQuery: return 1;
    }
    return -1;
  }

  void CheckReference(const std::vector<HostCall>& plan, const LaneRecord& reference) {
    ASSERT_EQ(reference.outcomes.size(), plan.size());
    for (size_t i = 0; i < plan.size(); ++i) {
      const CallOutcome& o = reference.outcomes[i];
      EXPECT_EQ(o.result, ExpectedResult(plan[i])) << plan[i].stem << ": " << o.message.c_str();
      const bool links = plan[i].kind == HostCallKind::kLink && o.result == 0;
      EXPECT_EQ(o.downloaded && !o.download.empty(), links) << plan[i].stem;
    }
  }

  // Every outcome equal to the reference's; the first few that differ are
  // shown.
  static void ExpectSameOutcomes(const std::vector<HostCall>& plan, const LaneRecord& reference,
                                 const LaneRecord& got, const std::string& lane) {
    ASSERT_EQ(got.outcomes.size(), plan.size()) << lane;
    int differing = 0;
    for (size_t i = 0; i < plan.size(); ++i) {
      const CallOutcome& e = reference.outcomes[i];
      const CallOutcome& o = got.outcomes[i];
      if (o == e) continue;
      if (++differing > 5) continue;
      ADD_FAILURE() << lane << ", call " << plan[i].stem << ": result " << o.result << " (alone "
                    << e.result << "), message \"" << o.message.c_str() << "\" (alone \""
                    << e.message.c_str() << "\"), download of " << o.download.size()
                    << " bytes (alone " << e.download.size() << ")"
                    << (o.download == e.download ? "" : ", other bytes");
    }
    EXPECT_EQ(differing, 0) << lane << ": calls that differ from the calls made alone";
  }

  struct Lane {
    std::string work;
    std::vector<HostCall> plan;
  };

  // The lanes one after the other, for reference.
  std::vector<LaneRecord> Alone(const std::vector<Lane>& lanes) {
    std::vector<LaneRecord> reference;
    for (const Lane& l : lanes) {
      reference.push_back(testing::MakeCalls(l.plan, In(l.work)));
      CheckReference(l.plan, reference.back());
    }
    return reference;
  }

  // Every lane in a thread of its own, all starting together.
  std::vector<LaneRecord> RunInThreads(const std::vector<Lane>& lanes) {
    std::vector<LaneRecord> records(lanes.size());
    std::atomic<size_t> ready{0};
    std::vector<std::thread> threads;
    for (size_t i = 0; i < lanes.size(); ++i) {
      threads.emplace_back([&, i] {
        ++ready;
        while (ready < lanes.size()) std::this_thread::yield();
        records[i] = testing::MakeCalls(lanes[i].plan, In(lanes[i].work));
      });
    }
    for (std::thread& t : threads) t.join();
    return records;
  }

  void ThreadsAgainstReference(const std::vector<Lane>& lanes) {
    const std::vector<LaneRecord> reference = Alone(lanes);
    if (HasFailure()) return;
    const std::vector<LaneRecord> got = RunInThreads(lanes);
    for (size_t i = 0; i < lanes.size(); ++i)
      ExpectSameOutcomes(lanes[i].plan, reference[i], got[i], "thread " + std::to_string(i + 1));
  }

  const std::string jobs = dir / "jobs/";
};

TEST_F(Concurrency, TwoThreadsWithAWorkingDirectoryEach) {
  const std::string second = dir / "work2/";
  std::filesystem::create_directory(second);
  ThreadsAgainstReference({{work, HostCallPlan("A", 200)}, {second, HostCallPlan("B", 200)}});
}

TEST_F(Concurrency, TwoThreadsShareAWorkingDirectory) {
  ThreadsAgainstReference({{work, HostCallPlan("A", 200)}, {work, HostCallPlan("B", 200)}});
}

TEST_F(Concurrency, TwoProcessesShareAWorkingDirectory) {
  const Lane mine{work, HostCallPlan("P", 100)};
  const Lane theirs{work, HostCallPlan("C", 100)};
  const std::vector<LaneRecord> reference = Alone({mine, theirs});
  if (HasFailure()) return;

  const std::string results = dir / "child.rec";
  const std::string started = dir / "child.started";
  ChildProcess child({"calls", work, lib, jobs, "C", "100", results, started});
  ASSERT_TRUE(Within(60000, [&] { return Exists(started); })) << "the child never started";
  const LaneRecord got = testing::MakeCalls(mine.plan, In(work));
  int status = -1;
  ASSERT_TRUE(child.Wait(120000, &status)) << "the child never ended";
  EXPECT_EQ(status, 0);
  const LaneRecord childGot = testing::ReadLaneRecord(results);

  ExpectSameOutcomes(mine.plan, reference[0], got, "this process");
  ExpectSameOutcomes(theirs.plan, reference[1], childGot, "the other process");
  // The steady clock is the machine's: the two runs overlapped, or the test
  // showed nothing.
  EXPECT_LT(childGot.start, got.end);
  EXPECT_LT(got.start, childGot.end);
}

TEST_F(Concurrency, LockEndsWithItsProcessAndLeavesNothing) {
  // The children's plans of one call link the Exec 3.2 module.
  const HostCall call = HostCallPlan("FA", 1)[0];
  ASSERT_EQ(call.job, HostJob::kExec32);
  ASSERT_EQ(call.kind, HostCallKind::kLink);
  ASSERT_EQ(HostCallPlan("FB", 1)[0].job, HostJob::kExec32);
  const std::vector<std::string> before = ListDir(work);
  auto expectLinked = [](const std::string& path) {
    const LaneRecord record = testing::ReadLaneRecord(path);
    ASSERT_EQ(record.outcomes.size(), 1u) << path;
    EXPECT_EQ(record.outcomes[0].result, 0) << record.outcomes[0].message.c_str();
    EXPECT_TRUE(record.outcomes[0].downloaded);
  };

  // A call waits while another process holds the directory, and goes on
  // once that process has been killed.
  const std::string held = dir / "held", results = dir / "calls.rec", started = dir / "calls.started";
  ChildProcess holder({"hold", work, held});
  ASSERT_TRUE(Within(60000, [&] { return Exists(held); })) << "the holder never took the lock";
  EXPECT_EQ(ListDir(work), before) << "the lock puts nothing into the directory";
  ChildProcess waiting({"calls", work, lib, jobs, "FA", "1", results, started});
  ASSERT_TRUE(Within(60000, [&] { return Exists(started); }));
  EXPECT_FALSE(waiting.Wait(300)) << "a call went on while another process held the directory";
  holder.Kill();
  int status = -1;
  ASSERT_TRUE(waiting.Wait(60000, &status)) << "the killed holder's lock lives on";
  EXPECT_EQ(status, 0);
  expectLinked(results);

  // A process that ends holding the lock, never releasing it.
  ChildProcess quitter({"exit", work});
  ASSERT_TRUE(quitter.Wait(60000, &status));
  EXPECT_EQ(status, 0);
  const std::string nextResults = dir / "next.rec";
  ChildProcess next({"calls", work, lib, jobs, "FB", "1", nextResults, dir / "next.started"});
  ASSERT_TRUE(next.Wait(60000, &status)) << "the ended holder's lock lives on";
  expectLinked(nextResults);

  // The calls' own files went with them (the children removed them), the
  // temporary files with the successful links: nothing of the locks is left.
  EXPECT_EQ(ListDir(work), before);

  // And a call of this process after them all.
  EXPECT_EQ(testing::MakeCall(call, In(work)).result, 0);
  EXPECT_EQ(ListDir(work), before);
}

}  // namespace
}  // namespace varnel
