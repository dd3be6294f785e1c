// The platform's icon functions as the library uses them: on Windows the shell, LoadImageA and
// the common controls' image lists; elsewhere the library's own reader and icon objects.
#include "platform/icons.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "../icons/icon_test_support.h"
#include "dialogs/unique_icon.h"
#include "resources/resource.h"

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

IconHandle Extract(const fs::path& file, int index) {
    return Icons().ExtractIcon(OwnModule(), file.string(), index);
}

// Whether an icon shows the image of a .raw fixture.
::testing::AssertionResult Shows(IconHandle icon, const icons::IconImage& expected) {
    const auto image = ReadIcon(icon);
    return image ? ShowsImage(*image, expected) : ::testing::AssertionFailure() << "no icon";
}

TEST(Icons, ExtractIconGivesAnIconNoIconOrNotAnIconFile) {
    const fs::path dir = IconFixtures(), scratch = dir / "scratch";
    TAVIX_REQUIRE_FIXTURE(dir / "icons64.dll");
    fs::create_directories(scratch);
    std::ofstream(scratch / "notes.txt") << "hello\n";
    // What the extractor answers for a file that holds no icons: Windows' shell says so; Wine's
    // says null, as for a missing file.
    bool wine = false;
#if defined(_WIN32)
    wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
#endif
    // The PE fixture holds APPLE (bmp4), ZEBRA (png), 3 (sizes) and 7 (bmp24), in that order.
    struct Case { fs::path file; int index; const char* expected; };  // a .raw image; "" no icon; "-" not an icon file
    const Case cases[] = {
        {dir / "bmp4.ico", 0, "bmp4"},       {dir / "bmp32.ico", 0, "bmp32"},    {dir / "bmp4.ico", 1, ""},
        {dir / "icons64.dll", 1, "png"},     {dir / "icons64.dll", -7, "bmp24"}, {dir / "icons64.dll", 4, ""},
        {dir / "icons64.dll", -1, ""},       {dir / "icons32.exe", 2, "sizes"},  {scratch / "missing.ico", 0, ""},
        {scratch / "notes.txt", 0, "-"},
#if !defined(_WIN32)
        {scratch, 0, ""},  // a directory (Windows' shell answers for itself)
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.filename().string() + " " + std::to_string(c.index));
        const UniqueIcon icon(Extract(c.file, c.index));
        const std::string expected = c.expected;
        if (expected.size() > 1) {
            EXPECT_TRUE(Shows(icon.get(), LoadRaw(dir / (expected + ".raw"))));
        } else {
            EXPECT_EQ(icon.get(), expected.empty() || wine ? nullptr : kNotAnIconFile);
        }
    }
    fs::remove_all(scratch);
}

// The library's own icons (IDI_CONNECTION, IDI_MISSING), of the shared library on Windows (the tests
// link the library's objects, not its resources), of the tests' own module elsewhere.
TEST(Icons, TheLibrarysOwnIconsAreItsResources1011And1012) {
    TAVIX_REQUIRE_FIXTURE(IconFixtures() / "lib-1011.raw");
#if defined(_WIN32)
    using Loaded = std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)>;
    const Loaded loaded(LoadLibraryA(TAVIX_LIBRARY_FILE), &FreeLibrary);
    const ModuleHandle library = loaded.get();
#else
    const ModuleHandle library = OwnModule();
#endif
    ASSERT_NE(library, nullptr);
    for (const uint32_t id : {IDI_CONNECTION, IDI_MISSING}) {
        const UniqueIcon icon(Icons().LoadResourceIcon(library, id));
        EXPECT_TRUE(Shows(icon.get(), LoadRaw(IconFixtures() / ("lib-" + std::to_string(id) + ".raw"))));
    }
    // No other icon; none in a module without them.
    EXPECT_EQ(Icons().LoadResourceIcon(library, IDI_MISSING + 1), nullptr);
    EXPECT_EQ(Icons().LoadResourceIcon(nullptr, IDI_CONNECTION), nullptr);
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
    IconHandle another = Extract(IconFixtures() / "bmp4.ico", 0);
    EXPECT_EQ(::DestroyIcon(static_cast<HICON>(another)), 1);
    EXPECT_EQ(::DestroyIcon(static_cast<HICON>(another)), 0);
    EXPECT_EQ(::DestroyIcon(nullptr) + ::DestroyIcon(reinterpret_cast<HICON>(&notAnIcon)), 0);
#endif
}

TEST(Icons, ImageListKeepsCopiesAtItsOwnSize) {
    TAVIX_REQUIRE_FIXTURE(IconFixtures() / "near.ico");
    const auto list = Icons().CreateImageList(32, 32, 10, 10);
    ASSERT_NE(list, nullptr);
    EXPECT_NE(list->Native(), nullptr);
    const fs::path dir = IconFixtures();
    {
        // The list keeps copies: the icons given may go at once.
        const UniqueIcon first(Extract(dir / "bmp4.ico", 0)), small(Extract(dir / "near.ico", 0));  // 24 x 24
        EXPECT_EQ(list->ReplaceIcon(-1, first.get()), 0);
        EXPECT_EQ(list->ReplaceIcon(-1, small.get()), 1);
        for (const int slot : {2, -2}) EXPECT_EQ(list->ReplaceIcon(slot, first.get()), -1) << "no slot " << slot;
        EXPECT_EQ(list->ReplaceIcon(-1, nullptr), -1);
        EXPECT_EQ(list->ReplaceIcon(-1, kNotAnIconFile), -1);
    }
    ASSERT_EQ(list->ImageCount(), 2);
    EXPECT_TRUE(Shows(UniqueIcon(list->GetIcon(0)).get(), LoadRaw(dir / "bmp4.raw")));
    // The 24 x 24 icon was scaled to the list's size.
    const auto scaled = ReadIcon(UniqueIcon(list->GetIcon(1)).get());
    ASSERT_TRUE(scaled.has_value());
    EXPECT_EQ(std::pair(scaled->width, scaled->height), std::pair(32, 32));
#if !defined(_WIN32)
    EXPECT_EQ(*scaled, icons::ScaleNearest(LoadRaw(dir / "near.raw"), 32, 32));
#endif
    EXPECT_EQ(list->GetIcon(2), nullptr);
    EXPECT_EQ(list->GetIcon(-1), nullptr);
    // -1 removes every image; there is no slot past the last.
    EXPECT_FALSE(list->Remove(2));
    EXPECT_TRUE(list->Remove(-1));
    EXPECT_EQ(list->ImageCount(), 0);
}

}  // namespace
}  // namespace tavix::platform
