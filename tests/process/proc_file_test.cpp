#include "process/proc_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

// A file that opens but whose read fails, as /proc/PID/stat does once its
// process has ended, is an error: never an exception that ends the program.
TEST(ProcFile, AFileWhoseReadFailsIsAnErrorNotAnException) {
  std::string text;
  EXPECT_FALSE(ReadProcFile("/proc/self", &text));  // a folder: it opens, its read fails
  EXPECT_FALSE(ReadProcFile("/proc/no-such-process/stat", &text));
  ASSERT_TRUE(ReadProcFile("/proc/self/stat", &text));
  EXPECT_EQ(text.substr(0, text.find(' ')), std::to_string(::getpid()));
}
