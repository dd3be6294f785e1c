#include "locale/locale_table.h"
#include "platform/locale.h"

#include <gtest/gtest.h>

#include "environment.h"

#include <cctype>
#include <string>

namespace tavix::locale {
namespace {

// Every locale found by its id, a three-letter upper-case abbreviation each, and every POSIX
// name (with a code set too) leading back to its locale (order and uniqueness: static_asserts).
TEST(LocaleTable, IsSortedUniqueAndLeadsBackFromEveryName) {
    const auto table = LocaleTable();
    ASSERT_GE(table.size(), 200u);
    for (size_t i = 0; i < table.size(); ++i) {
        const LocaleEntry& entry = table[i];
        SCOPED_TRACE(testing::Message() << std::hex << entry.id << " " << entry.posixName);
        EXPECT_EQ(FindLocale(entry.id), &entry);
        ASSERT_EQ(entry.abbreviation.size(), 3u);
        for (char c : entry.abbreviation) EXPECT_TRUE(std::isupper(static_cast<unsigned char>(c)));
        if (entry.posixName.empty()) continue;
        EXPECT_EQ(LocaleFromPosixName(entry.posixName), entry.id);
        std::string withCodeset(entry.posixName);
        const size_t at = withCodeset.find('@');
        withCodeset.insert(at == std::string::npos ? withCodeset.size() : at, ".UTF-8");
        EXPECT_EQ(LocaleFromPosixName(withCodeset), entry.id) << withCodeset;
    }
    for (LocaleId unknown : {0x0000u, 0x0400u, 0x0800u, 0x7C07u, 0x0C00u, 0xFFFFu, 0x10407u}) {
        EXPECT_EQ(FindLocale(unknown), nullptr) << std::hex << unknown;
    }
}

TEST(LocaleTable, PosixNamesWithFallBacks) {
    const std::pair<const char*, LocaleId> cases[] = {
        {"de_AT.ISO-8859-15@euro", 0x0C07}, {"de_XX.UTF-8", 0x0407}, {"de", 0x0407}, {"ca_ES@valencia", 0x0803},
        {"es_XX", 0x040A},  // Spanish's default sublanguage
        {"sr_XX", 0x181A},  // no default-sublanguage Serbian: the lowest Serbian id
        {"C", 0x0409}, {"POSIX", 0x0409}, {"", 0x0409}, {"xx_YY.UTF-8", 0x0409},
        // Only a whole name matches: a name that begins or ends another is the language alone,
        // a modifier the table lacks falls back to the name without it.
        {"de_A", 0x0407}, {"de_ATT", 0x0407}, {"sr_RS@lat", 0x281A}, {"sr_RS@latinx", 0x281A},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(LocaleFromPosixName(name), expected) << '"' << name << '"';
}

// ---- The platform's answers ------------------------------------------------------------------

// The user's default (0x0400), the neutral locale and the system default are the user's.
TEST(PlatformLocale, DefaultsAnswerTheUserDefaultsAbbreviation) {
    const std::string user = platform::LanguageAbbreviation(platform::UserDefaultLocale());
    ASSERT_EQ(user.size(), 3u);
    for (LocaleId id : {0x0000u, 0x0400u, 0x0800u}) EXPECT_EQ(platform::LanguageAbbreviation(id), user) << id;
    for (LocaleId unknown : {0x7C07u, 0x9999u}) EXPECT_EQ(platform::LanguageAbbreviation(unknown), "") << unknown;
#if defined(_WIN32)
    // The table agrees with the system's locale data, locale by locale.
    for (const LocaleEntry& entry : LocaleTable()) {
        EXPECT_EQ(platform::LanguageAbbreviation(entry.id), entry.abbreviation) << std::hex << entry.id;
    }
#endif
}

#if !defined(_WIN32)
// The first of LC_ALL, LC_MESSAGES and LANG set and not empty, read anew at each call.
TEST(PlatformLocale, UserDefaultFollowsThePosixPrecedence) {
    const struct { const char *lcAll, *lcMessages, *lang; LocaleId expected; const char* abbreviation; } cases[] = {
        {"de_AT.UTF-8", "fr_FR.UTF-8", "it_IT.UTF-8", 0x0C07, "DEA"},
        {"", "fr_FR.UTF-8", "it_IT.UTF-8", 0x040C, "FRA"},  // empty counts as unset
        {nullptr, nullptr, "it_CH.UTF-8", 0x0810, "ITS"}, {nullptr, "C", "it_IT.UTF-8", 0x0409, "ENU"},
        {nullptr, nullptr, nullptr, 0x0409, "ENU"},
    };
    for (const auto& c : cases) {
        test::Environment environment;
        environment.Set("LC_ALL", c.lcAll);
        environment.Set("LC_MESSAGES", c.lcMessages);
        environment.Set("LANG", c.lang);
        EXPECT_EQ(platform::UserDefaultLocale(), c.expected) << c.abbreviation;
        EXPECT_EQ(platform::LanguageAbbreviation(0x0400) + platform::LanguageAbbreviation(0x0000),
                  std::string(c.abbreviation) + c.abbreviation);
    }
}
#endif

}  // namespace
}  // namespace tavix::locale
