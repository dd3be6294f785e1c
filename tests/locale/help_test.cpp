#include "locale/help.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "environment.h"
#include "frame/library_context.h"
#include "platform/locale.h"

namespace tavix::help {
namespace {

namespace fs = std::filesystem;

// Shift-JIS lead bytes: 0x81-0x9F and 0xE0-0xFC. "\x95\x5C" is one character whose second
// byte is a backslash.
std::bitset<256> ShiftJisLeadBytes() {
    std::bitset<256> lead;
    for (unsigned b = 0x81; b <= 0x9F; ++b) lead.set(b);
    for (unsigned b = 0xE0; b <= 0xFC; ++b) lead.set(b);
    return lead;
}

const std::bitset<256> kShiftJis = ShiftJisLeadBytes();
const TextEncoding kSingleByte{};
const TextEncoding kDoubleByte{&kShiftJis, false};
const TextEncoding kUtf8{nullptr, true};

// ---- The help directory ------------------------------------------------------------------------

struct DirectoryCase {
    const char* path;
    char separator;
    const TextEncoding* encoding;
    const char* expected;
};

TEST(HelpDirectory, FollowsTheBinRule) {
    const DirectoryCase cases[] = {
        {"C:\\Apps\\Tavix\\Bin\\TavixConnect.dll", '\\', &kSingleByte, "C:\\Apps\\Tavix\\Help"},
        {"C:\\Apps\\Tavix\\bIn\\TavixConnect.dll", '\\', &kSingleByte, "C:\\Apps\\Tavix\\Help"},
        {"C:\\Apps\\Tools\\TavixConnect.dll", '\\', &kSingleByte, "C:\\Apps\\ToolsHelp"},
        {"C:\\Apps\\MyBin\\TavixConnect.dll", '\\', &kSingleByte, "C:\\Apps\\MyHelp"},
        {"C:\\Apps\\Binary\\TavixConnect.dll", '\\', &kSingleByte, "C:\\Apps\\BinaryHelp"},
        {"C:\\Apps\\Bin\\", '\\', &kSingleByte, "C:\\Apps\\Help"},
        {"C:\\Bin.d\\x", '\\', &kSingleByte, "C:\\Bin.dHelp"},
        {"C:\\TavixConnect.dll", '\\', &kSingleByte, "C:"},  // two characters: as it is
        {"Bin\\x.dll", '\\', &kSingleByte, "Help"},
        {"abc\\x.dll", '\\', &kSingleByte, "abcHelp"},
        {"\\x.dll", '\\', &kSingleByte, ""},
        {"TavixConnect.dll", '\\', &kSingleByte, ""},  // no separator
        {"", '\\', &kSingleByte, ""},
        {"C:/Apps/Bin/x.dll", '\\', &kSingleByte, ""},  // "/" is no separator on Windows
        // POSIX paths.
        {"/opt/tavix/bin/libTavixConnect.so", '/', &kUtf8, "/opt/tavix/Help"},
        {"/opt/a\\Bin/x", '/', &kUtf8, "/opt/a\\Help"},
        // Multibyte characters count as one: "é" is two bytes, "表" (\x95\x5C) ends in a
        // backslash byte that is no separator.
        {"/\xC3\xA9/x", '/', &kUtf8, "/\xC3\xA9"},
        {"/a\xC3\xA9/x", '/', &kUtf8, "/a\xC3\xA9Help"},
        {"/opt/\xC3\x9C" "bin/x.so", '/', &kUtf8, "/opt/\xC3\x9CHelp"},
        {"/opt/\xE2\x82\xACin/x", '/', &kUtf8, "/opt/\xE2\x82\xACinHelp"},
        {"C:\\Apps\\x\x95\x5C.dll", '\\', &kDoubleByte, "C:\\AppsHelp"},
        {"X:\x95\x5C\\f.dll", '\\', &kDoubleByte, "X:\x95\x5CHelp"},
        {"\x95\x5C\x95\x5C\\f.dll", '\\', &kDoubleByte, "\x95\x5C\x95\x5C"},
        {"C:\\\x95\x5C" "Bin\\f.dll", '\\', &kDoubleByte, "C:\\\x95\x5CHelp"},
        {"C:\\\x95\x5C" "Bin\\f.dll", '\\', &kSingleByte, "C:\\\x95\\Help"},  // bytes, not characters
    };
    for (const DirectoryCase& c : cases) {
        EXPECT_EQ(HelpDirectory(c.path, c.separator, *c.encoding), c.expected) << c.path;
    }
}

TEST(HelpDirectory, FileNamesAndBases) {
    struct Case {
        const char* path;
        char separator;
        const TextEncoding* encoding;
        const char* fileName;
        const char* base;
    };
    const Case cases[] = {
        {"C:\\Tavix\\Bin\\TavixConnect.dll", '\\', &kSingleByte, "TavixConnect.dll", "TavixConnect"},
        {"C:\\Tavix\\Bin\\TavixConnect", '\\', &kSingleByte, "TavixConnect", "TavixConnect"},
        {"C:\\a.b\\lib.x.dll", '\\', &kSingleByte, "lib.x.dll", "lib.x"},
        {"C:\\a.b\\.hidden", '\\', &kSingleByte, ".hidden", ""},
        {"plain", '\\', &kSingleByte, "plain", "plain"},
        {"C:\\dir\\", '\\', &kSingleByte, "", ""},
        {"C:\\x\x95\x5C.dll", '\\', &kDoubleByte, "x\x95\x5C.dll", "x\x95\x5C"},
        {"/usr/bin/unit_tests", '/', &kUtf8, "unit_tests", "unit_tests"},
        {"/usr/lib/libTavixConnect.so.1", '/', &kUtf8, "libTavixConnect.so.1", "libTavixConnect.so"},
    };
    for (const Case& c : cases) {
        const std::string_view name = FileNameOf(c.path, c.separator, *c.encoding);
        EXPECT_EQ(name, c.fileName) << c.path;
        EXPECT_EQ(BaseName(name, *c.encoding), c.base) << c.path;
    }
}

TEST(HelpFileReference, TopicFormats) {
    struct Case {
        const char* format;
        const char* expected;
    };
    const Case cases[] = {
        {"%s.chm::/context.txt", "TavixConnectDEU.chm::/context.txt"},
        {"%s", "TavixConnectDEU"},
        {"%%s%s", "%sTavixConnectDEU"},
        {"%s%s", "TavixConnectDEU%s"},
        {"%d%s", "%dTavixConnectDEU"},
        {"100%", "100%"},
        {"no conversion", "no conversion"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatTopic(c.format, "TavixConnectDEU"), c.expected) << c.format;
    }
}

TEST(HelpFileReference, LocaleList) {
    struct Case {
        locale::LocaleId user;
        locale::LocaleId second;
    };
    const Case cases[] = {{0x0C07, 0x0407}, {0x0809, 0x0409}, {0x0409, 0x0409},
                          {0x0404, 0x0404}, {0x241A, 0x041A}, {0x0000, 0x0400}};
    for (const Case& c : cases) {
        const auto list = HelpLocales(c.user);
        const std::array<locale::LocaleId, 4> expected = {0x0400, c.second, 0x0000, 0x0400};
        EXPECT_EQ(list, expected) << std::hex << c.user;
    }
}

TEST(HelpFileReference, FirstExistingCandidateElseTheLast) {
    const std::vector<std::string> abbreviations = {"DEA", "DEU", "ENU", "DES"};
    struct Case {
        std::set<std::string> existing;
        const char* expected;
        size_t probes;  // candidates looked at
    };
    const Case cases[] = {
        {{"H/XDEU.chm"}, "H/XDEU.chm::/context.txt", 2},
        {{"H/XDEA.chm", "H/XDEU.chm"}, "H/XDEA.chm::/context.txt", 1},
        {{"H/XENU.chm"}, "H/XENU.chm::/context.txt", 3},
        {{"H/XDES.chm"}, "H/XDES.chm::/context.txt", 4},
        {{}, "H/XDES.chm::/context.txt", 4},
        {{"H/X.chm", "H/XDEU.txt", "XDEU.chm"}, "H/XDES.chm::/context.txt", 4},
    };
    for (const Case& c : cases) {
        std::vector<std::string> probed;
        const std::string reference = HelpFileReference(
            "H", '/', "X", abbreviations, "%s.chm::/context.txt", [&](const std::string& path) {
                probed.push_back(path);
                return c.existing.count(path) > 0;
            });
        EXPECT_EQ(reference, c.expected);
        ASSERT_EQ(probed.size(), c.probes);
        for (size_t i = 0; i < probed.size(); ++i) {
            EXPECT_EQ(probed[i], "H/X" + abbreviations[i] + ".chm");
        }
    }
    // Unknown abbreviations (empty) leave the base alone; a directory of "" gives a leading
    // separator.
    const std::vector<std::string> none = {"", "", "", ""};
    EXPECT_EQ(HelpFileReference("", '\\', "X", none, "%s.chm", [](const std::string&) { return false; }),
              "\\X.chm");
}

// ---- The help state --------------------------------------------------------------------------

struct ViewerCall {
    HWND window;
    std::string file;  // "(none)" for a null reference
    unsigned command;
    uintptr_t data;
};

std::vector<ViewerCall> g_viewerCalls;
HWND g_viewerAnswer = nullptr;

HWND TAVIXAPI FakeViewer(HWND window, const char* file, unsigned command, uintptr_t data) {
    g_viewerCalls.push_back({window, file ? file : "(none)", command, data});
    return g_viewerAnswer;
}

HWND FakeWindow(uintptr_t value) { return reinterpret_cast<HWND>(value); }
platform::ModuleHandle FakeLibrary() { return reinterpret_cast<platform::ModuleHandle>(0x1000); }

class HelpState : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset() {
        BindViewer(nullptr, nullptr);
        SetUseCount(0);
        g_viewerCalls.clear();
        g_viewerAnswer = nullptr;
    }
};

TEST_F(HelpState, InertWithoutViewer) {
    for (int32_t count : {0, 1, 5}) {
        SetUseCount(count);
        char helpFile[600];
        std::memset(helpFile, 'x', sizeof helpFile);
        EXPECT_EQ(InitHelp(helpFile, "%s.chm::/context.txt"), 0);
        EXPECT_STREQ(helpFile, "");
        EXPECT_EQ(UseCount(), count);
        EXPECT_EQ(CallHelp(FakeWindow(1), "x.chm", kHelpWmHelp, 0), 0);
    }
    // freeHelp counts down to 0 and then answers 0; the last one has no viewer to tell and no
    // library to release.
    SetUseCount(2);
    EXPECT_EQ(FreeHelp(), 1);
    EXPECT_EQ(FreeHelp(), 0);
    EXPECT_EQ(UseCount(), 0);
    EXPECT_EQ(FreeHelp(), 0);
    EXPECT_EQ(UseCount(), 0);
    EXPECT_EQ(InitHelp(nullptr, "%s"), 0);
}

TEST_F(HelpState, BoundViewerNeedsAUser) {
    BindViewer(&FakeViewer, FakeLibrary());
    char helpFile[600] = "stale";
    EXPECT_EQ(InitHelp(helpFile, "%s.chm"), 0);
    EXPECT_STREQ(helpFile, "");
    EXPECT_EQ(UseCount(), 0);
    EXPECT_EQ(FreeHelp(), 0);
    EXPECT_TRUE(g_viewerCalls.empty());
    EXPECT_TRUE(ViewerBound());
}

TEST_F(HelpState, ThreeDialogsThenShutDown) {
    BindViewer(&FakeViewer, FakeLibrary());
    SetUseCount(1);
    g_viewerAnswer = FakeWindow(0x77);
    const uint32_t helpIds[] = {1001, 5001, 0, 0};
    for (int dialog = 0; dialog < 3; ++dialog) {
        SCOPED_TRACE(dialog);
        char helpFile[600] = {};
        ASSERT_EQ(InitHelp(helpFile, "%s.chm::/context.txt"), 1);
        EXPECT_EQ(UseCount(), 2);
        EXPECT_NE(std::strstr(helpFile, ".chm::/context.txt"), nullptr) << helpFile;
        EXPECT_EQ(CallHelp(FakeWindow(0x42), helpFile, kHelpWmHelp,
                           reinterpret_cast<uintptr_t>(helpIds)), 1);
        EXPECT_EQ(CallHelp(FakeWindow(0x43), helpFile, kHelpContextMenu,
                           reinterpret_cast<uintptr_t>(helpIds)), 1);
        EXPECT_EQ(FreeHelp(), 1);
        EXPECT_EQ(UseCount(), 1);
        ASSERT_EQ(g_viewerCalls.size(), 2u * (dialog + 1));
        const ViewerCall& help = g_viewerCalls[g_viewerCalls.size() - 2];
        const ViewerCall& menu = g_viewerCalls.back();
        EXPECT_EQ(help.window, FakeWindow(0x42));
        EXPECT_EQ(help.file, helpFile);
        EXPECT_EQ(help.command, kHelpWmHelp);
        EXPECT_EQ(help.data, reinterpret_cast<uintptr_t>(helpIds));
        EXPECT_EQ(menu.window, FakeWindow(0x43));
        EXPECT_EQ(menu.command, kHelpContextMenu);
    }
    EXPECT_TRUE(ViewerBound());

    Shutdown();
    ASSERT_EQ(g_viewerCalls.size(), 7u);
    const ViewerCall& close = g_viewerCalls.back();
    EXPECT_EQ(close.window, nullptr);
    EXPECT_EQ(close.file, "(none)");
    EXPECT_EQ(close.command, kCloseAll);
    EXPECT_EQ(close.data, 0u);
    EXPECT_FALSE(ViewerBound());
    EXPECT_EQ(UseCount(), 0);
    // Help is inert again.
    EXPECT_EQ(CallHelp(FakeWindow(1), "x", kHelpWmHelp, 0), 0);
    EXPECT_EQ(FreeHelp(), 0);
    EXPECT_EQ(g_viewerCalls.size(), 7u);
}

TEST_F(HelpState, LastFreeClosesAndReleases) {
    struct Case {
        int32_t count;
        bool viewer;
        bool library;
        int result;
        int32_t countAfter;
        bool closed;
    };
    const Case cases[] = {
        {3, true, true, 1, 2, false},   {1, true, true, 1, 0, true},
        {1, true, false, 0, 0, true},   {1, false, true, 1, 0, false},
        {1, false, false, 0, 0, false}, {0, true, true, 0, 0, false},
        {-2, true, true, 0, -2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << c.viewer << c.library);
        Reset();
        BindViewer(c.viewer ? &FakeViewer : nullptr, c.library ? FakeLibrary() : nullptr);
        SetUseCount(c.count);
        EXPECT_EQ(FreeHelp(), c.result);
        EXPECT_EQ(UseCount(), c.countAfter);
        EXPECT_EQ(g_viewerCalls.size(), c.closed ? 1u : 0u);
        EXPECT_EQ(ViewerBound(), c.viewer && !c.closed);
    }
    // Shut-down reaches the viewer whatever the count was.
    for (int32_t count : {0, 1, 4}) {
        Reset();
        BindViewer(&FakeViewer, FakeLibrary());
        SetUseCount(count);
        Shutdown();
        ASSERT_EQ(g_viewerCalls.size(), 1u) << count;
        EXPECT_EQ(g_viewerCalls[0].command, kCloseAll);
        EXPECT_EQ(UseCount(), 0);
    }
}

TEST_F(HelpState, ViewerWithoutWindowAnswersZero) {
    BindViewer(&FakeViewer, nullptr);
    g_viewerAnswer = nullptr;
    EXPECT_EQ(CallHelp(FakeWindow(5), "f.chm", kHelpWmHelp, 9), 0);
    ASSERT_EQ(g_viewerCalls.size(), 1u);
    EXPECT_EQ(g_viewerCalls[0].window, FakeWindow(5));
    EXPECT_EQ(g_viewerCalls[0].file, "f.chm");
    EXPECT_EQ(g_viewerCalls[0].data, 9u);
}

// initHelp for this test program under a German (Austria) user: its help directory is the
// sibling "<directory>Help" of the program's directory; a ...DEU.chm there is chosen.
TEST_F(HelpState, InitHelpFindsTheLanguageFile) {
#if defined(_WIN32)
    if (platform::UserDefaultLocale() != 0x0C07) {
        GTEST_SKIP() << "run with LC_ALL=de_AT.UTF-8 (the help_de_at test)";
    }
#else
    test::Environment environment;
    environment.Set("LC_ALL", "de_AT.UTF-8");
#endif
    ResetLocales();
    const std::string path = platform::ModulePath(CurrentContext().module);
    const fs::path helpDirectory = GetHelpDir(nullptr);
    const std::string base(BaseName(FileNameOf(path, kSeparator, PathEncoding()), PathEncoding()));
    const bool made = fs::create_directory(helpDirectory);
    const fs::path german = helpDirectory / (base + "DEU.chm");
    std::ofstream(german) << "help";

    BindViewer(&FakeViewer, FakeLibrary());
    SetUseCount(1);
    char helpFile[1024];
    ASSERT_EQ(InitHelp(helpFile, "%s.chm::/context.txt"), 1);
    EXPECT_EQ(std::string(helpFile),
              helpDirectory.string() + kSeparator + base + "DEU.chm::/context.txt");
    EXPECT_EQ(FreeHelp(), 1);

    EXPECT_EQ(platform::StoredFileName(german.string()), base + "DEU.chm");
    fs::remove(german);
    EXPECT_EQ(platform::StoredFileName(german.string()), "");
    ASSERT_EQ(InitHelp(helpFile, "%s.chm"), 1);  // no file: the last candidate, DEA
    EXPECT_EQ(std::string(helpFile), helpDirectory.string() + kSeparator + base + "DEA.chm");
    EXPECT_EQ(UseCount(), 2);
    if (made) fs::remove(helpDirectory);
    ResetLocales();
}

}  // namespace
}  // namespace tavix::help
