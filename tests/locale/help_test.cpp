#include "locale/help.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "environment.h"
#include "frame/context/library_context.h"
#include "platform/locale.h"

namespace tavix::help {
namespace {

namespace fs = std::filesystem;

// Shift-JIS lead bytes: 0x81-0x9F and 0xE0-0xFC. "\x95\x5C" is one character whose second
// byte is a backslash.
std::bitset<256> ShiftJisLeadBytes() {
    std::bitset<256> lead;
    for (unsigned b = 0x81; b <= 0xFC; ++b) lead.set(b, b <= 0x9F || b >= 0xE0);
    return lead;
}

const std::bitset<256> kShiftJis = ShiftJisLeadBytes();
const TextEncoding kSingleByte{}, kDoubleByte{&kShiftJis, false}, kUtf8{nullptr, true};

// ---- The help directory ------------------------------------------------------------------------

TEST(HelpDirectory, FollowsTheBinRule) {
    const struct { const char* path; char separator; const TextEncoding* encoding; const char* expected; } cases[] = {
        {"C:\\Apps\\Tavix\\Bin\\TavixConnect.dll", '\\', &kSingleByte, "C:\\Apps\\Tavix\\Help"},
        {"C:\\Apps\\Tavix\\bIn\\TavixConnect.dll", '\\', &kSingleByte, "C:\\Apps\\Tavix\\Help"},
        {"C:\\Apps\\Tools\\TavixConnect.dll", '\\', &kSingleByte, "C:\\Apps\\ToolsHelp"},
        {"C:\\Apps\\MyBin\\TavixConnect.dll", '\\', &kSingleByte, "C:\\Apps\\MyHelp"},
        {"C:\\Apps\\Binary\\TavixConnect.dll", '\\', &kSingleByte, "C:\\Apps\\BinaryHelp"},
        {"C:\\Apps\\Bin\\", '\\', &kSingleByte, "C:\\Apps\\Help"},
        {"C:\\TavixConnect.dll", '\\', &kSingleByte, "C:"},  // two characters: as it is
        {"Bin\\x.dll", '\\', &kSingleByte, "Help"},
        {"\\x.dll", '\\', &kSingleByte, ""},
        {"TavixConnect.dll", '\\', &kSingleByte, ""},  // no separator
        {"C:/Apps/Bin/x.dll", '\\', &kSingleByte, ""},  // "/" is no separator on Windows
        {"/opt/tavix/bin/libTavixConnect.so", '/', &kUtf8, "/opt/tavix/Help"},
        {"/opt/a\\Bin/x", '/', &kUtf8, "/opt/a\\Help"},
        // Multibyte characters count as one: "é" is two bytes, "表" (\x95\x5C) ends in a
        // backslash byte that is no separator.
        {"/\xC3\xA9/x", '/', &kUtf8, "/\xC3\xA9"},
        {"/a\xC3\xA9/x", '/', &kUtf8, "/a\xC3\xA9Help"},
        {"/opt/\xC3\x9C" "bin/x.so", '/', &kUtf8, "/opt/\xC3\x9CHelp"},
        {"C:\\Apps\\x\x95\x5C.dll", '\\', &kDoubleByte, "C:\\AppsHelp"},
        {"X:\x95\x5C\\f.dll", '\\', &kDoubleByte, "X:\x95\x5CHelp"},
        {"\x95\x5C\x95\x5C\\f.dll", '\\', &kDoubleByte, "\x95\x5C\x95\x5C"},
        {"C:\\\x95\x5C" "Bin\\f.dll", '\\', &kDoubleByte, "C:\\\x95\x5CHelp"},
        {"C:\\\x95\x5C" "Bin\\f.dll", '\\', &kSingleByte, "C:\\\x95\\Help"},  // bytes, not characters
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HelpDirectory(c.path, c.separator, *c.encoding), c.expected) << c.path;
    }
}

// A module path longer than Windows' buffer is cut to 260 characters there, and the help
// directory is that of what is left; elsewhere the whole path counts.
TEST(HelpDirectory, OfModulePathsLongerThanTheBuffer) {
    const std::string top = "C:\\" + std::string(150, 'a');
    const std::string windows = top + "\\Bin\\" + std::string(150, 'b') + "\\x.dll";
    const std::string posix = "/" + std::string(150, 'a') + "/" + std::string(150, 'b') + "/x.so";
    const struct { std::string path; char separator; size_t buffer; std::string read, directory; } cases[] = {
        {windows, '\\', kPathBufferSize, windows.substr(0, 260), top + "\\Help"},
        {windows.substr(0, 261), '\\', kPathBufferSize, windows.substr(0, 260), top + "\\Help"},
        {windows.substr(0, 260), '\\', kPathBufferSize, windows.substr(0, 260), top + "\\Help"},
        {windows.substr(0, 259), '\\', kPathBufferSize, windows.substr(0, 259), top + "\\Help"},
        {posix, '/', 0, posix, posix.substr(0, posix.size() - 5) + "Help"},
    };
    for (const auto& c : cases) {
        const std::string read = CutToBuffer(c.path, c.buffer);
        EXPECT_EQ(read, c.read) << c.path.size();
        EXPECT_EQ(HelpDirectory(read, c.separator, kSingleByte), c.directory) << c.path.size();
    }
}

TEST(HelpDirectory, FileNamesAndBases) {
    const struct {
        const char* path;
        char separator;
        const TextEncoding* encoding;
        const char* fileName;
        const char* base;
    } cases[] = {
        {"C:\\Tavix\\Bin\\TavixConnect.dll", '\\', &kSingleByte, "TavixConnect.dll", "TavixConnect"},
        {"C:\\a.b\\lib.x.dll", '\\', &kSingleByte, "lib.x.dll", "lib.x"},
        {"C:\\a.b\\.hidden", '\\', &kSingleByte, ".hidden", ""},
        {"plain", '\\', &kSingleByte, "plain", "plain"},
        {"C:\\dir\\", '\\', &kSingleByte, "", ""},
        {"C:\\x\x95\x5C.dll", '\\', &kDoubleByte, "x\x95\x5C.dll", "x\x95\x5C"},
        {"/usr/lib/libTavixConnect.so.1", '/', &kUtf8, "libTavixConnect.so.1", "libTavixConnect.so"},
    };
    for (const auto& c : cases) {
        const std::string_view name = FileNameOf(c.path, c.separator, *c.encoding);
        EXPECT_EQ(name, c.fileName) << c.path;
        EXPECT_EQ(BaseName(name, *c.encoding), c.base) << c.path;
    }
}

TEST(HelpFileReference, TopicFormatsAndLocales) {
    for (const auto& [format, expected] : {std::pair{"%s.chm::/context.txt", "TavixConnectDEU.chm::/context.txt"},
                                           {"%%s%s", "%sTavixConnectDEU"}, {"%s%s", "TavixConnectDEU%s"},
                                           {"%d%s", "%dTavixConnectDEU"}, {"100%", "100%"}, {"", ""}}) {
        EXPECT_EQ(FormatTopic(format, "TavixConnectDEU"), expected) << format;
    }
    // The user's locale, its language's default, neutral, the user's again.
    for (const auto& [user, second] : {std::pair<locale::LocaleId, locale::LocaleId>{0x0C07, 0x0407},
                                       {0x0409, 0x0409}, {0x241A, 0x041A}, {0x0000, 0x0400}}) {
        EXPECT_EQ(HelpLocales(user), (std::array<locale::LocaleId, 4>{0x0400, second, 0x0000, 0x0400}))
            << std::hex << user;
    }
}

TEST(HelpFileReference, FirstExistingCandidateElseTheLast) {
    const std::vector<std::string> abbreviations = {"DEA", "DEU", "ENU", "DES"};
    const struct {
        std::set<std::string> existing;
        const char* expected;
        size_t probes;  // candidates looked at, in order
    } cases[] = {
        {{"H/XDEU.chm"}, "H/XDEU.chm::/context.txt", 2},
        {{"H/XDEA.chm", "H/XDEU.chm"}, "H/XDEA.chm::/context.txt", 1},
        {{"H/XDES.chm"}, "H/XDES.chm::/context.txt", 4},
        {{"H/X.chm", "H/XDEU.txt", "XDEU.chm"}, "H/XDES.chm::/context.txt", 4},
    };
    for (const auto& c : cases) {
        std::vector<std::string> probed;
        EXPECT_EQ(HelpFileReference("H", '/', "X", abbreviations, "%s.chm::/context.txt",
                                    [&](const std::string& path) {
                                        probed.push_back(path);
                                        return c.existing.count(path) > 0;
                                    }),
                  c.expected);
        const std::vector<std::string> all = {"H/XDEA.chm", "H/XDEU.chm", "H/XENU.chm", "H/XDES.chm"};
        EXPECT_EQ(probed, std::vector<std::string>(all.begin(), all.begin() + ptrdiff_t(c.probes)));
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
    bool operator==(const ViewerCall&) const = default;
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

// Without a viewer, or with one but no user yet, initHelp gives the empty reference.
TEST_F(HelpState, InertWithoutAViewerOrAUser) {
    for (const auto& [viewer, count] : {std::pair{false, 0}, {false, 1}, {false, 5}, {true, 0}}) {
        SCOPED_TRACE(testing::Message() << viewer << " " << count);
        Reset();
        BindViewer(viewer ? &FakeViewer : nullptr, viewer ? FakeLibrary() : nullptr);
        SetUseCount(count);
        char helpFile[600];
        std::memset(helpFile, 'x', sizeof helpFile);
        EXPECT_EQ(InitHelp(helpFile, "%s.chm::/context.txt"), 0);
        EXPECT_STREQ(helpFile, "");
        EXPECT_EQ(UseCount(), count);
        // A bound viewer is asked, and opens no window here.
        EXPECT_EQ(CallHelp(FakeWindow(1), "x.chm", kHelpWmHelp, 0), 0);
        EXPECT_EQ(g_viewerCalls.size(), viewer ? 1u : 0u);
        EXPECT_EQ(ViewerBound(), viewer);
    }
    EXPECT_EQ(InitHelp(nullptr, "%s"), 0);
}

// Three dialogs in turn take help, ask for it and give it back; shut-down closes the viewer.
TEST_F(HelpState, ThreeDialogsThenShutDown) {
    BindViewer(&FakeViewer, FakeLibrary());
    SetUseCount(1);
    g_viewerAnswer = FakeWindow(0x77);
    const uint32_t helpIds[] = {1001, 5001, 0, 0};
    const auto ids = reinterpret_cast<uintptr_t>(helpIds);
    std::vector<ViewerCall> expected;
    for (int dialog = 0; dialog < 3; ++dialog) {
        SCOPED_TRACE(dialog);
        char helpFile[600] = {};
        ASSERT_EQ(InitHelp(helpFile, "%s.chm::/context.txt"), 1);
        EXPECT_EQ(UseCount(), 2);
        EXPECT_NE(std::strstr(helpFile, ".chm::/context.txt"), nullptr) << helpFile;
        EXPECT_EQ(CallHelp(FakeWindow(0x42), helpFile, kHelpWmHelp, ids), 1);
        EXPECT_EQ(CallHelp(FakeWindow(0x43), helpFile, kHelpContextMenu, ids), 1);
        EXPECT_EQ(FreeHelp(), 1);
        EXPECT_EQ(UseCount(), 1);
        expected.push_back({FakeWindow(0x42), helpFile, kHelpWmHelp, ids});
        expected.push_back({FakeWindow(0x43), helpFile, kHelpContextMenu, ids});
    }
    EXPECT_EQ(g_viewerCalls, expected);
    g_viewerAnswer = nullptr;  // a viewer that opens no window: 0
    EXPECT_EQ(CallHelp(FakeWindow(5), "f.chm", kHelpWmHelp, 9), 0);
    expected.push_back({FakeWindow(5), "f.chm", kHelpWmHelp, 9});

    Shutdown();
    expected.push_back({nullptr, "(none)", kCloseAll, 0});
    EXPECT_EQ(g_viewerCalls, expected);
    EXPECT_FALSE(ViewerBound());
    EXPECT_EQ(UseCount(), 0);
    // Help is inert again.
    EXPECT_EQ(CallHelp(FakeWindow(1), "x", kHelpWmHelp, 0), 0);
    EXPECT_EQ(FreeHelp(), 0);
    EXPECT_EQ(g_viewerCalls.size(), expected.size());
}

TEST_F(HelpState, LastFreeClosesAndReleases) {
    const struct { int32_t count; bool viewer, library; int result; int32_t countAfter; bool closed; } cases[] = {
        {3, true, true, 1, 2, false},   {1, true, true, 1, 0, true},   {1, true, false, 0, 0, true},
        {2, false, false, 1, 1, false}, {1, false, true, 1, 0, false}, {1, false, false, 0, 0, false},
        {0, true, true, 0, 0, false},   {-2, true, true, 0, -2, false},
    };
    for (const auto& c : cases) {
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
    for (int32_t count : {0, 4}) {
        Reset();
        BindViewer(&FakeViewer, FakeLibrary());
        SetUseCount(count);
        Shutdown();
        ASSERT_EQ(g_viewerCalls.size(), 1u) << count;
        EXPECT_EQ(g_viewerCalls[0].command, kCloseAll);
        EXPECT_EQ(UseCount(), 0);
    }
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
    const std::string prefix = helpDirectory.string() + kSeparator + base;
    const bool made = fs::create_directory(helpDirectory);
    const fs::path german = helpDirectory / (base + "DEU.chm");
    std::ofstream(german) << "help";

    BindViewer(&FakeViewer, FakeLibrary());
    SetUseCount(1);
    char helpFile[1024];
    ASSERT_EQ(InitHelp(helpFile, "%s.chm::/context.txt"), 1);
    EXPECT_EQ(std::string(helpFile), prefix + "DEU.chm::/context.txt");
    EXPECT_EQ(FreeHelp(), 1);

    EXPECT_EQ(platform::StoredFileName(german.string()), base + "DEU.chm");
    fs::remove(german);
    EXPECT_EQ(platform::StoredFileName(german.string()), "");
    ASSERT_EQ(InitHelp(helpFile, "%s.chm"), 1);  // no file: the last candidate, DEA
    EXPECT_EQ(std::string(helpFile), prefix + "DEA.chm");
    EXPECT_EQ(UseCount(), 2);
    // A reference that would not fit a dialog's buffer is not written.
    std::vector<char> large(4096, 'x');
    const std::string format = std::string(kHelpFileBufferSize - prefix.size() - 3, '.') + "%s";
    EXPECT_EQ(InitHelp(large.data(), format.substr(1).c_str()), 1);
    EXPECT_EQ(std::string(large.data()).size(), kHelpFileBufferSize - 1);
    EXPECT_EQ(InitHelp(large.data(), format.c_str()), 0);
    EXPECT_STREQ(large.data(), "");
    EXPECT_EQ(UseCount(), 3);
    if (made) fs::remove(helpDirectory);
    ResetLocales();
}

}  // namespace
}  // namespace tavix::help
