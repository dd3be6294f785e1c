// Black-box conformance test: loads the built library by file name at run time, resolves its
// exports by name and checks their exact results. The same source runs natively on Linux
// against libTavixConnect.so and under Wine against TavixConnect.dll.
//
// usage: conformance_test LIBRARY [gtest options]
#include "TavixConnect.h"
#include "export_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#if defined(_WIN32)
#  include <windows.h>
#  define W(text) L##text
#else
#  include <dlfcn.h>
#  include <unistd.h>
#  define W(text) u##text
#endif

namespace {

using WideString = std::basic_string<OLECHAR>;

std::string g_libraryPath;
void* g_library = nullptr;

// A BSTR pointer value that the library must overwrite and never free.
BSTR const kSentinel = reinterpret_cast<BSTR>(static_cast<uintptr_t>(0x5EB7'1000));

#if defined(_WIN32)
void* Open(const std::string& path) { return LoadLibraryA(path.c_str()); }
void Close(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
void* Symbol(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(g_library), name));
}
// The library's module handle as the library itself names modules.
HMODULE LibraryModule() { return static_cast<HMODULE>(g_library); }
#else
void* Open(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
void Close(void* library) { dlclose(library); }
void* Symbol(const char* name) { return dlsym(g_library, name); }
HMODULE LibraryModule() {
    Dl_info info{};
    return dladdr(Symbol("GetLocalizedResources"), &info) ? static_cast<HMODULE>(info.dli_fbase) : nullptr;
}
#endif

// An export of the library, resolved by its name, with the type the header declares. On
// Windows the automation strings and icons are the system's; elsewhere the library exports
// them itself.
#define EXPORT(name) (reinterpret_cast<decltype(&::name)>(Symbol(#name)))
#if defined(_WIN32)
#  define SYSTEM(name) ::name
#else
#  define SYSTEM(name) EXPORT(name)
#endif

class Conformance : public ::testing::Test {
protected:
    static void SetUpTestSuite() { g_library = Open(g_libraryPath); }
    static void TearDownTestSuite() {
        if (g_library) Close(std::exchange(g_library, nullptr));
    }
    // Every test first checks that the library loads and every listed export resolves.
    void SetUp() override {
        ASSERT_NE(g_library, nullptr) << "cannot load " << g_libraryPath;
        for (const char* name : kTavixExportNames) ASSERT_NE(Symbol(name), nullptr) << name;
    }
    // A second load after the unload starts with the library's process-wide state new.
    static void Reload() {
        TearDownTestSuite();
        SetUpTestSuite();
        ASSERT_NE(g_library, nullptr);
    }
};

// The text of a BSTR, checked to be zero-terminated at its recorded length, which the caller
// then frees: "(null)" for none, "(sentinel)" when the library left kSentinel.
WideString Take(BSTR text) {
    if (text == nullptr) return W("(null)");
    if (text == kSentinel) return W("(sentinel)");
    const unsigned length = SYSTEM(SysStringLen)(text);
    EXPECT_EQ(text[length], OLECHAR(0)) << "BSTR not zero-terminated";
    WideString result(text, length);
    SYSTEM(SysFreeString)(text);
    return result;
}

using ::testing::PrintToString;

TEST_F(Conformance, SplitCutsServerPartAndNamespace) {
    struct Case { const OLECHAR* input; const OLECHAR* server; const OLECHAR* space; };  // null: fails
    const Case cases[] = {
        {W("  :cn_iptcp:h[1] : NS"), W("cn_iptcp:h[1]"), W("NS")},
        {W("\t\n\v\f\r cn:h[1]\r\n:\tNS \t"), W("cn:h[1]"), W("NS \t")},
        {W("\"a\" \"\" \"b\":cn_iptcp: h [ 1 ]x:y[z]"), W("cn_iptcp: h [ 1 ]"), W("x:y[z]")},
        {W("\"a\"\" cn_iptcp:h[1]"), nullptr, nullptr},
        {W("::h[1]"), W(":h[1]"), W("")},
        {W("cn_iptcp:[]:"), W("cn_iptcp:[]"), W("")},
        {W("cn_iptcp:h[1]::NS"), W("cn_iptcp:h[1]"), W(":NS")},
        {W("cn_iptcp:h[[1]]"), W("cn_iptcp:h[[1]"), W("]")},
        {W("cn_iptcp:h]1["), nullptr, nullptr},
        // Only characters 9 to 13 and 32 are blanks.
        {W("\x08" "cn_iptcp:h[1]"), nullptr, nullptr},
        {W("\x0e" "cn_iptcp:h[1]"), nullptr, nullptr},
        {W("cn_iptcpx:h[1]"), nullptr, nullptr},
        {W("cn_iptcp:h"), nullptr, nullptr},
        {nullptr, nullptr, nullptr},
    };
    const auto split = EXPORT(SplitConnectionString);
    for (const Case& c : cases) {
        SCOPED_TRACE(PrintToString(c.input));
        const int result = c.server ? 1 : 0;
        const WideString parts = c.server ? WideString(c.server) + W("|") + c.space : W("(null)|(null)");
        BSTR server = kSentinel, space = kSentinel;
        EXPECT_EQ(split(c.input, &server, &space), result);
        EXPECT_EQ(Take(server) + W("|") + Take(space), parts);  // null on failure
        // Either out-variable may be missing; the result does not change.
        server = space = kSentinel;
        EXPECT_EQ(split(c.input, &server, nullptr), result);
        EXPECT_EQ(split(c.input, nullptr, &space), result);
        EXPECT_EQ(Take(server) + W("|") + Take(space), parts);
        EXPECT_EQ(split(c.input, nullptr, nullptr), result);
    }
}

TEST_F(Conformance, MakeJoinsPartsVerbatim) {
    struct Case { const OLECHAR* server; const OLECHAR* space; const OLECHAR* expected; };  // null: none
    const Case cases[] = {
        {W("cn_iptcp:h[1]"), W(""), W("cn_iptcp:h[1]")},
        {W(" not validated "), W(" x "), W(" not validated : x ")},
        {nullptr, W("NS"), nullptr},
        {nullptr, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Take(EXPORT(MakeConnectionString)(c.server, c.space)), c.expected ? c.expected : W("(null)"))
            << PrintToString(c.server) << " + " << PrintToString(c.space);
    }
}

TEST_F(Conformance, EquivalentComparesServerPartAndNamespace) {
    struct Case { const OLECHAR* first; const OLECHAR* second; int expected; };
    const Case cases[] = {
        {nullptr, W(""), 1},
        {W("x"), W("x"), 1},  // identical, although neither splits
        {W("x"), W("y"), 0},
        {W("cn_iptcp:h[1]"), W(""), 0},
        {W("cn_iptcp:h[1]:NS"), W("cn_iptcp:h[1]:NS "), 0},
        {W("\"One\" cn_iptcp:h[1]:NS"), W("\"Two\" cn_iptcp:h[1] : NS"), 1},
        {W("cn_iptcp:Host[1972]"), W("cn_iptcp:host[1972]"), 0},
        {W("cn_iptcp:h[1]:USER"), W("cn_iptcp:h[1]:"), 1},
    };
    const auto equivalent = EXPORT(ConnectionStringsEquivalent);
    for (const Case& c : cases) {
        SCOPED_TRACE(PrintToString(c.first) + " vs " + PrintToString(c.second));
        EXPECT_EQ(equivalent(c.first, c.second), c.expected);
        EXPECT_EQ(equivalent(c.second, c.first), c.expected);
    }
}

TEST_F(Conformance, AutomationStringsHaveTheWindowsLayout) {
    // The byte count in front of the text and a zero character after it; Windows leaves the
    // text of a string made from null unset, the library zeroes it.
#if defined(_WIN32)
    const char* const zeros = nullptr;
#else
    const char* const zeros = "\0\0\0\0\0\0\0\0\0\0";
#endif
    const OLECHAR pair[] = {'a', 'b', 0xD83D, 0xDE00, 0};
    const struct { const char* what; BSTR text; unsigned length, bytes; const void* content; } cases[] = {
        {"SysAllocString", SYSTEM(SysAllocString)(pair), 4, 8, pair},
        {"SysAllocString empty", SYSTEM(SysAllocString)(W("")), 0, 0, ""},
        {"SysAllocStringLen cut", SYSTEM(SysAllocStringLen)(W("abcdef"), 3), 3, 6, W("abc")},
        {"SysAllocStringLen null", SYSTEM(SysAllocStringLen)(nullptr, 5), 5, 10, zeros},
        {"SysAllocStringByteLen odd", SYSTEM(SysAllocStringByteLen)("abc", 3), 1, 3, "abc"},
        {"SysAllocStringByteLen null", SYSTEM(SysAllocStringByteLen)(nullptr, 4), 2, 4, zeros},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NE(c.text, nullptr);
        const char* bytes = reinterpret_cast<const char*>(c.text);
        uint32_t prefix;
        std::memcpy(&prefix, bytes - 4, sizeof prefix);
        EXPECT_EQ(prefix, c.bytes);
        EXPECT_EQ(SYSTEM(SysStringLen)(c.text), c.length);
        EXPECT_EQ(SYSTEM(SysStringByteLen)(c.text), c.bytes);
        EXPECT_TRUE(c.content == nullptr || std::memcmp(bytes, c.content, c.bytes) == 0);  // null: not checked
        EXPECT_EQ(bytes[c.bytes] | bytes[c.bytes + 1], 0);
        SYSTEM(SysFreeString)(c.text);
    }
    EXPECT_EQ(SYSTEM(SysAllocString)(nullptr), nullptr);
    EXPECT_EQ(SYSTEM(SysStringLen)(nullptr) + SYSTEM(SysStringByteLen)(nullptr), 0u);
    SYSTEM(SysFreeString)(nullptr);
}

// ---- Help -------------------------------------------------------------------------------------

TEST_F(Conformance, HelpWorksOnTheCallersModule) {
    // A program calling directly gets its own module's help directory: the directory of this
    // program ("tests", no "Bin" to replace) followed by "Help".
#if defined(_WIN32)
    char program[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, program, sizeof program);
    const std::string path = program;
#else
    char program[4096] = {};
    const std::string path(program, std::max<ssize_t>(0, readlink("/proc/self/exe", program, sizeof program - 1)));
#endif
    ASSERT_FALSE(path.empty());
    char moduleFileName[261];
    std::memset(moduleFileName, 'x', sizeof moduleFileName);
    const char* directory = EXPORT(getHelpDir)(moduleFileName);
    ASSERT_NE(directory, nullptr);
    EXPECT_EQ(std::string(moduleFileName), path);
    EXPECT_EQ(std::string(directory), path.substr(0, path.find_last_of("\\/")) + "Help");
    EXPECT_EQ(std::string(EXPORT(getHelpDir)(nullptr)), directory);

    // No viewer is ever bound by the library: help stays inert.
    std::string helpFile(599, 'x');
    EXPECT_EQ(EXPORT(initHelp)(helpFile.data(), "%s.chm::/context.txt"), 0);
    EXPECT_STREQ(helpFile.c_str(), "");
    EXPECT_EQ(EXPORT(callHelp)(nullptr, "x.chm::/context.txt", 17, 0), 0);
    EXPECT_EQ(EXPORT(freeHelp)(), 0);
}

// ---- Localized resources ----------------------------------------------------------------------
// The German resource library lies beside the library. The conformance_de_at test runs these
// with LC_ALL=de_AT.UTF-8 (German, Austria: the search finds DEU); otherwise English is the
// user's language and no resource library exists for it.

bool UserIsGerman() {
    const char* locale = std::getenv("LC_ALL");
    return locale != nullptr && std::strncmp(locale, "de_", 3) == 0;
}

TEST_F(Conformance, LocalizedResourcesForTheUsersLanguage) {
    const HMODULE own = LibraryModule();
    ASSERT_NE(own, nullptr);
    const auto localized = EXPORT(GetLocalizedResources);
    const HMODULE chosen = localized("TavixConnect%s.DLL", own);
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen != own, UserIsGerman());
    EXPORT(FreeLocalizedResources)(chosen, own);  // does nothing
    EXPECT_EQ(localized("TavixConnect%s.DLL", own) == own, chosen == own);
    EXPECT_EQ(localized("NoSuchLibrary%s.DLL", own), own);
    EXPECT_EQ(localized("TavixConnect.DLL", own), own);
}

// ---- The connection store ------------------------------------------------------------------
// These tests use the user's store: on Linux a configuration directory made for this program
// (see main), on Windows the registry of the Wine prefix made for the test run.

class Store : public Conformance {
protected:
    void SetUp() override {
        Conformance::SetUp();
        // The table is loaded. The store is this run's own and starts empty: a scratch directory
        // on Linux (main), a new Wine prefix for each ctest run.
        SYSTEM(SysFreeString)(EXPORT(FindConnection)(nullptr, nullptr));
    }
    // The texts call answers for each argument in turn, "|"-separated; "(null)" for none.
    template <class Call>
    static WideString Each(Call call, std::initializer_list<const OLECHAR*> arguments) {
        WideString texts;
        for (const OLECHAR* const& argument : arguments) {
            texts += (&argument == arguments.begin() ? W("") : W("|")) + Take(call(argument));
        }
        return texts;
    }
    // The connection strings of names; the names of connection strings.
    static WideString Find(std::initializer_list<const OLECHAR*> names) {
        return Each([](const OLECHAR* name) { return EXPORT(FindConnection)(name, nullptr); }, names);
    }
    static WideString NameOf(std::initializer_list<const OLECHAR*> strings) {
        return Each(EXPORT(FindConnectionName), strings);
    }
};

TEST_F(Store, SetFindAndDeleteConnections) {
    const auto set = EXPORT(SetConnection);
    EXPECT_EQ(EXPORT(EnumConnections)(), 0);
    EXPECT_EQ(Find({nullptr, W(""), W("Work")}), W("(null)|(null)|(null)"));

    EXPECT_EQ(set(W("Work"), W("cn_iptcp:db1[1972]:SALES"), nullptr, 0, 1), 0);
    EXPECT_EQ(set(nullptr, W("cn_iptcp:h[1]"), nullptr, 0, 1), 0);
    EXPECT_EQ(set(nullptr, W("\"Quoted\" cn_iptcp:q[2]:NS"), nullptr, 0, 0), 0);
    EXPECT_EQ(set(W("Empty"), W(""), nullptr, 0, 1), 0);  // nothing stored

    // By name, and by a connection string that carries the name.
    EXPECT_EQ(Find({W("Work"), W("Nameless"), W("Quoted"), W("Quoted:cn_iptcp:q[2]:NS"), W("Empty")}),
              W("cn_iptcp:db1[1972]:SALES|cn_iptcp:h[1]:USER|cn_iptcp:q[2]:NS|cn_iptcp:q[2]:NS|(null)"));
    // USER and no namespace are the same; a name another server has is numbered, in memory.
    EXPECT_EQ(NameOf({W("cn_iptcp:db1[1972]:SALES"), W("cn_iptcp:h[1]:USER"), W("cn_iptcp:none[1]"),
                      W("Work:cn_iptcp:other[1]"), nullptr}),
              W("Work|Nameless|(null)|Work1|(null)"));

    EXPECT_EQ(EXPORT(DeleteConnection)(W("Work")), 1);
    EXPECT_EQ(EXPORT(DeleteConnection)(nullptr), 0);
    EXPECT_EQ(Find({W("Work")}), W("(null)"));

    // What was saved survives an unload; what was not saved does not. FindConnectionName
    // reads the store first.
    Reload();
    EXPECT_EQ(NameOf({W("cn_iptcp:db1[1972]:SALES")}), W("Work"));
    EXPECT_EQ(Find({W("Work"), W("Nameless"), W("Quoted"), W("Work1")}),
              W("cn_iptcp:db1[1972]:SALES|cn_iptcp:h[1]:USER|(null)|(null)"));

    // Neither a name nor a connection string: only the save, of what is in memory.
    EXPECT_EQ(set(W("Later"), W("cn_iptcp:l[1]"), nullptr, 0, 0), 0);
    EXPECT_EQ(set(nullptr, nullptr, nullptr, 0, 1), 0);
    Reload();
    EXPECT_EQ(Find({W("Later"), W("Nameless")}), W("cn_iptcp:l[1]:USER|cn_iptcp:h[1]:USER"));
}

// The thread's last error after a store call: GetLastError() on Windows, errno elsewhere. Each
// call starts from a sentinel, so that 0 is the library's own answer.
struct LastError { long windows; int posix; };
constexpr long kSentinelError = 0x5EB7;
#if defined(_WIN32)
void ArmLastError() { SetLastError(kSentinelError); }
long TakeLastError() { return static_cast<long>(GetLastError()); }
long Expected(LastError error) { return error.windows; }
#else
void ArmLastError() { errno = static_cast<int>(kSentinelError); }
long TakeLastError() { return errno; }
long Expected(LastError error) { return error.posix; }
#endif

// Results keep their original meaning; why a call found, stored or saved nothing is its last
// error. Names the store cannot hold and strings it would not read back are refused.
TEST_F(Store, OutcomesAreTheThreadsLastError) {
    const LastError done{0, 0}, notFound{2, ENOENT}, refused{87, EINVAL};
    // Stored as "cn_iptcp:<server>[1]:USER": 17 characters besides the server's.
    const auto ofLength = [](size_t length) {
        return W("cn_iptcp:") + WideString(length - 17, OLECHAR('s')) + W("[1]");
    };
    const WideString longest = ofLength(255), longString = ofLength(256);
    struct Case { const char* what; std::function<long()> call; long result; LastError error; };
    const auto set = [](const OLECHAR* name, const OLECHAR* text, int save) {
        return static_cast<long>(EXPORT(SetConnection)(name, text, nullptr, 0, save));
    };
    const auto found = [](const OLECHAR* name) { return static_cast<long>(Find({name}) != W("(null)")); };
    const Case cases[] = {
        {"set and save", [&] { return set(W("Kept"), W("cn_iptcp:k[1]"), 1); }, 0, done},
        {"find it", [&] { return found(W("Kept")); }, 1, done},
        {"find none", [&] { return found(W("Nope")); }, 0, notFound},
        {"line break", [&] { return set(W("Line\nBreak"), W("cn_iptcp:s[1]"), 1); }, 0, refused},
        {"not a connection string", [&] { return set(W("X"), W("cn_iptcp:h"), 1); }, 0, refused},
        {"string of 255", [&] { return set(W("Edge"), longest.c_str(), 1); }, 0, done},
        {"string over 255", [&] { return set(W("Long"), longString.c_str(), 1); }, 0, refused},
        {"refused names are not there", [&] { return found(W("Line\nBreak")) + found(W("Long")); }, 0, notFound},
        {"the longest is there", [&] { return found(W("Edge")); }, 1, done},
        {"delete none", [&] { return static_cast<long>(EXPORT(DeleteConnection)(W("Nope"))); }, 0, notFound},
        {"default none", [&] { return static_cast<long>(EXPORT(SetDefaultConnection)(W("Nope"))); }, 0, notFound},
        {"default", [&] { return static_cast<long>(EXPORT(SetDefaultConnection)(W("kept"))); }, 1, done},
        {"only save", [&] { return set(nullptr, nullptr, 1); }, 0, done},
    };
    for (const Case& c : cases) {
        ArmLastError();
        EXPECT_EQ(c.call(), c.result) << c.what;
        EXPECT_EQ(TakeLastError(), Expected(c.error)) << c.what;
    }
}

// One name is one connection, however its case is written: a set under another case replaces
// it, and the store keeps one key.
TEST_F(Store, NamesCompareWithoutRegardToCase) {
    const auto set = EXPORT(SetConnection);
    ASSERT_EQ(set(W("echo"), W("cn_iptcp:quiet[1]"), nullptr, 0, 1), 0);
    ASSERT_EQ(set(W("ECHO"), W("cn_iptcp:loud[2]"), nullptr, 0, 1), 0);
    EXPECT_EQ(Find({W("echo")}), W("cn_iptcp:loud[2]:USER"));
    Reload();
    EXPECT_EQ(Find({W("Echo")}), W("cn_iptcp:loud[2]:USER"));
    EXPECT_EQ(NameOf({W("cn_iptcp:loud[2]"), W("cn_iptcp:quiet[1]")}), W("ECHO|(null)"));
}

// Start-up made the German library the resource source: an unnamed connection is "Namenlos".
TEST_F(Store, UnnamedConnectionIsNamedInTheUsersLanguage) {
    if (!UserIsGerman()) GTEST_SKIP() << "run with LC_ALL=de_AT.UTF-8 (the conformance_de_at test)";
    EXPORT(DeleteConnection)(W("Nameless"));  // saved by another test, perhaps
    ASSERT_EQ(EXPORT(SetConnection)(nullptr, W("cn_iptcp:h[1]"), nullptr, 0, 0), 0);
    EXPECT_EQ(Find({W("Namenlos"), W("Nameless")}), W("cn_iptcp:h[1]:USER|(null)"));
}

TEST_F(Store, IconsAreNewHandlesForTheCaller) {
    ASSERT_EQ(EXPORT(SetConnection)(W("Missing"), W("cn_iptcp:m[1]"), W("no-such-file.ico"), 0, 0), 0);
    HICON icon = nullptr;
    EXPECT_EQ(Take(EXPORT(FindConnection)(W("Missing"), &icon)), W("cn_iptcp:m[1]:USER"));
    EXPECT_NE(icon, nullptr);  // the marker for a file without icons
    EXPECT_NE(SYSTEM(DestroyIcon)(icon), 0);
    HICON untouched = reinterpret_cast<HICON>(kSentinel);
    EXPECT_EQ(EXPORT(FindConnection)(W("Unknown"), &untouched), nullptr);
    EXPECT_EQ(untouched, reinterpret_cast<HICON>(kSentinel));
}

TEST_F(Store, DefaultConnectionIsWrittenAtOnce) {
    const auto setDefault = EXPORT(SetDefaultConnection);
    ASSERT_EQ(EXPORT(SetConnection)(W("A"), W("cn_iptcp:a[1]"), nullptr, 0, 1), 0);
    ASSERT_EQ(EXPORT(SetConnection)(W("B"), W("cn_iptcp:b[1]"), nullptr, 0, 1), 0);
    EXPECT_EQ(setDefault(W("B")), 1);
    ASSERT_EQ(EXPORT(SetConnection)(W("B"), W("cn_iptcp:b[2]"), nullptr, 0, 0), 0);
    Reload();
    // The setters do not read the store: on a table never loaded they find nothing.
    EXPECT_EQ(EXPORT(SetDefaultConnection)(W("A")), 0);
    EXPECT_EQ(EXPORT(DeleteConnection)(W("A")), 0);
    EXPECT_EQ(Find({W("B")}), W("cn_iptcp:b[1]:USER"));  // the replacement was never saved
    EXPECT_EQ(EXPORT(SetDefaultConnection)(W("A")), 1);
}

#if !defined(_WIN32)
// Without a window system the dialog cannot be shown: every input gives 0 and leaves what the
// caller passed exactly as it was (the same strings, the same icon value), and the store keeps
// its connections. (Where the dialog can be shown, its own tests drive it.)
TEST_F(Store, ConnectionDialogWithoutAWindowSystemTouchesNothing) {
    ASSERT_EQ(EXPORT(SetConnection)(W("Kept"), W("cn_iptcp:k[1]"), nullptr, 0, 1), 0);
    const WideString longName(256, W('n'));
    // A null name or connection string: no variable; icon: whether there is one.
    struct Case { const OLECHAR* name; const OLECHAR* connString; const OLECHAR* title; bool icon; };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, false},
        {W("Kept"), W("cn_iptcp:k[1]"), W("Pick"), true},
        {longName.c_str(), W("Other:cn_iptcp:o[65536]"), nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(PrintToString(c.name) + " " + PrintToString(c.connString));
        BSTR name = c.name ? SYSTEM(SysAllocString)(c.name) : nullptr;
        BSTR connString = c.connString ? SYSTEM(SysAllocString)(c.connString) : nullptr;
        const BSTR givenName = name, givenConnString = connString;
        HICON icon = reinterpret_cast<HICON>(kSentinel);
        errno = 0;
        EXPECT_EQ(EXPORT(ConnectionDialog)(c.name ? &name : nullptr, c.connString ? &connString : nullptr,
                                           c.title, c.icon ? &icon : nullptr),
                  0);
        EXPECT_EQ(errno, ENXIO);  // no window system, not a cancel
        EXPECT_EQ(name, givenName);
        EXPECT_EQ(connString, givenConnString);
        EXPECT_EQ(Take(name), c.name ? c.name : W("(null)"));
        EXPECT_EQ(Take(connString), c.connString ? c.connString : W("(null)"));
        EXPECT_EQ(icon, reinterpret_cast<HICON>(kSentinel));
    }
    EXPECT_EQ(Find({W("Kept")}), W("cn_iptcp:k[1]:USER"));
}
#endif

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: conformance_test LIBRARY [gtest options]\n");
        return 2;
    }
    g_libraryPath = argv[1];
#if !defined(_WIN32)
    // The store of this run: a configuration directory of its own, removed at the end.
    char pattern[] = "/tmp/tavix-conformance-XXXXXX";
    const char* home = mkdtemp(pattern);
    if (home == nullptr) return 2;
    setenv("XDG_CONFIG_HOME", home, 1);
    const int result = RUN_ALL_TESTS();
    std::system(("rm -rf '" + std::string(home) + "'").c_str());
    return result;
#else
    return RUN_ALL_TESTS();
#endif
}
