// Black-box conformance test: loads the built library by file name at run time, resolves its
// exports by name and checks their exact results. The same source runs natively on Linux
// against libTavixConnect.so and under Wine against TavixConnect.dll.
//
// usage: conformance_test LIBRARY [gtest options]
#include "TavixConnect.h"
#include "export_names.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

// A BSTR pointer value that the library must overwrite and never free.
BSTR const kSentinel = reinterpret_cast<BSTR>(static_cast<uintptr_t>(0x5EB7'1000));

class LoadedLibrary {
public:
    explicit LoadedLibrary(const std::string& path) {
#if defined(_WIN32)
        handle_ = LoadLibraryA(path.c_str());
#else
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    }
    ~LoadedLibrary() {
#if defined(_WIN32)
        if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
#else
        if (handle_) dlclose(handle_);
#endif
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    bool Loaded() const { return handle_ != nullptr; }

    // The library's module handle as the library itself names modules.
    HMODULE Module() const {
#if defined(_WIN32)
        return static_cast<HMODULE>(handle_);
#else
        Dl_info info{};
        if (dladdr(Symbol("GetLocalizedResources"), &info) == 0) return nullptr;
        return static_cast<HMODULE>(info.dli_fbase);
#endif
    }

    void* Symbol(const char* name) const {
#if defined(_WIN32)
        return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
        return dlsym(handle_, name);
#endif
    }

    template <typename Function>
    Function Get(const char* name) const {
        return reinterpret_cast<Function>(Symbol(name));
    }

private:
    void* handle_ = nullptr;
};

// The exports under test, resolved by name. On Windows the automation strings are the
// system's; elsewhere the library exports them itself.
struct Api {
    int(TAVIXAPI* split)(const OLECHAR*, BSTR*, BSTR*) = nullptr;
    BSTR(TAVIXAPI* make)(const OLECHAR*, const OLECHAR*) = nullptr;
    int(TAVIXAPI* equivalent)(const OLECHAR*, const OLECHAR*) = nullptr;
    BSTR (*allocString)(const OLECHAR*) = nullptr;
    BSTR (*allocStringLen)(const OLECHAR*, unsigned) = nullptr;
    BSTR (*allocStringByteLen)(const char*, unsigned) = nullptr;
    void (*freeString)(BSTR) = nullptr;
    unsigned (*stringLen)(BSTR) = nullptr;
    unsigned (*stringByteLen)(BSTR) = nullptr;
    BSTR(TAVIXAPI* findConnection)(const OLECHAR*, HICON*) = nullptr;
    BSTR(TAVIXAPI* findConnectionName)(const OLECHAR*) = nullptr;
    int(TAVIXAPI* setConnection)(const OLECHAR*, const OLECHAR*, const OLECHAR*, int, int) = nullptr;
    int(TAVIXAPI* deleteConnection)(const OLECHAR*) = nullptr;
    int(TAVIXAPI* enumConnections)() = nullptr;
    int(TAVIXAPI* setDefaultConnection)(const OLECHAR*) = nullptr;
    int(TAVIXAPI* connectionDialog)(BSTR*, BSTR*, const OLECHAR*, HICON*) = nullptr;
    int (*destroyIcon)(HICON) = nullptr;
    char*(TAVIXAPI* getHelpDir)(char*) = nullptr;
    int(TAVIXAPI* initHelp)(char*, const char*) = nullptr;
    int(TAVIXAPI* callHelp)(HWND, const char*, unsigned, TAVIX_HELP_DATA) = nullptr;
    int(TAVIXAPI* freeHelp)() = nullptr;
    HMODULE(TAVIXAPI* getLocalizedResources)(const char*, HMODULE) = nullptr;
    void(TAVIXAPI* freeLocalizedResources)(HMODULE, HMODULE) = nullptr;
};

class Conformance : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Load(); }

    // Loads the library and resolves its exports; a second load after Unload starts with the
    // library's process-wide state new.
    static void Load() {
        library_ = new LoadedLibrary(g_libraryPath);
        if (!library_->Loaded()) return;
        api_.findConnection = library_->Get<decltype(api_.findConnection)>("FindConnection");
        api_.findConnectionName = library_->Get<decltype(api_.findConnectionName)>("FindConnectionName");
        api_.setConnection = library_->Get<decltype(api_.setConnection)>("SetConnection");
        api_.deleteConnection = library_->Get<decltype(api_.deleteConnection)>("DeleteConnection");
        api_.enumConnections = library_->Get<decltype(api_.enumConnections)>("EnumConnections");
        api_.setDefaultConnection = library_->Get<decltype(api_.setDefaultConnection)>("SetDefaultConnection");
        api_.connectionDialog = library_->Get<decltype(api_.connectionDialog)>("ConnectionDialog");
        api_.split = library_->Get<decltype(api_.split)>("SplitConnectionString");
        api_.make = library_->Get<decltype(api_.make)>("MakeConnectionString");
        api_.equivalent = library_->Get<decltype(api_.equivalent)>("ConnectionStringsEquivalent");
        api_.getHelpDir = library_->Get<decltype(api_.getHelpDir)>("getHelpDir");
        api_.initHelp = library_->Get<decltype(api_.initHelp)>("initHelp");
        api_.callHelp = library_->Get<decltype(api_.callHelp)>("callHelp");
        api_.freeHelp = library_->Get<decltype(api_.freeHelp)>("freeHelp");
        api_.getLocalizedResources = library_->Get<decltype(api_.getLocalizedResources)>("GetLocalizedResources");
        api_.freeLocalizedResources = library_->Get<decltype(api_.freeLocalizedResources)>("FreeLocalizedResources");
#if defined(_WIN32)
        api_.allocString = [](const OLECHAR* s) { return SysAllocString(s); };
        api_.allocStringLen = [](const OLECHAR* s, unsigned n) { return SysAllocStringLen(s, n); };
        api_.allocStringByteLen = [](const char* s, unsigned n) { return SysAllocStringByteLen(s, n); };
        api_.freeString = [](BSTR s) { SysFreeString(s); };
        api_.stringLen = [](BSTR s) { return static_cast<unsigned>(SysStringLen(s)); };
        api_.stringByteLen = [](BSTR s) { return static_cast<unsigned>(SysStringByteLen(s)); };
        api_.destroyIcon = [](HICON icon) { return static_cast<int>(DestroyIcon(icon)); };
#else
        api_.destroyIcon = library_->Get<decltype(api_.destroyIcon)>("DestroyIcon");
        api_.allocString = library_->Get<decltype(api_.allocString)>("SysAllocString");
        api_.allocStringLen = library_->Get<decltype(api_.allocStringLen)>("SysAllocStringLen");
        api_.allocStringByteLen = library_->Get<decltype(api_.allocStringByteLen)>("SysAllocStringByteLen");
        api_.freeString = library_->Get<decltype(api_.freeString)>("SysFreeString");
        api_.stringLen = library_->Get<decltype(api_.stringLen)>("SysStringLen");
        api_.stringByteLen = library_->Get<decltype(api_.stringByteLen)>("SysStringByteLen");
#endif
    }
    static void TearDownTestSuite() { Unload(); }
    static void Unload() {
        delete library_;
        library_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(library_->Loaded()) << "cannot load " << g_libraryPath;
        ASSERT_TRUE(api_.split && api_.make && api_.equivalent);
        ASSERT_TRUE(api_.allocString && api_.freeString && api_.stringLen && api_.stringByteLen);
    }

    // The text of a BSTR, checked to be zero-terminated at its recorded length.
    static WideString Text(BSTR text) {
        if (text == nullptr) return {};
        const unsigned length = api_.stringLen(text);
        EXPECT_EQ(text[length], OLECHAR(0)) << "BSTR not zero-terminated";
        return WideString(text, length);
    }

    static LoadedLibrary* library_;
    static Api api_;
};

LoadedLibrary* Conformance::library_ = nullptr;
Api Conformance::api_;

std::string Printable(const OLECHAR* text) {
    if (text == nullptr) return "(null)";
    std::string out = "\"";
    for (; *text; ++text) {
        const auto c = static_cast<unsigned>(*text);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char code[12];
            std::snprintf(code, sizeof code, "\\u%04X", c);
            out += code;
        }
    }
    return out + "\"";
}

TEST_F(Conformance, EveryListedExportResolves) {
    for (const char* name : kTavixExportNames) {
        EXPECT_NE(library_->Symbol(name), nullptr) << name;
    }
}

TEST_F(Conformance, SplitCutsServerPartAndNamespace) {
    struct Case {
        const OLECHAR* input;
        int result;
        const OLECHAR* server;
        const OLECHAR* space;
    };
    const Case cases[] = {
        {W("cn_iptcp:127.0.0.1[1972]"), 1, W("cn_iptcp:127.0.0.1[1972]"), W("")},
        {W("\"My DB\" cn_iptcp:h[1]:NS"), 1, W("cn_iptcp:h[1]"), W("NS")},
        {W("  :cn_iptcp:h[1] : NS"), 1, W("cn_iptcp:h[1]"), W("NS")},
        {W("\t\n\v\f\r cn:h[1]\r\n:\tNS \t"), 1, W("cn:h[1]"), W("NS \t")},
        {W("\"a\" \"\" \"b\":cn_iptcp: h [ 1 ]x:y[z]"), 1, W("cn_iptcp: h [ 1 ]"), W("x:y[z]")},
        {W("\"a\" \"b\"\"\"\n\"c:d[1]\" cn:h[2]"), 1, W("cn:h[2]"), W("")},
        {W("\"a\"\" cn_iptcp:h[1]"), 0, nullptr, nullptr},
        {W("\"a\" "), 0, nullptr, nullptr},
        {W("::h[1]"), 1, W(":h[1]"), W("")},
        {W(":h[1]"), 0, nullptr, nullptr},
        {W("cn_iptcp:[]:"), 1, W("cn_iptcp:[]"), W("")},
        {W("cn_iptcp:h[1]::NS"), 1, W("cn_iptcp:h[1]"), W(":NS")},
        {W("cn_iptcp:h[1]NS"), 1, W("cn_iptcp:h[1]"), W("NS")},
        {W("cn_iptcp:h[[1]]"), 1, W("cn_iptcp:h[[1]"), W("]")},
        {W("cn_iptcp:h]1["), 0, nullptr, nullptr},
        // Only characters 9 to 13 and 32 are blanks.
        {W("\x08" "cn_iptcp:h[1]"), 0, nullptr, nullptr},
        {W("\x0e" "cn_iptcp:h[1]"), 0, nullptr, nullptr},
        {W("\u00A0cn_iptcp:h[1]"), 0, nullptr, nullptr},
        {W("cn_iptcp:h[1]\u00A0"), 1, W("cn_iptcp:h[1]"), W("\u00A0")},
        {W("Name:cn_iptcp:h[1]"), 0, nullptr, nullptr},
        {W("CN_IPTCP:h[1]"), 0, nullptr, nullptr},
        {W("cn_iptcpx:h[1]"), 0, nullptr, nullptr},
        {W("cn_iptcp :h[1]"), 0, nullptr, nullptr},
        {W("cn_iptcp:h[1"), 0, nullptr, nullptr},
        {W("cn_iptcp:h1]"), 0, nullptr, nullptr},
        {W("cn_iptcp"), 0, nullptr, nullptr},
        {W("\"unterminated cn_iptcp:h[1]"), 0, nullptr, nullptr},
        {W("   "), 0, nullptr, nullptr},
        {W(""), 0, nullptr, nullptr},
        {nullptr, 0, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Printable(c.input));
        BSTR server = kSentinel, space = kSentinel;
        EXPECT_EQ(api_.split(c.input, &server, &space), c.result);
        if (c.result) {
            ASSERT_NE(server, nullptr);
            ASSERT_NE(space, nullptr);
            EXPECT_EQ(Text(server), WideString(c.server));
            EXPECT_EQ(Text(space), WideString(c.space));
        } else {
            EXPECT_EQ(server, nullptr);
            EXPECT_EQ(space, nullptr);
        }
        api_.freeString(server == kSentinel ? nullptr : server);
        api_.freeString(space == kSentinel ? nullptr : space);
        // Either out-variable may be missing; the result does not change.
        BSTR only = kSentinel;
        EXPECT_EQ(api_.split(c.input, &only, nullptr), c.result);
        EXPECT_EQ(Text(only == kSentinel ? nullptr : only), WideString(c.result ? c.server : W("")));
        api_.freeString(only == kSentinel ? nullptr : only);
        only = kSentinel;
        EXPECT_EQ(api_.split(c.input, nullptr, &only), c.result);
        EXPECT_EQ(Text(only == kSentinel ? nullptr : only), WideString(c.result ? c.space : W("")));
        api_.freeString(only == kSentinel ? nullptr : only);
        EXPECT_EQ(api_.split(c.input, nullptr, nullptr), c.result);
    }
}

TEST_F(Conformance, MakeJoinsPartsVerbatim) {
    struct Case {
        const OLECHAR* server;
        const OLECHAR* space;
        const OLECHAR* expected;  // null: no string
    };
    const Case cases[] = {
        {W("cn_iptcp:h[1]"), W("NS"), W("cn_iptcp:h[1]:NS")},
        {W("cn_iptcp:h[1]"), nullptr, W("cn_iptcp:h[1]")},
        {W("cn_iptcp:h[1]"), W(""), W("cn_iptcp:h[1]")},
        {W(" not validated "), W(" x "), W(" not validated : x ")},
        {nullptr, W("NS"), nullptr},
        {W(""), W("NS"), nullptr},
        {nullptr, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Printable(c.server) + " + " + Printable(c.space));
        BSTR joined = api_.make(c.server, c.space);
        if (c.expected == nullptr) {
            EXPECT_EQ(joined, nullptr);
        } else {
            ASSERT_NE(joined, nullptr);
            EXPECT_EQ(Text(joined), WideString(c.expected));
        }
        api_.freeString(joined);
    }
}

TEST_F(Conformance, EquivalentComparesServerPartAndNamespace) {
    struct Case {
        const OLECHAR* first;
        const OLECHAR* second;
        int expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, 1},
        {nullptr, W(""), 1},
        {W("x"), W("x"), 1},  // identical, although neither splits
        {W("x"), W("y"), 0},
        {W("x"), nullptr, 0},
        {W("cn_iptcp:h[1]"), W(""), 0},
        {W("cn_iptcp:h[1]"), W("cn_iptcp:h[1]:USER"), 1},
        {W("cn_iptcp:h[1]"), W("cn_iptcp:h[1]:user"), 0},
        {W("cn_iptcp:h[1]:NS"), W("cn_iptcp:h[1]:NS "), 0},
        {W("cn_iptcp:h[1]"), W("cn_iptcp:h[1] "), 1},
        {W("\"One\" cn_iptcp:h[1]:NS"), W("\"Two\" cn_iptcp:h[1] : NS"), 1},
        {W("cn_iptcp:Host[1972]"), W("cn_iptcp:host[1972]"), 0},
        {W("cn:h[1]"), W("cn_iptcp:h[1]"), 0},
        {W("cn_iptcp:h[1]:A"), W("cn_iptcp:h[1]:B"), 0},
        {W("cn_iptcp:h[1]:USER"), W("cn_iptcp:h[1]:"), 1},
        {W("cn_iptcp:h[1]:USER"), W("cn_iptcp:h[1]:USER "), 0},
        {W("cn_iptcp:h[1]"), W("cn_iptcp:h[01]"), 0},
        {W("cn_iptcp:h[1]"), W("Name:cn_iptcp:h[1]"), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Printable(c.first) + " vs " + Printable(c.second));
        EXPECT_EQ(api_.equivalent(c.first, c.second), c.expected);
        EXPECT_EQ(api_.equivalent(c.second, c.first), c.expected);
    }
}

TEST_F(Conformance, WideTextPassesThroughUnchanged) {
    // A non-BMP character (a surrogate pair), an unpaired surrogate and control characters
    // are text like any other.
    const OLECHAR input[] = {'c', 'n', ':', 0xD83D, 0xDE00, 0xDC00, 1, '[', 0x7F, ']', ':',
                             0xD800, 'N', 0};
    BSTR server = kSentinel, space = kSentinel;
    ASSERT_EQ(api_.split(input, &server, &space), 1);
    EXPECT_EQ(Text(server), WideString(input, 10));
    EXPECT_EQ(Text(space), WideString(input + 11, 2));
    BSTR joined = api_.make(server, space);
    EXPECT_EQ(Text(joined), WideString(input));
    EXPECT_EQ(api_.equivalent(joined, input), 1);
    api_.freeString(joined);
    api_.freeString(server);
    api_.freeString(space);
}

TEST_F(Conformance, LongStringsAreReadToTheirEnd) {
    // A megabyte of server name, then an unclosed and a closed port bracket.
    WideString open = W("cn_iptcp:") + WideString(1 << 20, OLECHAR('h')) + W("[1972");
    BSTR server = kSentinel, space = kSentinel;
    EXPECT_EQ(api_.split(open.c_str(), &server, &space), 0);
    EXPECT_EQ(server, nullptr);
    EXPECT_EQ(space, nullptr);
    const WideString closed = open + W("]:NS");
    ASSERT_EQ(api_.split(closed.c_str(), &server, &space), 1);
    EXPECT_EQ(api_.stringLen(server), closed.size() - 3);
    EXPECT_EQ(Text(space), WideString(W("NS")));
    EXPECT_EQ(api_.equivalent(closed.c_str(), (closed + W(" ")).c_str()), 0);
    api_.freeString(server);
    api_.freeString(space);
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
    const struct {
        const char* what;
        BSTR text;
        unsigned length, bytes;
        const void* content;  // null: not checked
    } cases[] = {
        {"SysAllocString", api_.allocString(pair), 4, 8, pair},
        {"SysAllocString empty", api_.allocString(W("")), 0, 0, ""},
        {"SysAllocStringLen cut", api_.allocStringLen(W("abcdef"), 3), 3, 6, W("abc")},
        {"SysAllocStringLen null", api_.allocStringLen(nullptr, 5), 5, 10, zeros},
        {"SysAllocStringByteLen odd", api_.allocStringByteLen("abc", 3), 1, 3, "abc"},
        {"SysAllocStringByteLen null", api_.allocStringByteLen(nullptr, 4), 2, 4, zeros},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NE(c.text, nullptr);
        const char* bytes = reinterpret_cast<const char*>(c.text);
        uint32_t prefix;
        std::memcpy(&prefix, bytes - 4, sizeof prefix);
        EXPECT_EQ(prefix, c.bytes);
        EXPECT_EQ(api_.stringLen(c.text), c.length);
        EXPECT_EQ(api_.stringByteLen(c.text), c.bytes);
        if (c.content) {
            EXPECT_EQ(std::memcmp(bytes, c.content, c.bytes), 0);
        }
        EXPECT_EQ(bytes[c.bytes], 0);
        EXPECT_EQ(bytes[c.bytes + 1], 0);
        api_.freeString(c.text);
    }
    EXPECT_EQ(api_.allocString(nullptr), nullptr);
    EXPECT_EQ(api_.stringLen(nullptr), 0u);
    EXPECT_EQ(api_.stringByteLen(nullptr), 0u);
    api_.freeString(nullptr);
}

// ---- Help -------------------------------------------------------------------------------------

// The path of this program, as the platform reports it.
std::string ProgramPath() {
#if defined(_WIN32)
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
#else
    char path[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string{};
#endif
}

TEST_F(Conformance, HelpWorksOnTheCallersModule) {
    ASSERT_TRUE(api_.getHelpDir && api_.initHelp && api_.callHelp && api_.freeHelp);
#if defined(_WIN32)
    const char separator = '\\';
#else
    const char separator = '/';
#endif
    // A program calling directly gets its own module's help directory: the directory of this
    // program ("tests", no "Bin" to replace) followed by "Help".
    const std::string program = ProgramPath();
    ASSERT_FALSE(program.empty());
    char moduleFileName[261];
    std::memset(moduleFileName, 'x', sizeof moduleFileName);
    const char* directory = api_.getHelpDir(moduleFileName);
    ASSERT_NE(directory, nullptr);
    EXPECT_EQ(std::string(moduleFileName), program);
    EXPECT_EQ(std::string(directory), program.substr(0, program.find_last_of(separator)) + "Help");
    EXPECT_EQ(std::string(api_.getHelpDir(nullptr)), directory);

    // No viewer is ever bound by the library: help stays inert.
    char helpFile[600];
    std::memset(helpFile, 'x', sizeof helpFile);
    helpFile[sizeof helpFile - 1] = 0;
    EXPECT_EQ(api_.initHelp(helpFile, "%s.chm::/context.txt"), 0);
    EXPECT_STREQ(helpFile, "");
    EXPECT_EQ(api_.callHelp(nullptr, "x.chm::/context.txt", 17, 0), 0);
    EXPECT_EQ(api_.callHelp(nullptr, nullptr, 16, 0), 0);
    EXPECT_EQ(api_.freeHelp(), 0);
    EXPECT_EQ(api_.freeHelp(), 0);
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
    ASSERT_TRUE(api_.getLocalizedResources && api_.freeLocalizedResources);
    const HMODULE own = library_->Module();
    ASSERT_NE(own, nullptr);
    const HMODULE chosen = api_.getLocalizedResources("TavixConnect%s.DLL", own);
    ASSERT_NE(chosen, nullptr);
    if (UserIsGerman()) {
        EXPECT_NE(chosen, own);
    } else {
        EXPECT_EQ(chosen, own);
    }
    api_.freeLocalizedResources(chosen, own);  // does nothing
    EXPECT_EQ(api_.getLocalizedResources("TavixConnect%s.DLL", own) == own, chosen == own);
    EXPECT_EQ(api_.getLocalizedResources("NoSuchLibrary%s.DLL", own), own);
    EXPECT_EQ(api_.getLocalizedResources("TavixConnect.DLL", own), own);
}

// ---- The connection store ------------------------------------------------------------------
// These tests use the user's store: on Linux a configuration directory made for this program
// (see main), on Windows the registry of the Wine prefix made for the test run.

class Store : public Conformance {
protected:
    void SetUp() override {
        Conformance::SetUp();
        ASSERT_TRUE(api_.findConnection && api_.findConnectionName && api_.setConnection &&
                    api_.deleteConnection && api_.enumConnections && api_.setDefaultConnection &&
                    api_.destroyIcon);
        // Start from an empty store: the table is loaded, emptied and saved.
        api_.freeString(api_.findConnection(nullptr, nullptr));
        for (int i = 0; i < 100; ++i) {
            BSTR name = api_.findConnectionName(W("cn_iptcp:127.0.0.1[1972]"));
            const bool none = name == nullptr;
            api_.freeString(name);
            if (none) break;
        }
    }

    // The connection string of name, "(null)" when there is none.
    static WideString Find(const OLECHAR* name) {
        BSTR found = api_.findConnection(name, nullptr);
        WideString text = found ? Text(found) : W("(null)");
        api_.freeString(found);
        return text;
    }
    static WideString NameOf(const OLECHAR* connString) {
        BSTR found = api_.findConnectionName(connString);
        WideString text = found ? Text(found) : W("(null)");
        api_.freeString(found);
        return text;
    }
    static void Reload() {
        Unload();
        Load();
        ASSERT_TRUE(library_->Loaded());
    }
};

TEST_F(Store, SetFindAndDeleteConnections) {
    EXPECT_EQ(api_.enumConnections(), 0);
    EXPECT_EQ(Find(nullptr), W("(null)"));
    EXPECT_EQ(Find(W("")), W("(null)"));
    EXPECT_EQ(Find(W("Work")), W("(null)"));

    EXPECT_EQ(api_.setConnection(W("Work"), W("cn_iptcp:db1[1972]:SALES"), nullptr, 0, 1), 0);
    EXPECT_EQ(api_.setConnection(nullptr, W("cn_iptcp:h[1]"), nullptr, 0, 1), 0);
    EXPECT_EQ(api_.setConnection(nullptr, W("\"Quoted\" cn_iptcp:q[2]:NS"), nullptr, 0, 0), 0);
    EXPECT_EQ(api_.setConnection(W("Empty"), W(""), nullptr, 0, 1), 0);     // nothing stored
    EXPECT_EQ(api_.setConnection(W("Bad"), W("cn_iptcp:h"), nullptr, 0, 1), 0);

    EXPECT_EQ(Find(W("Work")), W("cn_iptcp:db1[1972]:SALES"));
    EXPECT_EQ(Find(W("Nameless")), W("cn_iptcp:h[1]:USER"));
    EXPECT_EQ(Find(W("Quoted")), W("cn_iptcp:q[2]:NS"));
    EXPECT_EQ(Find(W("Quoted:cn_iptcp:q[2]:NS")), W("cn_iptcp:q[2]:NS"));  // by connection string
    EXPECT_EQ(Find(W("Empty")), W("(null)"));
    EXPECT_EQ(Find(W("Bad")), W("(null)"));

    EXPECT_EQ(NameOf(W("cn_iptcp:db1[1972]:SALES")), W("Work"));
    EXPECT_EQ(NameOf(W("cn_iptcp:h[1]:USER")), W("Nameless"));  // USER and none are the same
    EXPECT_EQ(NameOf(W("cn_iptcp:none[1]")), W("(null)"));
    EXPECT_EQ(NameOf(W("Work:cn_iptcp:other[1]")), W("Work1"));  // added, in memory
    EXPECT_EQ(NameOf(nullptr), W("(null)"));

    EXPECT_EQ(api_.deleteConnection(W("Work")), 1);
    EXPECT_EQ(api_.deleteConnection(W("Work")), 0);
    EXPECT_EQ(api_.deleteConnection(nullptr), 0);
    EXPECT_EQ(Find(W("Work")), W("(null)"));

    // What was saved survives an unload; what was not saved does not.
    Reload();
    EXPECT_EQ(Find(W("Work")), W("cn_iptcp:db1[1972]:SALES"));
    EXPECT_EQ(Find(W("Nameless")), W("cn_iptcp:h[1]:USER"));
    EXPECT_EQ(Find(W("Quoted")), W("(null)"));
    EXPECT_EQ(Find(W("Work1")), W("(null)"));
}

// Start-up made the German library the resource source: an unnamed connection is "Namenlos".
TEST_F(Store, UnnamedConnectionIsNamedInTheUsersLanguage) {
    if (!UserIsGerman()) GTEST_SKIP() << "run with LC_ALL=de_AT.UTF-8 (the conformance_de_at test)";
    api_.deleteConnection(W("Nameless"));  // saved by another test, perhaps
    ASSERT_EQ(api_.setConnection(nullptr, W("cn_iptcp:h[1]"), nullptr, 0, 0), 0);
    EXPECT_EQ(Find(W("Namenlos")), W("cn_iptcp:h[1]:USER"));
    EXPECT_EQ(Find(W("Nameless")), W("(null)"));
}

TEST_F(Store, IconsAreNewHandlesForTheCaller) {
    ASSERT_EQ(api_.setConnection(W("Plain"), W("cn_iptcp:p[1]"), nullptr, 0, 0), 0);
    ASSERT_EQ(api_.setConnection(W("Missing"), W("cn_iptcp:m[1]"), W("no-such-file.ico"), 0, 0), 0);
    for (const OLECHAR* name : {W("Plain"), W("Missing")}) {
        HICON icon = nullptr;
        BSTR found = api_.findConnection(name, &icon);
        EXPECT_NE(found, nullptr);
        EXPECT_NE(icon, nullptr);  // the default icon, or the marker for a file without icons
        EXPECT_NE(api_.destroyIcon(icon), 0);
        api_.freeString(found);
    }
    HICON untouched = reinterpret_cast<HICON>(kSentinel);
    EXPECT_EQ(api_.findConnection(W("Unknown"), &untouched), nullptr);
    EXPECT_EQ(untouched, reinterpret_cast<HICON>(kSentinel));
}

TEST_F(Store, DefaultConnectionIsWrittenAtOnce) {
    ASSERT_EQ(api_.setConnection(W("A"), W("cn_iptcp:a[1]"), nullptr, 0, 1), 0);
    ASSERT_EQ(api_.setConnection(W("B"), W("cn_iptcp:b[1]"), nullptr, 0, 1), 0);
    EXPECT_EQ(api_.setDefaultConnection(W("Unknown")), 0);
    EXPECT_EQ(api_.setDefaultConnection(W("B")), 1);
    EXPECT_EQ(api_.setDefaultConnection(W("B")), 1);
    // Replacing the default connection of a table of several leaves none.
    ASSERT_EQ(api_.setConnection(W("B"), W("cn_iptcp:b[2]"), nullptr, 0, 0), 0);
    EXPECT_EQ(api_.setDefaultConnection(W("")), 1);  // no default to clear: nothing to do
    Reload();
    // The setters do not read the store: on a table never loaded they find nothing.
    EXPECT_EQ(api_.setDefaultConnection(W("A")), 0);
    EXPECT_EQ(api_.deleteConnection(W("A")), 0);
    EXPECT_EQ(Find(W("B")), W("cn_iptcp:b[1]:USER"));  // the replacement was never saved
    EXPECT_EQ(api_.setDefaultConnection(W("A")), 1);
}

#if !defined(_WIN32)
// Without a window system the dialog cannot be shown: every input gives 0 and leaves what the
// caller passed exactly as it was (the same strings, the same icon value), and the store keeps
// its connections. (Where the dialog can be shown, its own tests drive it.)
TEST_F(Store, ConnectionDialogWithoutAWindowSystemTouchesNothing) {
    ASSERT_TRUE(api_.connectionDialog);
    ASSERT_EQ(api_.setConnection(W("Kept"), W("cn_iptcp:k[1]"), nullptr, 0, 1), 0);
    const WideString longTitle(10000, W('t')), longName(256, W('n'));
    struct Case {
        const OLECHAR* name;  // null: no variable; otherwise the text it holds
        const OLECHAR* connString;
        const OLECHAR* title;
        bool icon;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, false},
        {W(""), W(""), W(""), true},
        {W("Kept"), W("cn_iptcp:k[1]"), W("Pick"), true},
        {W("New"), W("not a connection string"), longTitle.c_str(), true},
        {longName.c_str(), W("Other:cn_iptcp:o[65536]"), nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Printable(c.name) + " " + Printable(c.connString));
        BSTR name = c.name ? api_.allocString(c.name) : nullptr;
        BSTR connString = c.connString ? api_.allocString(c.connString) : nullptr;
        const BSTR givenName = name, givenConnString = connString;
        HICON icon = reinterpret_cast<HICON>(kSentinel);
        EXPECT_EQ(api_.connectionDialog(c.name ? &name : nullptr,
                                        c.connString ? &connString : nullptr, c.title,
                                        c.icon ? &icon : nullptr),
                  0);
        EXPECT_EQ(name, givenName);
        EXPECT_EQ(connString, givenConnString);
        EXPECT_EQ(c.name ? Text(name) : WideString(), c.name ? c.name : W(""));
        EXPECT_EQ(c.connString ? Text(connString) : WideString(), c.connString ? c.connString : W(""));
        EXPECT_EQ(icon, reinterpret_cast<HICON>(kSentinel));
        api_.freeString(name);
        api_.freeString(connString);
    }
    EXPECT_EQ(Find(W("Kept")), W("cn_iptcp:k[1]:USER"));
    EXPECT_EQ(Find(W("New")), W("(null)"));
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
