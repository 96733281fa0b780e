// The command table's parser and help, on a command made for the test.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tests/support/memory_output.h"

namespace {

int g_runs = 0;
ParsedOptions g_seen;

const CommandSpec kTry{"try",
                       "a command for the test",
                       {{"package", 'p', "DIR", "the folders"},
                        {"device", 'd', "ID", "a phone", true},
                        {"json", 0, nullptr, "objects"},
                        {"port", 0, "PORT", "a port", false, true}},
                       [](const ParsedOptions& parsed) {
                         ++g_runs;
                         g_seen = parsed;
                         return 7;
                       }};

struct Outcome {
  ParseOutcome outcome;
  ParsedOptions parsed;
  std::string error;
};

Outcome Parse(std::vector<std::string> words) {
  Outcome o;
  o.outcome = ParseOptions(kTry, words, &o.parsed, &o.error);
  return o;
}

std::string Captured(void (*print)(std::FILE*)) {
  MemoryOutput out;
  print(out.file());
  return out.Text();
}

}  // namespace

TEST(Options, LongShortAndEqualsFormsSetTheSameOptions) {
  Outcome o = Parse({"--package=/a;/b", "-d", "3", "--device", "COM7", "--json", "--port", "=x"});
  ASSERT_EQ(o.outcome, ParseOutcome::Run) << o.error;
  EXPECT_EQ(o.parsed.Value("package"), "/a;/b");
  EXPECT_EQ(o.parsed.Values("device"), (std::vector<std::string>{"3", "COM7"}));
  EXPECT_TRUE(o.parsed.Has("json"));
  EXPECT_EQ(o.parsed.Value("port"), "=x");  // a value may start with "="
  EXPECT_EQ(Parse({"-p", "/a", "--package", "/b", "--port", "p"}).parsed.Value("package"), "/b");  // the last wins
  EXPECT_EQ(Parse({"--port="}).parsed.Value("port", "fallback"), "");                            // given, empty
  EXPECT_EQ(Parse({"--port", "p"}).parsed.Value("package", "fallback"), "fallback");
}

TEST(Options, EachUsageErrorNamesTheOffendingWord) {
  struct Case {
    std::vector<std::string> words;
    std::string named;
  } cases[] = {
      {{"--port", "p", "--bogus"}, "unknown option \"--bogus\""},
      {{"--port", "p", "-x"}, "unknown option \"-x\""},
      {{"--port", "p", "--packages=/a"}, "unknown option \"--packages=/a\""},
      {{"--port", "p", "stray"}, "unexpected argument \"stray\""},
      {{"--port", "p", "-p"}, "option \"-p\" needs a value"},
      {{"--port"}, "option \"--port\" needs a value"},
      {{"--port", "p", "--json=yes"}, "option \"--json=yes\" takes no value"},
      {{"--json"}, "option \"--port\" is required"},
  };
  for (const Case& c : cases) {
    Outcome o = Parse(c.words);
    EXPECT_EQ(o.outcome, ParseOutcome::UsageError) << c.named;
    EXPECT_NE(o.error.find(c.named), std::string::npos) << o.error;
  }
}

TEST(Options, HelpAnywhereWinsOverErrors) {
  EXPECT_EQ(Parse({"--bogus", "--help"}).outcome, ParseOutcome::Help);
  EXPECT_EQ(Parse({"-h"}).outcome, ParseOutcome::Help);  // even with a required option missing
  EXPECT_EQ(Parse({"--port", "-h"}).outcome, ParseOutcome::Help);
}

TEST(Options, TheHelpHasOneLineForEveryOption) {
  std::string help = Captured([](std::FILE* out) { PrintCommandHelp(kTry, out); });
  EXPECT_EQ(help.rfind("usage: vantor-cli try [OPTIONS]\n", 0), 0u) << help;
  for (const char* line : {"\n  -p, --package DIR  the folders\n", "\n  -d, --device ID    a phone (may be repeated)\n",
                           "\n      --json         objects\n", "\n      --port PORT    a port\n",
                           "\n  -h, --help         print this help and exit\n"})
    EXPECT_NE(help.find(line), std::string::npos) << line << "\n" << help;
}

TEST(Options, TheCommandLineRunsTheNamedCommandOrExitsTwo) {
  std::vector<const CommandSpec*> table = {&kTry};
  auto run = [&](std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    return RunCommandLine(table, static_cast<int>(argv.size()), argv.data());
  };
  g_runs = 0;
  EXPECT_EQ(run({"vantor-cli", "try", "--port=/dev/pts/3"}), 7);
  EXPECT_EQ(g_seen.Value("port"), "/dev/pts/3");
  EXPECT_EQ(run({"vantor-cli", "try", "--help"}), 0);
  EXPECT_EQ(run({"vantor-cli", "--help"}), 0);
  EXPECT_EQ(run({"vantor-cli", "-h"}), 0);
  EXPECT_EQ(run({"vantor-cli", "try"}), 2);  // --port is required
  EXPECT_EQ(run({"vantor-cli", "untried"}), 2);
  EXPECT_EQ(run({"vantor-cli"}), 2);
  EXPECT_EQ(g_runs, 1);
}

TEST(Options, AValueMayJoinItsShortOptionAndDoubleDashEndsTheOptions) {
  Outcome o = Parse({"-p/a;/b", "-d3", "-d", "-4", "--port", "x", "--"});
  ASSERT_EQ(o.outcome, ParseOutcome::Run) << o.error;
  EXPECT_EQ(o.parsed.Value("package"), "/a;/b");
  EXPECT_EQ(o.parsed.Values("device"), (std::vector<std::string>{"3", "-4"}));
  EXPECT_EQ(Parse({"-p", "--", "--port", "x"}).parsed.Value("package"), "--");  // a value, as getopt takes it

  struct Case {
    std::vector<std::string> words;
    std::string named;
  } cases[] = {
      {{"--port", "x", "--", "-h"}, "unexpected argument \"-h\""},  // no help after the options' end
      {{"--", "--port", "x"}, "unexpected argument \"--port\""},
      {{"--port", "x", "-xvalue"}, "unknown option \"-xvalue\""},
  };
  for (const Case& c : cases) {
    o = Parse(c.words);
    EXPECT_EQ(o.outcome, ParseOutcome::UsageError) << c.named;
    EXPECT_NE(o.error.find(c.named), std::string::npos) << o.error;
  }
}
