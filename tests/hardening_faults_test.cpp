// Whole Varnel and FbFit calls whose files fail: a write that does not reach
// the disk at each output, and a read error in the middle of each input.
// Neither may ever end as a success with an incomplete file, nor link what
// was read before the error.  And memory that runs out in the middle of a
// stage: the call fails, and the stage's files are closed behind it.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdarg>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "format.h"
#include "image.h"
#include "linker.h"
#include "planner.h"
#include "platform/platform.h"
#include "runctl.h"
#include "support/descriptors.h"
#include "support/link_fixture.h"

namespace varnel {
namespace {

using platform::FaultOp;
using testing::Exists;
using testing::ReadFile;

// Arms a read fault on a path once a stage prints a text, so that the fault
// meets its reader in the middle of the file rather than at its first byte;
// or, with outOfMemory, fails that print as an allocation that finds no
// memory.
struct ReadFaultTrigger {
  std::string path;
  std::string text;
  bool outOfMemory = false;
  bool fired = false;
  PrintCallback print = nullptr;
  PrintCallback progress = nullptr;
};

ReadFaultTrigger& Trigger() {
  static ReadFaultTrigger trigger;
  return trigger;
}

void Watch(const char* format, va_list args) {
  ReadFaultTrigger& t = Trigger();
  if (t.fired) return;
  va_list copy;
  va_copy(copy, args);
  std::string text = VFormat(format, copy);
  va_end(copy);
  if (text.find(t.text) == std::string::npos) return;
  t.fired = true;
  if (t.outOfMemory) throw std::bad_alloc();
  platform::InjectFault(t.path.c_str(), FaultOp::Read);
}

void WatchedPrint(const char* format, va_list args) {
  Watch(format, args);
  Trigger().print(format, args);
}

void WatchedProgress(const char* format, va_list args) {
  Watch(format, args);
  Trigger().progress(format, args);
}

// A real stage whose prints pass the trigger on their way to the log.
template <typename Params, int (*Entry)(Params*)>
int Watched(Params* params) {
  Trigger().print = params->print;
  Trigger().progress = params->progress;
  params->print = WatchedPrint;
  params->progress = WatchedProgress;
  return Entry(params);
}

const StageEntries kWatchedStages = {Watched<PlanParams, RunPlanner>,
                                     Watched<LinkParams, RunLinker>,
                                     Watched<ImageParams, RunImageBuilder>};

class HardeningFaults : public testing::LinkCallFixture {
 protected:
  void TearDown() override {
    platform::ClearFaults();
    SetStageEntries(nullptr);
  }

  std::string Incomplete(const std::string& name, const std::string& reason) const {
    return "Temporary file \"" + work + name +
           "\" is incomplete.\nWhat to check - Is the disk full?.  Remember that compressed drives "
           "often report false free space.  The system error reported to me was \"" + reason + "\".\n";
  }
  std::string CantUnpack(const std::string& member, const std::string& packed) const {
    return "Can't unpack \"" + member + ".OBJ\" from the packed file \"" + lib + packed +
           "\".\nWhat to check - Check the contents of the packed file using KORVAP. ";
  }
  std::string OutputIncomplete(const std::string& reason) const {
    return "Output file \"" + work + "MODULE.S1\" is incomplete.\nWhat to check - Is the disk "
           "full?.  Remember that compressed drives often report false free space.  The system "
           "error reported to me was \"" + reason + "\".\n";
  }
  static constexpr const char* kLogIncomplete = "The log file could not be closed.";

  // The download file of a failed call is never a whole one: stage 2 leaves
  // it empty, stage 3 without its end record.
  void ExpectNoDownload() const {
    EXPECT_EQ(ReadFile(work + "MODULE.S1").find("S9030000FC"), std::string::npos);
  }
};

using Module = testing::LinkCallFixture::Module;

TEST_F(HardeningFaults, WriteFailureAtEachOutput) {
  struct Case {
    Module module;
    const char* file;  // in the working directory
    int code;          // 103: the call succeeds, the message reports the log
    std::string text;  // the message after its header
  };
  const std::string eio = platform::SystemErrorText(EIO);
  const Case cases[] = {
      {Module::kExec32, "JOB.LOG", 103, kLogIncomplete},
      {Module::kExec32, "JOB.SUB", 1013, Incomplete("JOB.SUB", eio)},
      {Module::kExec32, "MXRAM.$$$", 1013, Incomplete("MXRAM.$$$", eio)},
      {Module::kExec32, "CPNUM1.$$$", 1013, Incomplete("CPNUM1.$$$", eio)},
      {Module::kExec32, "CPNUM2.$$$", 1013, Incomplete("CPNUM2.$$$", eio)},
      {Module::kExec32, "CPNUM0CS.$$$", 1013, Incomplete("CPNUM0CS.$$$", eio)},
      {Module::kExec33WithDriver, "CPNUM0.$$$", 1013, Incomplete("CPNUM0.$$$", eio)},
      {Module::kExec32, "FBA.$$$", 1010, CantUnpack("FBA", "FBA.FB")},
      {Module::kExec32, "FBARP.$$$", 1010, CantUnpack("FBARP", "FBA.FB")},
      {Module::kExec33WithDriver, "DRV.$$$", 1010, CantUnpack("DRV", "DRV.MDV")},
      {Module::kExec33WithDriver, "LIBxxx.$$$", 1010, CantUnpack("LIBxxx", "DRV.MDV")},
      {Module::kExec33WithDriver, "EEPxxx.$$$", 1010, CantUnpack("EEPxxx", "DRV.MDV")},
      {Module::kExec5, "RPTERM.$$$", 1013, Incomplete("RPTERM.$$$", eio)},
      {Module::kExec32, "MODULE.S1", 2007, OutputIncomplete(eio)},
      // The module database of an Exec 5 module.
      {Module::kExec5, "MODULE.S1", 3004, OutputIncomplete(eio)},
  };
  for (const Case& c : cases) {
    UseModule(c.module);
    // FbFit writes no download file, and its summary takes the place of a
    // 103 text (run control's own tests hold that).
    const bool fitToo = c.code != 103 && c.code != 2007 && c.code != 3004;
    for (bool fit : {false, true}) {
      if (fit && !fitToo) continue;
      for (FaultOp op : {FaultOp::Write, FaultOp::Flush, FaultOp::Close}) {
        SCOPED_TRACE(std::string(c.file) + (fit ? " FbFit" : " Varnel") + " op " +
                     std::to_string(static_cast<int>(op)));
        // An earlier file would meet a close fault first in the existence
        // check that puts it aside.
        std::filesystem::remove(work + c.file);
        platform::InjectFault((work + c.file).c_str(), op);
        int result = Call(fit);
        platform::ClearFaults();
        if (c.code == 103) {
          EXPECT_EQ(result, 0);
          EXPECT_EQ(Message(), Header(103) + c.text);
          continue;
        }
        EXPECT_EQ(result, c.code) << Message();
        EXPECT_EQ(Message(), Header(c.code) + c.text);
        EXPECT_EQ(Log().find("Process completed with no errors."), std::string::npos);
      }
    }
  }
  // Without a fault every module links, so each failure above is the fault's.
  for (Module m : {Module::kExec32, Module::kExec33WithDriver, Module::kExec5}) {
    UseModule(m);
    EXPECT_EQ(Link(), 0) << Message();
    EXPECT_NE(ReadFile(work + "MODULE.S1").find("S9030000FC\r\n"), std::string::npos);
  }
}

// A full disk, not a fault of the hook: every output the caller names is a
// link to /dev/full.  The generated objects are the call's own files of the
// working directory: a link in their place is replaced, never written
// through, so those links end in a success.
TEST_F(HardeningFaults, OutputsOnAFullDevice) {
#ifdef _WIN32
  GTEST_SKIP() << "needs /dev/full, which Windows has no counterpart of";
#else
  if (!Exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const std::string full = platform::SystemErrorText(ENOSPC);
  struct Case {
    const char* file;
    int code;
    std::string text;
    // Logged before the error: the reader got that far into the file.
    std::string seen = "";
  };
  const Case cases[] = {
      {"JOB.LOG", 103, kLogIncomplete},
      {"JOB.SUB", 1013, Incomplete("JOB.SUB", full)},
      {"MXRAM.$$$", 0, ""},
      {"CPNUM0CS.$$$", 0, ""},
      {"MODULE.S1", 2007, OutputIncomplete(full)},
      {"MODULE.S1", 3004, OutputIncomplete(full)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    UseModule(c.code == 3004 ? Module::kExec5 : Module::kExec32);
    const std::string path = work + c.file;
    std::filesystem::remove(path);
    std::filesystem::create_symlink("/dev/full", path);
    int result = Link();
    std::filesystem::remove(path);
    EXPECT_EQ(result, c.code == 103 ? 0 : c.code) << Message();
    EXPECT_EQ(Message(), c.code == 0 ? "" : Header(c.code) + c.text);
  }
#endif
}

TEST_F(HardeningFaults, ReadErrorInTheMiddleOfEachInput) {
  SetStageEntries(&kWatchedStages);
  const std::string argText = "Cannot open file \"JOB.ARG\" in directory \"" + work +
                              "\".\nWhat to check - Make sure the directory exists and the disk is "
                              "not full.  Note that compressed drives often report false free space. ";
  const std::string submitText = "Cannot open file \"JOB.SUB\" in directory \"" + work +
                                 "\".\nWhat to check - Does the directory exist?  Is the disk full?  "
                                 "Remember that compressed drives often report false free space.\n";
  auto objectText = [](const std::string& path) {
    return "Cannot open required file \"" + path +
           "\"\nWhat happened - This file has been opened previously, so this shouldnot happen.  "
           "Please contact Technical Support.\n";
  };
  auto imageOpenText = [&](const std::string& name) {
    return "Cannot open file \"" + name + "\" in directory \"" + work +
           "\".\nWhat to check - Does the directory exist?  Is the disk full?  Remember that "
           "compressed drives often report false free space.  ";
  };
  const std::string screenText =
      "Download supplement (screen definition file) \n\"" + lib + "SCREEN1.SCR\"\nnot found.";
  // The files read a window at a time are in memory once they are opened: a
  // read error meets them in the middle of the file, after so many bytes.
  auto after = [](uint64_t bytes) { return Format("@%llu", bytes); };
  // The bytes a reader gets of a file up to the end of `marker` (CR LF read
  // as LF).
  auto behind = [&](const std::string& path, const std::string& marker) {
    std::string text = ReadFile(path);
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
    size_t at = text.find(marker);
    EXPECT_NE(at, std::string::npos) << marker << " in " << path;
    return after(at + marker.size());
  };
  // Once the record that names the module has been read.
  const std::string unusedModule = testing::S0("UNUSED");
  struct Case {
    Module module;
    std::string path;
    // "": the fault meets the first read of the file (so does a trigger
    // printed before the file opens); "@n": the file's reader gets n bytes,
    // then the read error.
    std::string trigger;
    int code;
    std::string text;
    // Logged before the error: the reader got that far into the file.
    std::string seen = "";
  };
  const Case cases[] = {
      {Module::kExec32, work + "JOB.ARG", "", 1001, argText},
      {Module::kExec32, work + "JOB.ARG", "Reading FB List.", 1001, argText},
      {Module::kExec32, work + "JOB.ARG", "FB #1 is \"FBA\"", 1001, argText},
      {Module::kExec32, work + "JOB.ARG", "FB #2 is \"FBB\"", 1001, argText},
      // A packed file that fails to read does not open: FBA has no other file.
      {Module::kExec32, lib + "FBA.FB", "", 1005,
       "No file(s) for FB \"FBA\" found in \"" + lib + "\"\nWhat to check - Is this FB supposed to "
       "be downloading into this module?   Does the directory \"" + lib + "\" exist?"},
      {Module::kExec32, lib + "FBA.FB", "Unpacking FB files from", 1010, CantUnpack("FBA", "FBA.FB")},
      {Module::kExec33WithDriver, lib + "DRV.MDV", "Reading driver info", 1004,
       "Bad or corrupted packed FB file \"DRV\"\nWhat to check - Verify the file using KORVAP.\n"},
      {Module::kExec32, work + "JOB.SUB", "", 2002, submitText},
      {Module::kExec32, work + "JOB.SUB", "SECTION - ", 2002, submitText},
      {Module::kExec32, work + "JOB.SUB", "FILE -    " + lib + "EEPROM.OBJ", 2002, submitText},
      {Module::kExec32, lib + "EEPROM.OBJ", "", 2003, objectText(lib + "EEPROM.OBJ")},
      // Once the first record has been read.
      {Module::kExec32, lib + "FBB.OBJ", after(40), 2003, objectText(lib + "FBB.OBJ"),
       "S0 - Module name - \"FBB\""},
      {Module::kExec32, work + "FBA.$$$", after(40), 2003, objectText(work + "FBA.$$$"),
       "S0 - Module name - \"FBA\""},
      // A library fails alike in a module it links and in one it passes over.
      {Module::kExec32, lib + "LIB.OBJ", after(40), 2003, objectText(lib + "LIB.OBJ"),
       "S0 - Module name - \"MODEND\""},
      {Module::kExec32, lib + "LIB.OBJ", behind(lib + "LIB.OBJ", unusedModule), 2003,
       objectText(lib + "LIB.OBJ"), "S0 - Module name - \"UNUSED\""},
      {Module::kExec33WithDriver, work + "LIBxxx.$$$", after(40), 2003, objectText(work + "LIBxxx.$$$"),
       "S0 - Module name - \"MODEND\""},
      // The module driver's firmware, the ARG file stage 3 opens again for
      // the download supplements, and a screen file it names.
      {Module::kExec5, work + "DRV5.$$$", "", 3001, imageOpenText("DRV5.$$$")},
      {Module::kExec5, work + "DRV5.$$$", after(testing::DriverFirmware().size() / 2), 3001,
       imageOpenText("DRV5.$$$"), "Module driver RP found"},
      {Module::kExec5, work + "JOB.ARG", "Creating FB's.", 3001, imageOpenText("JOB.ARG")},
      {Module::kExec5, work + "JOB.ARG", "GFB memory used by " + lib + "SCREEN1.SCR", 3001,
       imageOpenText("JOB.ARG")},
      {Module::kExec5, lib + "SCREEN1.SCR", "", 3013, screenText},
      {Module::kExec5, lib + "SCREEN1.SCR", behind(lib + "SCREEN1.SCR", "S10DFF03534D00000100000000xx\n"), 3013, screenText,
       "GFB memory used by " + lib + "SCREEN1.SCR"},
  };
  for (const Case& c : cases) {
    UseModule(c.module);
    for (bool fit : {false, true}) {
      SCOPED_TRACE(c.path + " after \"" + c.trigger + "\"" + (fit ? " FbFit" : " Varnel"));
      std::filesystem::remove(work + "MODULE.S1");
      Trigger() = ReadFaultTrigger{c.path, c.trigger};
      if (c.trigger.empty()) {
        Trigger().fired = true;
        platform::InjectFault(c.path.c_str(), FaultOp::Read);
      } else if (c.trigger[0] == '@') {
        Trigger().fired = true;
        platform::InjectReadFaultAfter(c.path.c_str(), std::stoull(c.trigger.substr(1)));
      }
      int result = Call(fit);
      platform::ClearFaults();
      EXPECT_TRUE(Trigger().fired);
      EXPECT_EQ(result, c.code) << Message();
      EXPECT_EQ(Message(), Header(c.code) + c.text);
      EXPECT_EQ(Log().find("Process completed with no errors."), std::string::npos);
      if (!c.seen.empty()) {
        EXPECT_LT(Log().find(c.seen), Log().find("* ERROR MESSAGE BOX TEXT *")) << Log();
      }
      if (!c.seen.empty()) {
        EXPECT_LT(Log().find(c.seen), Log().find("* ERROR MESSAGE BOX TEXT *")) << Log();
      }
      ExpectNoDownload();
    }
  }
  // Without a fault every module links.
  for (Module m : {Module::kExec32, Module::kExec33WithDriver, Module::kExec5}) {
    UseModule(m);
    EXPECT_EQ(Link(), 0) << Message();
    EXPECT_EQ(Fit(), 0) << Message();
  }
}

// Whatever a stage had open when something other than its own errors ended
// it is closed: a stream left open would be lost to the process, and on
// Windows a file left open for writing would refuse every later call.
TEST_F(HardeningFaults, MemoryRunningOutInTheMiddleOfEachStage) {
  SetStageEntries(&kWatchedStages);
  struct Case {
    Module module;
    std::string trigger;
    int code;
  };
  const Case cases[] = {
      {Module::kExec32, "Reading FB List.", 1000},                 // the ARG file
      {Module::kExec32, "Submitting header", 1000},                // the submit file
      {Module::kExec33WithDriver, "Unpacking Module Driver", 1000},  // the packed driver
      {Module::kExec32, "S0 - Module name - \"FBB\"", 2000},       // download, submit, object
      {Module::kExec5, "Module driver RP found", 3000},            // firmware, download
      {Module::kExec5, "GFB memory used by " + lib + "SCREEN1.SCR", 3000},  // ARG, screen, download
  };
  for (const Case& c : cases) {
    UseModule(c.module);
    for (bool fit : {false, true}) {
      SCOPED_TRACE(c.trigger + (fit ? " FbFit" : " Varnel"));
#ifndef _WIN32
      const int64_t before = testing::OpenDescriptors();
#endif
      Trigger() = ReadFaultTrigger{"", c.trigger, true};
      EXPECT_EQ(Call(fit), c.code);
      EXPECT_TRUE(Trigger().fired);
      EXPECT_EQ(Message(), Header(c.code) + "Internal error.");
#ifndef _WIN32
      EXPECT_EQ(testing::OpenDescriptors(), before);
#endif
      Trigger() = ReadFaultTrigger{};
      Trigger().fired = true;
      EXPECT_EQ(Call(fit), 0) << Message();
    }
  }
}

}  // namespace
}  // namespace varnel
