// What a run prints: the live table within the terminal, the lines and the
// JSON objects.
#include "cli/job_view.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <regex>
#include <sstream>

#include "cli/text_output.h"
#include "tests/support/memory_output.h"

namespace {

// The output of a view, collected in memory.

std::vector<JobRow> Rows(size_t n, const std::string& status) {
  std::vector<JobRow> rows(n);
  for (size_t i = 0; i < n; ++i) {
    rows[i].index = static_cast<unsigned>(i + 1);
    rows[i].device = "/dev/ttyUSB" + std::to_string(i);
    rows[i].status = status;
    rows[i].percent = 40;
  }
  return rows;
}

// The lines of the last table drawn: what follows the last "clear to the
// end of the screen", with the colour sequences taken out.
std::vector<std::string> LastTable(const std::string& text) {
  std::string last = text.substr(text.rfind("\x1b[J") + 3);
  last = std::regex_replace(last, std::regex("\x1b\\[[0-9]*m"), "");
  std::vector<std::string> lines;
  std::istringstream in(last);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

TEST(JobTable, RowsAreCutToTheTerminalWidthAndScriptControlsNeverReachIt) {
  MemoryOutput out;
  TerminalSize size{40, 24};
  JobView view(ViewMode::Table, out.file(), [&] { return size; });
  std::vector<JobRow> rows = Rows(3, "$ \x1b[2J\x1b]0;owned\a fastboot flash system system.img and a long tail");
  rows[1].status = "刷机刷机刷机刷机刷机刷机刷机刷机刷机刷机刷机刷机刷机刷机";
  view.Update(rows);
  std::vector<std::string> table = LastTable(out.Text());
  ASSERT_EQ(table.size(), 3u);
  for (const std::string& line : table) {
    EXPECT_LE(DisplayWidth(line), 40u) << line;
    EXPECT_EQ(line, PrintableText(line)) << "a control character was printed";
  }
  EXPECT_EQ(table[0].rfind("  1  /dev/ttyUSB0", 0), 0u) << table[0];

  size = {100, 24};  // the terminal grew: the next redraw uses the new width
  view.Update(rows);
  table = LastTable(out.Text());
  EXPECT_GT(DisplayWidth(table[0]), 40u);
  EXPECT_LE(DisplayWidth(table[0]), 100u);
  EXPECT_NE(table[0].find("$ ?[2J?]0;owned? fastboot"), std::string::npos) << table[0];
}

TEST(JobTable, MoreRowsThanLinesShowWhatFitsAndHowManyMore) {
  MemoryOutput out;
  TerminalSize size{80, 6};
  JobView view(ViewMode::Table, out.file(), [&] { return size; });
  view.Update(Rows(20, "x"));
  std::vector<std::string> table = LastTable(out.Text());
  ASSERT_EQ(table.size(), 5u);  // one line of the terminal stays for the cursor
  EXPECT_EQ(table[3].rfind("  4  ", 0), 0u);
  EXPECT_EQ(table[4], "... and 16 more");

  view.Update(Rows(20, "x"));  // the redraw goes back over exactly what was drawn
  std::string text = out.Text();
  EXPECT_NE(text.find("\x1b[5A\r\x1b[J"), std::string::npos);

  size = {80, 30};
  view.Update(Rows(20, "x"));
  EXPECT_EQ(LastTable(out.Text()).size(), 20u);
  view.Update(Rows(5, "x"));
  EXPECT_EQ(LastTable(out.Text()).size(), 5u);
  EXPECT_NE(out.Text().find("\x1b[20A\r\x1b[J"), std::string::npos);
}

TEST(JobLines, EveryMessageIsALineAndAFinishedRowSaysHowItEnded) {
  MemoryOutput out;
  JobView view(ViewMode::Lines, out.file());
  JobRow row = Rows(1, "")[0];
  view.Message(row, "Send hello command 1");
  view.Message(row, "evil\x1b[31m\r");
  row.done = row.error = true;
  row.status = "Unspecified error(0x80004005)";
  view.Finished(row);
  EXPECT_EQ(out.Text(),
            "1 /dev/ttyUSB0 40% 0s Send hello command 1\n"
            "1 /dev/ttyUSB0 40% 0s evil?[31m?\n"
            "1 /dev/ttyUSB0 40% 0s Unspecified error(0x80004005) [failed]\n");
}

TEST(JobJson, MessagesFinalObjectsSummaryAndErrorsAreOneObjectPerLine) {
  MemoryOutput out;
  JobView view(ViewMode::Json, out.file());
  std::vector<JobRow> rows = Rows(2, "");
  rows[0].elapsed = 1.5;
  view.Message(rows[0], "a \"quoted\" \\ path\n");
  rows[0].done = true;
  rows[0].result = S_OK;
  rows[0].status = "The operation completed successfully.";
  view.Finished(rows[0]);
  rows[1].done = rows[1].error = true;
  rows[1].result = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
  rows[1].status = "x";
  view.Finish(rows);
  view.Error("the phones cannot be listed", E_ACCESSDENIED);
  view.Error("no phone is attached", S_OK);
  std::string text = out.Text();
  EXPECT_EQ(text,
            "{\"device\":\"/dev/ttyUSB0\",\"index\":1,\"percent\":40,\"elapsed\":1.50,\"status\":\"a \\\"quoted\\\" "
            "\\\\ path\\n\",\"error\":false,\"done\":false}\n"
            "{\"device\":\"/dev/ttyUSB0\",\"index\":1,\"percent\":40,\"elapsed\":1.50,\"status\":\"The operation "
            "completed successfully.\",\"error\":false,\"done\":true,\"result\":\"0x00000000\"}\n"
            "{\"summary\":{\"phones\":2,\"succeeded\":1,\"failed\":1}}\n"
            "{\"error\":{\"message\":\"the phones cannot be listed: Access is denied.\",\"code\":\"0x80070005\"}}\n"
            "{\"error\":{\"message\":\"no phone is attached\"}}\n")
      << text;
}

TEST(JobTable, AtTheEndEveryFailedRowsStatusIsPrintedWhole) {
  MemoryOutput out;
  TerminalSize size{30, 24};
  JobView view(ViewMode::Table, out.file(), [&] { return size; });
  std::vector<JobRow> rows = Rows(3, "The operation completed successfully.");
  rows[1].error = rows[1].done = true;
  rows[1].status = "The file was not found.(0x80070002: Open image file \"/srv/pkg/system.img\")\x1b[2J";
  view.Finish(rows);
  std::string text = out.Text();
  EXPECT_NE(text.find("\n2 /dev/ttyUSB1: The file was not found.(0x80070002: Open image file "
                      "\"/srv/pkg/system.img\")?[2J\n3 phones: 2 succeeded, 1 failed\n"),
            std::string::npos) << text;
  EXPECT_EQ(text.find("/dev/ttyUSB0: "), std::string::npos) << "a row that succeeded is not repeated";
}

TEST(JobTable, ColourIsLeftOutWhenSwitchedOffAndChosenByTheEnvironment) {
  std::vector<JobRow> rows = Rows(2, "x");
  rows[0].error = true;
  for (bool colour : {true, false}) {
    MemoryOutput out;
    JobView view(ViewMode::Table, out.file(), [] { return TerminalSize{80, 24}; });
    view.SetColour(colour);
    view.Update(rows);
    EXPECT_EQ(out.Text().find("\x1b[31m") != std::string::npos, colour) << out.Text();
  }
  EXPECT_TRUE(ColourWanted(nullptr, "xterm-256color"));
  EXPECT_TRUE(ColourWanted("", "xterm"));  // an empty NO_COLOR does not count
  EXPECT_FALSE(ColourWanted("1", "xterm"));
  EXPECT_FALSE(ColourWanted(nullptr, "dumb"));
  // A dumb terminal cannot move its cursor back over the table: lines.
  EXPECT_EQ(ChooseViewMode(false, true, "dumb"), ViewMode::Lines);
  EXPECT_EQ(ChooseViewMode(false, true, "xterm"), ViewMode::Table);
  EXPECT_EQ(ChooseViewMode(false, true, nullptr), ViewMode::Table);
  EXPECT_EQ(ChooseViewMode(false, false, "xterm"), ViewMode::Lines);
  EXPECT_EQ(ChooseViewMode(true, true, "xterm"), ViewMode::Json);
}

TEST(JobJson, TheErrorOfTheFirstWriteThatFailedIsKept) {
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  JobView view(ViewMode::Json, full);
  EXPECT_EQ(view.outputError(), 0);
  JobRow row = Rows(1, "")[0];
  view.Message(row, "Send hello command 1");
  EXPECT_EQ(view.outputError(), ENOSPC);
  view.Message(row, "Send hello command 2");
  EXPECT_EQ(view.outputError(), ENOSPC);
  std::fclose(full);
}
