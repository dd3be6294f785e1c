// The choice of the localized resource library, for a user in German (Austria), with real
// resource-only DLLs (tests/locale/probe.rc) copied beside a "program" DLL in a directory of
// each case's own.
#include "locale/localized_resources.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "environment.h"
#include "platform/locale.h"
#include "platform/module.h"

namespace tavix::locale {
namespace {

namespace fs = std::filesystem;

// The warnings shown, as "caption|style|text".
std::vector<std::string> g_shown;

int Record(std::string_view text, std::string_view caption, unsigned style) {
    g_shown.push_back(std::string(caption) + "|" + std::to_string(style) + "|" + std::string(text));
    return 1;
}

// A fixture DLL put beside the program, cut to truncateTo bytes (0: whole) or extended, sparse,
// to growTo bytes (0: as it is).
struct File { const char* name; const char* fixture; size_t truncateTo = 0; uintmax_t growTo = 0; };

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
            std::ifstream in(fs::path(TAVIX_RESOURCE_FIXTURES) / file.fixture, std::ios::binary);
            std::string bytes(std::istreambuf_iterator<char>(in), {});
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
    // The library accepted (nullptr: none), the warnings, and how many empty files fill the directory.
    const struct {
        const char *name, *program;
        std::vector<File> files;
        const char* accepted;
        std::vector<std::string> messages;
        int fillers = 0;
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
#if !defined(_WIN32)
        // The file name matches in any case, as Windows file names do; the exact one first.
        {"case-all", "Program.dll", {{"probedeu.DLL", "Same.dll"}}, "probedeu.DLL", {}},
        {"case-exact-first", "Program.dll", {{"PROBEDEU.DLL", "Other.dll"}, {"ProbeDEU.DLL", "Same.dll"}},
         "ProbeDEU.DLL", {}},
        // A directory too large to search cheaply takes the exact name only.
        {"case-large-directory", "Program.dll", {{"probedeu.DLL", "Same.dll"}}, nullptr, {}, 1100},
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

// Each refused pattern would name a file that is there, were it read another way.
TEST_F(LocalizedResources, PatternsWithoutExactlyOneStringNameNoLibrary) {
    const platform::ModuleHandle program =
        Program("patterns", "Program.dll",
                {{"Probe.DLL", "Same.dll"}, {"ProbeDEUDEU.DLL", "Same.dll"}, {"ProbeDEU%.DLL", "Same.dll"},
                 {"Probe%dDEU.DLL", "Same.dll"}, {"ProbeDEU%", "Same.dll"}});
    for (const char* pattern : {"Probe.DLL", "Probe%s%s.DLL", "Probe%d%s.DLL", "Probe%s%", (const char*)nullptr}) {
        EXPECT_EQ(Choose(program, pattern), program) << (pattern ? pattern : "(null)");
        EXPECT_TRUE(g_shown.empty());
    }
    EXPECT_NE(Choose(program, "Probe%s%%.DLL"), program);  // "%%" is one percent sign
}

}  // namespace
}  // namespace tavix::locale
