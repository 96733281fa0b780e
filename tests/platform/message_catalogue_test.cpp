#include "platform/message_catalogue.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <map>

#include "platform/error_text.h"
#include "platform/executable.h"
#include "platform/message_language.h"
#include "platform/path_name.h"
#include "shell/log.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/user_locale.h"

namespace {

std::vector<std::string> LanguagesOf(const std::map<std::string, std::string>& environment) {
  return MessageLanguages([&](const char* name) -> const char* {
    auto it = environment.find(name);
    return it == environment.end() ? nullptr : it->second.c_str();
  });
}

using Names = std::vector<std::string>;

// The build's compiled catalogue for a language.
std::string BuiltCatalogue(const std::string& language) {
  return ParentFolder(ExecutableFolder()) + "/share/locale/" + language + "/LC_MESSAGES/vantor.mo";
}

void PutWord(std::string* bytes, size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

// A little-endian catalogue of one pair, as msgfmt lays it out.
std::string OnePairCatalogue(const std::string& english, const std::string& translated) {
  std::string bytes(44, '\0');
  PutWord(&bytes, 0, 0x950412de);
  PutWord(&bytes, 8, 1);   // one string
  PutWord(&bytes, 12, 28);  // originals table
  PutWord(&bytes, 16, 36);  // translations table
  PutWord(&bytes, 28, static_cast<std::uint32_t>(english.size()));
  PutWord(&bytes, 32, 44);
  PutWord(&bytes, 36, static_cast<std::uint32_t>(translated.size()));
  PutWord(&bytes, 40, static_cast<std::uint32_t>(44 + english.size() + 1));
  return bytes + english + '\0' + translated + '\0';
}

}  // namespace

TEST(MessageLanguages, FollowTheGettextRulesOfTheEnvironment) {
  EXPECT_EQ(LanguagesOf({{"LANG", "zh_CN.UTF-8"}}), (Names{"zh_CN.UTF-8", "zh_CN.utf8", "zh_CN", "zh"}));
  // LC_ALL before LC_MESSAGES before LANG; an empty value does not count.
  EXPECT_EQ(LanguagesOf({{"LC_ALL", "de_DE"}, {"LC_MESSAGES", "zh_CN"}, {"LANG", "fr_FR"}}), (Names{"de_DE", "de"}));
  EXPECT_EQ(LanguagesOf({{"LC_ALL", ""}, {"LC_MESSAGES", "zh_CN"}, {"LANG", "fr_FR"}}), (Names{"zh_CN", "zh"}));
  EXPECT_EQ(LanguagesOf({{"LANG", "sr_RS.UTF-8@latin"}}),
            (Names{"sr_RS.UTF-8@latin", "sr_RS.utf8@latin", "sr_RS@latin", "sr@latin", "sr_RS.UTF-8", "sr_RS.utf8",
                   "sr_RS", "sr"}));
  // No locale, or the untranslated ones: English, whatever LANGUAGE says.
  EXPECT_TRUE(LanguagesOf({}).empty());
  EXPECT_TRUE(LanguagesOf({{"LC_ALL", "C"}, {"LANGUAGE", "zh_CN"}}).empty());
  EXPECT_TRUE(LanguagesOf({{"LANG", "C.UTF-8"}, {"LANGUAGE", "zh_CN"}}).empty());
  EXPECT_TRUE(LanguagesOf({{"LANG", "POSIX"}}).empty());
  // LANGUAGE replaces the locale's language, in its order, up to a "C".
  EXPECT_EQ(LanguagesOf({{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "fr::zh_CN"}}), (Names{"fr", "zh_CN", "zh"}));
  EXPECT_EQ(LanguagesOf({{"LANG", "zh_CN.UTF-8"}, {"LANGUAGE", "en:C:zh_CN"}}), (Names{"en"}));
}

TEST(MessageCatalogue, ReadsMsgfmtOutputAndRefusesWhatIsNotACatalogue) {
  TempDir dir;
  CMessageCatalogue catalogue;
  WriteFile(dir / "one.mo", OnePairCatalogue("Access is denied.", "拒绝访问。"));
  ASSERT_EQ(catalogue.Load(dir / "one.mo"), S_OK);
  ASSERT_NE(catalogue.Find("Access is denied."), nullptr);
  EXPECT_EQ(*catalogue.Find("Access is denied."), "拒绝访问。");
  EXPECT_EQ(catalogue.Find("Access is denied"), nullptr);

  // The compiled catalogue of the build, from the repository's sources.
  ASSERT_EQ(catalogue.Load(BuiltCatalogue("zh_CN")), S_OK);
  ASSERT_NE(catalogue.Find("The operation timed out."), nullptr);
  EXPECT_EQ(*catalogue.Find("The operation timed out."), "操作超时。");
  EXPECT_EQ(catalogue.Find(""), nullptr);  // the header is no text

  std::string cut = OnePairCatalogue("Access is denied.", "拒绝访问。");
  cut.resize(50);  // the strings run past the end
  WriteFile(dir / "cut.mo", cut);
  EXPECT_EQ(catalogue.Load(dir / "cut.mo"), HRESULT_FROM_WIN32(ERROR_BAD_FORMAT));
  EXPECT_TRUE(catalogue.empty());
  std::string far = OnePairCatalogue("a", "b");
  PutWord(&far, 8, 0x10000000);  // more strings than the tables hold
  WriteFile(dir / "far.mo", far);
  EXPECT_EQ(catalogue.Load(dir / "far.mo"), HRESULT_FROM_WIN32(ERROR_BAD_FORMAT));
  WriteFile(dir / "text.mo", "msgid \"a\"\nmsgstr \"b\"\n");
  EXPECT_EQ(catalogue.Load(dir / "text.mo"), HRESULT_FROM_WIN32(ERROR_BAD_FORMAT));
  EXPECT_EQ(catalogue.Load(dir / "missing.mo"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  std::filesystem::create_directories(dir / "folder.mo");  // opens, but cannot be read
  EXPECT_EQ(catalogue.Load(dir / "folder.mo"), E_INVALIDARG);
  EXPECT_TRUE(catalogue.empty());
}

// Every code the program produces: those with texts of their own, and every
// code a failing system call can be mapped to.
TEST(MessageCatalogue, EveryCodeTheProgramProducesHasASimplifiedChineseText) {
  std::vector<HRESULT> codes = ErrorTextCodes();
  for (int err = 0; err < 200; ++err) {
    HRESULT hr = HresultFromErrno(err);
    EXPECT_FALSE(GetEnglishErrorText(hr).empty()) << "errno " << err << " yields 0x" << std::hex << hr;
    codes.push_back(hr);
  }
  CMessageCatalogue chinese;
  ASSERT_EQ(chinese.Load(BuiltCatalogue("zh_CN")), S_OK);
  for (HRESULT hr : codes) {
    std::string english = GetEnglishErrorText(hr);
    const std::string* text = chinese.Find(english);
    ASSERT_NE(text, nullptr) << "no zh_CN text for \"" << english << "\"";
    EXPECT_NE(*text, english);
    // Whole sentences end as the English ones do, with the full stop.
    EXPECT_EQ(english.back() == '.', text->size() >= 3 && text->compare(text->size() - 3, 3, "。") == 0) << *text;
    EXPECT_EQ(text->find_first_of("\r\n"), std::string::npos);
  }
}

TEST(MessageCatalogue, TextsFollowTheLocaleButLogLinesStayEnglish) {
  HRESULT denied = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  {
    ScopedUserLocale chinese("zh_CN.UTF-8");
    EXPECT_EQ(GetErrorText(denied), "拒绝访问。");
    EXPECT_EQ(GetEnglishErrorText(denied), "Access is denied.");
    EXPECT_EQ(GetErrorText(MakeHresult(0x8badf00d)), "");  // no text of its own: still none
    LogCapture log;
    TraceResult(denied, "Caller", 12);
    EXPECT_EQ(log.Count("Caller(12): Access is denied.(0x80070005)"), 1);
  }
  {
    ScopedUserLocale english("en_US.UTF-8");
    EXPECT_EQ(GetErrorText(denied), "Access is denied.");
  }
  {
    // A language without a catalogue falls back to English, never to nothing.
    ScopedUserLocale german("de_DE.UTF-8");
    EXPECT_EQ(GetErrorText(denied), "Access is denied.");
  }
  ScopedUserLocale untranslated("C");
  EXPECT_EQ(GetErrorText(denied), "Access is denied.");
}
