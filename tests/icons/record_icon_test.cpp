// A connection's icon in a list of 32 x 32 icons: its own slot, the shared default image 0, or
// the marker for a file that yields no icon; and the icon handed to a caller.
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "dialogs/unique_icon.h"
#include "frame/context/library_context.h"
#include "icon_test_support.h"
#include "icons/record_icon.h"
#include "resources/resource.h"

namespace tavix {
namespace {

const char16_t kIconFile[] = u"" TAVIX_SOURCE_DIR "/src/resources/icons/connection.ico";

class RecordIconTest : public ::testing::Test {
protected:
    ContextGuard guard;
    std::unique_ptr<platform::ImageList> images;
    ConnectionRecord record;
    int32_t imageIndex = -1;

    void Name(const char16_t* file, int32_t index, int32_t image) {
        record.iconFilename.reset(file ? NewBstr(WideFromUtf16(file)) : nullptr);
        record.iconIndex = index;
        imageIndex = image;
    }
};

// The pixels of an icon, which is destroyed.
std::optional<icons::IconImage> Picture(platform::IconHandle icon) {
    return platform::ReadIcon(UniqueIcon(icon).get());
}

// Without an icon file a record shares the default image 0; with one it gets a slot of its own,
// never image 0; a file without icons gets the marker. Steps in order, on one image list.
TEST_F(RecordIconTest, SlotsOfTheImageList) {
    // With an image list or not; the record's file, index and image; LoadRecordIcon's answer, the image and the
    // list's size after it; whether the caller asks for the icon. A file without an index is not opened.
    struct Step { bool list; const char16_t* file; int32_t index, image; bool ok; int32_t after, count; bool icon; };
    const Step steps[] = {
        {false, kIconFile, -1, 7, true, -1, 0, true},  // no list: no slot; the caller gets the library's default icon
        {true, nullptr, 0, -1, true, 0, 1, false},     // no file: the default
        {true, kIconFile, 0, 0, true, 1, 2, false},    // showing the default: a new slot, image 0 stays
        {true, kIconFile, 0, 1, true, 1, 2, true},     // a slot of its own: replaced in place
        {true, u"no-such-file.ico", 0, 1, false, 2, 3, false},  // no icons: the marker appended, even over its slot
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(&s - steps);
        if (s.list && !images) images = icons::NewConnectionImageList(Library().module);  // image 0 the default
        Name(s.file, s.index, s.image);
        platform::IconHandle icon = nullptr;
        const bool ok =
            icons::LoadRecordIcon(Library().module, record, images.get(), imageIndex, s.icon ? &icon : nullptr);
        EXPECT_EQ(ok, s.ok);
        EXPECT_EQ(std::pair(imageIndex, images ? images->ImageCount() : 0), std::pair(s.after, s.count));
        EXPECT_TRUE(!s.icon || platform::Icons().DestroyIcon(icon)) << "no icon handed out";
    }
}

// The icon a caller receives is the one a list of the connections shows, at the list's size
// whatever sizes the file has: the file's own, the default without a file, the marker when the
// file gives none.
TEST_F(RecordIconTest, TheCallersIconIsTheOneTheListShows) {
    const auto resource = [](uint32_t id) {
        return Picture(platform::Icons().LoadResourceIcon(Library().module, id));
    };
    const std::u16string grey = u"" TAVIX_SOURCE_DIR "/src/resources/icons/missing.ico";
    const std::u16string near = (testing::IconFixtures() / "near.ico").u16string();  // 48, 24, 16
    const struct { const char16_t* file; int32_t index; std::optional<icons::IconImage> expected; } cases[] = {
        {nullptr, 0, resource(IDI_CONNECTION)},
        {kIconFile, -1, resource(IDI_CONNECTION)},
        {grey.c_str(), 0, resource(IDI_MISSING)},
        {kIconFile, 0, resource(IDI_CONNECTION)},
        {u"no-such-file.ico", 0, resource(IDI_MISSING)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file ? ActiveCodePage().ToNarrow(WideFromUtf16(c.file)) : "(none)");
        Name(c.file, c.index, -1);
        const std::optional<icons::IconImage> picture = Picture(icons::NewRecordIcon(Library().module, record));
        ASSERT_TRUE(c.expected && picture);
        EXPECT_EQ(*picture, *c.expected);
    }
    TAVIX_REQUIRE_FIXTURE(testing::IconFixtures() / "near.ico");
    Name(near.c_str(), 0, -1);
    const std::optional<icons::IconImage> scaled = Picture(icons::NewRecordIcon(Library().module, record));
    ASSERT_TRUE(scaled);
    EXPECT_EQ(std::pair(scaled->width, scaled->height), std::pair(32, 32));
}

}  // namespace
}  // namespace tavix
