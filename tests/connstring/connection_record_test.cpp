#include "connstring/connection_record.h"

#include <gtest/gtest.h>

#include <bitset>
#include <functional>
#include <string>

#include "../frame/low_byte_code_page.h"
#include "frame/context/library_context.h"
#include "platform/codepage.h"
#include "resources/resource.h"
#include "store/record_defaults.h"

namespace tavix {
namespace {

// A record whose fields hold values no parse produces, so that any stray write shows up.
struct Prefilled {
    ConnectionRecord r;
    BSTR icon;
    Prefilled() {
        r.iconIndex = 13, r.keyNumber = 14;
        r.iconFilename.reset(NewBstr(WideFromUtf16(u"icon.ico")));
        icon = r.iconFilename.get();
        r.name = "old-name", r.server = "old-server", r.port = "old-port", r.namespaceName = "old-ns";
    }
    // name|server|port|namespace, after checking that the other fields are untouched.
    std::string Text() const {
        EXPECT_EQ(r.iconFilename.get(), icon);
        EXPECT_EQ(r.iconIndex, 13);
        EXPECT_EQ(r.keyNumber, 14);
        return r.name + "|" + r.server + "|" + r.port + "|" + r.namespaceName;
    }
};
constexpr const char* kUnchanged = "old-name|old-server|old-port|old-ns";

// The library's own texts in a single-byte code page.
const ParseDefaults kEnglish{"USER", "Nameless", nullptr};

struct ParseCase {
    const char* name;      // name argument; null is passed as null
    const char* conn;      // connection string; null is passed as null
    const char* expected;  // name|server|port|namespace, or null when Parse fails
};

const ParseCase kParseCases[] = {
    {nullptr, "cn_iptcp:127.0.0.1[1972]", "Nameless|127.0.0.1|1972|USER"},
    {"  Local", "\t cn_iptcp:h[1]:NS  ", "Local|h|1|NS  "},
    // Quoted names, read only when the name argument or the string is null or empty.
    {nullptr, "\"My \"\"Db\"\"\" cn_iptcp:h[1]", "My \"Db\"|h|1|USER"},
    {"", "  \"Q\"  :cn_iptcp:h[1]", "Q|h|1|USER"},
    {"  ", "\"Q\" cn_iptcp:h[1]", nullptr},
    {nullptr, "\"\" cn_iptcp:h[1]", "Nameless|h|1|USER"},
    {nullptr, "\"unterminated cn_iptcp:h[1]", nullptr},
    {nullptr, "\"a\"  ", nullptr},
    // A name written in front of the protocol; a name argument (or a quoted name) wins over it.
    {nullptr, "Test:cn_iptcp:db1[1972]:NS1", "Test|db1|1972|NS1"},
    {"X", "Y:cn_iptcp:h[1]", "X|h|1|USER"},
    // The protocol is any beginning of "cn_iptcp", compared exactly.
    {nullptr, "cn:h[1]", "Nameless|h|1|USER"},
    {nullptr, "::h[1]", "Nameless|h|1|USER"},
    {nullptr, "a:b:h[1]", nullptr},
    {nullptr, "cn_iptcpx:h[1]", nullptr},
    // Server and port verbatim; the namespace is the rest after an optional colon.
    {nullptr, "cn_iptcp: h [ 1 ]", "Nameless| h | 1 |USER"},
    {nullptr, "cn_iptcp:h[1] \t: \t", "Nameless|h|1|USER"},
    {nullptr, "cn_iptcp:h[1]NS", "Nameless|h|1|NS"},
    {nullptr, "cn_iptcp:h[1]::NS", "Nameless|h|1|:NS"},
    {nullptr, "cn_iptcp:h[[1]]", "Nameless|h|[1|]"},
    {nullptr, "cn_iptcp:h", nullptr},
    {nullptr, "cn_iptcp:h[1", nullptr},
    {"X", nullptr, nullptr},
    // Only space and tab are blanks; other control characters are text.
    {nullptr, "\rX:cn_iptcp:h[1]", "\rX|h|1|USER"},
    {nullptr, "cn_iptcp:h\x01[\x7f]\x1b" "NS\n", "Nameless|h\x01|\x7f|\x1bNS\n"},
};

TEST(ConnectionRecordParse, AcceptsTheDocumentedShapesAndLeavesTheRecordAloneOnFailure) {
    for (const ParseCase& c : kParseCases) {
        SCOPED_TRACE(testing::Message() << "name=" << (c.name ? c.name : "(null)")
                                        << " conn=" << (c.conn ? c.conn : "(null)"));
        Prefilled p;
        EXPECT_EQ(p.r.Parse(c.name, c.conn, kEnglish), c.expected != nullptr);
        EXPECT_EQ(p.Text(), c.expected ? c.expected : kUnchanged);
    }
}

// The parser supplies exactly the defaults it is handed, and CurrentParseDefaults takes them
// from whatever resource source and code page are current at the call.
TEST(ConnectionRecordParse, DefaultTextsAreTheCallersAndTheCurrentResourcesFillThem) {
    const ParseDefaults german{"BENUTZER", "Namenlos", nullptr};
    Prefilled given;
    ASSERT_TRUE(given.r.Parse(nullptr, "cn_iptcp:h[1]", german));
    EXPECT_EQ(given.Text(), "Namenlos|h|1|BENUTZER");

    // The caller's context holds none of the library's strings.
    const ParseDefaults callers = CurrentParseDefaults();
    EXPECT_EQ(std::string(callers.defaultNamespace) + "|" + std::string(callers.nameless), "|");

    StringTable localized;
    localized.Set(IDS_DEFAULT_NAMESPACE, WideFromUtf16(u"BENUTZER"), platform::SystemCodePage());
    localized.Set(IDS_NAMELESS, WideFromUtf16(u"Namenlos"), platform::SystemCodePage());
    std::bitset<256> lead;
    lead.set(0x81);
    const test::LowByteCodePage codePage(&lead);
    LibraryContext context = Library();
    context.resourceStrings = &localized;
    context.codePage = &codePage;
    ContextGuard guard(context);
    const ParseDefaults current = CurrentParseDefaults();
    EXPECT_EQ(std::string(current.defaultNamespace) + "|" + std::string(current.nameless), "BENUTZER|Namenlos");
    EXPECT_EQ(current.leadBytes, &lead);
}

ConnectionRecord Sample() {
    ConnectionRecord r;
    r.iconIndex = 3, r.keyNumber = 4;
    r.name = "Name", r.server = "h", r.port = "1", r.namespaceName = "NS";
    return r;
}

// Names compare exactly and icons take no part. (Port and namespace: the lookups and the dialog stories.)
TEST(ConnectionRecordEquals, ComparesNameAndTargetOnly) {
    const struct { const char* what; std::function<void(ConnectionRecord&)> change; bool equal; } cases[] = {
        {"iconFilename", [](ConnectionRecord& r) { r.iconFilename.reset(NewBstr(WideFromUtf16(u"a"))); }, true},
        {"name case", [](ConnectionRecord& r) { r.name = "name"; }, false},
        {"server", [](ConnectionRecord& r) { r.server = "H"; }, false},
    };
    for (const auto& c : cases) {
        ConnectionRecord changed = Sample();
        c.change(changed);
        EXPECT_EQ(Sample().Equals(changed), c.equal) << c.what;
        EXPECT_EQ(changed.Equals(Sample()), c.equal) << c.what;
    }
}

TEST(ConnectionRecordSameTarget, TreatsEmptyAndDefaultNamespaceAlike) {
    // The first record is at "h", "1"; the default namespace as the caller hands it ("" where
    // the caller's resources have none).
    const struct { const char *defaultNs, *server, *port, *ns1, *ns2; bool same; } cases[] = {
        {"USER", "h", "1", "", "USER", true},        {"USER", "h", "1", "USER", "user", false},
        {"USER", "h", "1", "NS", "NS", true},        {"USER", "H", "1", "", "", false},
        {"USER", "h", "01", "", "", false},          {"", "h", "1", "", "USER", false},
    };
    for (const auto& c : cases) {
        ConnectionRecord a = Sample(), b;  // names and the other fields take no part
        a.namespaceName = c.ns1;
        b.server = c.server, b.port = c.port, b.namespaceName = c.ns2;
        SCOPED_TRACE(testing::Message() << c.server << "[" << c.port << "]:" << c.ns1 << " vs " << c.ns2
                                        << " with default namespace " << c.defaultNs);
        EXPECT_EQ(a.SameTarget(b, c.defaultNs), c.same);
        EXPECT_EQ(b.SameTarget(a, c.defaultNs), c.same);
    }
}

// Each string below splits elsewhere when read byte by byte.
TEST(ConnectionRecordParse, NeverSplitsADoubleByteCharacter) {
    const struct { const char* conn; const char* expected; } cases[] = {  // as kParseCases
        {"cn_iptcp:h\x81[x[1]", "Nameless|h\x81[x|1|USER"},
        {"cn_iptcp:h[1\x9F]2]", "Nameless|h|1\x9F]2|USER"},
        {"X\xE0::cn_iptcp:h[1]", "X\xE0:|h|1|USER"},
        {"cn_iptcp:h[1]:\x81", "Nameless|h|1|\x81"},
    };
    // Laid out like code page 932: 0x81-0x9F and 0xE0-0xFC lead bytes.
    std::bitset<256> lead;
    for (unsigned b = 0x81; b <= 0xFC; ++b) lead.set(b, b <= 0x9F || b >= 0xE0);
    const ParseDefaults defaults{"USER", "Nameless", &lead};
    for (const auto& c : cases) {
        Prefilled p;
        EXPECT_EQ(p.r.Parse(nullptr, c.conn, defaults), c.expected != nullptr) << c.conn;
        EXPECT_EQ(p.Text(), c.expected ? c.expected : kUnchanged) << c.conn;
    }
}

}  // namespace
}  // namespace tavix
