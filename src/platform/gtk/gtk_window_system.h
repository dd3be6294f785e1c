// The GTK 3 window system: the dialogs built from their templates as GTK widgets, run in a modal
// main loop, raising the events the dialog manager and the common controls raise, in their order
// (the headless backend is the reference for that order). The dialog manager's rules (keys, the
// controls' default handling, list-view item states, scroll bars) are platform/dialog_manager's,
// shared with the headless backend; this backend answers what they ask and shows what they change.
//
// Windows are this backend's Node objects. Every control keeps the state the interface reads
// (a list view's items, a list box's items, scroll bars) itself and shows it through its widget,
// so that what the dialogs read never depends on a widget's idea of it.
#pragma once

#include <gtk/gtk.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "platform/dialog_manager.h"
#include "platform/gtk/gtk_host.h"
#include "platform/gtk/gtk_pure.h"
#include "platform/window_system.h"

namespace tavix::platform::gtk {

using Kind = dialog_manager::ControlKind;

struct Run;

struct Node {
    struct ListBoxItem {
        std::string text;
        uintptr_t data = 0;
        int height = 16;
    };

    Kind kind = Kind::Other;
    int id = 0;
    uint32_t style = 0;
    GtkWidget* widget = nullptr;  // what the user sees (a list view: its scrolled window)
    GtkWidget* inner = nullptr;   // what takes the focus and the input
    Run* run = nullptr;
    ControlHook* hook = nullptr;
    Rect rect;  // a control: in its dialog's client area
    ScrollInfo bars[2];

    // Edit and button
    int limit = 0;
    IconHandle icon = nullptr;

    // List view
    std::vector<ListViewItem> items;
    const ImageList* images = nullptr;
    GtkListStore* store = nullptr;
    // The view shows the store only once the dialog is shown: until then items go to the store
    // alone. A live icon view (and its accessible) walks all its items on every insert, which
    // made filling 10,000 items take seconds.
    bool modelAttached = false;
    GtkCellRenderer* textCell = nullptr;
    int editing = -1;
    GtkWidget* editor = nullptr;

    // List box (owner-drawn): items laid out left to right, each columnWidth wide
    std::vector<ListBoxItem> boxItems;
    int curSel = -1;
    int columnWidth = 0;
    int extent = 0;
    int horzPos = 0;  // how far the items are scrolled, in pixels
    int itemHeight = 16;
    GtkAdjustment* adjustment = nullptr;
    GtkWidget* area = nullptr;

    Window handle() { return reinterpret_cast<Window>(this); }
};

struct Run {
    uint32_t templateId = 0;
    DialogSink* sink = nullptr;
    std::unique_ptr<Node> dialog;
    std::vector<std::unique_ptr<Node>> controls;  // in tab order
    GtkWidget* window = nullptr;
    GtkWidget* fixed = nullptr;
    GMainLoop* loop = nullptr;
    bool ended = false;
    int code = 0;
    int defaultId = 0;
    BaseUnits units;
};

// A new GdkPixbuf (straight RGBA) of an icon's pixels (0xAARRGGBB, straight alpha, the mask's
// pixels transparent); null for an empty image.
GdkPixbuf* PixbufOf(const icons::IconImage& image);

class GtkWindowSystem final : public WindowSystem {
public:
    explicit GtkWindowSystem(const Host& host);
    ~GtkWindowSystem() override;

    int RunModal(uint32_t templateId, const DialogSource& from, Window parent,
                 DialogSink& sink) override;
    void EndDialog(Window dialog, int code) override;
    Window DialogItem(Window dialog, int id) override;
    int ControlId(Window control) override;
    Window Parent(Window window) override;
    void GotoDialogControl(Window dialog, Window control) override;

    std::string Text(Window window) override;
    void SetText(Window window, std::string_view text) override;
    void Enable(Window window, bool enable) override;
    bool IsEnabled(Window window) override;
    void Show(Window window, bool show) override;
    bool IsVisible(Window window) override;
    Window Focus() override;
    void SetFocus(Window window) override;
    void Invalidate(Window window, const Rect* rect, bool erase) override;
    Rect ClientRect(Window window) override;
    Rect WindowRect(Window window) override;
    void SetWindowSize(Window window, int width, int height) override;
    Point ScreenToClient(Window window, Point screen) override;
    Point ClientToScreen(Window window, Point client) override;
    int SetScrollInfo(Window window, int bar, const ScrollInfo& info, bool redraw) override;
    ScrollInfo GetScrollInfo(Window window, int bar) override;
    int ScrollPos(Window window, int bar) override;
    int SetScrollPos(Window window, int bar, int pos, bool redraw) override;
    intptr_t Send(Window window, unsigned message, uintptr_t wParam, intptr_t lParam) override;

    bool Subclass(Window control, ControlHook& hook) override;
    void Unsubclass(Window control) override;
    intptr_t CallDefault(Window control, const Message& message) override;

    void SetTextLimit(Window edit, int maxChars) override;
    void SelectAllText(Window edit) override;
    IconHandle SetButtonIcon(Window button, IconHandle icon) override;

    void ListBoxReset(Window list) override;
    int ListBoxAdd(Window list, std::string_view text, uintptr_t data) override;
    int ListBoxCount(Window list) override;
    void ListBoxSetCurSel(Window list, int index) override;
    int ListBoxCurSel(Window list) override;
    void ListBoxSetColumnWidth(Window list, int width) override;
    void ListBoxSetHorizontalExtent(Window list, int extent) override;
    void ListBoxSetItemHeight(Window list, int index, int height) override;
    int ListBoxItemHeight(Window list, int index) override;

    void ListViewSetImageList(Window list, const ImageList* images) override;
    int ListViewCount(Window list) override;
    int ListViewInsert(Window list, int index, const ListViewItem& item) override;
    bool ListViewDelete(Window list, int index) override;
    uintptr_t ListViewData(Window list, int index) override;
    unsigned ListViewState(Window list, int index, unsigned mask) override;
    std::string ListViewText(Window list, int index) override;
    bool ListViewSetText(Window list, int index, std::string_view text) override;
    bool ListViewSetImage(Window list, int index, int image) override;
    bool ListViewSetState(Window list, int index, unsigned state, unsigned mask) override;
    int ListViewNextItem(Window list, int start, unsigned flags) override;
    int ListViewSelectedCount(Window list) override;
    Window ListViewEditLabel(Window list, int index) override;
    int ListViewHitTest(Window list, Point point) override;

    int TrackPopupMenu(const std::vector<MenuItem>& items, Point screen, Window owner) override;
    int ShowMessage(Window owner, std::string_view text, std::string_view caption, unsigned style,
                    uint16_t language) override;
    void Beep(unsigned type) override;
    std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override;
    Point CursorPos() override;
    bool IsKeyDown(int virtualKey) override;

    // ---- Used by the signal handlers (gtk_signals.cpp) ----
    Node* Find(Window window) const;
    Node* NodeOfWidget(GtkWidget* widget) const;
    Run* Active() const { return runs_.empty() ? nullptr : runs_.back(); }
    intptr_t ToDialog(Run& run, const Message& message, bool* handled = nullptr);
    intptr_t ToControl(Node* node, Message message);
    void Command(Node* control, int code);
    void ButtonCommand(Run& run, int id);
    intptr_t Notify(Node* control, int code, ListViewNotification& data);
    void CloseBox(Run& run);
    bool KeyPress(Run& run, const GdkEventKey& event);
    void FocusChanged(Node* node, bool gained);
    void ListViewSelectionFromWidget(Node* list);
    void ListViewButton(Node* list, const GdkEventButton& event);
    void EditingStarted(Node* list, GtkCellEditable* editable, int index);
    void EditingEnded(Node* list, std::optional<std::string> text);
    void PaintListBox(Node* box, cairo_t* cr);
    void ListBoxButton(Node* box, const GdkEventButton& event);
    void ListBoxScrolled(Node* box);
    void ContextMenuAt(Node* node, Point screen);
    bool OnGtkThread() const { return std::this_thread::get_id() == thread_; }
    const Host& host() const { return host_; }
    int quiet = 0;  // > 0 while the backend itself changes widgets: their signals are its own
    void QueueClick(Node* node);

private:
    void CreateWindows(Run& run, const resources::DialogTemplate& source, Window parent);
    Node* CreateControl(Run& run, const resources::DialogControl& item, const std::string& text);
    void InitDialog(Run& run);
    void DestroyWindows(Run& run);
    void MoveFocus(Node* target);
    void LvAttachModel(Node* list);
    bool LvChangeItem(Node* list, int index, unsigned newState, unsigned mask,
                      const std::string* text, const int* image, bool inserting = false);
    void LvShowItem(Node* list, int index);
    void LvSelectOnly(Node* list, int index);
    GdkPixbuf* Pixbuf(const ImageList* images, int index) const;
    void ListBoxHScroll(Node* box, int code, int thumb);
    void ListBoxSelect(Node* box, int index);
    void ListBoxKey(Node* box, int key);
    void ListBoxClick(Node* box, int x);
    void CreateListView(Node& node);
    void CreateListBox(Node& node);
    GtkWidget* OwnerWindow(Window owner) const;
    void Flush();
    void ReturnToDialog();
    void Activate(GtkWidget* window);
    void ArmClicks(unsigned delay);
    void DeliverClick();

    class Manager;  // the dialog manager's view of these windows (gtk_window_system.cpp)
    dialog_manager::Host& Dialogs();

    std::unique_ptr<Manager> manager_;
    Host host_;
    std::thread::id thread_;
    std::vector<Run*> runs_;
    std::unordered_set<Node*> live_;
    GtkCssProvider* css_ = nullptr;
    unsigned modifiers_ = 0;
    std::deque<Node*> clicks_;  // buttons clicked, waiting for their dialog
    guint clickSource_ = 0;
    int prompts_ = 0;  // message boxes, file dialogs and menus open
};

}  // namespace tavix::platform::gtk
