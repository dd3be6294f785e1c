// CIconListBox: all icons of one file side by side in a single row that scrolls horizontally,
// one picked with the mouse or the keyboard.
//
// It takes over an owner-drawn list box of a dialog and uses it only as a frame: the list box
// holds one item, the whole row, whose painting, hit testing, selection and scrolling within the
// row are this class's own. The selection that counts is selectedIndex, not the list box's.
//
// Geometry: cells of 40 x 40 pixels, cell i at row x = 40 i; each 32 x 32 icon 4 pixels in;
// the row appears shifted left by the horizontal scroll position.
#pragma once

#include <memory>
#include <string>

#include "frame/window/controls.h"
#include "platform/icons.h"

namespace tavix::icons {

class CIconListBox : public frame::OwnerDrawListBox {
public:
    static constexpr int kCell = 40;
    static constexpr int kMargin = 4;
    // The associated-icon lookup may yield an icon for any index; it is asked at most this
    // often.
    static constexpr int kMaxAssociatedIcons = 1000;
    // The message shown when a file has no icons.
    static constexpr uint32_t kNoIconsMessage = 2010;

    CIconListBox() = default;
    ~CIconListBox() override = default;

    // Fills the row from fileName (8-bit), or with defaultIcon alone when fileName is empty
    // (borrowed: a copy goes into the row); picks selectIndex when it is an icon of the row.
    void LoadIcons(platform::IconHandle defaultIcon, const std::string& fileName, int selectIndex);

    // Scrolls so that the picked cell lies wholly in view.
    void EnsureSelectionVisible();

    bool MeasureItem(platform::MeasureItemRequest& request) override;
    bool CompareItem(const platform::CompareItemRequest& request, int& result) override;
    bool DrawItem(platform::DrawItemRequest& request) override;

    static const frame::MessageMap* ClassMap();
    const frame::MessageMap* GetMessageMap() const override { return ClassMap(); }

    int iconCount = 0;
    std::unique_ptr<platform::ImageList> images;
    int selectedIndex = 0;
    platform::ScrollInfo scrollInfo;
    int visibleWidth = 0;
    int iconsPerPage = 0;

private:
    bool Append(platform::IconHandle icon);
    platform::Rect CellOnScreen(int index) const;  // in client coordinates

    intptr_t OnGetDlgCode(const frame::Message& message);
    intptr_t OnLButtonDown(const frame::Message& message);
    void OnKillFocus();
    void OnSetFocus();
    intptr_t OnHScroll(const frame::Message& message);
    intptr_t OnKeyDown(const frame::Message& message);
};

}  // namespace tavix::icons
