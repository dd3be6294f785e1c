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

    void WithImage0() {
        images = icons::NewConnectionImageList(Library().module);
        ASSERT_TRUE(images);
        ASSERT_EQ(images->ImageCount(), 1);
    }
    void Name(const char16_t* file, int32_t index, int32_t image) {
        record.iconFilename.reset(file ? NewBstr(WideFromUtf16(file)) : nullptr);
        record.iconIndex = index;
        imageIndex = image;
    }
    bool Load(platform::IconHandle* icon = nullptr) {
        return icons::LoadRecordIcon(Library().module, record, images.get(), imageIndex, icon);
    }
    int Count() const { return images ? images->ImageCount() : 0; }
};

// The pixels of an icon, which is destroyed.
std::optional<icons::IconImage> Picture(platform::IconHandle icon) { return platform::ReadIcon(UniqueIcon(icon).get()); }

TEST_F(RecordIconTest, WithoutAnIconFileTheRecordSharesTheDefault) {
    // No image list yet: no slot; a caller asking gets the library's default icon itself.
    Name(kIconFile, -1, 7);  // a file, but no index: the file is not opened
    platform::IconHandle icon = nullptr;
    EXPECT_TRUE(Load(&icon));
    EXPECT_EQ(imageIndex, -1);
    ASSERT_NE(icon, nullptr);
    EXPECT_TRUE(platform::Icons().DestroyIcon(icon));

    WithImage0();
    Name(nullptr, 0, -1);
    EXPECT_TRUE(Load());
    EXPECT_EQ(imageIndex, 0);
    EXPECT_EQ(Count(), 1);
}

TEST_F(RecordIconTest, AnIconFileGetsASlotOfItsOwnNeverImage0) {
    WithImage0();
    Name(kIconFile, 0, 0);  // showing the default: a new slot, image 0 stays
    EXPECT_TRUE(Load());
    EXPECT_EQ(imageIndex, 1);
    EXPECT_EQ(Count(), 2);

    Name(kIconFile, 0, 1);  // a slot of its own: replaced in place
    platform::IconHandle icon = nullptr;
    EXPECT_TRUE(Load(&icon));
    EXPECT_EQ(imageIndex, 1);
    EXPECT_EQ(Count(), 2);
    ASSERT_NE(icon, nullptr);
    EXPECT_TRUE(platform::Icons().DestroyIcon(icon));

    // A file without icons: the marker is appended, even over a slot of the record's own.
    Name(u"no-such-file.ico", 0, 1);
    EXPECT_FALSE(Load());
    EXPECT_EQ(imageIndex, 2);
    EXPECT_EQ(Count(), 3);
}

// The icon a caller receives is the one a list of the connections shows, at the list's size
// whatever sizes the file has: the file's own, the default without a file, the marker when the
// file gives none.
TEST_F(RecordIconTest, TheCallersIconIsTheOneTheListShows) {
    const auto resource = [](uint32_t id) { return Picture(platform::Icons().LoadResourceIcon(Library().module, id)); };
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
    EXPECT_EQ(scaled->width, 32);
    EXPECT_EQ(scaled->height, 32);
}

}  // namespace
}  // namespace tavix
