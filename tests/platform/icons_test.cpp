// The platform's icon functions as the library uses them: on Windows the shell, LoadImageA and
// the common controls' image lists; elsewhere the library's own reader and icon objects.
#include "platform/icons.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "../icons/icon_test_support.h"

#if defined(_WIN32)
#  include <windows.h>
// The shell's names for its ANSI or wide functions would rename the interface's methods.
#  undef ExtractIcon
#  undef ExtractAssociatedIcon
#else
#  include "TavixConnect.h"
#endif

namespace tavix::platform {
namespace {

namespace fs = std::filesystem;
using testing::IconFixtures;
using testing::LoadRaw;
using testing::ShowsImage;

// An icon handle that is destroyed with the test's end.
class OwnedIcon {
public:
    explicit OwnedIcon(IconHandle icon) : icon_(icon) {}
    ~OwnedIcon() {
        if (IsRealIcon(icon_)) Icons().DestroyIcon(icon_);
    }
    OwnedIcon(const OwnedIcon&) = delete;
    OwnedIcon& operator=(const OwnedIcon&) = delete;
    IconHandle get() const { return icon_; }

private:
    IconHandle icon_;
};

// A directory of its own for files a test writes, removed at the end.
class ScratchDir {
public:
    ScratchDir()
        : path_(fs::temp_directory_path() / ("tavix-icons-" + std::to_string(Counter()++))) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    static int& Counter() {
        static int counter = 0;
        return counter;
    }
    fs::path path_;
};

#if defined(_WIN32)
bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#endif

// What the extractor answers for a file that holds no icons. Windows' shell says so (1);
// Wine's says null, as for a missing file.
IconHandle NotAnIconFileAnswer() {
#if defined(_WIN32)
    if (UnderWine()) return nullptr;
#endif
    return kNotAnIconFile;
}

IconHandle Extract(const fs::path& file, int index) {
    return Icons().ExtractIcon(OwnModule(), file.string(), index);
}

TEST(Icons, ExtractIconGivesAnIconNoIconOrNotAnIconFile) {
    TAVIX_REQUIRE_FIXTURE(IconFixtures() / "icons64.dll");
    const ScratchDir scratch;
    const fs::path text = scratch.path() / "notes.txt";
    testing::WriteBytes(text, {'h', 'e', 'l', 'l', 'o', '\n'});

    // The PE fixture holds APPLE (bmp4), ZEBRA (png), 3 (sizes) and 7 (bmp24), in that order.
    const struct {
        fs::path file;
        int index;
        const char* expected;  // a .raw image; "" no icon; "-" not an icon file
    } cases[] = {
        {IconFixtures() / "bmp4.ico", 0, "bmp4"},
        {IconFixtures() / "bmp32.ico", 0, "bmp32"},
        {IconFixtures() / "bmp4.ico", 1, ""},
        {IconFixtures() / "icons64.dll", 0, "bmp4"},
        {IconFixtures() / "icons64.dll", 1, "png"},
        {IconFixtures() / "icons64.dll", 2, "sizes"},
        {IconFixtures() / "icons64.dll", -7, "bmp24"},
        {IconFixtures() / "icons64.dll", 4, ""},
        {IconFixtures() / "icons64.dll", -1, ""},
        {IconFixtures() / "icons64.dll", INT_MAX, ""},
        {IconFixtures() / "icons32.exe", 2, "sizes"},
        {scratch.path() / "missing.ico", 0, ""},
        {text, 0, "-"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.filename().string() + " " + std::to_string(c.index));
        const OwnedIcon icon(Extract(c.file, c.index));
        if (c.expected == std::string("-")) {
            EXPECT_EQ(icon.get(), NotAnIconFileAnswer());
        } else if (c.expected == std::string()) {
            EXPECT_EQ(icon.get(), nullptr);
        } else {
            ASSERT_TRUE(IsRealIcon(icon.get()));
            const auto image = ReadIcon(icon.get());
            ASSERT_TRUE(image.has_value());
            const fs::path raw = IconFixtures() / (std::string(c.expected) + ".raw");
            EXPECT_TRUE(ShowsImage(*image, LoadRaw(raw)));
        }
    }
}

#if !defined(_WIN32)
TEST(Icons, DamagedFilesGiveNoIcon) {
    TAVIX_REQUIRE_FIXTURE(IconFixtures() / "bmp4.ico");
    TAVIX_REQUIRE_FIXTURE(IconFixtures() / "icons64.dll");
    const ScratchDir scratch;
    const std::vector<uint8_t> ico = testing::ReadBytes(IconFixtures() / "bmp4.ico");
    const std::vector<uint8_t> dll = testing::ReadBytes(IconFixtures() / "icons64.dll");
    std::vector<uint8_t> lying = ico;
    lying[6 + 12] = 0xF0;  // the image's offset, now past the end
    lying[6 + 15] = 0xFF;
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"truncated.ico", {ico.begin(), ico.end() - 1}},
        {"directory-only.ico", {ico.begin(), ico.begin() + 22}},
        {"lying.ico", lying},
        {"truncated.dll", {dll.begin(), dll.begin() + 1000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::WriteBytes(scratch.path() / c.name, c.bytes);
        EXPECT_EQ(Extract(scratch.path() / c.name, 0), nullptr);
    }
    // A directory is no file.
    EXPECT_EQ(Extract(scratch.path(), 0), nullptr);
}

TEST(Icons, NoAssociatedIconsWithoutAShell) {
    std::string path = (IconFixtures() / "bmp4.ico").string();
    uint16_t index = 0;
    EXPECT_EQ(Icons().ExtractAssociatedIcon(OwnModule(), path, index), nullptr);
}
#endif

// The module whose resources hold the library's icons: the shared library on Windows (the
// tests link the library's objects, not its resources), the tests' own module elsewhere.
class LibraryModule {
public:
#if defined(_WIN32)
    LibraryModule() : module_(LoadLibraryA(TAVIX_LIBRARY_FILE)) {}
    ~LibraryModule() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    ModuleHandle get() const { return module_; }

private:
    HMODULE module_;
#else
    ModuleHandle get() const { return OwnModule(); }
#endif
};

TEST(Icons, TheLibrarysOwnIconsAreItsResources1011And1012) {
    TAVIX_REQUIRE_FIXTURE(IconFixtures() / "lib-1011.raw");
    const LibraryModule library;
    ASSERT_NE(library.get(), nullptr);
    for (const uint32_t id : {1011u, 1012u}) {
        SCOPED_TRACE(id);
        const OwnedIcon icon(Icons().LoadResourceIcon(library.get(), id));
        ASSERT_TRUE(IsRealIcon(icon.get()));
        const auto image = ReadIcon(icon.get());
        ASSERT_TRUE(image.has_value());
        const fs::path raw = IconFixtures() / ("lib-" + std::to_string(id) + ".raw");
        EXPECT_TRUE(ShowsImage(*image, LoadRaw(raw)));
    }
    // No other icon; none in a module without them.
    EXPECT_EQ(Icons().LoadResourceIcon(library.get(), 1013), nullptr);
    EXPECT_EQ(Icons().LoadResourceIcon(library.get(), 0x10000 + 1011), nullptr);
    EXPECT_EQ(Icons().LoadResourceIcon(nullptr, 1011), nullptr);
}

TEST(Icons, DestroyIconFreesEachLiveIconOnce) {
    TAVIX_REQUIRE_FIXTURE(IconFixtures() / "bmp4.ico");
    IconHandle icon = Extract(IconFixtures() / "bmp4.ico", 0);
    ASSERT_TRUE(IsRealIcon(icon));
    EXPECT_TRUE(ReadIcon(icon).has_value());
    EXPECT_TRUE(Icons().DestroyIcon(icon));
    EXPECT_FALSE(Icons().DestroyIcon(icon));
    EXPECT_FALSE(Icons().DestroyIcon(nullptr));
    EXPECT_FALSE(Icons().DestroyIcon(kNotAnIconFile));
    EXPECT_FALSE(ReadIcon(nullptr).has_value());
#if !defined(_WIN32)
    // Freed icons and other pointers are no icons; the exported function answers the same.
    int notAnIcon = 0;
    EXPECT_FALSE(ReadIcon(icon).has_value());
    EXPECT_FALSE(Icons().DestroyIcon(&notAnIcon));
    IconHandle another = Extract(IconFixtures() / "bmp4.ico", 0);
    EXPECT_EQ(::DestroyIcon(static_cast<HICON>(another)), 1);
    EXPECT_EQ(::DestroyIcon(static_cast<HICON>(another)), 0);
    EXPECT_EQ(::DestroyIcon(nullptr), 0);
    EXPECT_EQ(::DestroyIcon(reinterpret_cast<HICON>(&notAnIcon)), 0);
#endif
}

TEST(Icons, ImageListKeepsCopiesAtItsOwnSize) {
    TAVIX_REQUIRE_FIXTURE(IconFixtures() / "near.ico");
    const auto list = Icons().CreateImageList(32, 32, 10, 10);
    ASSERT_NE(list, nullptr);
    EXPECT_NE(list->Native(), nullptr);
    EXPECT_EQ(list->ImageCount(), 0);

    const icons::IconImage bmp4 = LoadRaw(IconFixtures() / "bmp4.raw");
    const icons::IconImage bmp24 = LoadRaw(IconFixtures() / "bmp24.raw");
    const auto slotShows = [&](int slot, const icons::IconImage& expected) {
        const OwnedIcon copy(list->GetIcon(slot));
        const auto image = ReadIcon(copy.get());
        return image ? ShowsImage(*image, expected)
                     : ::testing::AssertionFailure() << "no icon at slot " << slot;
    };
    {
        // The list keeps copies: the icons given may go at once.
        const OwnedIcon first(Extract(IconFixtures() / "bmp4.ico", 0));
        const OwnedIcon second(Extract(IconFixtures() / "bmp24.ico", 0));
        const OwnedIcon small(Extract(IconFixtures() / "near.ico", 0));  // 24 x 24
        EXPECT_EQ(list->ReplaceIcon(-1, first.get()), 0);
        EXPECT_EQ(list->ReplaceIcon(-1, small.get()), 1);
        EXPECT_EQ(list->ReplaceIcon(-1, first.get()), 2);
        EXPECT_EQ(list->ReplaceIcon(2, second.get()), 2);  // replaced in place
        EXPECT_EQ(list->ReplaceIcon(3, second.get()), -1);  // no such slot
        EXPECT_EQ(list->ReplaceIcon(-2, second.get()), -1);
        EXPECT_EQ(list->ReplaceIcon(-1, nullptr), -1);
        EXPECT_EQ(list->ReplaceIcon(-1, kNotAnIconFile), -1);
    }
    ASSERT_EQ(list->ImageCount(), 3);
    EXPECT_TRUE(slotShows(0, bmp4));
    EXPECT_TRUE(slotShows(2, bmp24));
    {
        // The 24 x 24 icon was scaled to the list's size.
        const OwnedIcon scaled(list->GetIcon(1));
        const auto image = ReadIcon(scaled.get());
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->width, 32);
        EXPECT_EQ(image->height, 32);
#if !defined(_WIN32)
        EXPECT_EQ(*image, icons::ScaleNearest(LoadRaw(IconFixtures() / "near.raw"), 32, 32));
#endif
    }
    EXPECT_EQ(list->GetIcon(3), nullptr);
    EXPECT_EQ(list->GetIcon(-1), nullptr);

    // Removing moves the later images down; -1 removes them all.
    EXPECT_TRUE(list->Remove(0));
    ASSERT_EQ(list->ImageCount(), 2);
    EXPECT_TRUE(slotShows(1, bmp24));
    EXPECT_FALSE(list->Remove(2));
    EXPECT_TRUE(list->Remove(-1));
    EXPECT_EQ(list->ImageCount(), 0);
}

}  // namespace
}  // namespace tavix::platform
