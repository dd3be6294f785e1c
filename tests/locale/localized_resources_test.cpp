// The choice of the localized resource library, for a user in German (Austria), with real
// resource-only DLLs (tests/locale/probe.rc) copied beside a "program" DLL in a directory of
// each case's own; and the library's start-up and shut-down hooks.
#include "locale/localized_resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "environment.h"
#include "frame/app/connect_app.h"
#include "frame/context/library_context.h"
#include "locale/help.h"
#include "platform/locale.h"
#include "platform/module.h"
#include "resources/resource_reader.h"

namespace tavix::locale {
namespace {

namespace fs = std::filesystem;

// The warnings shown, as "caption|style|text".
std::vector<std::string> g_shown;

int Record(std::string_view text, std::string_view caption, unsigned style) {
    g_shown.push_back(std::string(caption) + "|" + std::to_string(style) + "|" + std::string(text));
    return 1;
}

// String 2012 of a module: "Program" or "DEU" for the test DLLs.
std::string Probe(platform::ModuleHandle module) {
    const auto block = platform::FindResourceData(module, resources::kRtString, resources::StringBlockId(2012));
    const auto strings = block ? resources::ReadStringBlock(*block) : std::nullopt;
    if (!strings) return "(none)";
    const std::u16string& text = (*strings)[2012 % 16];
    return std::string(text.begin(), text.end());
}

// A file put beside the program: a fixture DLL, cut short, or not a PE file at all.
struct File {
    const char* name;
    const char* fixture;  // nullptr: text
    size_t truncateTo = 0;  // 0: whole
    uintmax_t growTo = 0;   // 0: as it is; else extended (sparse) to this many bytes
};

class LocalizedResources : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(_WIN32)
        if (platform::UserDefaultLocale() != 0x0C07) {
            GTEST_SKIP() << "run with LC_ALL=de_AT.UTF-8 (the localized_resources_de_at test)";
        }
#else
        environment_.Set("LC_ALL", "de_AT.UTF-8");
#endif
        ResetResourceLocales();
        previous_ = SetWarningFunction(&Record);
        // Unique per process too: test processes run side by side.
        root_ = fs::temp_directory_path() / ("tavix-resources-" + std::to_string(std::random_device{}()) + "-" +
                                             std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::create_directories(root_);
    }

    void TearDown() override {
        for (platform::ModuleHandle module : loaded_) platform::FreeResourceLibrary(module);
        if (previous_ != nullptr) SetWarningFunction(previous_);
        ResetResourceLocales();
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // A new directory holding the program DLL and files; the program loaded.
    platform::ModuleHandle Program(const std::string& directory, const char* fixture,
                                   const std::vector<File>& files) {
        const fs::path dir = root_ / directory;
        fs::create_directories(dir);
        fs::copy_file(fs::path(TAVIX_RESOURCE_FIXTURES) / fixture, dir / "Program.dll");
        for (const File& file : files) {
            std::ifstream in(fs::path(TAVIX_RESOURCE_FIXTURES) / (file.fixture ? file.fixture : ""), std::ios::binary);
            std::string bytes = file.fixture ? std::string(std::istreambuf_iterator<char>(in), {})
                                             : "MZ, and then nothing a loader could use.";
            if (file.truncateTo != 0) bytes.resize(file.truncateTo);
            std::ofstream(dir / file.name, std::ios::binary) << bytes;
            if (file.growTo != 0) fs::resize_file(dir / file.name, file.growTo);
        }
        const platform::ModuleHandle program = platform::LoadResourceLibrary((dir / "Program.dll").string());
        EXPECT_NE(program, nullptr);
        loaded_.push_back(program);
        return program;
    }

    platform::ModuleHandle Choose(platform::ModuleHandle program, const char* pattern = "Probe%s.DLL") {
        g_shown.clear();
        const platform::ModuleHandle chosen = GetLocalizedResources(pattern, program);
        if (chosen != program && chosen != nullptr) loaded_.push_back(chosen);
        return chosen;
    }

#if !defined(_WIN32)
    test::Environment environment_;
#endif
    WarningFunction previous_ = nullptr;
    fs::path root_;
    std::vector<platform::ModuleHandle> loaded_;
};

// The outcomes of the version check, with the messages' exact texts.
TEST_F(LocalizedResources, AcceptsOnlyTheSameProductVersion) {
    const std::string R = "{R}", P = "{P}";
    const struct {
        const char* name;
        const char* program;
        std::vector<File> files;
        const char* accepted;  // the file name of the library accepted, or nullptr
        std::vector<std::string> messages;
        int fillers = 0;  // empty files added to the directory
    } cases[] = {
        {"same", "Program.dll", {{"ProbeDEU.DLL", "Same.dll"}}, "ProbeDEU.DLL", {}},
        {"other", "Program.dll", {{"ProbeDEU.DLL", "Other.dll"}}, nullptr,
         {"WARNING: Resource DLL <{R}> Product Version \"1.0.10.1\" does not match\n"
          "\tProgram <{P}> Product Version \"1.0.10.0\""}},
        {"resource-unversioned", "Program.dll", {{"ProbeDEU.DLL", "NoVersion.dll"}}, nullptr,
         {"Version info not available in Resource DLL:\n\t<{R}>"}},
        {"program-unversioned", "ProgramNoVersion.dll", {{"ProbeDEU.DLL", "Same.dll"}}, nullptr,
         {"WARNING: Resource DLL <{R}> Product Version \"1.0.10.0\" does not match\n"
          "\tProgram <{P}> Product Version \"<No Info>\""}},
        {"neither-versioned", "ProgramNoVersion.dll", {{"ProbeDEU.DLL", "NoVersion.dll"}}, nullptr,
         {"Version info not available in Resource DLL:\n\t<{R}>",
          "Version info resource not available in Program:\n\t<{P}>"}},
        {"none", "Program.dll", {}, nullptr, {}},
        {"none-program-unversioned", "ProgramNoVersion.dll", {}, nullptr,
         {"Version info resource not available in Program:\n\t<{P}>"}},
        // German (Austria) is tried before German (Germany); the neutral locale is the user's.
        {"austrian-first", "Program.dll", {{"ProbeDEA.DLL", "Same.dll"}, {"ProbeDEU.DLL", "Other.dll"}},
         "ProbeDEA.DLL", {}},
        // Files that do not load are passed over for the next language.
        {"damaged-passed-over", "Program.dll",
         {{"ProbeDEA.DLL", "Same.dll", 700}, {"ProbeDEU.DLL", "Same.dll"}}, "ProbeDEU.DLL", {}},
        {"nothing-loads", "Program.dll", {{"ProbeDEA.DLL", nullptr}, {"ProbeDEU.DLL", "Same.dll", 1500}},
         nullptr, {}},
        // The directory is taken as it is, percent signs and all.
        {"per%scent%d", "Program.dll", {{"ProbeDEU.DLL", "Same.dll"}}, "ProbeDEU.DLL", {}},
#if !defined(_WIN32)
        // The file name matches in any case, as Windows file names do; the exact one first.
        {"case-extension", "Program.dll", {{"ProbeDEU.dll", "Same.dll"}}, "ProbeDEU.dll", {}},
        {"case-all", "Program.dll", {{"probedeu.DLL", "Same.dll"}}, "probedeu.DLL", {}},
        {"case-exact-first", "Program.dll", {{"PROBEDEU.DLL", "Other.dll"}, {"ProbeDEU.DLL", "Same.dll"}},
         "ProbeDEU.DLL", {}},
        // A directory too large to search cheaply takes the exact name only.
        {"case-large-directory", "Program.dll", {{"probedeu.DLL", "Same.dll"}}, nullptr, {}, 1100},
        {"exact-large-directory", "Program.dll", {{"ProbeDEU.DLL", "Same.dll"}}, "ProbeDEU.DLL", {}, 1100},
        {"case-other-name", "Program.dll", {{"ProbeDEU.DLL.bak", "Same.dll"}, {"xProbeDEU.DLL", "Same.dll"}},
         nullptr, {}},
        // A file too large to read as data is named in a warning and passed over.
        {"too-large", "Program.dll",
         {{"ProbeDEA.DLL", "Same.dll", 0, (uintmax_t{64} << 20) + 1}, {"ProbeDEU.DLL", "Same.dll"}},
         "ProbeDEU.DLL", {"Resource DLL not loaded: larger than 64 MiB:\n\t<{A}>"}},
        {"largest-read", "Program.dll", {{"ProbeDEA.DLL", "Same.dll", 0, uintmax_t{64} << 20}}, "ProbeDEA.DLL", {}},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const platform::ModuleHandle program = Program(c.name, c.program, c.files);
        ASSERT_NE(program, nullptr);
        for (int i = 0; i < c.fillers; ++i) std::ofstream(root_ / c.name / ("filler" + std::to_string(i)));
        const platform::ModuleHandle chosen = Choose(program);
        const std::string programPath = platform::ModulePath(program);
        const std::string directory = programPath.substr(0, programPath.size() - std::string("Program.dll").size());
        if (c.accepted != nullptr) {
            EXPECT_NE(chosen, program);
            EXPECT_EQ(platform::ModulePath(chosen), directory + c.accepted);
            EXPECT_EQ(Probe(chosen), "DEU");
        } else {
            EXPECT_EQ(chosen, program);
        }
        std::vector<std::string> expected;
        for (std::string text : c.messages) {
            for (const auto& [mark, path] : {std::pair{R, directory + "ProbeDEU.DLL"}, std::pair{P, programPath},
                                             std::pair{std::string("{A}"), directory + "ProbeDEA.DLL"}}) {
                for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, mark.size(), path);
            }
            expected.push_back("GetLocalizedResources|48|" + text);  // MB_ICONEXCLAMATION
        }
        EXPECT_EQ(g_shown, expected);
    }
}

TEST_F(LocalizedResources, PatternsWithoutExactlyOneStringNameNoLibrary) {
    const platform::ModuleHandle program = Program(
        "patterns", "Program.dll",
        {{"Probe.DLL", "Same.dll"}, {"ProbeDEUDEU.DLL", "Same.dll"}, {"ProbeDEU%.DLL", "Same.dll"}});
    for (const char* pattern : {"Probe.DLL", "Probe%s%s.DLL", "Probe%d%s.DLL", "Probe%", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(Choose(program, pattern), program) << (pattern ? pattern : "(null)");
        EXPECT_TRUE(g_shown.empty());
    }
    EXPECT_NE(Choose(program, "Probe%s%%.DLL"), program);  // "%%" is one percent sign
}

#if !defined(_WIN32)
// A client program and the library copied under a directory longer than any Windows path
// buffer, with the German resource library beside them spelt as Windows would load it: start-up
// and the client's own call take it (English keeps the library's own) without a warning, and
// getHelpDir gives the client's whole help directory. The library is also loaded through a
// chain of links from another directory, as a soname link or a symlinked install reaches it:
// its resource library is the one beside the file the links lead to.
TEST(LongInstallDirectory, FindsTheResourceLibraryAndTheHelpDirectory) {
    const fs::path root = fs::temp_directory_path() / ("tavix-long-" + std::to_string(getpid()));
    const fs::path top = root / std::string(150, 'l') / std::string(150, 'm');
    const fs::path bin = top / "Bin";
    ASSERT_GT(bin.string().size(), 300u);
    const struct { const char* german; const char* language; bool linked; const char* chosen; } cases[] = {
        {"TavixConnectDEU.DLL", "de_AT.UTF-8", false, "library"},
        {"tavixconnectdeu.dll", "de_AT.UTF-8", false, "library"},
        {"TavixConnectDEU.DLL", "en_US.UTF-8", false, "own"},
        {"TavixConnectDEU.DLL", "de_AT.UTF-8", true, "library"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.german) + " " + c.language + (c.linked ? " linked" : ""));
        fs::remove_all(root);
        fs::create_directories(bin);
        const char* libraryFile = c.linked ? "libTavixConnect.so.1.0.0" : "libTavixConnect.so";
        for (const auto& [from, to] : {std::pair<fs::path, const char*>{TAVIX_LONG_PATH_PROBE, "client"},
                                       {TAVIX_SHARED_LIBRARY, libraryFile},
                                       {fs::path(TAVIX_BINARY_DIR) / "TavixConnectDEU.DLL", c.german}}) {
            fs::copy_file(from, bin / to);
        }
        fs::path library = bin / "libTavixConnect.so";
        if (c.linked) {
            // links/libTavixConnect.so -> ../l.../m.../Bin/libTavixConnect.so.1 -> libTavixConnect.so.1.0.0
            fs::create_directories(root / "links");
            fs::create_symlink("libTavixConnect.so.1.0.0", bin / "libTavixConnect.so.1");
            fs::create_symlink(fs::path("..") / fs::relative(bin, root) / "libTavixConnect.so.1",
                               root / "links" / "libTavixConnect.so");
            library = root / "links" / "libTavixConnect.so";
        }
        const std::string out = (root / "out").string(), err = (root / "err").string();
        // The probe's leaks are not this test's question, and LeakSanitizer cannot stop a
        // program that loaded the sanitized library with dlopen here: only the sanitized build
        // reads ASAN_OPTIONS.
        const std::string command = std::string("ASAN_OPTIONS=detect_leaks=0 LC_ALL=") + c.language + " '" +
                                    (bin / "client").string() + "' '" + library.string() + "' >'" + out +
                                    "' 2>'" + err + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
        std::ifstream printed(out), warned(err);
        std::string helpDirectory, chosen;
        std::getline(printed, helpDirectory);
        std::getline(printed, chosen);
        EXPECT_EQ(helpDirectory, (top / "Help").string());
        EXPECT_EQ(chosen, c.chosen);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(warned), {}), "");
    }
    fs::remove_all(root);
}
#endif

TEST(ResourceLibraryRules, CandidatePathsAndLocales) {
    const struct { const char* directory; const char* pattern; std::optional<std::string> path; } cases[] = {
        {"C:\\Tavix\\Bin\\", "TavixConnect%s.DLL", "C:\\Tavix\\Bin\\TavixConnectDEU.DLL"},
        {"/opt/100%s/", "TavixConnect%s.DLL", "/opt/100%s/TavixConnectDEU.DLL"},
        {"", "%%%s.DLL", "%DEU.DLL"},
        {"", "TavixConnect.DLL", std::nullopt},
        {"", "%s%s", std::nullopt},
        {"", "%d%s", std::nullopt},
        {"", "%s%", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(CandidatePath(c.directory, c.pattern, "DEU"), c.path) << c.pattern;
    EXPECT_EQ(ResourceLocales(0x0C07), (std::array<LocaleId, 3>{0x0400, 0x0407, 0x0000}));
    EXPECT_EQ(ResourceLocales(0x0409), (std::array<LocaleId, 3>{0x0400, 0x0409, 0x0000}));
}

std::vector<unsigned> g_viewerCommands;
HWND TAVIXAPI Viewer(HWND, const char*, unsigned command, uintptr_t) {
    g_viewerCommands.push_back(command);
    return nullptr;
}

// Start-up picks the library's resource module (its own here: nothing lies beside the test
// program); shut-down closes help whatever the count and leaves the resource module alone.
TEST(ConnectAppHooks, StartUpAndShutDown) {
    ASSERT_TRUE(EnsureStarted());
    EXPECT_TRUE(Running());
    EXPECT_EQ(Library().resourceModule, Library().module);
    EXPECT_EQ(ConnectApp().InitInstance(), 1);

    g_viewerCommands.clear();
    help::BindViewer(&Viewer, nullptr);
    help::SetUseCount(4);  // three dialogs' worth of users, and the first
    EXPECT_EQ(ConnectApp().ExitInstance(), 0);
    EXPECT_EQ(g_viewerCommands, std::vector<unsigned>{help::kCloseAll});
    EXPECT_EQ(help::UseCount(), 0);
    EXPECT_FALSE(help::ViewerBound());
    EXPECT_EQ(Library().resourceModule, Library().module);
}

}  // namespace
}  // namespace tavix::locale
