// Calls of a host as the concurrency tests make them, from one thread, from
// several, or from a second process: a plan of calls of mixed jobs and
// kinds, each with file names of its own, and what each call gave.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnel::testing {

// What a planned call is given, and so how it ends.  The test writes each
// job's ARG file once, under JobArgName, into a directory of its own.
enum class HostJob {
  kExec32,          // an Exec 3.2 module without a driver: links
  kExec33,          // an Exec 3.3 module with a packed driver: links
  kExec5,           // an Exec 5 module with firmware and screens: links
  kMissingFb,       // an FB that no file holds: stage 1 fails after unpacking
  kUnresolved,      // an FB that calls what nothing defines: stage 2 fails
  kNoArgFile,       // no ARG file: stage 1 fails at once
  kNoLogDirectory,  // the log's directory is missing: no log, 102
  kDriverQuery,     // the driver query on kQueryDriver's packed file
};

enum class HostCallKind { kLink, kFit, kDriverData };

// The driver the query asks about: kQueryDriver.FB in the library.
constexpr const char* kQueryDriver = "DRVQ";

// The name of the job's ARG file; "" for a job without one.
std::string JobArgName(HostJob job);

struct HostCall {
  HostJob job;
  HostCallKind kind;
  std::string stem;  // stem.ARG, stem.LOG, stem.SUB, stem.S1
};

// Where calls are made: the working directory, the library (for the driver
// query; the ARG files name it for the links) and the jobs' ARG files.
struct CallPlace {
  std::string work, lib, jobs;
};

// `count` calls named prefix + a three-digit number, jobs and kinds mixed
// by number and prefix; the same arguments give the same plan.
std::vector<HostCall> HostCallPlan(const std::string& prefix, int count);

struct CallOutcome {
  int result = 0;
  std::string message;  // the whole message buffer; the query's three buffers and type
  bool downloaded = false;
  std::string download;
  bool operator==(const CallOutcome&) const = default;
};

// The outcomes of a plan made call after call, and the steady clock (in
// nanoseconds, one clock for every process) when the calls began and ended.
struct LaneRecord {
  int64_t start = 0;
  int64_t end = 0;
  std::vector<CallOutcome> outcomes;
};

// Makes one call: its job's ARG file is copied to stem.ARG in the working
// directory first, and the call's own files are removed afterwards, so that
// the directory holds only what the calls in progress and the failed ones
// left.
CallOutcome MakeCall(const HostCall& call, const CallPlace& place);
LaneRecord MakeCalls(const std::vector<HostCall>& plan, const CallPlace& place);

// A lane's record as a file, for a child process's results; reading a file
// that is missing or cut short gives a record without outcomes.
void WriteLaneRecord(const std::string& path, const LaneRecord& record);
LaneRecord ReadLaneRecord(const std::string& path);

}  // namespace varnel::testing
