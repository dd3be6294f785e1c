#include "icons/icon_list_box.h"

#include <algorithm>

#include "frame/window/dialog.h"
#include "platform/module.h"

namespace tavix::icons {

using platform::IconHandle;
using platform::Rect;
namespace wm = platform::wm;
namespace sb = platform::sb;
namespace vk = platform::vk;

const frame::MessageMap* CIconListBox::ClassMap() {
    static constexpr frame::MessageEntry entries[] = {
        frame::OnMessage<&CIconListBox::OnGetDlgCode>(wm::kGetDlgCode),
        frame::OnMessage<&CIconListBox::OnLButtonDown>(wm::kLButtonDown),
        frame::OnReflected<&CIconListBox::OnKillFocus>(wm::kCommand, platform::lbn::kKillFocus),
        frame::OnReflected<&CIconListBox::OnSetFocus>(wm::kCommand, platform::lbn::kSetFocus),
        frame::OnMessage<&CIconListBox::OnHScroll>(wm::kHScroll),
        frame::OnMessage<&CIconListBox::OnKeyDown>(wm::kKeyDown),
    };
    static const frame::MessageMap map{nullptr, entries};
    return &map;
}

bool CIconListBox::Append(IconHandle icon) { return images->ReplaceIcon(-1, icon) >= 0; }

void CIconListBox::LoadIcons(IconHandle defaultIcon, const std::string& fileName,
                             int selectIndex) {
    platform::IconSystem& system = platform::Icons();
    selectedIndex = selectIndex;
    images = system.CreateImageList(32, 32, 10, 10);
    iconCount = 0;

    if (fileName.empty()) {
        Append(defaultIcon);
        iconCount = 1;
    } else {
        const platform::ModuleHandle instance = platform::OwnModule();
        for (int index = 0;; ++index) {
            IconHandle icon = system.ExtractIcon(instance, fileName, index);
            if (!platform::IsRealIcon(icon)) break;
            const bool added = Append(icon);
            system.DestroyIcon(icon);
            if (!added) break;
            ++iconCount;
        }
        if (iconCount == 0) {
            std::string path = fileName;  // the lookup may rewrite its copy
            path.reserve(260);
            for (int index = 0; index < kMaxAssociatedIcons; ++index) {
                auto word = static_cast<uint16_t>(index);
                IconHandle icon = system.ExtractAssociatedIcon(instance, path, word);
                if (icon == nullptr) break;
                const bool added = platform::IsRealIcon(icon) && Append(icon);
                if (platform::IsRealIcon(icon)) system.DestroyIcon(icon);
                if (!added) break;
                ++iconCount;
            }
            if (iconCount == 0) {
                frame::ShowStringMessage(kNoIconsMessage,
                                         platform::kMbOk | platform::kMbIconExclamation,
                                         Parent());
            }
        }
    }

    if (selectedIndex < 0 || selectedIndex >= iconCount) selectedIndex = iconCount >= 1 ? 0 : -1;

    // The client area becomes exactly one cell high.
    const Rect window = WindowRect();
    Rect client = ClientRect();
    SetWindowSize(window.Width(), window.Height() - client.Height() + kCell);

    ResetContent();
    SetColumnWidth(kCell);
    SetHorizontalExtent(iconCount * kCell);
    SetItemHeight(0, kCell);
    AddItem({}, 0);
    SetCurSel(0);

    client = ClientRect();
    scrollInfo = {};
    scrollInfo.mask = sb::kRange | sb::kPage | sb::kDisableNoScroll;
    scrollInfo.min = 0;
    scrollInfo.max = iconCount * kCell;
    scrollInfo.page = static_cast<unsigned>(client.Width() / kCell * kCell);
    scrollInfo.pos = 0;
    SetScrollInfo(sb::kHorz, scrollInfo, false);

    visibleWidth = client.Width();
    iconsPerPage = static_cast<int>(scrollInfo.page) / kCell;
    EnsureSelectionVisible();
}

void CIconListBox::EnsureSelectionVisible() {
    const int pos = ScrollPos(sb::kHorz);
    const int left = kCell * selectedIndex;
    const int right = left + kCell;
    int newPos = 0;
    if (left < pos) {
        newPos = left;
    } else if (right > pos + visibleWidth) {
        newPos = right - visibleWidth;
    } else {
        return;
    }
    SetScrollPos(sb::kHorz, newPos, true);
    const auto wParam = static_cast<uintptr_t>(sb::kThumbPosition) |
                        (static_cast<uintptr_t>(static_cast<uint16_t>(newPos)) << 16);
    Send(wm::kHScroll, wParam, 0);
}

bool CIconListBox::MeasureItem(platform::MeasureItemRequest& request) {
    request.width = static_cast<unsigned>(iconCount * kCell);
    request.height = kCell;
    return true;
}

bool CIconListBox::CompareItem(const platform::CompareItemRequest& request, int& result) {
    result = request.item1 > request.item2 ? 1 : 0;
    return true;
}

bool CIconListBox::DrawItem(platform::DrawItemRequest& request) {
    const int pos = ScrollPos(sb::kHorz);
    const int from = request.rect.left + pos;
    const int to = request.rect.right + pos;
    if (iconCount < 1 || request.painter == nullptr) return true;
    for (int i = 0; i < iconCount; ++i) {
        const int x = kCell * i;
        if (x + kCell - 1 <= from || x >= to) continue;
        const Rect cell{x, 0, x + kCell, kCell};
        if (i == selectedIndex) {
            const bool focused = (request.state & platform::oda::kStateFocus) != 0;
            request.painter->Fill(cell, focused ? platform::color::kHighlight
                                                : platform::color::kWindow);
            request.painter->FocusRect({x + 2, 2, x + kCell - 2, kCell - 2});
        } else {
            request.painter->Fill(cell, platform::color::kWindow);
        }
        if (images) request.painter->DrawImage(*images, i, x + kMargin, kMargin);
    }
    return true;
}

Rect CIconListBox::CellOnScreen(int index) const {
    const int x = kCell * index - ScrollPos(sb::kHorz);
    return {x, 0, x + kCell, kCell};
}

intptr_t CIconListBox::OnGetDlgCode(const frame::Message& message) {
    return Default(message) | platform::dlgc::kWantArrows;
}

intptr_t CIconListBox::OnLButtonDown(const frame::Message& message) {
    const int x = static_cast<int16_t>(message.lParam & 0xFFFF);
    const int index = std::min((ScrollPos(sb::kHorz) + x) / kCell, iconCount - 1);
    if (index != selectedIndex) {
        InvalidateRect(CellOnScreen(index), false);
        InvalidateRect(CellOnScreen(selectedIndex), false);
        selectedIndex = index;
        EnsureSelectionVisible();
    }
    return Default(message);
}

void CIconListBox::OnKillFocus() {
    if (selectedIndex >= 0) InvalidateRect(CellOnScreen(selectedIndex), true);
}

void CIconListBox::OnSetFocus() { SetCurSel(0); }

intptr_t CIconListBox::OnHScroll(const frame::Message& message) { return Default(message); }

intptr_t CIconListBox::OnKeyDown(const frame::Message& message) {
    const bool ctrl = frame::WindowSystem().IsKeyDown(vk::kControl);
    const int last = iconCount - 1;
    switch (static_cast<int>(message.wParam)) {
        case vk::kEnd:
            selectedIndex = last;
            break;
        case vk::kHome:
            selectedIndex = 0;
            break;
        case vk::kLeft:
            if (ctrl) {
                selectedIndex = selectedIndex - iconsPerPage > 0 ? selectedIndex - iconsPerPage : 0;
            } else if (selectedIndex >= 1) {
                --selectedIndex;
            }
            break;
        case vk::kRight:
            if (ctrl) {
                selectedIndex =
                    selectedIndex + iconsPerPage < last ? selectedIndex + iconsPerPage : last;
            } else if (selectedIndex < last) {
                ++selectedIndex;
            }
            break;
        default:
            return Default(message);
    }
    EnsureSelectionVisible();
    Invalidate(false);
    return 0;
}

}  // namespace tavix::icons
