// A connection's icon in the table's image list: its own slot, the shared default image 0, or
// the marker for a file that yields no icon.
#include <gtest/gtest.h>

#include "frame/library_context.h"
#include "resources/resource.h"
#include "store/connection_table.h"

namespace tavix {
namespace {

const char16_t kIconFile[] = u"" TAVIX_SOURCE_DIR "/src/resources/icons/connection.ico";

class RecordIconTest : public ::testing::Test {
protected:
    ContextGuard guard;
    ConnectionTable table;
    ConnectionRecord record;

    void WithImage0() {
        table.images = platform::Icons().CreateImageList(32, 32, 10, 10);
        platform::IconHandle icon = platform::Icons().LoadResourceIcon(Library().module, IDI_CONNECTION);
        ASSERT_NE(icon, nullptr);
        ASSERT_EQ(table.images->ReplaceIcon(-1, icon), 0);
        platform::Icons().DestroyIcon(icon);
    }
    void Name(const char16_t* file, int32_t index, int32_t imageIndex) {
        record.iconFilename.reset(file ? NewBstr(WideFromUtf16(file)) : nullptr);
        record.iconIndex = index;
        record.imageIndex = imageIndex;
    }
    int Count() const { return table.images ? table.images->ImageCount() : 0; }
};

TEST_F(RecordIconTest, WithoutAnIconFileTheRecordSharesTheDefault) {
    // No image list yet: no slot; a caller asking gets the library's default icon itself.
    Name(kIconFile, -1, 7);  // a file, but no index: the file is not opened
    platform::IconHandle icon = nullptr;
    EXPECT_TRUE(table.LoadRecordIcon(Library().module, record, &icon));
    EXPECT_EQ(record.imageIndex, -1);
    ASSERT_NE(icon, nullptr);
    EXPECT_TRUE(platform::Icons().DestroyIcon(icon));

    WithImage0();
    Name(nullptr, 0, -1);
    EXPECT_TRUE(table.LoadRecordIcon(Library().module, record));
    EXPECT_EQ(record.imageIndex, 0);
    EXPECT_EQ(Count(), 1);
}

TEST_F(RecordIconTest, AnIconFileGetsASlotOfItsOwnNeverImage0) {
    WithImage0();
    Name(kIconFile, 0, 0);  // showing the default: a new slot, image 0 stays
    EXPECT_TRUE(table.LoadRecordIcon(Library().module, record));
    EXPECT_EQ(record.imageIndex, 1);
    EXPECT_EQ(Count(), 2);

    Name(kIconFile, 0, 1);  // a slot of its own: replaced in place
    platform::IconHandle icon = nullptr;
    EXPECT_TRUE(table.LoadRecordIcon(Library().module, record, &icon));
    EXPECT_EQ(record.imageIndex, 1);
    EXPECT_EQ(Count(), 2);
    ASSERT_NE(icon, nullptr);
    EXPECT_TRUE(platform::Icons().DestroyIcon(icon));

    // A file without icons: the marker is appended, even over a slot of the record's own.
    Name(u"no-such-file.ico", 0, 1);
    EXPECT_FALSE(table.LoadRecordIcon(Library().module, record));
    EXPECT_EQ(record.imageIndex, 2);
    EXPECT_EQ(Count(), 3);
}

}  // namespace
}  // namespace tavix
