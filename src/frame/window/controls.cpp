#include "frame/window/controls.h"

#include <cstdlib>

#include "frame/window/dialog.h"

namespace tavix::frame {

using platform::Window;

platform::WindowSystem& WindowSystem() {
    platform::WindowSystem* system = platform::CurrentWindowSystem();
    if (system == nullptr) std::abort();  // a window exists only while a system is installed
    return *system;
}

// ---- Wnd ---------------------------------------------------------------------------------------
Window Wnd::Detach() {
    Window handle = handle_;
    handle_ = nullptr;
    return handle;
}

int Wnd::Id() const { return handle_ ? WindowSystem().ControlId(handle_) : 0; }
Window Wnd::Parent() const { return handle_ ? WindowSystem().Parent(handle_) : nullptr; }
std::string Wnd::Text() const { return handle_ ? WindowSystem().Text(handle_) : std::string(); }
void Wnd::SetText(std::string_view text) const {
    if (handle_) WindowSystem().SetText(handle_, text);
}
void Wnd::Enable(bool enable) const {
    if (handle_) WindowSystem().Enable(handle_, enable);
}
bool Wnd::IsEnabled() const { return handle_ && WindowSystem().IsEnabled(handle_); }
void Wnd::Show(bool show) const {
    if (handle_) WindowSystem().Show(handle_, show);
}
bool Wnd::IsVisible() const { return handle_ && WindowSystem().IsVisible(handle_); }
void Wnd::SetFocus() const {
    if (handle_) WindowSystem().SetFocus(handle_);
}
void Wnd::Invalidate(bool erase) const {
    if (handle_) WindowSystem().Invalidate(handle_, nullptr, erase);
}
void Wnd::InvalidateRect(const platform::Rect& rect, bool erase) const {
    if (handle_) WindowSystem().Invalidate(handle_, &rect, erase);
}
platform::Rect Wnd::ClientRect() const {
    return handle_ ? WindowSystem().ClientRect(handle_) : platform::Rect{};
}
platform::Rect Wnd::WindowRect() const {
    return handle_ ? WindowSystem().WindowRect(handle_) : platform::Rect{};
}
void Wnd::SetWindowSize(int width, int height) const {
    if (handle_) WindowSystem().SetWindowSize(handle_, width, height);
}
platform::Point Wnd::ScreenToClient(platform::Point screen) const {
    return handle_ ? WindowSystem().ScreenToClient(handle_, screen) : screen;
}
platform::Point Wnd::ClientToScreen(platform::Point client) const {
    return handle_ ? WindowSystem().ClientToScreen(handle_, client) : client;
}
intptr_t Wnd::Send(unsigned message, uintptr_t wParam, intptr_t lParam) const {
    return handle_ ? WindowSystem().Send(handle_, message, wParam, lParam) : 0;
}
int Wnd::SetScrollInfo(int bar, const platform::ScrollInfo& info, bool redraw) const {
    return handle_ ? WindowSystem().SetScrollInfo(handle_, bar, info, redraw) : 0;
}
platform::ScrollInfo Wnd::GetScrollInfo(int bar) const {
    return handle_ ? WindowSystem().GetScrollInfo(handle_, bar) : platform::ScrollInfo{};
}
int Wnd::ScrollPos(int bar) const { return handle_ ? WindowSystem().ScrollPos(handle_, bar) : 0; }
int Wnd::SetScrollPos(int bar, int pos, bool redraw) const {
    return handle_ ? WindowSystem().SetScrollPos(handle_, bar, pos, redraw) : 0;
}

// ---- Edit, Button ------------------------------------------------------------------------------
void Edit::SetLimitText(int maxChars) const {
    if (handle_) WindowSystem().SetTextLimit(handle_, maxChars);
}
void Edit::SelectAll() const {
    if (handle_) WindowSystem().SelectAllText(handle_);
}

platform::IconHandle Button::SetIcon(platform::IconHandle icon) const {
    return handle_ ? WindowSystem().SetButtonIcon(handle_, icon) : nullptr;
}

// ---- ListView ----------------------------------------------------------------------------------
void ListView::SetImageList(const platform::ImageList* images) const {
    if (handle_) WindowSystem().ListViewSetImageList(handle_, images);
}
int ListView::ItemCount() const { return handle_ ? WindowSystem().ListViewCount(handle_) : 0; }
int ListView::InsertItem(int index, const platform::ListViewItem& item) const {
    return handle_ ? WindowSystem().ListViewInsert(handle_, index, item) : -1;
}
bool ListView::DeleteItem(int index) const {
    return handle_ && WindowSystem().ListViewDelete(handle_, index);
}
uintptr_t ListView::ItemData(int index) const {
    return handle_ ? WindowSystem().ListViewData(handle_, index) : 0;
}
unsigned ListView::ItemState(int index, unsigned mask) const {
    return handle_ ? WindowSystem().ListViewState(handle_, index, mask) : 0;
}
std::string ListView::ItemText(int index) const {
    return handle_ ? WindowSystem().ListViewText(handle_, index) : std::string();
}
bool ListView::SetItemText(int index, std::string_view text) const {
    return handle_ && WindowSystem().ListViewSetText(handle_, index, text);
}
bool ListView::SetItemImage(int index, int image) const {
    return handle_ && WindowSystem().ListViewSetImage(handle_, index, image);
}
bool ListView::SetItemState(int index, unsigned state, unsigned mask) const {
    return handle_ && WindowSystem().ListViewSetState(handle_, index, state, mask);
}
int ListView::NextItem(int start, unsigned flags) const {
    return handle_ ? WindowSystem().ListViewNextItem(handle_, start, flags) : -1;
}
int ListView::SelectedCount() const {
    return handle_ ? WindowSystem().ListViewSelectedCount(handle_) : 0;
}
Window ListView::EditLabel(int index) const {
    return handle_ ? WindowSystem().ListViewEditLabel(handle_, index) : nullptr;
}
int ListView::HitTest(platform::Point client) const {
    return handle_ ? WindowSystem().ListViewHitTest(handle_, client) : -1;
}

// ---- ListBox -----------------------------------------------------------------------------------
void ListBox::ResetContent() const {
    if (handle_) WindowSystem().ListBoxReset(handle_);
}
int ListBox::AddItem(std::string_view text, uintptr_t data) const {
    return handle_ ? WindowSystem().ListBoxAdd(handle_, text, data) : -1;
}
int ListBox::Count() const { return handle_ ? WindowSystem().ListBoxCount(handle_) : 0; }
void ListBox::SetCurSel(int index) const {
    if (handle_) WindowSystem().ListBoxSetCurSel(handle_, index);
}
int ListBox::CurSel() const { return handle_ ? WindowSystem().ListBoxCurSel(handle_) : -1; }
void ListBox::SetColumnWidth(int width) const {
    if (handle_) WindowSystem().ListBoxSetColumnWidth(handle_, width);
}
void ListBox::SetHorizontalExtent(int extent) const {
    if (handle_) WindowSystem().ListBoxSetHorizontalExtent(handle_, extent);
}
void ListBox::SetItemHeight(int index, int height) const {
    if (handle_) WindowSystem().ListBoxSetItemHeight(handle_, index, height);
}
int ListBox::ItemHeight(int index) const {
    return handle_ ? WindowSystem().ListBoxItemHeight(handle_, index) : 0;
}

// ---- Control -----------------------------------------------------------------------------------
Control::~Control() { Unsubclass(); }

bool Control::SubclassDlgItem(int id, Dialog& dialog) {
    Window window = dialog.Item(id);
    if (window == nullptr || hooked_ != nullptr) return false;
    if (!WindowSystem().Subclass(window, *this)) return false;
    hooked_ = window;
    dialog_ = &dialog;
    dialog.Register(this);
    OnAttached(window);
    return true;
}

void Control::Unsubclass() {
    if (hooked_ == nullptr) return;
    platform::WindowSystem* system = platform::CurrentWindowSystem();
    if (system != nullptr) system->Unsubclass(hooked_);
    if (dialog_) dialog_->Unregister(this);
    hooked_ = nullptr;
    dialog_ = nullptr;
    OnAttached(nullptr);
}

bool Control::DrawItem(platform::DrawItemRequest&) { return false; }
bool Control::MeasureItem(platform::MeasureItemRequest&) { return false; }
bool Control::CompareItem(const platform::CompareItemRequest&, int&) { return false; }
void Control::OnAttached(Window) {}

intptr_t Control::Default(const Message& message) const {
    return hooked_ ? WindowSystem().CallDefault(hooked_, message) : 0;
}

intptr_t Control::OnControlMessage(Window, const Message& message, bool& handled) {
    intptr_t result = 0;
    handled = Dispatch(message, false, result);
    return result;
}

// ---- MessageTarget -----------------------------------------------------------------------------
namespace {

bool Matches(const MessageEntry& entry, const Message& message) {
    if (entry.message != message.message) return false;
    switch (message.message) {
        case platform::wm::kCommand:
        case platform::wm::kNotify:
            if (entry.code != message.code) return false;
            break;
        default:
            break;
    }
    return entry.id == kAnyId || entry.id == message.id;
}

}  // namespace

const MessageEntry* MessageTarget::FindEntry(const Message& message, bool reflected) const {
    for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base) {
        for (const MessageEntry& entry : map->entries) {
            if (entry.reflected == reflected && Matches(entry, message)) return &entry;
        }
    }
    return nullptr;
}

bool MessageTarget::Dispatch(const Message& message, bool reflected, intptr_t& result) {
    const MessageEntry* entry = FindEntry(message, reflected);
    if (entry == nullptr) return false;
    result = entry->thunk(*this, message);
    return true;
}

}  // namespace tavix::frame
