// Whole links through Varnel and FbFit: from the ARG file over the planner's
// submit file and objects to the S1 download file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "builders/files.h"
#include "builders/library.h"
#include "planner.h"
#include "support/link_harness.h"
#include "support/plan_fixture.h"
#include "varnel.h"

namespace varnel {
namespace {

using testing::CodeModule;
using testing::Exists;
using testing::FbObject;
using testing::HeaderObject;
using testing::LibraryObject;
using testing::ListDir;
using testing::PackedDriver;
using testing::PackedFb;
using testing::PlanFixture;
using testing::ReadFile;
using testing::TextBytes;
using testing::WritePackFile;

// The image an S1 file describes, address by address; fails on a bad line.
std::map<uint32_t, uint8_t> ReadS1(const std::string& text) {
  std::map<uint32_t, uint8_t> image;
  size_t start = 0;
  bool ended = false;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "line without CR LF";
    if (end == std::string::npos) break;
    std::string line = text.substr(start, end - start);
    start = end + 2;
    EXPECT_FALSE(ended) << "line after the end record";
    if (line == "S9030000FC") {
      ended = true;
      continue;
    }
    EXPECT_EQ(line.substr(0, 2), "S1") << line;
    unsigned count = std::stoul(line.substr(2, 2), nullptr, 16);
    EXPECT_EQ(line.size(), 4 + 2 * count) << line;
    unsigned sum = count;
    for (size_t i = 4; i + 2 < line.size(); i += 2) sum += std::stoul(line.substr(i, 2), nullptr, 16);
    EXPECT_EQ((~sum) & 0xFF, std::stoul(line.substr(line.size() - 2), nullptr, 16)) << line;
    uint32_t address = std::stoul(line.substr(4, 4), nullptr, 16);
    for (size_t i = 8; i + 2 < line.size(); i += 2)
      image[address++] = static_cast<uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16));
  }
  EXPECT_TRUE(ended);
  return image;
}

// Whether the image holds these bytes one after another somewhere.
bool HoldsRun(const std::map<uint32_t, uint8_t>& image, const std::string& run) {
  for (const auto& [address, byte] : image) {
    size_t i = 0;
    while (i < run.size()) {
      auto it = image.find(address + static_cast<uint32_t>(i));
      if (it == image.end() || it->second != static_cast<uint8_t>(run[i])) break;
      ++i;
    }
    if (i == run.size()) return true;
  }
  return false;
}

class PlannerVarnelTest : public PlanFixture {
 protected:
  void SetUp() override {
    PlanFixture::SetUp();
    for (const char* header : {"EEPROM", "EEPCOM", "EEP400", "EEPQX4", "EEP360"})
      Lib(std::string(header) + ".OBJ", HeaderObject(header));
    Lib("LIB.OBJ", LibraryObject());
    Lib("LIB400.OBJ", LibraryObject());
  }

  int Link(const char* download = "MODULE.S1") {
    message.assign(550, 'x');
    return Varnel("JOB.ARG", nullptr, work.c_str(), "JOB.LOG", "JOB.SUB", download, 2, message.data(), 550);
  }
  std::string Message() const { return std::string(message.c_str()); }

  // A packed module driver of the given kind with real objects as members.
  void PackDriver(const std::string& file, uint8_t kind, int16_t execType) {
    WritePackFile(lib + file, PackedDriver(kind, "Driver for whole links", execType));
  }
  void PackFb(const std::string& name, bool withRp) { WritePackFile(lib + name + ".FB", PackedFb(name, withRp)); }

  // srec_info accepts the download file.
  void ExpectSrecInfoAccepts(const std::string& path) {
    EXPECT_TRUE(testing::SrecInfoAccepts(path)) << ReadFile(path);
  }

  // No temporary file is left after a successful call.
  void ExpectNoTemporaryFiles() {
    for (const std::string& name : ListDir(work)) {
      EXPECT_FALSE(name.size() > 4 && name.compare(name.size() - 4, 3, ".$$") == 0) << name;
    }
  }

  std::string message;
};

TEST_F(PlannerVarnelTest, PlainObjectsExec32WithoutDriver) {
  Lib("FBA.OBJ", FbObject("FBA"));
  Lib("FBB.OBJ", FbObject("FBB"));
  Arg({{1, "FBA"}, {2, "FBB"}}, "32C000000000");
  ASSERT_EQ(Link(), 0) << Message() << ReadFile(work + "JOB.LOG");
  EXPECT_EQ(Message(), "");
  std::string s1 = ReadFile(work + "MODULE.S1");
  auto image = ReadS1(s1);
  for (const char* run : {"HDR-EEPROM", "FBA-CODE", "FBB-CODE", "END", "FB15   1.0"})
    EXPECT_TRUE(HoldsRun(image, run)) << run;
  EXPECT_FALSE(HoldsRun(image, "never linked"));
  EXPECT_TRUE(HoldsRun(image, std::string("\x01", 1) + "FBA-CODE"));  // CPNUM1 just before its FB
  ExpectSrecInfoAccepts(work + "MODULE.S1");
  ExpectNoTemporaryFiles();
}

TEST_F(PlannerVarnelTest, PackedDriversOfEveryExecTypeButFive) {
  const struct {
    int16_t execType;
    uint8_t kind;
    const char* token;
    const char* header;      // expected in the image
    const char* library;     // expected in the image
    std::string headerLine;  // in the submit file
    std::string libraryLine;
  } cases[] = {
      {1, 4, "32C000000000", "DRV-HEADER", "DRV-END", "FILE     " + work + "EEPxxx.$$$",
       "LIBRARY  " + work + "LIBxxx.$$$"},
      {2, 2, "33C000000000", "DRV-HEADER", "DRV-END", "FILE     " + work + "EEPxxx.$$$",
       "LIBRARY  " + work + "LIBxxx.$$$"},
      {3, 5, "40C000000000", "HDR-EEP400", "END", "FILE     " + lib + "EEP400.OBJ",
       "LIBRARY  " + lib + "LIB400.OBJ"},
      {3, 2, "40C000000000", "DRV-HEADER", "DRV-END", "FILE     " + work + "EEPxxx.$$$",
       "LIBRARY  " + work + "LIBxxx.$$$"},
      {4, 4, "40C000180000", "DRV-HEADER", "DRV-END", "FILE     " + work + "EEPxxx.$$$",
       "LIBRARY  " + work + "LIBxxx.$$$"},
      {6, 2, "36C000000000", "HDR-EEP360", "DRV-END", "FILE     " + lib + "EEP360.OBJ",
       "LIBRARY  " + work + "LIBxxx.$$$"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("Exec type ") + std::to_string(c.execType) + ", kind " + std::to_string(c.kind));
    PackDriver("DRV.MDV", c.kind, c.execType);
    PackFb("FBA", true);
    Arg({{15, "DRV"}, {1, "FBA"}}, c.token);
    // The Exec 3.2 terminator refers to MODEND, which the library defines.
    ASSERT_EQ(Link(), 0) << Message() << ReadFile(work + "JOB.LOG");
    auto image = ReadS1(ReadFile(work + "MODULE.S1"));
    EXPECT_NE(Submit().find(c.headerLine + "\r\n"), std::string::npos) << Submit();
    EXPECT_NE(Submit().find(c.libraryLine + "\r\n"), std::string::npos) << Submit();
    EXPECT_TRUE(HoldsRun(image, c.header));
    EXPECT_TRUE(HoldsRun(image, "DRIVER-CODE"));
    EXPECT_TRUE(HoldsRun(image, "FBA-CODE"));
    // RPs are linked for every type but 4.
    EXPECT_EQ(HoldsRun(image, "FBA-RP"), c.execType != 4);
    if (std::string(c.token).starts_with("32")) {
      EXPECT_TRUE(HoldsRun(image, c.library));
    }
    ExpectSrecInfoAccepts(work + "MODULE.S1");
    ExpectNoTemporaryFiles();
  }
}

TEST_F(PlannerVarnelTest, FbFitReportsProgramAndDataSizes) {
  Lib("FBA.OBJ", CodeModule("FBA", TextBytes("0123456789")));
  Arg({{1, "FBA"}}, "32C000000000");
  message.assign(550, 'x');
  int result = FbFit("JOB.ARG", nullptr, work.c_str(), "JOB.LOG", "JOB.SUB", nullptr, 0, message.data(), 550, 0,
                     0, 0, 0, 0);
  ASSERT_EQ(result, 0) << Message();
  // Program: EEPROM (10) + CPNUM1 (1) + FBA (10) + CPNUM0CS (41) + MODEND (3)
  // of BFFF - 8000; data: MXRAM's 50 bytes of 7FFF - 6729.
  EXPECT_EQ(Message(), "Program size is 65 of 16383 (0%)\nData size is 50 of 6358 (0%)\n");
  EXPECT_FALSE(Exists(work + "MODULE.S1"));
}

TEST_F(PlannerVarnelTest, PlannerErrorsReachTheCaller) {
  Arg({{1, "NOPE"}}, "32C000000000");
  EXPECT_EQ(Link(), 1005);
  EXPECT_EQ(Message(), "VARNEL.DLL  v3.03.002, Error 1005:\nNo file(s) for FB \"NOPE\" found in \"" + lib +
                           "\"\nWhat to check - Is this FB supposed to be downloading into this module?   Does the "
                           "directory \"" + lib + "\" exist?");
  // A failed call leaves its files in place.
  EXPECT_TRUE(Exists(work + "JOB.LOG"));
}

}  // namespace
}  // namespace varnel
