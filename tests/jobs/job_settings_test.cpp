// The job settings record both front ends build, and the row job that stands
// in when a value does not fit the record.
#include <gtest/gtest.h>

#include <filesystem>

#include "jobs/job_settings.h"
#include "tests/support/job_helpers.h"

namespace {

struct Package {
  TempDir dir;
  std::string folder = dir / "pkg";
  Package() {
    std::filesystem::create_directories(folder + "/images");
    WriteFile(folder + "/images/MPRG8660.hex", ":00000001FF\n");
    WriteFile(folder + "/rawprogram0.xml", "<data/>");
  }
};

}  // namespace

TEST(BuildJobSettings, FilesAreFoundOverImagesFolderAndParent) {
  Package p;
  JobSettings s = BuildJobSettings(p.folder, FileSettings());
  EXPECT_EQ(s.flashProgrammer, p.folder + "/images/MPRG8660.hex");
  EXPECT_EQ(s.rawprogramXml, p.folder + "/rawprogram0.xml");
  EXPECT_EQ(s.searchPaths, p.folder + "/images;" + p.folder + ";" + p.dir.path());
  // Found nowhere: the path in the first candidate folder.
  EXPECT_EQ(s.patchXml, p.folder + "/images/patch0.xml");
}

TEST(BuildJobSettings, AbsoluteValuesAndMissingFoldersStayAsTheyAre) {
  Package p;
  FileSettings files;
  files.bootImage = "/nowhere/boot.mbn";
  JobSettings s = BuildJobSettings(p.folder + "/missing;" + p.folder + "/images", files);
  EXPECT_EQ(s.bootImage, "/nowhere/boot.mbn");
  // A missing folder still contributes its parent when that exists;
  // "images" has no images subfolder of its own. Repeats are kept.
  EXPECT_EQ(s.searchPaths, p.folder + ";" + p.folder + "/images;" + p.folder);
  EXPECT_EQ(s.flashProgrammer, p.folder + "/images/MPRG8660.hex");
}

TEST(BuildJobSettings, TheParentOfAFolderIsFoundByRemovingDotParts) {
  Package p;
  std::filesystem::create_directories(p.folder + "/images/inner");
  // "images/.." is the package folder itself: its parent is the folder above.
  JobSettings s = BuildJobSettings(p.folder + "/images/..", FileSettings());
  EXPECT_EQ(s.searchPaths, p.folder + "/images/../images;" + p.folder + "/images/..;" + p.dir.path());
  // The parent of "." is "..", not "." again.
  std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(p.folder + "/images/inner");
  s = BuildJobSettings(".", FileSettings());
  std::filesystem::current_path(before);
  EXPECT_EQ(s.searchPaths, ".;..");
  EXPECT_EQ(s.flashProgrammer, "../MPRG8660.hex");
}

TEST(StartRowJob, AValueTooLongForTheRecordFailsTheRowWithoutCuttingIt) {
  Package p;
  std::string deep = p.folder;
  while (deep.size() < 300) deep += "/level-of-a-deep-package-tree";
  std::filesystem::create_directories(deep);
  for (bool backup : {false, true}) {
    ComPtr<IDeviceReport> job;
    StartRowJob(backup, "no-such-phone", deep, FileSettings(), job.ReleaseAndGetAddressOf());
    ASSERT_TRUE(job);
    EXPECT_TRUE(job->IsCompleted());
    EXPECT_TRUE(job->HasError());
    EXPECT_EQ(job->GetResult(), HRESULT(0x800700CE));
    EXPECT_NE(Status(job.Get()).find("(0x800700ce)"), std::string::npos) << Status(job.Get());
  }
}

TEST(StartRowJob, AFittingRecordGoesToTheDispatcher) {
  Package p;
  ComPtr<IDeviceReport> job;
  // No helper answers for this phone: the dispatcher's placeholder.
  ScopedEnv helper("VANTOR_DEVICE_HELPER", "/nonexistent/vantor-devices");
  StartRowJob(false, "no-such-phone", p.folder, FileSettings(), job.ReleaseAndGetAddressOf());
  ASSERT_TRUE(job);
  EXPECT_EQ(job->GetResult(), E_OUTOFMEMORY);
}

TEST(FirstMissingFolder, NamesTheFirstEntryThatIsNoFolder) {
  Package p;
  EXPECT_EQ(FirstMissingFolder(""), "");
  EXPECT_EQ(FirstMissingFolder(" ;" + p.folder + ";;" + p.folder + "/images"), "");
  EXPECT_EQ(FirstMissingFolder(p.folder + ";" + p.folder + "/mistyped;" + p.folder + "/other"), p.folder + "/mistyped");
  EXPECT_EQ(FirstMissingFolder(p.folder + "/rawprogram0.xml"), p.folder + "/rawprogram0.xml");  // a file
  // A folder whose name holds ";" is split there: the part that is missing.
  std::filesystem::create_directories(p.dir / "bench;2");
  EXPECT_EQ(FirstMissingFolder(p.dir / "bench;2"), p.dir / "bench");
}
