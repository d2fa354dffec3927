// The command-line tool in the reader's language: a share that fails, run as a person would run
// it under a Chinese and an English locale, reports every line in that language alone, names
// and commands apart.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>

#include <fstream>
#include <sstream>

#include "LumoShare.hpp"
#include "ServiceFixture.hpp"
#include "ShareTestServer.hpp"
#include "TemporaryDirectory.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

using testing::shellQuoted;

/// `line` without what is written the same in every language: commands in backquotes, links,
/// share ids, the shared file's name, quoted names and the product's names.
icu::UnicodeString withoutNamesAndCode(const std::string& line) {
  static const char* const patterns[] = {
      "`[^`]*`",
      "https?://\\S+",
      "[0-9a-f]{8}(?:-[0-9a-f]{4}){3}-[0-9a-f]{12}",
      "notes\\.txt",
      "“[^”]*”",
      "「[^」]*」",
      "\\b(?:lumo-share|Lumo Share|Lumo|App|Pro|Hobby|HTTP|URL|SSL|[KMG]B|Logo)\\b",
  };
  auto text = icu::UnicodeString::fromUTF8(line);
  for (const auto* pattern : patterns) {
    UErrorCode status = U_ZERO_ERROR;
    icu::RegexMatcher matcher(icu::UnicodeString::fromUTF8(pattern), text, 0, status);
    text = matcher.replaceAll(" ", status);
    EXPECT_TRUE(U_SUCCESS(status)) << pattern;
  }
  return text;
}

/// The letters of `line` (names and code left out) written in Han or Latin script other than
/// `reader`'s: empty when the whole line is in the reader's script.
std::string foreignLetters(const std::string& line, UScriptCode reader) {
  const auto text = withoutNamesAndCode(line);
  icu::UnicodeString foreign;
  for (int32_t at = 0; at < text.length(); at = text.moveIndex32(at, 1)) {
    const auto character = text.char32At(at);
    if (!u_isalpha(character)) continue;
    UErrorCode status = U_ZERO_ERROR;
    const auto script = uscript_getScript(character, &status);
    if ((script == USCRIPT_HAN || script == USCRIPT_LATIN) && script != reader) {
      foreign.append(character);
    }
  }
  std::string letters;
  return foreign.toUTF8String(letters);
}

/// Every line of `output` is in the script of `reader` alone (names and code apart).
void expectOneLanguage(const std::string& output, UScriptCode reader) {
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_EQ(foreignLetters(line, reader), "") << line;
  }
}

TEST(CommandLineLanguageTest, AFailedShareSpeaksOneLanguagePerLocale) {
  // A service that refuses the connection (a bound port that does not listen), and one that
  // refuses the share with its quota.
  int port = 0;
  const auto refusing = testing::boundLoopbackSocket(port);
  testing::ShareTestServer quota;
  quota.setFallback(testing::ScriptedReply::json(
      403, R"({"error":"ANON_QUOTA_EXCEEDED","message":"anonymous quota"})"));
  const std::pair<std::string, std::string> failures[] = {
      {"no connection", "http://127.0.0.1:" + std::to_string(port) + "/api/v1"},
      {"anonymous quota", quota.apiBase().absoluteString()},
  };
  // A last error recorded in each language that begins with a name quoted in the other script.
  const struct {
    const char* locale;
    UScriptCode script;
    const char* quotedError;
  } readers[] = {
      {"zh_CN.UTF-8", USCRIPT_HAN, "「big.bin」28.6 MB，超过单次分享上限 20 MB。"},
      {"en_US.UTF-8", USCRIPT_LATIN, "“报告.bin” is 28.6 MB, over the 20 MB limit of one share."}};
  // What a person runs after a failed share: the queue, the state, a drain, and refusals.
  const char* const followUps[] = {
      "queue",
      "status",
      "settings",
      "drain",
      "queue retry",
      "queue remove 00000000-0000-4000-8000-000000000000",
      "settings retention 2d",
      "settings auto-upload maybe",
      "plan",
      "notices",
      "config server ftp://example.org",
      "stage notes.txt 2026",  // a summary, and a skipped item (a pipe named in no language)
      "share --expires 2d notes.txt",
  };

  for (const auto& [failure, apiBase] : failures) {
    for (const auto& reader : readers) {
      SCOPED_TRACE(failure + " under " + reader.locale);
      testing::TemporaryDirectory folder;
      std::ofstream(folder / "notes.txt") << "notes";
      ASSERT_EQ(::mkfifo((folder / "2026").c_str(), 0600), 0);
      const auto toolIn = [&](const char* locale) {
        return "cd " + shellQuoted(folder.path()) +
               " && env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=" + locale +
               " XDG_DATA_HOME=" + shellQuoted(folder / "data") +
               " XDG_CONFIG_HOME=" + shellQuoted(folder / "config") + " " +
               shellQuoted(LUMO_SHARE_EXECUTABLE) + " ";
      };
      const auto tool = toolIn(reader.locale);
      ASSERT_EQ(testing::runCommand(tool + "config server " + apiBase).status, 0);
      const auto shared = testing::runCommand(tool + "share notes.txt 2>&1");
      EXPECT_EQ(shared.status, 1) << shared.output;

      const ShareStorage storage{folder / "data/group.com.lumo.share",
                                 ShareStorageLocation::appGroup};
      const auto queued = PendingShareQueue(storage).all();
      ASSERT_EQ(queued.size(), 1u) << shared.output;
      const auto& id = queued[0].entry.staged.clientShareId;
      EXPECT_NE(shared.output.find("`lumo-share queue retry " + id + "`"), std::string::npos)
          << "the command that retries it: " << shared.output;
      expectOneLanguage(shared.output, reader.script);
      for (const auto* followUp : followUps) {
        SCOPED_TRACE(followUp);
        expectOneLanguage(testing::runCommand(tool + followUp + " 2>&1").output, reader.script);
      }
      // The error was recorded in this reader's language, and then one that begins with a name
      // quoted in the other script; a reader of the other language sees it as recorded, on a
      // line of its own.
      for (const std::string recorded : {"", reader.quotedError}) {
        if (!recorded.empty()) {
          auto entry = PendingShareQueue(storage).all().at(0).entry;
          entry.lastError = recorded;
          ShareJSON::write(entry, queued[0].directoryURL / "share.json");
        }
        for (const auto& other : readers) {  // no line mixes Han and Latin words
          SCOPED_TRACE(std::string("queue under ") + other.locale);
          std::istringstream lines(testing::runCommand(toolIn(other.locale) + "queue 2>&1").output);
          for (std::string line; std::getline(lines, line);) {
            EXPECT_TRUE(foreignLetters(line, USCRIPT_HAN).empty() ||
                        foreignLetters(line, USCRIPT_LATIN).empty())
                << line;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace lumo
