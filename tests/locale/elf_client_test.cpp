// Real Linux client programs and the library copied into a directory with the German resource
// library (or another DLL under its name) beside them, run for a user in German (Germany): what
// the client's own GetLocalizedResources call gives with and without its product-version note,
// and what the library's start-up at load does with a resource library it cannot trust, or
// from an install directory longer than any Windows path buffer reached through links.
// Message boxes are lines on standard error here.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

const fs::path kGerman = fs::path(TAVIX_BINARY_DIR) / "TavixConnectDEU.DLL";

class ElfClient : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::canonical(fs::temp_directory_path()) / ("tavix-elf-client-" + std::to_string(getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "bin");
        bin_ = root_ / "bin";
    }
    void TearDown() override { fs::remove_all(root_); }

    // Copies the client, the library and german (a DLL, or nothing) as TavixConnectDEU.DLL into
    // bin_, then runs the client with argument mode on library (the copy unless given); its
    // standard output followed by its standard error.
    std::string RunClient(const fs::path& client, const fs::path& german, const char* mode, fs::path library = {}) {
        fs::copy_file(client, bin_ / "client");
        fs::copy_file(TAVIX_SHARED_LIBRARY, bin_ / "libTavixConnect.so.1.0.0");
        if (!german.empty()) fs::copy_file(german, bin_ / "TavixConnectDEU.DLL");
        if (library.empty()) library = bin_ / "libTavixConnect.so.1.0.0";
        fs::create_directories(root_ / "config");
        const std::string out = (root_ / "out").string(), err = (root_ / "err").string();
        // ASAN_OPTIONS: LeakSanitizer cannot stop a program that loaded the sanitized library
        // with dlopen; only the sanitized build reads it.
        const std::string command = "ASAN_OPTIONS=detect_leaks=0 LC_ALL=de_DE.UTF-8 XDG_CONFIG_HOME='" +
                                    (root_ / "config").string() + "' '" + (bin_ / "client").string() + "' '" +
                                    library.string() + "' " + mode + " >'" + out + "' 2>'" + err + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        std::ifstream printed(out), warned(err);
        return std::string(std::istreambuf_iterator<char>(printed), {}) +
               std::string(std::istreambuf_iterator<char>(warned), {});
    }

    fs::path root_, bin_;
};

// The client's own call, with the German library beside it or not: a client whose note
// carries the resource library's version gets the library; one without a note gets its own
// module and the warning the version check gives a program without a version.
TEST_F(ElfClient, ClientsVersionDecidesItsResourceLibrary) {
    const std::string client = (bin_ / "client").string(), dll = (bin_ / "TavixConnectDEU.DLL").string();
    const struct { const char* client; bool withLibrary; std::string output; } cases[] = {
        {TAVIX_VERSIONED_CLIENT, true, "library\n"},
        {TAVIX_UNVERSIONED_CLIENT, true,
         "program\nGetLocalizedResources: WARNING: Resource DLL <" + dll + "> Product Version \"" TAVIX_PRODUCT_VERSION
         "\" does not match\n\tProgram <" + client + "> Product Version \"<No Info>\"\n"},
        {TAVIX_UNVERSIONED_CLIENT, false,
         "program\nGetLocalizedResources: Version info resource not available in Program:\n\t<" + client + ">\n"},
    };
    for (const auto& c : cases) {
        SetUp();
        EXPECT_EQ(RunClient(c.client, c.withLibrary ? kGerman : fs::path{}, "resources"), c.output);
    }
}

// Start-up at load, with the German library or one of another version under its name: the
// first gives the German strings without a word, though the file is gone by the first call;
// the other is unloaded, its warning shown by the first export (after the client's "loaded"),
// and the library's own strings are used.
TEST_F(ElfClient, StartUpWithAResourceLibraryItCannotTrust) {
    const std::string help = (root_ / "Help").string() + "\n", dll = (bin_ / "TavixConnectDEU.DLL").string();
    const struct { fs::path german; std::string output; } cases[] = {
        {kGerman, help + "Namenlos\nloaded\n"},
        {fs::path(TAVIX_RESOURCE_FIXTURES) / "Other.dll",
         help + "Nameless\nloaded\nGetLocalizedResources: WARNING: Resource DLL <" + dll +
         "> Product Version \"1.0.10.1\" does not match\n\tProgram <" + (bin_ / "libTavixConnect.so.1.0.0").string() +
         "> Product Version \"" TAVIX_PRODUCT_VERSION "\"\n"},
        {fs::path{}, help + "Nameless\nloaded\n"},
    };
    for (const auto& c : cases) {
        SetUp();
        EXPECT_EQ(RunClient(TAVIX_VERSIONED_CLIENT, c.german, "name"), c.output);
    }
}

// The client and the library under a directory longer than any Windows path buffer, the
// library loaded through a chain of links from another directory, as a soname link or a
// symlinked install reaches it: start-up takes the resource library beside the file the links
// lead to, and getHelpDir gives the client's whole help directory.
TEST_F(ElfClient, LongInstallDirectoryReachedThroughLinks) {
    const fs::path top = root_ / std::string(150, 'l') / std::string(150, 'm');
    bin_ = top / "Bin";
    fs::create_directories(bin_);
    fs::create_directories(root_ / "links");
    // links/libTavixConnect.so -> ../l.../m.../Bin/libTavixConnect.so.1 -> libTavixConnect.so.1.0.0
    fs::create_symlink("libTavixConnect.so.1.0.0", bin_ / "libTavixConnect.so.1");
    fs::create_symlink(fs::path("..") / fs::relative(bin_, root_) / "libTavixConnect.so.1",
                       root_ / "links" / "libTavixConnect.so");
    EXPECT_EQ(RunClient(TAVIX_VERSIONED_CLIENT, kGerman, "name", root_ / "links" / "libTavixConnect.so"),
              (top / "Help").string() + "\nNamenlos\nloaded\n");
}

}  // namespace
