// The second process of the concurrency tests:
//   call_child hold WORKDIR READY    takes WORKDIR's lock, writes the file
//                                    READY and waits to be killed
//   call_child exit WORKDIR          takes WORKDIR's lock and ends without
//                                    releasing it
//   call_child calls WORKDIR LIBDIR JOBSDIR PREFIX COUNT RESULTS READY
//                                    writes READY, makes the planned calls
//                                    and writes their record to RESULTS
// The exit status is 0; 1 when the lock could not be taken, 2 for
// arguments it does not know.
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "builders/files.h"
#include "platform/platform.h"
#include "support/host_calls.h"

int main(int argc, char** argv) {
  using namespace varnel;
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "hold" && argc == 4) {
    if (platform::LockDirectory(argv[2]) == nullptr) return 1;
    testing::WriteFile(argv[3], "held");
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  if (mode == "exit" && argc == 3) {
    // Ends at once, as a crashing host would: nothing runs on the way out.
    std::_Exit(platform::LockDirectory(argv[2]) != nullptr ? 0 : 1);
  }
  if (mode == "calls" && argc == 9) {
    const auto plan = testing::HostCallPlan(argv[5], std::atoi(argv[6]));
    testing::WriteFile(argv[8], "started");
    testing::WriteLaneRecord(argv[7], testing::MakeCalls(plan, {argv[2], argv[3], argv[4]}));
    return 0;
  }
  return 2;
}
