// Fuzzes the .reg file parser with any bytes (UTF-16 after a byte-order mark, 8-bit text
// otherwise), read once with no rules and once with the connections' rules.
//
// Properties: an error names a line of the file and says what is wrong; the changes of a file
// that parses come in the file's order, after its header, each deleted key is below the hive's
// root, and under the connections' rules every change is to the connections key or below it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/name_fold.h"
#include "store/reg_file_parser.h"

namespace {

using tavix::store::RegFileRules;
using tavix::store::regfile::Change;

#define CHECK(condition) \
    do { \
        if (!(condition)) Fail(#condition, __LINE__); \
    } while (0)

[[noreturn]] void Fail(const char* what, int line) {
    std::fprintf(stderr, "fuzz_reg_file: property violated (line %d): %s\n", line, what);
    std::abort();
}

// Whether path is the scope or below it, as the registry compares names.
bool WithinScope(const std::string& path, const std::string& scope) {
    const tavix::platform::CodePage& codePage = tavix::platform::SystemCodePage();
    const std::string folded = tavix::platform::Fold(path, codePage);
    const std::string scopeFolded = tavix::platform::Fold(scope, codePage);
    return folded == scopeFolded ||
           (folded.size() > scopeFolded.size() && folded.starts_with(scopeFolded) && folded[scopeFolded.size()] == '\\');
}

void Check(std::string_view bytes, const RegFileRules& rules) {
    std::vector<Change> changes;
    if (const auto failure = tavix::store::regfile::ParseRegFile(bytes, rules, changes)) {
        CHECK(failure->line >= 1);
        CHECK(!failure->what.empty());
        return;
    }
    size_t previous = 2;  // line 1 is the header
    for (const Change& change : changes) {
        CHECK(change.line >= previous);
        previous = change.line;
        if (change.kind == Change::kDeleteKey) CHECK(!change.path.empty());
        if (!rules.scope.empty()) CHECK(WithinScope(change.path, rules.scope));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    Check(bytes, {});
    Check(bytes, tavix::store::ConnectionRules());
    return 0;
}
