#include "platform/text.h"

#include <gtest/gtest.h>
#include <locale.h>

#include "platform/ticks.h"
#include "platform/timing.h"

namespace {

// Switches the calling thread to a locale for the scope of a test.
class ThreadLocale {
 public:
  explicit ThreadLocale(const char* name) : locale_(newlocale(LC_ALL_MASK, name, nullptr)) {
    if (locale_) previous_ = uselocale(locale_);
  }
  ~ThreadLocale() {
    if (locale_) {
      uselocale(previous_);
      freelocale(locale_);
    }
  }
  bool ok() const { return locale_ != nullptr; }

 private:
  locale_t locale_;
  locale_t previous_ = LC_GLOBAL_LOCALE;
};

}  // namespace

TEST(Text, AsciiCodesetReplacesEachUnrepresentableCharacter) {
  ThreadLocale c("C");
  ASSERT_TRUE(c.ok());
  EXPECT_EQ(Utf8ToLocale("ok"), "ok");
  EXPECT_EQ(Utf8ToLocale("\xE5\x88\xB7\xE6\x96\xB0 F5"), "?? F5");  // two CJK characters
  EXPECT_EQ(Utf8ToLocale("a\xFFz"), "a?z");                          // invalid UTF-8
  EXPECT_EQ(LocaleToUtf8("a\xC3z"), "a?z");                          // not ASCII
}

TEST(Text, Utf8CodesetKeepsTextAndRepairsInvalidBytes) {
  ThreadLocale utf8("C.UTF-8");
  ASSERT_TRUE(utf8.ok());
  EXPECT_EQ(Utf8ToLocale("\xE5\x88\xB7\xE6\x96\xB0"), "\xE5\x88\xB7\xE6\x96\xB0");
  EXPECT_EQ(Utf8ToLocale("x\xE5\x88"), "x??");  // truncated sequence
  EXPECT_EQ(LocaleToUtf8("\xC3\xA9"), "\xC3\xA9");
}

TEST(Text, CharCountCountsCodePoints) {
  EXPECT_EQ(CharCount(""), 0u);
  EXPECT_EQ(CharCount("abc"), 3u);
  EXPECT_EQ(CharCount("\xE5\x88\xB7\xE6\x96\xB0"), 2u);
  EXPECT_EQ(CharCount("\xF0\x9F\x98\x80!"), 2u);
  EXPECT_EQ(CharCount("\xFF\xFE"), 2u);
}

TEST(Text, TruncateCharsNeverSplitsACharacter) {
  EXPECT_EQ(TruncateChars("\xE5\x88\xB7\xE6\x96\xB0x", 1), "\xE5\x88\xB7");
  EXPECT_EQ(TruncateChars("abc", 5), "abc");
  EXPECT_EQ(TruncateChars("abc", 0), "");
}

TEST(Text, IgnoreCaseComparesAsciiLetters) {
  EXPECT_TRUE(EqualsIgnoreCase("DumpVantor", "dumpvantor"));
  EXPECT_FALSE(EqualsIgnoreCase("abc", "abd"));
  EXPECT_FALSE(EqualsIgnoreCase("abc", "ab"));
}

TEST(Timing, ScaleShortensWaitsButNeverToZero) {
  {
    ScopedTimeScale scale(0.01);
    EXPECT_EQ(ScaledMilliseconds(1000), 10u);
    EXPECT_EQ(ScaledMilliseconds(5000), 50u);
    EXPECT_EQ(ScaledMilliseconds(10), 1u);
    EXPECT_EQ(ScaledMilliseconds(0), 0u);
  }
  EXPECT_EQ(ScaledMilliseconds(1000), static_cast<DWORD>(1000 * TimeScale() + 0.5));
}

TEST(Timing, StopRequestEndsAWaitEarly) {
  std::stop_source stop;
  stop.request_stop();
  DWORD start = GetTickCount();
  EXPECT_FALSE(WaitUnlessStopped(stop.get_token(), 60000));
  EXPECT_LT(static_cast<DWORD>(GetTickCount() - start), 1000u);
  ScopedTimeScale scale(0.01);
  EXPECT_TRUE(WaitUnlessStopped(std::stop_source().get_token(), 1000));
}
