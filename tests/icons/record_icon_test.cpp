// A connection's icon in a list of 32 x 32 icons: its own slot, the shared default image 0, or
// the marker for a file that yields no icon; and the icon handed to a caller.
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "dialogs/unique_icon.h"
#include "frame/context/library_context.h"
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
    // The record's file, index and image; LoadRecordIcon's answer, the image and the list's size after
    // it; whether the caller asks for the icon. A file without an index is not opened.
    struct Step { const char16_t* file; int32_t index, image; bool ok; int32_t after, count; bool icon; };
    const Step steps[] = {
        {nullptr, 0, -1, true, 0, 1, false},     // no file: the default
        {kIconFile, 0, 0, true, 1, 2, false},    // showing the default: a new slot, image 0 stays
        {kIconFile, 0, 1, true, 1, 2, true},     // a slot of its own: replaced in place
        {u"no-such-file.ico", 0, 1, false, 2, 3, false},  // no icons: the marker appended, even over its slot
    };
    images = icons::NewConnectionImageList(Library().module);  // image 0 the default
    for (const Step& s : steps) {
        SCOPED_TRACE(&s - steps);
        Name(s.file, s.index, s.image);
        platform::IconHandle icon = nullptr;
        const bool ok =
            icons::LoadRecordIcon(Library().module, record, images.get(), imageIndex, s.icon ? &icon : nullptr);
        EXPECT_EQ(ok, s.ok);
        EXPECT_EQ(std::pair(imageIndex, images->ImageCount()), std::pair(s.after, s.count));
        EXPECT_TRUE(!s.icon || platform::Icons().DestroyIcon(icon)) << "no icon handed out";
    }
}

// The icon a caller receives is the one a list of the connections shows: the default for a file
// without an index, the file's own, the marker when the file gives none.
TEST_F(RecordIconTest, TheCallersIconIsTheOneTheListShows) {
    const auto resource = [](uint32_t id) {
        return Picture(platform::Icons().LoadResourceIcon(Library().module, id));
    };
    const struct { const char16_t* file; int32_t index; std::optional<icons::IconImage> expected; } cases[] = {
        {kIconFile, -1, resource(IDI_CONNECTION)},
        {kIconFile, 0, resource(IDI_CONNECTION)},
        {u"no-such-file.ico", 0, resource(IDI_MISSING)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ActiveCodePage().ToNarrow(WideFromUtf16(c.file)));
        Name(c.file, c.index, -1);
        const std::optional<icons::IconImage> picture = Picture(icons::NewRecordIcon(Library().module, record));
        ASSERT_TRUE(c.expected && picture);
        EXPECT_EQ(*picture, *c.expected);
    }
}

}  // namespace
}  // namespace tavix
