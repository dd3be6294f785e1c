// Thin control objects over the window system: each one holds a window handle and turns its
// methods into window-system calls; none keeps state of its own.
//
// A Control is a control whose class handles its own window messages (a subclassed control):
// it has a message table, receives its own messages through the window system's subclassing,
// gets its own notifications reflected back by the dialog, and answers owner-draw requests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "frame/window/message_map.h"
#include "platform/window_system.h"

namespace tavix::frame {

class Dialog;

// The current window system; only called while a window exists, so never null there.
platform::WindowSystem& WindowSystem();

class Wnd {
public:
    Wnd() = default;
    explicit Wnd(platform::Window handle) : handle_(handle) {}
    virtual ~Wnd() = default;
    Wnd(const Wnd&) = delete;
    Wnd& operator=(const Wnd&) = delete;

    platform::Window Handle() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void Attach(platform::Window handle) { handle_ = handle; }
    platform::Window Detach();

    int Id() const;
    platform::Window Parent() const;
    std::string Text() const;
    void SetText(std::string_view text) const;
    void Enable(bool enable = true) const;
    bool IsEnabled() const;
    void Show(bool show = true) const;
    bool IsVisible() const;
    void SetFocus() const;
    void Invalidate(bool erase = true) const;
    void InvalidateRect(const platform::Rect& rect, bool erase) const;
    platform::Rect ClientRect() const;
    platform::Rect WindowRect() const;  // screen coordinates
    void SetWindowSize(int width, int height) const;
    platform::Point ScreenToClient(platform::Point screen) const;
    platform::Point ClientToScreen(platform::Point client) const;
    intptr_t Send(unsigned message, uintptr_t wParam = 0, intptr_t lParam = 0) const;

    int SetScrollInfo(int bar, const platform::ScrollInfo& info, bool redraw = true) const;
    platform::ScrollInfo GetScrollInfo(int bar) const;
    int ScrollPos(int bar) const;
    int SetScrollPos(int bar, int pos, bool redraw = true) const;

protected:
    platform::Window handle_ = nullptr;
};

class Static : public Wnd {};

class Edit : public Wnd {
public:
    void SetLimitText(int maxChars) const;
    void SelectAll() const;
};

class Button : public Wnd {
public:
    // Shows icon instead of the text (BM_SETIMAGE); answers the icon shown before.
    platform::IconHandle SetIcon(platform::IconHandle icon) const;
};

class ListView : public Wnd {
public:
    void SetImageList(const platform::ImageList* images) const;
    int ItemCount() const;
    int InsertItem(int index, const platform::ListViewItem& item) const;
    bool DeleteItem(int index) const;
    uintptr_t ItemData(int index) const;
    unsigned ItemState(int index, unsigned mask) const;
    std::string ItemText(int index) const;
    bool SetItemText(int index, std::string_view text) const;
    bool SetItemImage(int index, int image) const;
    bool SetItemState(int index, unsigned state, unsigned mask) const;
    int NextItem(int start, unsigned flags) const;
    int SelectedCount() const;
    platform::Window EditLabel(int index) const;
    int HitTest(platform::Point client) const;
};

class ListBox : public Wnd {
public:
    void ResetContent() const;
    int AddItem(std::string_view text, uintptr_t data) const;
    int Count() const;
    void SetCurSel(int index) const;
    int CurSel() const;
    void SetColumnWidth(int width) const;
    void SetHorizontalExtent(int extent) const;
    void SetItemHeight(int index, int height) const;
    int ItemHeight(int index) const;
};

// A control whose class takes its own messages. Derive from it (together with the wrapper of
// the host control, see OwnerDrawListBox) and give the class a message table.
class Control : public MessageTarget, private platform::ControlHook {
public:
    Control() = default;
    ~Control() override;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    // Takes over control id of the dialog: its messages reach this object until the dialog's
    // window is destroyed. False when the dialog has no such control.
    bool SubclassDlgItem(int id, Dialog& dialog);
    void Unsubclass();
    platform::Window Hooked() const { return hooked_; }

    // Owner-draw requests the dialog passes on for this control; false: not owner-drawn.
    virtual bool DrawItem(platform::DrawItemRequest& request);
    virtual bool MeasureItem(platform::MeasureItemRequest& request);
    virtual bool CompareItem(const platform::CompareItemRequest& request, int& result);

protected:
    // The host control's default handling of the message being handled.
    intptr_t Default(const Message& message) const;
    // Called after the control was taken over (the window handle is set).
    virtual void OnAttached(platform::Window window);

private:
    intptr_t OnControlMessage(platform::Window control, const Message& message,
                              bool& handled) override;

    platform::Window hooked_ = nullptr;
    Dialog* dialog_ = nullptr;
};

// An owner-drawn list box whose class paints and handles it.
class OwnerDrawListBox : public ListBox, public Control {
protected:
    void OnAttached(platform::Window window) override { Attach(window); }
};

}  // namespace tavix::frame
