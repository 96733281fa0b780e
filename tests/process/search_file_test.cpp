#include "process/search_file.h"

#include <gtest/gtest.h>

#include "platform/executable.h"
#include "process/path_list.h"
#include "tests/support/temp_dir.h"

TEST(PathList, SplitDropsBlankEntriesAndKeepsOthersUntrimmed) {
  EXPECT_EQ(SplitPathList(";; a ;\t\r\n;b;;  ;c"), (std::vector<std::string>{" a ", "b", "c"}));
  EXPECT_TRUE(SplitPathList("").empty());
  EXPECT_TRUE(SplitPathList(" ; ;\t").empty());
  EXPECT_EQ(JoinPathList({"a", " ; ", "", " b"}), "a; b");
  EXPECT_EQ(MergePathLists("a;;b", ";c"), "a;b;c");
  EXPECT_EQ(MergePathLists("", ""), "");
}

TEST(SearchFile, AbsoluteNamesAreReturnedUnchanged) {
  EXPECT_EQ(SearchFile("/nowhere", "/etc/../no-such-file"), "/etc/../no-such-file");
}

TEST(SearchFile, FirstExistingCandidateElseTheFirstFolders) {
  TempDir a, b;
  WriteFile(b / "MPRG8660.hex", ":00000001FF\n");
  std::string list = a.path() + ";" + b.path();
  EXPECT_EQ(SearchFile(list, "MPRG8660.hex"), b / "MPRG8660.hex");
  EXPECT_EQ(SearchFile(list, "missing.xml"), a / "missing.xml");
  // Folders count as found too.
  std::filesystem::create_directory(a / "images");
  EXPECT_EQ(SearchFile(list, "images"), a / "images");
  EXPECT_EQ(SearchFile(std::vector<std::string>{b.path(), a.path()}, "missing.xml"), b / "missing.xml");
}

TEST(SearchFile, BlankEntriesAreIgnoredAndAnAllBlankListMeansTheDefaults) {
  TempDir only;
  EXPECT_EQ(SearchFile(" ;" + only.path() + "; ", "x.bin"), only / "x.bin");
  std::string defaultResult = SearchFile(" ; \t", "vantor-no-such-file.bin");
  EXPECT_EQ(defaultResult, ExecutableFolder() + "/vantor-no-such-file.bin");
  EXPECT_EQ(DefaultSearchFolders().front(), ExecutableFolder());
  EXPECT_EQ(DefaultSearchFolders().back(), "/usr/share/vantor");
}

TEST(SearchFile, DefaultFoldersIncludeEachPathEntry) {
  TempDir bin;
  WriteFile(bin / "vantor-probe-tool", "");
  ScopedEnv path("PATH", ("/nonexistent-a::" + bin.path()).c_str());
  EXPECT_EQ(SearchFile("", "vantor-probe-tool"), bin / "vantor-probe-tool");
}
