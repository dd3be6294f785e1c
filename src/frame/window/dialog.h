// Modal dialogs, their data exchange, message boxes by string number, the open-file dialog and
// popup menus: the framework the library's dialogs are written against.
//
// A dialog class derives from Dialog, names its template, overrides the hooks it needs and maps
// its events to handlers in a message table (frame/message_map.h). DoModal runs it on the
// current window system, in the order the dialog manager gives:
//   WM_INITDIALOG -> OnInitDialog (the base runs the data exchange into the controls first);
//   the user's events -> the class's handlers (a control's own notifications reflected to its
//     Control object first; owner-draw requests for a Control passed to it by default;
//     command 1 -> OnOK, command 2 -> OnCancel when the table does not map them);
//   EndDialog -> WM_DESTROY (a handler calls Dialog::OnDestroy first) -> DoModal returns the code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "frame/window/controls.h"
#include "frame/window/message_map.h"
#include "platform/window_system.h"
#include "resources/resource.h"

namespace tavix::frame {

class DataExchange;

// The caption of the framework's own message boxes.
inline constexpr std::string_view kApplicationName = TAVIX_PRODUCT_NAME;

// A message box showing string resource stringId of the current resource source.
int ShowStringMessage(uint32_t stringId, unsigned style, platform::Window owner = nullptr);

class Dialog : public MessageTarget, private platform::DialogSink {
public:
    explicit Dialog(uint32_t templateId, platform::Window parent = nullptr);
    ~Dialog() override;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Runs the dialog: 1 after OK, 2 after Cancel (or another code given to EndDialog), -1 when
    // the window could not be created (no window system, no template).
    int DoModal();

    platform::Window Handle() const { return handle_; }
    platform::Window Item(int id) const;
    uint32_t TemplateId() const { return templateId_; }

    void EndDialog(int code);

    // Data exchange: save false writes the fields into the controls, true reads them back with
    // their checks, stopping at the first failure. True when every check passed.
    // (A failed check has shown its message and put the focus into its control.)
    bool UpdateData(bool save);

    // WM_NEXTDLGCTL with a window: the focus goes to control.
    void GotoDlgCtrl(platform::Window control);

    // A message box owned by this dialog with string resource stringId.
    int ShowMessage(uint32_t stringId, unsigned style);

    // Delivers a command as a menu sends it (notification code 0, no control window).
    void SendCommand(int id);

    static const MessageMap* ClassMap();
    const MessageMap* GetMessageMap() const override { return ClassMap(); }

protected:
    // The framework's initialisation: runs the data exchange into the controls; the answer true
    // lets the dialog manager put the focus on the first tab stop.
    virtual bool OnInitDialog();
    virtual void DoDataExchange(DataExchange& exchange);
    // Reads and checks the controls; on success ends the dialog with 1.
    virtual void OnOK();
    virtual void OnCancel();
    // The routing of WM_COMMAND: reflection to a Control, the table, then OK and Cancel. An
    // override that consumes a command returns true without calling the base.
    virtual bool OnCommand(const Message& message, intptr_t& result);
    // The framework's destroy processing; a WM_DESTROY handler calls it first.
    void OnDestroy() {}

private:
    friend class Control;
    friend class DataExchange;

    intptr_t OnMessage(platform::Window dialog, const Message& message, bool& handled) override;
    Control* ControlFor(platform::Window window) const;
    bool RouteOwnerDraw(const Message& message, intptr_t& result);
    void Register(Control* control);
    void Unregister(Control* control);

    uint32_t templateId_;
    platform::Window parent_;
    platform::Window handle_ = nullptr;
    std::vector<Control*> controls_;
    std::vector<Wnd*> bound_;  // plain wrappers bound by the data exchange
};

// One run of the data exchange. Calls after a failed check do nothing, so a DoDataExchange
// simply lists its fields in order.
class DataExchange {
public:
    DataExchange(Dialog& dialog, bool save) : dialog_(dialog), save_(save) {}

    bool Saving() const { return save_; }
    bool Failed() const { return failed_; }

    // Binds a control object to control id (a Control is subclassed).
    template <class T>
    void Bind(int id, T& control) {
        if constexpr (std::is_base_of_v<Control, T>) {
            BindHooked(id, control);
        } else {
            BindPlain(id, control);
        }
    }
    // Text of control id <-> value. maxChars > 0: the edit is limited to it and a longer text
    // is refused on reading.
    void Text(int id, std::string& value, int maxChars = 0);
    // Decimal integer of control id <-> value, refused on reading unless it lies in
    // [min, max].
    void Number(int id, int32_t& value, int32_t min, int32_t max);

private:
    void BindPlain(int id, Wnd& control);
    void BindHooked(int id, Control& control);
    void Fail(platform::Window control, const std::string& message);

    Dialog& dialog_;
    bool save_;
    bool failed_ = false;
};

// Parses a decimal integer as the data exchange reads one: blanks around it allowed, an optional
// sign, digits (a value beyond 64 bits saturates). Nothing when the text is not a number.
std::optional<int64_t> ParseDecimal(std::string_view text);

// The open-file dialog with a filter in the form "Description|pattern|...||".
class FileDialog {
public:
    FileDialog(std::string_view defaultExtension, std::string_view fileName, unsigned flags,
               std::string_view filter, platform::Window owner);
    int DoModal();  // 1 (OK) or 2 (Cancel)
    const std::string& PathName() const { return path_; }
    const platform::FileDialogRequest& Request() const { return request_; }

private:
    platform::FileDialogRequest request_;
    std::string path_;
};

// The pairs of an "a|b|c|d||" filter.
std::vector<std::pair<std::string, std::string>> ParseFilter(std::string_view filter);

// A popup menu, destroyed with the object.
class PopupMenu {
public:
    static constexpr unsigned kString = 0x0000, kGrayed = 0x0001, kSeparator = 0x0800;

    void Append(unsigned flags, int id, std::string_view text);
    void AppendSeparator() { Append(kSeparator, 0, {}); }
    // Tracks the menu with the right button at a screen point; the chosen item is delivered to
    // owner as a command before Track returns. Answers the item's id, 0 when none was chosen.
    int Track(platform::Point screen, Dialog& owner) const;
    const std::vector<platform::MenuItem>& Items() const { return items_; }

private:
    std::vector<platform::MenuItem> items_;
};

}  // namespace tavix::frame
