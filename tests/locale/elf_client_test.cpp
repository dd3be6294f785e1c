// Real Linux client programs and the library copied into a directory with the German resource
// library (or another DLL under its name) beside them, run for a user in German (Germany): what
// the client's own GetLocalizedResources call gives with and without its product-version note,
// and what the library's start-up at load does with a resource library it cannot trust.
// Message boxes are lines on standard error here.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <utility>

namespace {

namespace fs = std::filesystem;

struct Outcome {
    std::string printed;
    std::string warned;
};

// text with each "<NAME>" replaced by "<path>".
std::string WithPaths(std::string text, std::initializer_list<std::pair<std::string, fs::path>> paths) {
    for (const auto& [name, path] : paths) {
        if (const size_t at = text.find("<" + name + ">"); at != std::string::npos) {
            text.replace(at + 1, name.size(), path.string());
        }
    }
    return text;
}

class ElfClient : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("tavix-elf-client-" + std::to_string(getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "bin");
        bin_ = fs::canonical(root_ / "bin");
    }
    void TearDown() override { fs::remove_all(root_); }

    // Copies the client and the library into bin, and german (a DLL, or nothing) as
    // TavixConnectDEU.DLL, then runs the client with argument mode.
    Outcome RunClient(const fs::path& client, const fs::path& german, const char* mode) {
        fs::copy_file(client, bin_ / "client");
        fs::copy_file(TAVIX_SHARED_LIBRARY, bin_ / "libTavixConnect.so");
        if (!german.empty()) fs::copy_file(german, bin_ / "TavixConnectDEU.DLL");
        fs::create_directories(root_ / "config");
        const std::string out = (root_ / "out").string(), err = (root_ / "err").string();
        // ASAN_OPTIONS: LeakSanitizer cannot stop a program that loaded the sanitized library
        // with dlopen; only the sanitized build reads it.
        const std::string command = "ASAN_OPTIONS=detect_leaks=0 LC_ALL=de_DE.UTF-8 XDG_CONFIG_HOME='" +
                                    (root_ / "config").string() + "' '" + (bin_ / "client").string() + "' '" +
                                    (bin_ / "libTavixConnect.so").string() + "' " + mode + " >'" + out +
                                    "' 2>'" + err + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        std::ifstream printed(out), warned(err);
        return {std::string(std::istreambuf_iterator<char>(printed), {}),
                std::string(std::istreambuf_iterator<char>(warned), {})};
    }

    fs::path root_, bin_;
};

// The client's own call, with the German library beside it or not: a client whose note
// carries the resource library's version gets the library; one without a note gets its own
// module and the warning the version check gives a program without a version.
TEST_F(ElfClient, ClientsVersionDecidesItsResourceLibrary) {
    const fs::path german = fs::path(TAVIX_BINARY_DIR) / "TavixConnectDEU.DLL";
    const struct {
        const char* what;
        const char* client;
        bool withLibrary;
        const char* chosen;
        std::string warning;  // with CLIENT for the client's path, DLL for the library's
    } cases[] = {
        {"note, library", TAVIX_VERSIONED_CLIENT, true, "library", ""},
        {"note, no library", TAVIX_VERSIONED_CLIENT, false, "program", ""},
        {"no note, library", TAVIX_UNVERSIONED_CLIENT, true, "program",
         "GetLocalizedResources: WARNING: Resource DLL <DLL> Product Version \"" TAVIX_PRODUCT_VERSION
         "\" does not match\n\tProgram <CLIENT> Product Version \"<No Info>\"\n"},
        {"no note, no library", TAVIX_UNVERSIONED_CLIENT, false, "program",
         "GetLocalizedResources: Version info resource not available in Program:\n\t<CLIENT>\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        const Outcome run = RunClient(c.client, c.withLibrary ? german : fs::path{}, "resources");
        EXPECT_EQ(run.printed, std::string(c.chosen) + "\n");
        EXPECT_EQ(run.warned, WithPaths(c.warning, {{"CLIENT", bin_ / "client"}, {"DLL", bin_ / "TavixConnectDEU.DLL"}}));
    }
}

// Start-up at load, with the German library, one of another version and one without a version
// under its name: the first gives the German strings without a word, though the file is gone
// by the first call; the others are unloaded, their warning shown by the first export (after
// the client's "loaded"), and the library's own strings are used.
TEST_F(ElfClient, StartUpWithAResourceLibraryItCannotTrust) {
    const fs::path fixtures = TAVIX_RESOURCE_FIXTURES;
    const struct {
        fs::path german;
        const char* name;
        std::string warning;  // DLL for the resource library's path, LIB for the library's
    } cases[] = {
        {fs::path(TAVIX_BINARY_DIR) / "TavixConnectDEU.DLL", "Namenlos", ""},
        {fixtures / "Other.dll", "Nameless",
         "GetLocalizedResources: WARNING: Resource DLL <DLL> Product Version \"1.0.10.1\" does not match\n"
         "\tProgram <LIB> Product Version \"" TAVIX_PRODUCT_VERSION "\"\n"},
        {fixtures / "NoVersion.dll", "Nameless",
         "GetLocalizedResources: Version info not available in Resource DLL:\n\t<DLL>\n"},
        {fs::path{}, "Nameless", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.german.string());
        SetUp();
        const Outcome run = RunClient(TAVIX_VERSIONED_CLIENT, c.german, "name");
        EXPECT_EQ(run.printed, std::string(c.name) + "\n");
        EXPECT_EQ(run.warned, "loaded\n" + WithPaths(c.warning, {{"LIB", bin_ / "libTavixConnect.so"},
                                                                {"DLL", bin_ / "TavixConnectDEU.DLL"}}));
    }
}

}  // namespace
