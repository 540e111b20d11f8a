// Stage 3 over a scratch working directory: DRV.$$$ the firmware, JOB.ARG
// the ARG file, OUT.DL the module database; lib/ holds the supplements.
#pragma once

#include <cstring>
#include <string>

#include "builders/files.h"
#include "builders/image_inputs.h"
#include "fuzz_support.h"
#include "image.h"
#include "linker.h"
#include "planner.h"

namespace varnel::fuzz {

struct ImageRun {
  std::string work = Dir("work");
  std::string lib = Dir("lib");
  std::string token = testing::StatusToken(8, 4, {testing::Boot(), testing::Exec(), testing::Core(), testing::Main()});

  ImageRun() {
    CheckDescriptors();
    Firmware(testing::DriverFirmware());
    Arg("");
  }

  // The one run of a process, set up on first use over the standard image.
  static ImageRun& Shared() {
    static ImageRun* run = [] {
      auto* r = new ImageRun;
      StandardImage();
      return r;
    }();
    return *run;
  }

  void Firmware(const std::string& text) { testing::WriteFile(work + "DRV.$$$", text); }
  void Arg(const std::string& text) { testing::WriteFile(work + "JOB.ARG", text); }

  // An image of two RPs and an FB list that names their FBs.
  static void StandardImage() {
    std::memset(LinkedImage(), 0, kImageSize);
    testing::RpSpec first;
    first.name = "FBA";
    first.sequence = {0x8000, 0x0001, 0x8002};
    testing::RpSpec second;
    second.name = "FBB";
    uint32_t next = testing::PutRp(LinkedImage(), 0x100, first);
    testing::PutRp(LinkedImage(), next, second);
    FbList& list = PlannerFbList();
    list = FbList{};
    for (const char* name : {"FBA", "FBB", "FBC"}) {
      FbEntry& e = list.rows[list.count];
      std::strncpy(e.name, name, sizeof e.name - 1);
      e.number = ++list.count;
    }
  }

  int Run(const char* output = "OUT.DL", int32_t rpFiles = 0) {
    ImageParams params{};
    Quiet(params, 4);
    params.outputFileName = output;
    params.firmwareFileName = "DRV.$$$";
    params.statusToken = token.c_str();
    params.workDir = work.c_str();
    params.argFileName = "JOB.ARG";
    params.plannerLibraryDir = lib.c_str();
    params.rpFilesSubmitted = rpFiles;
    int result = RunImageBuilder(&params);
    CheckDescriptors();
    return result;
  }
};

}  // namespace varnel::fuzz
