// The tool's JSON strings, byte for byte: what a script reading `list --json` receives.
#include "cli_json.h"

#include <gtest/gtest.h>

#include <string>

namespace cli {
namespace {

TEST(CliJson, StringsAreEscapedAsDocumented) {
    const struct {
        std::string input, json;
    } cases[] = {
        {"", R"("")"},
        {"a\nb\rc\td", R"("a\nb\rc\td")"},
        {"esc\x1b[2J bel\x07 del\x7f", R"("esc\u001b[2J bel\u0007 del\u007f")"},
        {"C1 \xc2\x85, separators \xe2\x80\xa8\xe2\x80\xa9", R"("C1 \u0085, separators \u2028\u2029")"},
        {"\xc3\xa9\xf0\x9f\x98\x80", "\"\xc3\xa9\xf0\x9f\x98\x80\""},  // é and an emoji as they are
        // Not UTF-8: a stray continuation byte, an overlong "/", a surrogate, a sequence cut short.
        {"a\x80" "b\xc0\xaf" "c\xed\xa0\x80" "d\xe2\x82",
         "\"a\xef\xbf\xbd" "b\xef\xbf\xbd\xef\xbf\xbd" "c\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd" "d\xef\xbf\xbd\xef\xbf\xbd\""},
    };
    for (const auto& c : cases) {
        std::string out = "[";
        AppendJsonString(out, c.input);
        EXPECT_EQ(out, "[" + c.json) << c.input;
    }
}

}  // namespace
}  // namespace cli
