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

TEST(Text, OnlyShortestFormUtf8OfRealCodePointsIsValid) {
  EXPECT_TRUE(IsValidUtf8("\xE5\x88\xB7 \xC2\x80 \xED\x9F\xBF \xF4\x8F\xBF\xBF \xF0\x90\x80\x80"));
  for (const char* bad : {"\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF",
                          "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF"})
    EXPECT_FALSE(IsValidUtf8(bad)) << ::testing::PrintToString(std::string(bad));
  EXPECT_EQ(SanitizeUtf8("a\xC0\xAF\xE5\x88\xB7\xED\xA0\x80" "b"), "a??\xE5\x88\xB7???b");
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

TEST(Text, IgnoreCaseFoldsLettersOfEveryScript) {
  EXPECT_TRUE(EqualsIgnoreCase("DumpVantor", "dumpvantor"));
  EXPECT_FALSE(EqualsIgnoreCase("abc", "abd"));
  EXPECT_FALSE(EqualsIgnoreCase("abc", "ab"));
  EXPECT_TRUE(EqualsIgnoreCase("/x/\xD0\x9F\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82", "/x/\xD0\xBF\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82"));  // Пакет, пакет
  EXPECT_TRUE(EqualsIgnoreCase("\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9"));                       // ÉTÉ, été
  EXPECT_TRUE(EqualsIgnoreCase("\xCE\xA3\xCE\xA9", "\xCF\x83\xCF\x89"));                         // ΣΩ, σω
  EXPECT_FALSE(EqualsIgnoreCase("\xD0\x9F", "\xD0\xA0"));                                          // П, Р
  EXPECT_FALSE(EqualsIgnoreCase("\xE5\x88\xB7", "\xE5\x88\xB8"));                                // no case, other letter
  // A character's upper case may be longer or shorter in bytes than itself.
  EXPECT_TRUE(EqualsIgnoreCase("\xC4\xB1", "I"));  // dotless i
  EXPECT_FALSE(EqualsIgnoreCase("\xC4\xB1x", "I"));
  // Invalid bytes compare as themselves.
  EXPECT_TRUE(EqualsIgnoreCase("a\xFF", "A\xFF"));
  EXPECT_FALSE(EqualsIgnoreCase("a\xFF", "a\xFE"));
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
