#include "frame/window/dialog.h"

#include <algorithm>
#include <limits>
#include <string>

#include "frame/context/library_context.h"
#include "platform/message_box.h"

namespace tavix::frame {

using platform::Window;
namespace wm = platform::wm;

int ShowStringMessage(uint32_t stringId, unsigned style, Window owner) {
    const std::string text(LoadString(stringId));
    if (platform::WindowSystem* system = platform::CurrentWindowSystem()) {
        return system->ShowMessage(owner, text, kApplicationName, style, 0);
    }
    return platform::ShowMessageBox(text, kApplicationName, style);
}

// ---- Dialog ------------------------------------------------------------------------------------
Dialog::Dialog(uint32_t templateId, Window parent) : templateId_(templateId), parent_(parent) {}

Dialog::~Dialog() {
    // Controls that outlive the window (a dialog destroyed while it runs) let go of it.
    while (!controls_.empty()) controls_.back()->Unsubclass();
}

const MessageMap* Dialog::ClassMap() {
    static const MessageMap map{nullptr, {}};
    return &map;
}

int Dialog::DoModal() {
    platform::WindowSystem* system = platform::CurrentWindowSystem();
    if (system == nullptr) return -1;
    // The backend is handed the current context's resource module and code page; it reads
    // nothing of the context itself. The template is read from that module only when a backend
    // asks for it (the Windows dialog manager reads the module on its own); the context stays
    // current until RunModal returns.
    const LibraryContext& context = CurrentContext();
    platform::DialogSource source;
    source.module = context.resourceModule;
    source.readTemplate = [](uint32_t id) { return LoadDialogTemplate(id); };
    source.codePage = context.codePage;
    const int code = system->RunModal(templateId_, source, parent_, *this);
    handle_ = nullptr;
    return code;
}

Window Dialog::Item(int id) const {
    return handle_ ? WindowSystem().DialogItem(handle_, id) : nullptr;
}

void Dialog::EndDialog(int code) {
    if (handle_) WindowSystem().EndDialog(handle_, code);
}

bool Dialog::UpdateData(bool save) {
    DataExchange exchange(*this, save);
    DoDataExchange(exchange);
    return !exchange.Failed();
}

void Dialog::GotoDlgCtrl(Window control) {
    if (handle_ && control) WindowSystem().GotoDialogControl(handle_, control);
}

int Dialog::ShowMessage(uint32_t stringId, unsigned style) {
    return ShowStringMessage(stringId, style, handle_);
}

void Dialog::SendCommand(int id) {
    intptr_t result = 0;
    OnCommand(Message::Command(id, nullptr), result);
}

bool Dialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

void Dialog::DoDataExchange(DataExchange&) {}

void Dialog::OnOK() {
    if (!UpdateData(true)) return;
    EndDialog(platform::kIdOk);
}

void Dialog::OnCancel() { EndDialog(platform::kIdCancel); }

bool Dialog::OnCommand(const Message& message, intptr_t& result) {
    if (Control* control = ControlFor(message.window)) {
        if (control->Dispatch(message, true, result)) return true;
    }
    if (Dispatch(message, false, result)) return true;
    if (message.code == platform::bn::kClicked) {
        if (message.id == platform::kIdOk) {
            OnOK();
            return true;
        }
        if (message.id == platform::kIdCancel) {
            OnCancel();
            return true;
        }
    }
    return false;
}

intptr_t Dialog::OnMessage(Window dialog, const Message& message, bool& handled) {
    if (handle_ == nullptr) handle_ = dialog;
    intptr_t result = 0;
    handled = true;
    switch (message.message) {
        case wm::kInitDialog:
            return OnInitDialog() ? 1 : 0;
        case wm::kCommand:
            handled = OnCommand(message, result);
            return result;
        case wm::kNotify:
            if (Control* control = ControlFor(message.window)) {
                if (control->Dispatch(message, true, result)) return result;
            }
            handled = Dispatch(message, false, result);
            return result;
        case wm::kDrawItem:
        case wm::kMeasureItem:
        case wm::kCompareItem:
            if (Dispatch(message, false, result)) return result;
            handled = RouteOwnerDraw(message, result);
            return result;
        case wm::kDestroy:
            if (!Dispatch(message, false, result)) OnDestroy();
            while (!controls_.empty()) controls_.back()->Unsubclass();
            for (Wnd* control : bound_) control->Detach();
            bound_.clear();
            return 0;
        default:
            handled = Dispatch(message, false, result);
            return result;
    }
}

Control* Dialog::ControlFor(Window window) const {
    if (window == nullptr) return nullptr;
    for (Control* control : controls_) {
        if (control->Hooked() == window) return control;
    }
    return nullptr;
}

bool Dialog::RouteOwnerDraw(const Message& message, intptr_t& result) {
    Control* control = ControlFor(Item(message.id));
    if (control == nullptr) return false;
    switch (message.message) {
        case wm::kDrawItem:
            result = 1;
            return message.DrawRequest() && control->DrawItem(*message.DrawRequest());
        case wm::kMeasureItem:
            result = 1;
            return message.MeasureRequest() && control->MeasureItem(*message.MeasureRequest());
        default: {
            int order = 0;
            const platform::CompareItemRequest* compare = message.CompareRequest();
            if (compare == nullptr || !control->CompareItem(*compare, order)) {
                return false;
            }
            result = order;
            return true;
        }
    }
}

void Dialog::Register(Control* control) { controls_.push_back(control); }

void Dialog::Unregister(Control* control) { std::erase(controls_, control); }

// ---- DataExchange ------------------------------------------------------------------------------
void DataExchange::BindPlain(int id, Wnd& control) {
    if (failed_ || control.Handle() != nullptr) return;
    control.Attach(dialog_.Item(id));
    if (control.Handle() != nullptr) dialog_.bound_.push_back(&control);
}

void DataExchange::BindHooked(int id, Control& control) {
    if (failed_ || control.Hooked() != nullptr) return;
    control.SubclassDlgItem(id, dialog_);
}

void DataExchange::Text(int id, std::string& value, int maxChars) {
    if (failed_) return;
    Window control = dialog_.Item(id);
    if (control == nullptr) return;
    platform::WindowSystem& system = WindowSystem();
    if (!save_) {
        system.SetText(control, value);
        if (maxChars > 0) system.SetTextLimit(control, maxChars);
        return;
    }
    value = system.Text(control);
    if (maxChars > 0 && value.size() > static_cast<size_t>(maxChars)) {
        Fail(control, "Please enter no more than " + std::to_string(maxChars) + " characters.");
    }
}

void DataExchange::Number(int id, int32_t& value, int32_t min, int32_t max) {
    if (failed_) return;
    Window control = dialog_.Item(id);
    if (control == nullptr) return;
    platform::WindowSystem& system = WindowSystem();
    if (!save_) {
        system.SetText(control, std::to_string(value));
        return;
    }
    const std::optional<int64_t> number = ParseDecimal(system.Text(control));
    if (!number) {
        Fail(control, "Please enter an integer.");
    } else if (*number < min || *number > max) {
        Fail(control, "Please enter an integer between " + std::to_string(min) + " and " +
                          std::to_string(max) + ".");
    } else {
        value = static_cast<int32_t>(*number);
    }
}

void DataExchange::Fail(Window control, const std::string& message) {
    failed_ = true;
    platform::WindowSystem& system = WindowSystem();
    system.ShowMessage(dialog_.Handle(), message, kApplicationName,
                       platform::kMbOk | platform::kMbIconExclamation, 0);
    system.SetFocus(control);
    system.SelectAllText(control);
}

std::optional<int64_t> ParseDecimal(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    size_t i = 0;
    while (i < text.size() && blank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const size_t digits = i;
    int64_t value = 0;
    constexpr int64_t kLimit = std::numeric_limits<int64_t>::max() / 10 - 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value > kLimit ? value : value * 10 + (text[i] - '0');  // saturates
    }
    if (i == digits) return std::nullopt;
    while (i < text.size() && blank(text[i])) ++i;
    if (i != text.size()) return std::nullopt;
    return negative ? -value : value;
}

// ---- FileDialog --------------------------------------------------------------------------------
std::vector<std::pair<std::string, std::string>> ParseFilter(std::string_view filter) {
    std::vector<std::pair<std::string, std::string>> pairs;
    auto next = [&filter]() {
        const size_t bar = filter.find('|');
        std::string part(filter.substr(0, bar));
        filter = bar == std::string_view::npos ? std::string_view{} : filter.substr(bar + 1);
        return part;
    };
    while (!filter.empty()) {
        std::string description = next();
        if (description.empty()) break;  // "||" ends the list
        std::string pattern = next();
        pairs.emplace_back(std::move(description), std::move(pattern));
    }
    return pairs;
}

FileDialog::FileDialog(std::string_view defaultExtension, std::string_view fileName,
                       unsigned flags, std::string_view filter, Window owner) {
    request_.owner = owner;
    request_.defaultExtension = defaultExtension;
    request_.initialFile = fileName;
    request_.flags = flags;
    request_.filters = ParseFilter(filter);
}

int FileDialog::DoModal() {
    platform::WindowSystem* system = platform::CurrentWindowSystem();
    if (system == nullptr) return platform::kIdCancel;
    std::optional<std::string> path = system->OpenFileDialog(request_);
    if (!path) return platform::kIdCancel;
    path_ = std::move(*path);
    return platform::kIdOk;
}

// ---- PopupMenu ---------------------------------------------------------------------------------
void PopupMenu::Append(unsigned flags, int id, std::string_view text) {
    platform::MenuItem item;
    if ((flags & kSeparator) == 0) {
        item.text = text;
        item.id = id;
        item.grayed = (flags & kGrayed) != 0;
    }
    items_.push_back(std::move(item));
}

int PopupMenu::Track(platform::Point screen, Dialog& owner) const {
    platform::WindowSystem* system = platform::CurrentWindowSystem();
    if (system == nullptr) return 0;
    const int chosen = system->TrackPopupMenu(items_, screen, owner.Handle());
    if (chosen != 0) owner.SendCommand(chosen);
    return chosen;
}

}  // namespace tavix::frame
