#include "locale/help.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
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
const std::bitset<256> kShiftJis = [] {
    std::bitset<256> lead;
    for (unsigned b = 0x81; b <= 0xFC; ++b) lead.set(b, b <= 0x9F || b >= 0xE0);
    return lead;
}();
const TextEncoding kSingle{}, kDouble{&kShiftJis, false}, kUtf8{nullptr, true};

// A path in an encoding: the separator is "/" in UTF-8 (POSIX), "\" in the others (Windows).
struct PathCase {
    const TextEncoding* encoding;
    const char* path;
    const char* expected;
    char separator() const { return encoding == &kUtf8 ? '/' : '\\'; }
};

// ---- The help directory ------------------------------------------------------------------------

// The module's directory with a last "Bin" (in any case) replaced by "Help", else "Help" added;
// characters, not bytes, count.
TEST(HelpDirectory, FollowsTheBinRule) {
    const TextEncoding *s = &kSingle, *d = &kDouble, *u = &kUtf8;
    const PathCase cases[] = {
        {s, "C:\\A\\bIn\\x.dll", "C:\\A\\Help"}, {s, "C:\\A\\MyBin\\x.dll", "C:\\A\\MyHelp"},
        {s, "C:\\A\\Binary\\x.dll", "C:\\A\\BinaryHelp"},
        {s, "C:\\x.dll", "C:"}, {s, "Bin\\x.dll", "Help"},  // under three characters: as it is
        {s, "C:/A/Bin/x.dll", ""},  // no separator ("/" is none on Windows)
        // Multibyte characters count as one: "é" is two bytes, "表" (\x95\x5C) ends in a
        // backslash byte that is no separator.
        {u, "/\xC3\xA9/x", "/\xC3\xA9"}, {u, "/a\xC3\xA9/x", "/a\xC3\xA9Help"},
        {u, "/opt/\xC3\x9C" "bin/x.so", "/opt/\xC3\x9CHelp"},
        {d, "C:\\A\\x\x95\x5C.dll", "C:\\AHelp"}, {d, "X:\x95\x5C\\f.dll", "X:\x95\x5CHelp"},
        {d, "\x95\x5C\x95\x5C\\f.dll", "\x95\x5C\x95\x5C"}, {d, "C:\\\x95\x5C" "Bin\\f.dll", "C:\\\x95\x5CHelp"},
    };
    for (const PathCase& c : cases) EXPECT_EQ(HelpDirectory(c.path, c.separator(), *c.encoding), c.expected) << c.path;
}

// A module path longer than Windows' buffer is cut to 260 characters there, and the help
// directory is that of what is left (elsewhere the whole path counts: the long-install test).
TEST(HelpDirectory, OfModulePathsLongerThanTheBuffer) {
    const std::string top = "C:\\" + std::string(150, 'a');
    const std::string path = top + "\\Bin\\" + std::string(150, 'b') + "\\x.dll";
    for (const size_t size : {path.size(), size_t{261}, size_t{260}, size_t{259}}) {
        const std::string read = CutToBuffer(path.substr(0, size), kPathBufferSize);
        EXPECT_EQ(read, path.substr(0, std::min(size, size_t{260}))) << size;
        EXPECT_EQ(HelpDirectory(read, '\\', kSingle), top + "\\Help") << size;
    }
}

// The file name of a path, then its base: "name|base".
TEST(HelpDirectory, FileNamesAndBases) {
    const PathCase cases[] = {
        {&kSingle, "C:\\a.b\\lib.x.dll", "lib.x.dll|lib.x"}, {&kSingle, "C:\\a.b\\.hidden", ".hidden|"},
        {&kSingle, "plain", "plain|plain"}, {&kSingle, "C:\\dir\\", "|"},
        {&kDouble, "C:\\x\x95\x5C.dll", "x\x95\x5C.dll|x\x95\x5C"}, {&kUtf8, "/l/lib.so.1", "lib.so.1|lib.so"},
    };
    for (const PathCase& c : cases) {
        const std::string_view name = FileNameOf(c.path, c.separator(), *c.encoding);
        EXPECT_EQ(std::string(name) + "|" + std::string(BaseName(name, *c.encoding)), c.expected) << c.path;
    }
}

// The first "%s" takes the name; "%%" is a percent sign; anything else stays as it is.
TEST(HelpFileReference, TopicFormats) {
    for (const auto& [format, expected] : {std::pair{"%s.chm::/context.txt", "TavixConnectDEU.chm::/context.txt"},
                                           {"%%s%s", "%sTavixConnectDEU"}, {"%s%s", "TavixConnectDEU%s"},
                                           {"%d%s", "%dTavixConnectDEU"}, {"100%", "100%"}}) {
        EXPECT_EQ(FormatTopic(format, "TavixConnectDEU"), expected) << format;
    }
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

HWND TAVIXAPI FakeViewer(HWND window, const char* file, unsigned command, uintptr_t data) {
    g_viewerCalls.push_back({window, file ? file : "(none)", command, data});
    return nullptr;
}

platform::ModuleHandle FakeLibrary() { return reinterpret_cast<platform::ModuleHandle>(0x1000); }
const ViewerCall kCloseCall{nullptr, "(none)", kCloseAll, 0};

class HelpState : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset() {
        BindViewer(nullptr, nullptr);
        SetUseCount(0);
        g_viewerCalls.clear();
    }
};

// initHelp needs a viewer and a user; freeHelp counts down, the last one closes the viewer and
// answers whether a viewer library was bound; shut-down closes a bound viewer whatever the count.
TEST_F(HelpState, UseCountAndTheViewer) {
    const struct { int32_t count; bool viewer, library; int init, free; int32_t countAfter; bool closed; } cases[] = {
        {3, true, true, 1, 1, 2, false},   {1, true, true, 1, 1, 0, true},    {1, true, false, 1, 0, 0, true},
        {0, true, true, 0, 0, 0, false},   {-2, true, true, 0, 0, -2, false}, {0, false, false, 0, 0, 0, false},
        {2, false, false, 0, 1, 1, false}, {1, false, true, 0, 1, 0, false},  {1, false, false, 0, 0, 0, false},
        {5, false, false, 0, 1, 4, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << c.viewer << c.library);
        Reset();
        BindViewer(c.viewer ? &FakeViewer : nullptr, c.library ? FakeLibrary() : nullptr);
        SetUseCount(c.count);
        char helpFile[600];
        std::memset(helpFile, 'x', sizeof helpFile);
        EXPECT_EQ(InitHelp(helpFile, "%s.chm::/context.txt"), c.init);
        EXPECT_EQ(UseCount(), c.count + c.init);
        if (c.init == 0) {
            EXPECT_STREQ(helpFile, "");
        } else {
            EXPECT_EQ(FreeHelp(), 1);  // back to the count the case starts from
        }
        EXPECT_EQ(FreeHelp(), c.free);
        EXPECT_EQ(UseCount(), c.countAfter);
        EXPECT_EQ(g_viewerCalls, std::vector<ViewerCall>(c.closed ? 1 : 0, kCloseCall));
        EXPECT_EQ(ViewerBound(), c.viewer && !c.closed);
        Shutdown();
        EXPECT_EQ(g_viewerCalls, std::vector<ViewerCall>(c.viewer ? 1 : 0, kCloseCall));
        EXPECT_EQ(UseCount(), 0);
        EXPECT_FALSE(ViewerBound());
    }
    EXPECT_EQ(InitHelp(nullptr, "%s"), 0);
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

    EXPECT_EQ(platform::StoredFileName(german.string()), base + "DEU.chm");
    fs::remove(german);
    EXPECT_EQ(platform::StoredFileName(german.string()), "");
    ASSERT_EQ(InitHelp(helpFile, "%s.chm"), 1);  // no file: the last candidate, DEA
    EXPECT_EQ(std::string(helpFile), prefix + "DEA.chm");
    // A reference that would not fit a dialog's buffer is not written.
    std::vector<char> large(4096, 'x');
    const std::string format = std::string(kHelpFileBufferSize - prefix.size() - 3, '.') + "%s";
    EXPECT_EQ(InitHelp(large.data(), format.substr(1).c_str()), 1);
    EXPECT_EQ(std::string(large.data()).size(), kHelpFileBufferSize - 1);
    EXPECT_EQ(InitHelp(large.data(), format.c_str()), 0);
    EXPECT_STREQ(large.data(), "");
    EXPECT_EQ(UseCount(), 4);  // one use for each reference written
    if (made) fs::remove(helpDirectory);
    ResetLocales();
}

}  // namespace
}  // namespace tavix::help
