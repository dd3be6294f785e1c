// Fuzzes the 8-bit connection-string parser and formatter of ConnectionRecord.
//
// Input: one flag byte, then text that is cut at zero bytes into pieces.
//   Flag bit 0 passes a null name, bit 1 a null connection string; bits 2 and 3 choose the
//   fields that hold the arguments when Parse is given the record's own fields.
//   One piece is the connection string (with an empty name); with two or more, the first is
//   the name and the second the connection string.
// The same pieces also make a record directly (server, port, namespace, name: pieces 0 to 3,
// empty when missing), so that Format and Parse are tried on records that no parse yields.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "connstring/connection_record.h"
#include "frame/context/boundary.h"
#include "frame/context/library_context.h"
#include "resources/strings.h"

namespace {

using tavix::ConnectionRecord;

#define CHECK(condition) \
    do { \
        if (!(condition)) Fail(#condition, __LINE__); \
    } while (0)

[[noreturn]] void Fail(const char* what, int line) {
    std::fprintf(stderr, "fuzz_record: property violated (line %d): %s\n", line, what);
    std::abort();
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view View(const char* text) { return text ? std::string_view{text} : std::string_view{}; }

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != text.npos; }

std::string_view SkipBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    return text;
}

// A name as it stands between quotes: every double quote doubled.
std::string Quoted(std::string_view name) {
    std::string out;
    for (char c : name) {
        out.push_back(c);
        if (c == '"') out.push_back('"');
    }
    return out;
}

std::vector<std::string> Pieces(std::string_view text) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t zero; (zero = text.find('\0', start)) != text.npos; start = zero + 1) {
        pieces.emplace_back(text.substr(start, zero - start));
    }
    pieces.emplace_back(text.substr(start));
    return pieces;
}

// Values no parse writes into the numeric fields, and texts to tell "untouched" apart.
void Prefill(ConnectionRecord& record) {
    record.iconFilename.reset(tavix::NewBstr(tavix::WideFromUtf16(u"sentinel.ico")));
    record.iconIndex = 103;
    record.keyNumber = 104;
    record.name = "\x01name";
    record.server = "\x01server";
    record.port = "\x01port";
    record.namespaceName = "\x01namespace";
}

void CopyFields(const ConnectionRecord& from, ConnectionRecord& to) {
    to.iconIndex = from.iconIndex;
    to.keyNumber = from.keyNumber;
    to.name = from.name;
    to.server = from.server;
    to.port = from.port;
    to.namespaceName = from.namespaceName;
}

struct Texts {
    std::string_view defaultNamespace = tavix::LoadString(tavix::resources::kStrDefaultNamespace);
    std::string_view nameless = tavix::LoadString(tavix::resources::kStrNameless);
    tavix::ParseDefaults defaults{defaultNamespace, nameless, nullptr};  // UTF-8: no lead bytes
};

// Format followed by Parse with the record's own name gives back server, port and namespace
// exactly when no "[" in the server or "]" in the port moves the brackets the parse finds,
// and the namespace is neither empty (it would come back as the default namespace) nor
// begins with a blank (skipped after the "]"). Leading blanks of the server, colons and
// quotes anywhere, and a namespace that begins with a colon all survive. (UTF-8 has no lead
// bytes that could swallow a bracket.)
bool FormatRoundTrips(const ConnectionRecord& record) {
    return record.server.find('[') == std::string::npos &&
           record.port.find(']') == std::string::npos && !record.namespaceName.empty() &&
           !IsBlank(record.namespaceName.front());
}

void CheckRoundTrip(const ConnectionRecord& record, const Texts& texts) {
    std::string text;
    record.Format(text);
    std::string expected = std::string(tavix::kProtocolTag) + ":" + record.server + "[" + record.port + "]";
    if (!record.namespaceName.empty()) expected += ":" + record.namespaceName;
    CHECK(text == expected);

    ConnectionRecord again;
    CopyFields(record, again);
    // A formatted string always has the protocol colon, a "[" after it and a "]" after that.
    CHECK(again.Parse(record.name.c_str(), text.c_str(), texts.defaults));
    const bool same = again.server == record.server && again.port == record.port &&
                      again.namespaceName == record.namespaceName;
    CHECK(same == FormatRoundTrips(record));

    // The name argument comes back without its leading blanks, or as "Nameless".
    const std::string_view name = SkipBlanks(record.name);
    CHECK(again.name == (name.empty() ? texts.nameless : name));

    CHECK(again.SameTarget(record, texts.defaultNamespace) == record.SameTarget(again, texts.defaultNamespace));
    if (same) {
        CHECK(again.SameTarget(record, texts.defaultNamespace));
        CHECK(again.Equals(record) == (again.name == record.name));
    }
}

void CheckParse(const char* nameArg, const char* connArg, const Texts& texts) {
    ConnectionRecord record;
    Prefill(record);
    const BSTR icon = record.iconFilename.get();
    const bool parsed = record.Parse(nameArg, connArg, texts.defaults);

    // Parse touches only the four texts, and those only when it succeeds.
    CHECK(record.iconIndex == 103 && record.keyNumber == 104 && record.iconFilename.get() == icon);
    if (!parsed) {
        CHECK(record.name == "\x01name" && record.server == "\x01server" &&
              record.port == "\x01port" && record.namespaceName == "\x01namespace");
        return;
    }

    const std::string_view conn = View(connArg);
    const std::string_view name = View(nameArg);
    CHECK(!SkipBlanks(conn).empty());
    CHECK(!record.name.empty());
    CHECK(record.name == texts.nameless || Contains(name, record.name) ||
          Contains(conn, record.name) || Contains(conn, Quoted(record.name)));
    CHECK(Contains(conn, ":" + record.server + "[" + record.port + "]"));
    CHECK(record.server.find('[') == std::string::npos);
    CHECK(record.port.find(']') == std::string::npos);
    CHECK(record.namespaceName == texts.defaultNamespace || conn.ends_with(record.namespaceName));
    CHECK(!record.namespaceName.empty() && !IsBlank(record.namespaceName.front()));
    CHECK(FormatRoundTrips(record));

    CHECK(record.Equals(record));
    CHECK(record.SameTarget(record, texts.defaultNamespace));

    // An empty namespace and the default namespace address the same target; nothing else does.
    ConnectionRecord bare;
    CopyFields(record, bare);
    bare.namespaceName.clear();
    const bool isDefault = record.namespaceName == texts.defaultNamespace;
    CHECK(record.SameTarget(bare, texts.defaultNamespace) == isDefault);
    CHECK(bare.SameTarget(record, texts.defaultNamespace) == isDefault);
    CHECK(record.Equals(bare) == record.namespaceName.empty());

    CheckRoundTrip(record, texts);
}

// Parse may be given the record's own fields as its arguments: it gives what it gives for
// separate copies of the same texts. The connection string is held in field choice (0 to 3:
// name, server, port, namespace), the name in the next one.
void CheckAliasedParse(const std::string& name, const std::string& conn, unsigned choice,
                       const tavix::ParseDefaults& defaults) {
    using Field = std::string ConnectionRecord::*;
    static constexpr Field kFields[] = {&ConnectionRecord::name, &ConnectionRecord::server,
                                        &ConnectionRecord::port, &ConnectionRecord::namespaceName};
    const Field connField = kFields[choice % 4];
    const Field nameField = kFields[(choice + 1) % 4];
    ConnectionRecord separate;
    ConnectionRecord self;
    Prefill(separate);
    Prefill(self);
    separate.*nameField = self.*nameField = name;
    separate.*connField = self.*connField = conn;
    const bool parsed = separate.Parse(name.c_str(), conn.c_str(), defaults);
    CHECK(self.Parse((self.*nameField).c_str(), (self.*connField).c_str(), defaults) == parsed);
    CHECK(self.name == separate.name && self.server == separate.server &&
          self.port == separate.port && self.namespaceName == separate.namespaceName);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    const std::vector<std::string> pieces =
        Pieces(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    const auto piece = [&](size_t i) { return i < pieces.size() ? pieces[i] : std::string{}; };

    tavix::ContextGuard guard;
    const Texts texts;
    CHECK(!texts.defaultNamespace.empty() && !texts.nameless.empty());

    const std::string name = pieces.size() > 1 ? pieces[0] : std::string{};
    const std::string& conn = pieces.size() > 1 ? pieces[1] : pieces[0];
    CheckParse((flags & 1) ? nullptr : name.c_str(), (flags & 2) ? nullptr : conn.c_str(), texts);
    CheckAliasedParse(name, conn, flags >> 2, texts.defaults);

    ConnectionRecord made;
    made.server = piece(0);
    made.port = piece(1);
    made.namespaceName = piece(2);
    made.name = piece(3);
    CHECK(made.Equals(made));
    CHECK(made.SameTarget(made, texts.defaultNamespace));
    CheckRoundTrip(made, texts);
    return 0;
}
