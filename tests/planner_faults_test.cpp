// Stage 1 when writing fails: the submit file, the generated objects and the
// unpacked members, through the platform's fault hook; and the supplemental
// libraries the directory search finds.
#include <gtest/gtest.h>

#include <filesystem>

#include <cerrno>
#include <string>

#include "builders/files.h"
#include "builders/packer.h"
#include "planner.h"
#include "platform/platform.h"
#include "support/plan_fixture.h"

namespace varnel {
namespace {

using platform::FaultOp;
using testing::Crlf;
using testing::Exists;
using testing::MakeDriverInfo;
using testing::PackSpec;
using testing::PlanFixture;
using testing::ReadFile;

class PlannerFaultsTest : public PlanFixture {
 protected:
  void TearDown() override { platform::ClearFaults(); }

  std::string Incomplete(const std::string& name) const {
    return "Temporary file \"" + work + name +
           "\" is incomplete.\nWhat to check - Is the disk full?.  Remember that compressed drives often "
           "report false free space.  The system error reported to me was \"" +
           platform::SystemErrorText(EIO) + "\".\n";
  }
};

TEST_F(PlannerFaultsTest, SubmitFileThatIsNotWrittenCompletely) {
  Lib("FBA.OBJ");
  Arg({{1, "FBA"}}, "32C000000000");
  for (FaultOp op : {FaultOp::Write, FaultOp::Flush, FaultOp::Close}) {
    SCOPED_TRACE(static_cast<int>(op));
    platform::InjectFault((work + "JOB.SUB").c_str(), op);
    EXPECT_EQ(Run(0), 13);
    EXPECT_EQ(log.errorCodes, std::vector<int>{1013});
    EXPECT_EQ(LastError(), Incomplete("JOB.SUB"));
  }
}

TEST_F(PlannerFaultsTest, CleanupErrorReplacesTheFirstError) {
  // LIB.OBJ is missing (error 12); closing the submit file then fails too.
  Lib("FBA.OBJ");
  ::remove((lib + "LIB.OBJ").c_str());
  Arg({{1, "FBA"}}, "32C000000000");
  platform::InjectFault((work + "JOB.SUB").c_str(), FaultOp::Close);
  EXPECT_EQ(Run(1), 13);
  EXPECT_EQ(log.errorCodes, (std::vector<int>{1012, 1013}));
  EXPECT_EQ(LastError(), Incomplete("JOB.SUB"));
  // The cleanup ran twice but closed the submit file once.
  size_t first = log.text.find("Closing Submit File\n");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(log.text.find("Closing Submit File\n", first + 1), std::string::npos);
  EXPECT_TRUE(Submit().ends_with("LIBRARY  " + lib + "LIB.OBJ\r\n"));
}

TEST_F(PlannerFaultsTest, GeneratedObjectThatIsNotWrittenCompletely) {
  Lib("FBA.OBJ");
  Arg({{1, "FBA"}}, "32C000000000");
  const struct {
    const char* file;
    FaultOp op;
  } cases[] = {
      {"MXRAM.$$$", FaultOp::Write},
      {"CPNUM1.$$$", FaultOp::Flush},
      {"CPNUM0CS.$$$", FaultOp::Close},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    platform::InjectFault((work + c.file).c_str(), c.op);
    EXPECT_EQ(Run(0), 13);
    EXPECT_EQ(log.errorCodes, std::vector<int>{1013});
    EXPECT_EQ(LastError(), Incomplete(c.file));
  }
  // One that cannot be created at all is left to the linker.
  platform::InjectFault((work + "CPNUM1.$$$").c_str(), FaultOp::Open);
  ::remove((work + "CPNUM1.$$$").c_str());
  EXPECT_EQ(Run(0), 0);
  EXPECT_FALSE(Exists(work + "CPNUM1.$$$"));
  EXPECT_NE(Submit().find("FILE     " + work + "CPNUM1.$$$\r\n"), std::string::npos);
}

TEST_F(PlannerFaultsTest, RptermThatIsNotWrittenCompletely) {
  PackSpec driver;
  driver.kind = 4;
  driver.info = MakeDriverInfo("Exec 5 driver", 5, {255});
  for (int n : {2, 4, 5}) driver.members.push_back(testing::Member(n, "member"));
  testing::WritePackFile(lib + "DRV.MDV", driver);
  Arg({{15, "DRV"}}, "500000000000");
  platform::InjectFault((work + "RPTERM.$$$").c_str(), FaultOp::Write);
  EXPECT_EQ(Run(0), 13);
  EXPECT_EQ(LastError(), Incomplete("RPTERM.$$$"));
}

TEST_F(PlannerFaultsTest, MemberThatIsNotWrittenCompletely) {
  PackSpec fb;
  fb.members = {testing::Member(2, "FBA object"), testing::Member(3, "FBA rp")};
  testing::WritePackFile(lib + "FBA.FB", fb);
  Arg({{1, "FBA"}}, "32C000000000");
  const std::string cant = "\" from the packed file \"" + lib +
                           "FBA.FB\".\nWhat to check - Check the contents of the packed file using KORVAP. ";
  platform::InjectFault((work + "FBA.$$$").c_str(), FaultOp::Write);
  EXPECT_EQ(Run(0), 10);
  EXPECT_EQ(LastError(), "Can't unpack \"FBA.OBJ" + cant);
  platform::InjectFault((work + "FBARP.$$$").c_str(), FaultOp::Close);
  EXPECT_EQ(Run(0), 10);
  EXPECT_EQ(LastError(), "Can't unpack \"FBARP.OBJ" + cant);
  EXPECT_FALSE(Exists(work + "JOB.SUB"));
}

TEST_F(PlannerFaultsTest, SupplementalLibrariesAroundTheLibrary) {
  // Matched ignoring case, in upper-cased name order, regular files only.
  Lib("b.sup");
  Lib("A.SUP");
  std::filesystem::create_directory(lib + "C.SUP");
  Lib("FBA.OBJ");
  Lib("EEPQX4.OBJ");
  Lib("LIB400.OBJ");
  Lib("GP4.OBJ");
  Arg({{1, "FBA"}, {15, "GP4"}}, "40C000000000");
  ASSERT_EQ(Run(1), 0) << log.text;
  const std::string W = work, L = lib;
  EXPECT_TRUE(Submit().ends_with(Crlf("FILE     " + W + "CPNUM0.$$$\n"
                                      "LIBRARY  " + L + "A.SUP\n"
                                      "LIBRARY  " + L + "b.sup\n"
                                      "LIBRARY  " + L + "LIB400.OBJ\n"
                                      "LIBRARY  " + L + "A.SUP\n"
                                      "LIBRARY  " + L + "b.sup\n")))
      << Submit();
  const std::string checking = "Checking for supplemental files (*.SUP) in \"" + L + "\"\n";
  size_t first = log.text.find(checking + "\aNOTICE: linking with supplemental library \"" + L + "A.SUP\"\n"
                               "Submitting \"" + L + "A.SUP\"\nUSING THIS FILE -> " + L + "A.SUP  ");
  EXPECT_NE(first, std::string::npos) << log.text;
  EXPECT_NE(log.text.find(checking + "Submitting \"" + L + "A.SUP\"\nSubmitting \"" + L + "b.sup\"\n"
                          "Closing Submit File\n"),
            std::string::npos)
      << log.text;
  EXPECT_EQ(log.text.find("\aNOTICE", log.text.find("Submitting library")), std::string::npos);
}

}  // namespace
}  // namespace varnel
