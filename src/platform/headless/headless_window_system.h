// A window system without a screen: dialogs are built from their templates, every control's
// state is held in memory, and a script plays the user.
//
// What it keeps: texts, enabled and visible flags, the focus, edit limits, button icons, list
// boxes (items, heights, selection, horizontal extent and position, scroll bars), list views
// (items with label, image, state and data; the label editor), window sizes in pixels from the
// template's dialog units and its font's base units.
//
// What it raises, in the order the Windows dialog manager and common controls raise it:
// WM_MEASUREITEM when an owner-drawn list box is created or gets an item, WM_INITDIALOG, the
// focus events of the controls (EN_/LBN_ KILLFOCUS/SETFOCUS, NM_KILLFOCUS/SETFOCUS: the old
// window's kill-focus first, with the focus already moved), BN_CLICKED, EN_UPDATE/EN_CHANGE,
// LBN_SELCHANGE/LBN_DBLCLK (with LBS_NOTIFY), the list-view notifications (LVN_ITEMCHANGING /
// LVN_ITEMCHANGED for every change of an item's state, label or image, a deletion first
// clearing the item's state; LVN_INSERTITEM, then LVN_ITEMCHANGED for an item inserted with a
// state; LVN_DELETEITEM; LVN_BEGINLABELEDIT; LVN_ENDLABELEDIT whose answer decides whether the
// label is applied; LVN_KEYDOWN; NM_CLICK, NM_DBLCLK, NM_RCLICK), WM_DRAWITEM (synchronously
// for selection and focus changes of an owner-drawn list box, and for invalidated ones when the
// user's action is over, as WM_PAINT comes when the queue is empty), WM_HELP, WM_CONTEXTMENU,
// WM_CLOSE, and WM_DESTROY after the end. A modal window (a nested dialog, a message box, the
// file dialog) takes the focus from the window that had it and gives it back when it closes.
//
// Not modelled: keyboard navigation within a group by arrow keys, the list view's own arrow-key
// selection, the label editor's keystrokes (the script ends an edit with its text), painting of
// anything but owner-drawn list boxes.
//
// The script: Expect() queues one act per modal dialog, in the order the dialogs will open
// (nested ones included); when a dialog opens, its act runs with a User that acts in it by
// control id. An act that leaves its dialog open, a dialog without an act, or an act for another
// template is recorded as a problem, and the dialog is closed as with the close box. Message
// boxes, beeps, file dialogs and menus are recorded and answered from queues the script fills
// (by default: the default button, cancel, nothing chosen).
//
// Where it lives: headless_dialog.cpp (the modal loop and the events between the dialog manager,
// the controls and the dialog), headless_window_system.cpp (the script's log and what every
// window has), headless_edit_button.cpp, headless_list_box.cpp, headless_list_view.cpp (each
// control kind), headless_user.cpp (the scripted user), headless_prompts.cpp (message boxes,
// menus, the file dialog); headless_internal.h holds the window state they share. The dialog
// manager's rules themselves are platform/dialog_manager's, shared with the GTK backend.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/window_system.h"
#include "resources/dialog_template.h"

namespace tavix::platform::headless {

// One operation of an owner-drawn item's painting.
struct PaintOp {
    enum Kind { Fill, FocusRect, Image } kind = Fill;
    Rect rect;            // Fill, FocusRect; Image: the 32 x 32 cell at (x, y)
    int color = 0;        // Fill: the system colour
    int image = -1;       // Image: its index
    const ImageList* images = nullptr;
    friend bool operator==(const PaintOp&, const PaintOp&) = default;
};

// One WM_DRAWITEM request and what the dialog painted for it.
struct Paint {
    int controlId = 0;
    int item = -1;
    unsigned action = 0;
    unsigned state = 0;
    Rect rect;
    std::vector<PaintOp> ops;
};

// One invalidation of a window (InvalidateRect).
struct Invalidation {
    int controlId = 0;
    std::optional<Rect> rect;  // nothing: the whole client area
    bool erase = false;
};

// What the user was shown.
struct Record {
    enum Kind { MessageBox, Beep, FileDialog, Menu } kind = MessageBox;
    std::string text;     // MessageBox
    std::string caption;  // MessageBox
    unsigned style = 0;   // MessageBox; Beep: the sound type
    uint16_t language = 0;
    int ownerId = 0;      // the owner: 0 for none or a dialog, else the control's id
    uint32_t dialog = 0;  // the template of the dialog running when it was shown
    int answer = 0;       // MessageBox: the button; Menu: the chosen id
    FileDialogRequest file;
    std::optional<std::string> path;  // FileDialog: the answer
    std::vector<MenuItem> menu;
    Point point;          // Menu: where it was tracked
};

class HeadlessWindowSystem;

// The user, acting in one dialog. Actions answer false when the user could not do them (the
// control is missing, hidden or disabled, or the dialog has ended).
class User {
public:
    User(HeadlessWindowSystem& system, Window dialog) : system_(system), dialog_(dialog) {}

    HeadlessWindowSystem& System() const { return system_; }
    Window Dialog() const { return dialog_; }
    Window Item(int id) const;
    bool Running() const;  // the dialog has not been ended

    // -- What the user sees
    std::string Text(int id) const;  // id 0: the caption
    bool Enabled(int id) const;
    bool Visible(int id) const;
    int FocusId() const;  // the focused control's id; 0 when the focus is elsewhere

    // -- Mouse and keyboard
    bool Click(int id);                    // a push button (or any control: focus and click)
    bool Type(int id, std::string_view text);  // replaces an edit's text, within its limit
    bool Focus(int id);                    // clicks into the control / tabs to it
    // A key to the focused control as the dialog manager routes it: Tab and Shift+Tab, Enter,
    // Escape, F1 (help), the menu key (context menu), every other key to the control.
    bool PressKey(int virtualKey, bool ctrl = false, bool shift = false);
    bool ClickAt(int id, Point client, bool ctrl = false);  // left button in a control
    bool DoubleClickAt(int id, Point client);
    bool RightClick(int id);               // in the control's middle; 0: the dialog itself
    bool Close();                          // the close box
    bool Help();                           // F1 on the focused control

    // -- List views
    bool ClickItem(int listId, int index, bool ctrl = false);
    bool ClickEmpty(int listId);
    bool DoubleClickItem(int listId, int index);
    bool DoubleClickEmpty(int listId);
    bool RightClickItem(int listId, int index);  // -1: empty space
    bool BeginLabelEdit(int listId, int index);  // as a slow click on the label
    // Ends the open label edit with text (Enter) or cancels it (nothing: Escape).
    bool EndLabelEdit(int listId, std::optional<std::string> text);
    bool Editing(int listId) const;             // a label editor is open
    int EditingItem(int listId) const;

private:
    HeadlessWindowSystem& system_;
    Window dialog_;
};

class HeadlessWindowSystem final : public WindowSystem {
public:
    using TemplateSource =
        std::function<std::optional<resources::DialogTemplate>(uint32_t templateId)>;
    using Act = std::function<void(User&)>;
    using Prepare = std::function<void(HeadlessWindowSystem&, Window dialog)>;

    // templates: where dialogs come from; by default the template RunModal is handed (read
    // from the caller's resource module, as the Windows dialog manager reads it).
    explicit HeadlessWindowSystem(TemplateSource templates = {});
    ~HeadlessWindowSystem() override;

    // -- The script
    // The act for the next dialog to open; prepare (optional) runs when its windows exist,
    // before WM_INITDIALOG.
    void Expect(uint32_t templateId, Act act, Prepare prepare = {});
    void AnswerMessageBox(int button) { messageBoxAnswers_.push_back(button); }
    void AnswerFileDialog(std::optional<std::string> path) { fileAnswers_.push_back(std::move(path)); }
    void AnswerMenu(int id) { menuAnswers_.push_back(id); }

    // -- What happened
    const std::vector<Record>& Records() const { return records_; }
    std::vector<Record> RecordsOf(Record::Kind kind) const;
    const std::vector<Paint>& Paints() const { return paints_; }
    const std::vector<Invalidation>& Invalidations() const { return invalidations_; }
    const std::vector<std::string>& Problems() const { return problems_; }
    void ClearLog();
    std::vector<uint32_t> OpenedDialogs() const { return opened_; }

    // -- Test set-up
    // Base units of dialog units (default: 6 x 13 for an 8-point font, scaled by size).
    void SetBaseUnits(int x, int y);
    static constexpr int kScrollBarSize = 17;
    // The item cell of the large-icon view (column width, row height).
    static constexpr int kIconSpacingX = 75, kIconSpacingY = 75;

    // ---- WindowSystem --------------------------------------------------------------------------
    int RunModal(uint32_t templateId, const DialogSource& source, Window parent,
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
    Point CursorPos() override { return cursor_; }
    bool IsKeyDown(int virtualKey) override;

    // -- The state behind the windows, for tests that look inside.
    struct Node;
    const ImageList* ListViewImages(Window list);
    int ListViewItemImage(Window list, int index);  // -1 when there is no such item
    IconHandle ButtonIcon(Window button);
    int TextLimit(Window edit);
    int ListBoxHorizontalPos(Window list);

private:
    friend class User;
    struct Run;
    class Manager;  // the dialog manager's view of these windows (headless_internal.h)

    Node* Find(Window window) const;
    Run* RunOf(const Node* node) const;
    Run* Active() const { return runs_.empty() ? nullptr : runs_.back(); }
    void Problem(std::string text);

    // Modal dialogs (headless_dialog.cpp)
    void CreateWindows(Run& run, const resources::DialogTemplate& source);
    void MeasureOwnerDrawn(Run& run);
    std::pair<Act, Prepare> NextAct(uint32_t templateId);
    void InitDialog(Run& run);
    void DestroyWindows(Run& run);
    void CloseBox(Run& run);
    void ModalTakesFocus(const std::function<void()>& modal);

    // Events (headless_dialog.cpp)
    intptr_t ToDialog(Run& run, const Message& message, bool* handled = nullptr);
    void Command(Node* control, int code);
    // The dialog manager's WM_COMMAND for a button id (Enter, Escape, the close box), naming
    // the button's window when the dialog has one.
    void ButtonCommand(Run& run, int id);
    intptr_t Notify(Node* control, int code, ListViewNotification& data);
    intptr_t ToControl(Node* node, Message message);
    void MoveFocus(Node* target);

    // List boxes (headless_list_box.cpp)
    void ListBoxSelect(Node* list, int index, bool notify);
    void ListBoxHScroll(Node* list, int code, int pos);
    void ListBoxClick(Node* list, int y);
    void ListBoxFocusChanged(Node* list);
    void ListBoxKey(Node* list, int key);
    void ListBoxSetHorizontalPos(Node* list, int pos);
    void PaintItem(Node* list, int index, unsigned action);
    void PaintPending();

    // List views (headless_list_view.cpp)
    bool LvChangeItem(Node* list, int index, unsigned newState, unsigned mask,
                      const std::string* text, const int* image, bool inserting = false);
    void LvSelectOnly(Node* list, int index);
    void LvEndEdit(Node* list, std::optional<std::string> text);
    void LvOpenEditor(Node* list, int index);
    Rect LvItemRect(Node* list, int index) const;

    // The user's actions, which User calls (headless_user.cpp)
    bool Usable(Node* node) const;
    void AfterAction();
    Point Center(Node* node) const;
    bool PressKeyIn(Window dialog, int key, bool ctrl, bool shift);

    std::unique_ptr<Manager> manager_;
    TemplateSource templates_;
    std::deque<std::tuple<uint32_t, Act, Prepare>> script_;
    std::deque<int> messageBoxAnswers_;
    std::deque<std::optional<std::string>> fileAnswers_;
    std::deque<int> menuAnswers_;
    std::vector<Record> records_;
    std::vector<Paint> paints_;
    std::vector<Invalidation> invalidations_;
    std::vector<std::string> problems_;
    std::vector<uint32_t> opened_;

    std::vector<Run*> runs_;
    std::set<const Node*> live_;
    Node* focus_ = nullptr;
    Point cursor_;
    bool ctrl_ = false;
    bool shift_ = false;
    int baseX_ = 0, baseY_ = 0;  // 0: from the template's font
};

}  // namespace tavix::platform::headless
