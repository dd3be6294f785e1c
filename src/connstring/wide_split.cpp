#include "connstring/wide_split.h"

#include "connstring/connection_record.h"

namespace tavix {

namespace {

// The parser is written once over a pointer and an end marker, so that it serves views (the end
// is a position) and zero-terminated strings (the end is the terminator, found when the parser
// reaches it, so the string is never measured first) alike. A character is read only once the
// parser knows that the text has not ended before it: nothing beyond a terminator is read.

// The end of a view: a position.
struct ViewEnd {
    const WChar* end;
    bool AtEnd(const WChar* p) const noexcept { return p == end; }
    // Whether the text at p is c (and not the end).
    bool Is(const WChar* p, WChar c) const noexcept { return p != end && *p == c; }
};

// The end of a zero-terminated string: its terminator.
struct Terminator {
    bool AtEnd(const WChar* p) const noexcept { return *p == 0; }
    // Whether the text at p is c. c is never the zero character here (the parser looks for
    // punctuation, the protocol tag and text taken from another zero-terminated string), so a
    // match is never the terminator and needs no test of its own.
    bool Is(const WChar* p, WChar c) const noexcept { return *p == c; }
};

// The first position at or after p at which stop(position) holds; the text must have one (its
// end stops every scan below). Four positions are tested per round, so that less time goes to
// the loop than to the tests, but strictly in order: a position is tested, and its character
// read, only after the one before it did not stop the scan.
template <typename Stop>
const WChar* ScanTo(const WChar* p, Stop stop) noexcept {
    for (;; p += 4) {
        if (stop(p)) return p;
        if (stop(p + 1)) return p + 1;
        if (stop(p + 2)) return p + 2;
        if (stop(p + 3)) return p + 3;
    }
}

// Space, horizontal tab, line feed, vertical tab, form feed and carriage return.
bool IsBlank(WChar c) noexcept { return c == ' ' || (c >= 9 && c <= 13); }

// Blanks are rare and few, so this is a plain loop.
template <typename End>
const WChar* SkipBlanks(const WChar* p, End end) noexcept {
    while (!end.AtEnd(p) && IsBlank(*p)) ++p;
    return p;
}

// The first c at or after p, or the end.
template <typename End>
const WChar* Find(const WChar* p, End end, WChar c) noexcept {
    return ScanTo(p, [end, c](const WChar* q) { return end.AtEnd(q) || *q == c; });
}

// The position after prefix when the text at p begins with it, else null. Four characters per
// round, as in ScanTo, each read only after the one before it matched.
template <typename End>
const WChar* AfterPrefix(const WChar* p, End end, WStringView prefix) noexcept {
    const size_t n = prefix.size();
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        if (!end.Is(p + i, prefix[i]) || !end.Is(p + i + 1, prefix[i + 1]) ||
            !end.Is(p + i + 2, prefix[i + 2]) || !end.Is(p + i + 3, prefix[i + 3])) {
            return nullptr;
        }
    }
    for (; i < n; ++i) {
        if (!end.Is(p + i, prefix[i])) return nullptr;
    }
    return p + n;
}

// A colon between blanks, optional, after the quoted sections and after the server part.
template <typename End>
const WChar* SkipOptionalColon(const WChar* p, End end) noexcept {
    return end.Is(p, ':') ? SkipBlanks(p + 1, end) : p;
}

// Passes over what may stand in front of the protocol: blanks and any number of quoted
// sections (each up to and including the next double quote, contents ignored), then one
// optional colon and blanks. Returns where the protocol segment begins, or null when the text
// ends inside a quoted section.
template <typename End>
const WChar* SkipLead(const WChar* p, End end) noexcept {
    p = SkipBlanks(p, end);
    while (end.Is(p, '"')) {
        p = Find(p + 1, end, '"');
        if (end.AtEnd(p)) return nullptr;
        p = SkipBlanks(p + 1, end);
    }
    return SkipOptionalColon(p, end);
}

// The server part that begins at p: the protocol segment up to the first colon, which must be
// a beginning of "cn_iptcp" (possibly empty), then everything up to the first "]" after the
// first "[" after that colon. Returns the position just after that "]", or null.
template <typename End>
const WChar* ServerPartEnd(const WChar* p, End end) noexcept {
    // No colon occurs in the tag, so the segment is a beginning of the tag exactly when the
    // longest common beginning of the text and the tag is followed by the colon.
    size_t k = 0;
    while (k < kProtocolTag.size() && end.Is(p + k, static_cast<WChar>(kProtocolTag[k]))) ++k;
    if (!end.Is(p + k, ':')) return nullptr;
    const WChar* open = Find(p + k + 1, end, '[');
    if (end.AtEnd(open)) return nullptr;
    const WChar* close = Find(open + 1, end, ']');
    if (end.AtEnd(close)) return nullptr;
    return close + 1;
}

// A string cut into its parts; the namespace part runs from `space` to the end of the text.
struct Cut {
    const WChar* server;
    const WChar* serverEnd;
    const WChar* space;

    WStringView ServerPart() const noexcept {
        return WStringView(server, static_cast<size_t>(serverEnd - server));
    }
};

// After the server part: blanks, an optional colon, blanks, and the namespace part.
template <typename End>
const WChar* NamespaceBegin(const WChar* serverEnd, End end) noexcept {
    return SkipOptionalColon(SkipBlanks(serverEnd, end), end);
}

template <typename End>
bool Split(const WChar* text, End end, Cut& cut) noexcept {
    const WChar* server = SkipLead(text, end);
    if (server == nullptr) return false;
    const WChar* serverEnd = ServerPartEnd(server, end);
    if (serverEnd == nullptr) return false;
    cut = {server, serverEnd, NamespaceBegin(serverEnd, end)};
    return true;
}

// Whether the text from a to its end equals the text from b to its end.
template <typename EndA, typename EndB>
bool SameText(const WChar* a, EndA aEnd, const WChar* b, EndB bEnd) noexcept {
    while (!aEnd.AtEnd(a) && !bEnd.AtEnd(b) && *a == *b) {
        ++a;
        ++b;
    }
    return aEnd.AtEnd(a) && bEnd.AtEnd(b);
}

// Whether a namespace part (running to its end) is the default namespace: empty, or
// defaultNamespace when that is not empty.
template <typename End>
bool IsDefaultNamespace(const WChar* space, End end, WStringView defaultNamespace) noexcept {
    if (end.AtEnd(space)) return true;
    const WChar* const text = defaultNamespace.data();
    return !defaultNamespace.empty() &&
           SameText(space, end, text, ViewEnd{text + defaultNamespace.size()});
}

template <typename End>
bool Equivalent(const WChar* first, End firstEnd, const WChar* second, End secondEnd,
                WStringView defaultNamespace) noexcept {
    const bool firstEmpty = firstEnd.AtEnd(first);
    const bool secondEmpty = secondEnd.AtEnd(second);
    if (firstEmpty || secondEmpty) return firstEmpty && secondEmpty;

    // Identical strings are equivalent even when they cannot be split. When the first one can
    // be split, an identical second one splits into the same parts and is equivalent by the
    // rules below, so the texts need comparing only here.
    Cut a;
    if (!Split(first, firstEnd, a)) return SameText(first, firstEnd, second, secondEnd);

    // The second string needs the same server part, and is not split on its own: a server
    // part fixes where its protocol colon, its "[" and its "]" are (the first of each after
    // the lead), so the second string splits into the same server part exactly when, after
    // its lead, it begins with the first one's.
    const WChar* b = SkipLead(second, secondEnd);
    if (b == nullptr) return false;
    b = AfterPrefix(b, secondEnd, a.ServerPart());
    if (b == nullptr) return false;
    const WChar* const bSpace = NamespaceBegin(b, secondEnd);

    if (SameText(a.space, firstEnd, bSpace, secondEnd)) return true;
    return IsDefaultNamespace(a.space, firstEnd, defaultNamespace) &&
           IsDefaultNamespace(bSpace, secondEnd, defaultNamespace);
}

// What a null pointer reads as.
constexpr WChar kEmpty[1] = {0};

const WChar* NonNull(const WChar* text) noexcept { return text != nullptr ? text : kEmpty; }

ViewEnd EndOf(WStringView text) noexcept { return ViewEnd{text.data() + text.size()}; }

}  // namespace

bool SplitWide(WStringView text, WideSplit& parts) noexcept {
    Cut cut;
    if (!Split(text.data(), EndOf(text), cut)) return false;
    parts.serverPart = cut.ServerPart();
    parts.namespacePart = text.substr(static_cast<size_t>(cut.space - text.data()));
    return true;
}

// The zero-terminated forms serve the exports on every call. flatten has the compiler inline
// the steps of the parse into one function each, saving the calls between them.

[[gnu::flatten]] bool SplitWide(const WChar* text, WideSplit& parts) noexcept {
    Cut cut;
    if (!Split(NonNull(text), Terminator{}, cut)) return false;
    parts.serverPart = cut.ServerPart();
    parts.namespacePart = WStringView(cut.space, WideLength(cut.space));
    return true;
}

bool WideStringsEquivalent(WStringView first, WStringView second, WStringView defaultNamespace) noexcept {
    return Equivalent(first.data(), EndOf(first), second.data(), EndOf(second), defaultNamespace);
}

[[gnu::flatten]] bool WideStringsEquivalent(const WChar* first, const WChar* second,
                                            WStringView defaultNamespace) noexcept {
    return Equivalent(NonNull(first), Terminator{}, NonNull(second), Terminator{}, defaultNamespace);
}

}  // namespace tavix
