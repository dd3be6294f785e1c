// The .reg parser: which value data it decodes from UTF-16 (the text types of version 5) and which it keeps.
#include "store/reg_file_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace tavix::store::regfile {
namespace {

std::string Utf16File(std::u16string_view text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) bytes += {char(c & 0xFF), char(c >> 8)};
    return bytes;
}

TEST(RegFileParser, DecodesTheTextTypesOfVersion5FilesAndKeepsEverythingElse) {
    const struct {
        std::string what;
        bool version5;
        std::string value;  // the data part of `"v"=...`
        uint32_t type;
        std::string data;
    } cases[] = {
        {"v5 string", true, "\"ab\"", platform::kRegSz, std::string("ab\0", 3)},
        {"v5 hex(1)", true, "hex(1):61,00,00,00", platform::kRegSz, std::string("a\0", 2)},
        {"v5 hex(2)", true, "hex(2):25,00,41,00,00,00", platform::kRegExpandSz, std::string("%A\0", 3)},
        {"v5 hex(7)", true, "hex(7):61,00,00,00,62,00,00,00,00,00", platform::kRegMultiSz,
         std::string("a\0b\0\0", 5)},
        {"v5 binary", true, "hex:61,00", platform::kRegBinary, std::string("a\0", 2)},
        {"v5 other type", true, "hex(8):61,00", 8, std::string("a\0", 2)},
        {"v5 dword", true, "dword:0102", platform::kRegDword, std::string("\x02\x01\0\0", 4)},
        {"v4 hex(2)", false, "hex(2):25,41,00", platform::kRegExpandSz, std::string("%A\0", 3)},
        {"v4 hex(7)", false, "hex(7):61,00,62,00,00", platform::kRegMultiSz, std::string("a\0b\0\0", 5)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string text = std::string(c.version5 ? "Windows Registry Editor Version 5.00" : "REGEDIT4") +
                                 "\r\n\r\n[HKEY_CURRENT_USER\\T]\r\n\"v\"=" + c.value + "\r\n";
        const std::string file = c.version5 ? Utf16File(std::u16string(text.begin(), text.end())) : text;
        std::vector<Change> changes;
        const auto failure = ParseRegFile(file, {}, changes);
        ASSERT_FALSE(failure.has_value()) << failure->what;
        ASSERT_EQ(changes.size(), 2u);
        EXPECT_EQ(std::pair(changes[0].kind, changes[0].path), std::pair(Change::kCreateKey, std::string("T")));
        EXPECT_EQ(std::tuple(changes[1].kind, changes[1].line, changes[1].name, changes[1].type, changes[1].data),
                  std::tuple(Change::kSetValue, size_t{4}, std::string("v"), c.type, c.data));
    }
}

}  // namespace
}  // namespace tavix::store::regfile
