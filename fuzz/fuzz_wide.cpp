// Fuzzes the exported wide connection-string functions as a client program calls them, and
// checks every answer against a plain reference implementation of the split and equivalence
// rules kept below. The library's parser is tuned for speed (one pass over zero-terminated
// input, the second string of a comparison checked against the first one's server part instead
// of being split); the reference follows the rules step by step.
//
// Input: one flag byte, then UTF-16 code units (two bytes each, host byte order) that are cut
// at zero units into strings a, b and c (empty when missing). Flag bit 0 passes a as null,
// bit 1 passes b as null. Further strings are made from these: a's server part with other
// leads and namespaces, so that comparisons often reach the namespace rules, and texts that
// hold zero characters, for the library's view functions.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "TavixConnect.h"
#include "connstring/wide_split.h"
#include "frame/context/library_context.h"
#include "resources/strings.h"

namespace {

using Text = std::u16string;
using TextView = std::u16string_view;

#define CHECK(condition) \
    do { \
        if (!(condition)) Fail(#condition, __LINE__); \
    } while (0)

[[noreturn]] void Fail(const char* what, int line) {
    std::fprintf(stderr, "fuzz_wide: property violated (line %d): %s\n", line, what);
    std::abort();
}

constexpr std::u16string_view kProtocolTag = u"cn_iptcp";

bool IsBlank(char16_t c) { return c == u' ' || (c >= 9 && c <= 13); }

TextView View(const OLECHAR* text) { return text ? TextView{text} : TextView{}; }

TextView View(BSTR text) { return text ? TextView{text, SysStringLen(text)} : TextView{}; }

// The reference: the rules of the split and the comparison, step by step, on views in which a
// zero is an ordinary character.
struct RefSplit {
    bool ok = false;
    TextView server, space;

    explicit RefSplit(TextView s) {
        if (s.empty()) return;
        size_t p = 0;
        const auto skipBlanks = [&] {
            while (p < s.size() && IsBlank(s[p])) ++p;
        };
        // Blanks and quoted sections, each up to and including the next double quote.
        for (skipBlanks(); p < s.size() && s[p] == u'"'; skipBlanks()) {
            const size_t closing = s.find(u'"', p + 1);
            if (closing == s.npos) return;
            p = closing + 1;
        }
        // One optional colon, blanks, and a protocol segment that begins the protocol tag.
        if (p < s.size() && s[p] == u':') ++p;
        skipBlanks();
        const size_t colon = s.find(u':', p);
        if (colon == s.npos || !kProtocolTag.starts_with(s.substr(p, colon - p))) return;
        // The server part ends at the first "]" after the first "[" after that colon.
        const size_t open = s.find(u'[', colon + 1);
        if (open == s.npos) return;
        const size_t close = s.find(u']', open + 1);
        if (close == s.npos) return;
        server = s.substr(p, close + 1 - p);
        // Blanks, one optional colon, blanks, and the rest is the namespace part.
        p = close + 1;
        skipBlanks();
        if (p < s.size() && s[p] == u':') ++p;
        skipBlanks();
        space = s.substr(p);
        ok = true;
    }
};

int RefEquivalent(TextView a, TextView b, TextView defaultNs) {
    if (a.empty() && b.empty()) return 1;
    if (!a.empty() && a == b) return 1;
    const RefSplit x(a), y(b);
    if (!x.ok || !y.ok || x.server != y.server) return 0;
    if (x.space == y.space) return 1;
    const auto isDefault = [&](TextView ns) {
        return ns.empty() || (!defaultNs.empty() && ns == defaultNs);
    };
    return isDefault(x.space) && isDefault(y.space);
}

// A zero-terminated copy of text in a block of exactly its size, so that AddressSanitizer
// reports a read past the terminator (a std::u16string may have room behind it, or keep short
// text inside itself).
class ExactCopy {
public:
    explicit ExactCopy(TextView text) : chars_(new char16_t[text.size() + 1]) {
        std::copy(text.begin(), text.end(), chars_.get());
        chars_[text.size()] = 0;
    }
    const OLECHAR* get() const { return chars_.get(); }

private:
    std::unique_ptr<char16_t[]> chars_;
};

// The default namespace as the library reads it inside its exports.
Text DefaultNamespace() {
    tavix::ContextGuard guard;
    const tavix::WStringView text = tavix::LoadWideString(tavix::resources::kStrDefaultNamespace);
    return Text(text.begin(), text.end());
}

// A split as a client sees it: the result and the two parts, freed at the end.
struct Split {
    int result = 0;
    BSTR server = nullptr;
    BSTR space = nullptr;

    explicit Split(const OLECHAR* text) {
        // Split sets the out-variables to null without freeing what they held.
        BSTR heldServer = SysAllocString(u"held");
        BSTR heldSpace = SysAllocString(u"held");
        server = heldServer;
        space = heldSpace;
        result = SplitConnectionString(text, &server, &space);
        CHECK(server != heldServer && space != heldSpace);
        SysFreeString(heldServer);
        SysFreeString(heldSpace);
    }
    ~Split() {
        SysFreeString(server);
        SysFreeString(space);
    }
    Split(const Split&) = delete;
    Split& operator=(const Split&) = delete;
};

// Split with only the server or only the namespace out-variable gives what the full split
// gives for that variable.
void CheckOneOut(const OLECHAR* text, bool serverOnly, const Split& split) {
    BSTR held = SysAllocString(u"held");
    BSTR out = held;
    const int result = serverOnly ? SplitConnectionString(text, &out, nullptr)
                                  : SplitConnectionString(text, nullptr, &out);
    CHECK(result == split.result && out != held && (out != nullptr) == (result == 1));
    CHECK(View(out) == View(serverOnly ? split.server : split.space));
    SysFreeString(out);
    SysFreeString(held);
}

// Split of a string: its result and parts are the reference's, its result and both
// out-variables agree whichever out-variables are given, and a successful split cuts the text
// where the format says.
void CheckSplit(const OLECHAR* text) {
    const Split split(text);
    CHECK(split.result == 0 || split.result == 1);
    CHECK((split.result == 1) == (split.server != nullptr && split.space != nullptr));
    if (split.result == 0) CHECK(split.server == nullptr && split.space == nullptr);
    const RefSplit expected(View(text));
    CHECK(split.result == int{expected.ok});
    if (expected.ok) {
        CHECK(View(split.server) == expected.server && View(split.space) == expected.space);
    }

    CHECK(SplitConnectionString(text, nullptr, nullptr) == split.result);
    CheckOneOut(text, true, split);
    CheckOneOut(text, false, split);
    if (split.result == 0) return;

    const TextView input = View(text);
    const TextView serverPart = View(split.server);
    const TextView spacePart = View(split.space);
    CHECK(split.server[serverPart.size()] == 0 && split.space[spacePart.size()] == 0);
    CHECK(input.find(serverPart) != input.npos);
    CHECK(input.ends_with(spacePart));
    CHECK(spacePart.empty() || !IsBlank(spacePart.front()));
    // The server part: a beginning of the protocol tag, a colon, the server, "[", the port
    // and the first "]" after that "[".
    const size_t colon = serverPart.find(u':');
    CHECK(colon != serverPart.npos && colon <= kProtocolTag.size());
    CHECK(serverPart.substr(0, colon) == kProtocolTag.substr(0, colon));
    const size_t open = serverPart.find(u'[', colon + 1);
    CHECK(open != serverPart.npos && serverPart.find(u']', open + 1) == serverPart.size() - 1);

    // Make joins the parts again. The joined string splits into the same parts, and so is
    // equivalent to the input, except when the protocol segment is empty: the server part
    // then begins with a colon, which a new split skips as the optional leading colon.
    BSTR made = MakeConnectionString(split.server, split.space);
    CHECK(made != nullptr);
    Text joined(serverPart);
    if (!spacePart.empty()) joined.append(u":").append(spacePart);
    CHECK(View(made) == joined);
    const int equivalent = serverPart.front() != u':' || View(made) == input;
    CHECK(ConnectionStringsEquivalent(made, text) == equivalent);
    CHECK(ConnectionStringsEquivalent(text, made) == equivalent);
    SysFreeString(made);
}

// Make joins its arguments verbatim, and gives null without a server part.
void CheckMake(const OLECHAR* server, const OLECHAR* space) {
    BSTR made = MakeConnectionString(server, space);
    if (View(server).empty()) {
        CHECK(made == nullptr);
        return;
    }
    Text joined(View(server));
    if (!View(space).empty()) joined.append(u":").append(View(space));
    CHECK(made != nullptr && View(made) == joined && made[joined.size()] == 0);
    SysFreeString(made);
}

// ConnectionStringsEquivalent answers as the reference does, in both orders.
void CheckPair(const OLECHAR* first, const OLECHAR* second, const Text& defaultNs) {
    const int expected = RefEquivalent(View(first), View(second), defaultNs);
    CHECK(ConnectionStringsEquivalent(first, second) == expected);
    CHECK(ConnectionStringsEquivalent(second, first) == expected);
}

void CheckEquivalence(const OLECHAR* a, const OLECHAR* b, const OLECHAR* c, const Text& defaultNs) {
    CheckPair(a, b, defaultNs);
    CheckPair(b, c, defaultNs);
    CheckPair(a, c, defaultNs);
    const int ab = ConnectionStringsEquivalent(a, b);
    const int bc = ConnectionStringsEquivalent(b, c);
    const int ac = ConnectionStringsEquivalent(a, c);
    CHECK(ConnectionStringsEquivalent(a, a) == 1);
    const ExactCopy copy(View(a));  // equal text in another buffer
    CHECK(ConnectionStringsEquivalent(a, copy.get()) == 1);
    CHECK(ConnectionStringsEquivalent(a, nullptr) == ConnectionStringsEquivalent(a, u""));
    if (ab && bc) CHECK(ac);
    if (ab && ac) CHECK(bc);
}

// Strings that share a's server part (when a has one) but differ in lead and namespace, so
// that a comparison with a gets past the server part and, with c = "USER" or empty, into
// the default namespace; and a's server part cut short by one character.
std::vector<Text> SameServer(TextView a, TextView b, TextView c) {
    const RefSplit split(a);
    if (!split.ok) return {};
    const Text server(split.server);
    const Text shorter(split.server.substr(0, split.server.size() - 1));
    return {
        server + Text(c),
        Text(b) + server + Text(c),
        u" :" + server + u" : " + Text(c),
        u"\"" + Text(c) + u"\" " + server,
        server + u":" + Text(split.space),
        shorter + Text(c),
        Text(a) + Text(c),
    };
}

// The library's functions on views answer as the reference does, also for texts that hold
// zero characters, which they read as ordinary characters. Each view is copied into a block
// of exactly its size, so that AddressSanitizer reports a read past its end.
void CheckViews(TextView viewA, TextView viewB, const Text& defaultNs) {
    const std::unique_ptr<char16_t[]> blockA(new char16_t[viewA.size()]);
    const std::unique_ptr<char16_t[]> blockB(new char16_t[viewB.size()]);
    std::copy(viewA.begin(), viewA.end(), blockA.get());
    std::copy(viewB.begin(), viewB.end(), blockB.get());
    const TextView a(blockA.get(), viewA.size());
    const TextView b(blockB.get(), viewB.size());

    const tavix::ContextGuard guard;  // the library's resources, as inside an export
    for (const TextView text : {a, b}) {
        const RefSplit expected(text);
        tavix::WideSplit parts;
        CHECK(tavix::SplitWide(text, parts) == expected.ok);
        if (expected.ok) {
            CHECK(parts.serverPart == expected.server && parts.namespacePart == expected.space);
        }
    }
    CHECK(tavix::WideStringsEquivalent(a, b, defaultNs) == (RefEquivalent(a, b, defaultNs) == 1));
    CHECK(tavix::WideStringsEquivalent(b, a, defaultNs) == (RefEquivalent(b, a, defaultNs) == 1));
}

std::vector<Text> Pieces(const uint8_t* data, size_t size) {
    std::vector<Text> pieces(1);
    for (size_t i = 0; i + 1 < size; i += 2) {
        char16_t unit;
        std::memcpy(&unit, data + i, sizeof unit);
        if (unit == 0) {
            pieces.emplace_back();
        } else {
            pieces.back().push_back(unit);
        }
    }
    return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const Text defaultNs = DefaultNamespace();
    CHECK(!defaultNs.empty());

    const uint8_t flags = data[0];
    std::vector<Text> pieces = Pieces(data + 1, size - 1);
    pieces.resize(std::max<size_t>(pieces.size(), 3));
    const ExactCopy exactA(pieces[0]), exactB(pieces[1]), exactC(pieces[2]);
    const OLECHAR* a = (flags & 1) ? nullptr : exactA.get();
    const OLECHAR* b = (flags & 2) ? nullptr : exactB.get();
    const OLECHAR* c = exactC.get();

    CheckSplit(a);
    CheckSplit(b);
    CheckMake(a, b);
    CheckEquivalence(a, b, c, defaultNs);

    for (const Text& text : SameServer(View(a), View(b), View(c))) {
        const ExactCopy same(text);
        CheckSplit(same.get());
        CheckPair(a, same.get(), defaultNs);
        CheckPair(b, same.get(), defaultNs);
    }

    // Views: the three strings, and the whole input read as one text with its zeros.
    CheckViews(View(a), View(b), defaultNs);
    Text whole = pieces[0];
    for (size_t i = 1; i < pieces.size(); ++i) whole.append(1, u'\0').append(pieces[i]);
    CheckViews(whole, View(c), defaultNs);
    CheckViews(TextView(whole).substr(0, whole.size() / 2), whole, defaultNs);
    return 0;
}
