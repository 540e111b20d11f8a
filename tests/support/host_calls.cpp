#include "support/host_calls.h"

#include <chrono>
#include <filesystem>
#include <fstream>

#include "builders/files.h"
#include "format.h"
#include "varnel.h"

namespace varnel::testing {

namespace {

struct Mix {
  HostJob job;
  HostCallKind kind;
};

// Mostly links that succeed, with every way of failing among them.
constexpr Mix kMix[] = {
    {HostJob::kExec32, HostCallKind::kLink},       {HostJob::kExec5, HostCallKind::kLink},
    {HostJob::kExec33, HostCallKind::kLink},       {HostJob::kMissingFb, HostCallKind::kLink},
    {HostJob::kExec32, HostCallKind::kFit},        {HostJob::kDriverQuery, HostCallKind::kDriverData},
    {HostJob::kExec5, HostCallKind::kFit},         {HostJob::kUnresolved, HostCallKind::kLink},
    {HostJob::kExec33, HostCallKind::kLink},       {HostJob::kNoArgFile, HostCallKind::kLink},
    {HostJob::kExec32, HostCallKind::kLink},       {HostJob::kNoLogDirectory, HostCallKind::kFit},
    {HostJob::kExec5, HostCallKind::kLink},        {HostJob::kUnresolved, HostCallKind::kFit},
};
constexpr int kMixSize = static_cast<int>(sizeof kMix / sizeof kMix[0]);

constexpr uint64_t kMessageLength = 550;
constexpr uint32_t kQueryLength = 64;

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::string JobArgName(HostJob job) {
  switch (job) {
    case HostJob::kExec32:
    case HostJob::kNoLogDirectory: return "EXEC32.ARG";
    case HostJob::kExec33: return "EXEC33.ARG";
    case HostJob::kExec5: return "EXEC5.ARG";
    case HostJob::kMissingFb: return "MISSING.ARG";
    case HostJob::kUnresolved: return "UNRES.ARG";
    case HostJob::kNoArgFile:
    case HostJob::kDriverQuery: break;
  }
  return "";
}

std::vector<HostCall> HostCallPlan(const std::string& prefix, int count) {
  std::vector<HostCall> plan;
  const int offset = prefix.empty() ? 0 : static_cast<unsigned char>(prefix[0]);
  for (int i = 0; i < count; ++i) {
    // A stride prime to the mix's size walks through all of it.
    const Mix& m = kMix[(i * 5 + offset) % kMixSize];
    plan.push_back({m.job, m.kind, prefix + Format("%03d", i)});
  }
  return plan;
}

CallOutcome MakeCall(const HostCall& call, const CallPlace& place) {
  CallOutcome out;
  const std::string& work = place.work;
  if (call.kind == HostCallKind::kDriverData) {
    std::string versions(kQueryLength, '\xAA'), sizes(kQueryLength, '\xAA'), name(kQueryLength, '\xAA');
    uint16_t type = 0xBEEF;
    out.result = VarnelGetDriverData(kQueryDriver, place.lib.c_str(), versions.data(), sizes.data(), &type,
                                     name.data(), kQueryLength);
    out.message = versions + sizes + name + Format("%u", static_cast<unsigned>(type));
    return out;
  }
  const std::string arg = call.stem + ".ARG";
  const std::string log = (call.job == HostJob::kNoLogDirectory ? "NODIR/" : "") + call.stem + ".LOG";
  const std::string submit = call.stem + ".SUB";
  const std::string download = call.stem + ".S1";
  if (const std::string job = JobArgName(call.job); !job.empty())
    WriteFile(work + arg, ReadFile(place.jobs + job));
  std::string message(kMessageLength, 'x');
  if (call.kind == HostCallKind::kLink) {
    out.result = Varnel(arg.c_str(), nullptr, work.c_str(), log.c_str(), submit.c_str(),
                        download.c_str(), 2, message.data(), kMessageLength);
  } else {
    out.result = FbFit(arg.c_str(), nullptr, work.c_str(), log.c_str(), submit.c_str(), nullptr, 2,
                       message.data(), kMessageLength, 0, 0, 0, 0, 0);
  }
  out.message = message;
  out.downloaded = Exists(work + download);
  out.download = ReadFile(work + download);
  std::error_code ec;
  for (const std::string& name : {arg, log, submit, download}) std::filesystem::remove(work + name, ec);
  return out;
}

LaneRecord MakeCalls(const std::vector<HostCall>& plan, const CallPlace& place) {
  LaneRecord record;
  record.start = Now();
  for (const HostCall& call : plan) record.outcomes.push_back(MakeCall(call, place));
  record.end = Now();
  return record;
}

// A header line, then per outcome a line of figures followed by the
// message and the download, byte for byte.
void WriteLaneRecord(const std::string& path, const LaneRecord& record) {
  std::string text = Format("%lld %lld %zu\n", static_cast<long long>(record.start),
                            static_cast<long long>(record.end), record.outcomes.size());
  for (const CallOutcome& o : record.outcomes) {
    text += Format("%d %d %zu %zu\n", o.result, o.downloaded ? 1 : 0, o.message.size(),
                   o.download.size());
    text += o.message + o.download;
  }
  WriteFile(path, text);
}

LaneRecord ReadLaneRecord(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  LaneRecord record;
  size_t count = 0;
  if (!(in >> record.start >> record.end >> count) || in.get() != '\n') return {};
  for (size_t i = 0; i < count; ++i) {
    CallOutcome o;
    int downloaded = 0;
    size_t messageSize = 0, downloadSize = 0;
    if (!(in >> o.result >> downloaded >> messageSize >> downloadSize) || in.get() != '\n')
      return {};
    o.downloaded = downloaded != 0;
    o.message.resize(messageSize);
    o.download.resize(downloadSize);
    if (!in.read(o.message.data(), static_cast<std::streamsize>(messageSize)) ||
        !in.read(o.download.data(), static_cast<std::streamsize>(downloadSize)))
      return {};
    record.outcomes.push_back(o);
  }
  return record;
}

}  // namespace varnel::testing
