#include "dialogs/connections_dialog.h"

#include <cctype>
#include <limits>
#include <memory>
#include <vector>

#include "dialogs/connection_properties_dialog.h"
#include "dialogs/store_warnings.h"
#include "frame/context/library_context.h"
#include "icons/record_icon.h"
#include "locale/help.h"
#include "platform/locale.h"
#include "resources/strings.h"
#include "store/connection_table.h"
#include "store/record_defaults.h"

namespace tavix {

namespace {

namespace wm = platform::wm;
namespace lvn = platform::lvn;
namespace lvis = platform::lvis;
namespace lvni = platform::lvni;
using frame::Message;

constexpr const char kHelpFormat[] = "%s.chm::/context.txt";

// Control id and help context id pairs, ended by 0, 0.
using Ids = ConnectionsDialog::ControlId;
constexpr uint32_t kHelpIds[] = {
    Ids::kConnectButton, 20013, Ids::kCancelButton, 20014, Ids::kPropertiesButton, 20011,
    Ids::kDeleteButton, 20012, Ids::kSaveButton, 20015, Ids::kNewButton, 20010,
    Ids::kConnectionStringText, 20017, Ids::kList, 20009, 0, 0,
};

uintptr_t HelpTable() { return reinterpret_cast<uintptr_t>(kHelpIds); }

// The save prompt's texts are read through buffers of these sizes (with the zero).
constexpr size_t kPromptBuffer = 256;
constexpr size_t kCaptionBuffer = 32;

std::string Truncated(std::string_view text, size_t buffer) {
    return std::string(text.substr(0, buffer - 1));
}

bool IsEmpty(BSTR text) { return WideLength(text) == 0; }

// Whether the icon named by (file, index) differs from the one named by (otherFile,
// otherIndex): an empty name (none, or of length 0) stands for the default icon, and the index
// counts only between equal names.
bool IconDiffers(BSTR file, int32_t index, BSTR otherFile, int32_t otherIndex) {
    if (IsEmpty(file) != IsEmpty(otherFile)) return true;
    if (!IsEmpty(file) && WideView(file) != WideView(otherFile)) return true;
    return index != otherIndex;
}

}  // namespace

int32_t LeadingNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min(value * 10 + (text[i] - '0'), kLimit);
    }
    if (negative) return static_cast<int32_t>(-value);
    return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

ConnectionsDialog::ConnectionsDialog() : Dialog(kTemplateId, nullptr) {
    current.Parse(nullptr, std::string(kDefaultConnectionString).c_str(), CurrentParseDefaults());
}

ConnectionsDialog::~ConnectionsDialog() {
    currentIconFilename = nullptr;  // borrowed: never freed here
}

const frame::MessageMap* ConnectionsDialog::ClassMap() {
    using Self = ConnectionsDialog;
    static constexpr frame::MessageEntry entries[] = {
        frame::OnNotify<&Self::OnItemChanged>(kList, lvn::kItemChanged),
        frame::OnNotify<&Self::OnBeginLabelEdit>(kList, lvn::kBeginLabelEdit),
        frame::OnNotify<&Self::OnEndLabelEdit>(kList, lvn::kEndLabelEdit),
        frame::OnNotify<&Self::OnListKeyDown>(kList, lvn::kKeyDown),
        frame::OnNotify<&Self::OnListDblClk>(kList, platform::nm::kDblClk),
        frame::OnCommand<&Self::OnNew>(kNewButton),
        frame::OnCommand<&Self::OnSave>(kSaveButton),
        frame::OnCommand<&Self::OnDelete>(kDeleteButton),
        frame::OnCommand<&Self::OnProperties>(kPropertiesButton),
        frame::OnMessage<&Self::OnContextMenu>(wm::kContextMenu),
        frame::OnMessage<&Self::OnHelpInfo>(wm::kHelp),
        frame::OnMessage<&Self::OnDestroy>(wm::kDestroy),
    };
    static const frame::MessageMap map{Dialog::ClassMap(), entries};
    return &map;
}

ConnectionTable& ConnectionsDialog::Table() const { return Connections(); }

ConnectionRecord* ConnectionsDialog::RecordAt(int item) const {
    if (item < 0 || item >= list_.ItemCount()) return nullptr;
    return reinterpret_cast<ConnectionRecord*>(list_.ItemData(item));
}

ConnectionsDialog::Row ConnectionsDialog::RowOf(const ConnectionRecord* record) const {
    const auto row = rows_.find(record);
    return row == rows_.end() ? Row{} : row->second;
}

void ConnectionsDialog::CopyToCurrent(const ConnectionRecord& record) {
    currentRow_ = RowOf(&record);
    currentIconFilename = record.iconFilename.get();
    current.iconIndex = record.iconIndex;
    current.keyNumber = record.keyNumber;
    current.name = record.name;
    current.server = record.server;
    current.port = record.port;
    current.namespaceName = record.namespaceName;
}

void ConnectionsDialog::ShowConnectionString(const std::string& text) {
    frame::Wnd(Item(kConnectionStringText)).SetText(text);
}

void ConnectionsDialog::Beep() { frame::WindowSystem().Beep(0); }

void ConnectionsDialog::DoDataExchange(frame::DataExchange& exchange) {
    exchange.Bind(kNewButton, newButton_);
    exchange.Bind(kPropertiesButton, propertiesButton_);
    exchange.Bind(kSaveButton, saveButton_);
    exchange.Bind(kConnectButton, connectButton_);
    exchange.Bind(kDeleteButton, deleteButton_);
    exchange.Bind(kList, list_);
}

void ConnectionsDialog::UpdateButtons() {
    const int selected = list_.SelectedCount();
    connectButton_.Enable(selected == 1);
    propertiesButton_.Enable(selected == 1);
    deleteButton_.Enable(selected >= 1);
}

bool ConnectionsDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    if (title) frame::WindowSystem().SetText(Handle(), *title);
    help::InitHelp(helpFile_.data(), kHelpFormat);

    ConnectionTable& table = Table();
    KeepStoreError(table.LoadAll());
    ShowStoreWarnings(table);
    if (!requestedName.empty() || !requestedConnectionString.empty()) {
        // A connection added here leaves `modified` set: Cancel then asks whether to save it.
        ConnectionRecord* requested =
            table.FindOrAdd(requestedName.c_str(), requestedConnectionString.c_str());
        ShowStoreWarnings(table);  // it reads every connection when LoadAll could not
        if (requested == nullptr && requestedName.empty()) requested = AddUnnamedRequest();
        if (requested != nullptr) table.MarkDefault(requested);
    }
    if (table.Empty()) {
        auto local = std::make_unique<ConnectionRecord>();
        local->Parse(std::string(LoadString(resources::kStrLocal)).c_str(),
                     std::string(kDefaultConnectionString).c_str(), CurrentParseDefaults());
        table.Add(std::move(local));
        table.SetModified(false);  // the seeded connection alone never asks to be saved
    }

    images_ = icons::NewConnectionImageList(Library().module);
    list_.SetImageList(images_.get());
    for (ConnectionRecord* record : table.Records()) {
        const bool isDefault = record == table.DefaultRecord();
        Row& row = rows_[record];
        icons::LoadRecordIcon(Library().module, *record, images_.get(), row.image);
        platform::ListViewItem item;
        item.text = record->name;
        item.image = row.image;
        item.state = isDefault ? lvis::kSelected | lvis::kFocused : 0;
        item.data = reinterpret_cast<uintptr_t>(record);
        row.item = list_.InsertItem(list_.ItemCount(), item);
        if (isDefault) CopyToCurrent(*record);
    }
    UpdateButtons();
    saveButton_.Enable(false);
    return true;
}

// A caller that passes a connection string without a name wants to connect there: when no
// connection has its server, port and namespace, the table finds nothing for it (a lookup
// without a name never adds), so the dialog adds it here under the name a new connection gets
// ("New Connection", numbered when taken), which the user can change in place. A string that
// does not parse adds nothing, and the default is preselected instead.
ConnectionRecord* ConnectionsDialog::AddUnnamedRequest() {
    auto record = std::make_unique<ConnectionRecord>();
    if (!record->Parse(nullptr, requestedConnectionString.c_str(), CurrentParseDefaults())) return nullptr;
    ConnectionTable& table = Table();
    std::string name(LoadString(resources::kStrNewConnection));
    table.MakeUniqueName(nullptr, name);
    record->name = name;
    ConnectionRecord* added = record.get();
    table.Add(std::move(record));  // sets `modified`: Cancel asks whether to save it
    return added;
}

intptr_t ConnectionsDialog::OnItemChanged() {
    UpdateButtons();
    const ConnectionRecord* record = RecordAt(list_.NextItem(-1, lvni::kSelected));
    if (record == nullptr) {
        ShowConnectionString({});
        return 0;
    }
    CopyToCurrent(*record);
    ShowConnectionString(current.Format());
    return 0;
}

void ConnectionsDialog::OnNew() {
    if (list_.ItemCount() == 0) {
        deleteButton_.Enable();
        propertiesButton_.Enable();
    } else {
        for (int item; (item = list_.NextItem(-1, lvni::kSelected)) >= 0;) {
            list_.SetItemState(item, 0, lvis::kSelected);
        }
    }

    ConnectionTable& table = Table();
    std::string name(LoadString(resources::kStrNewConnection));
    table.MakeUniqueName(nullptr, name);
    auto record = std::make_unique<ConnectionRecord>();
    record->Parse(name.c_str(), std::string(kDefaultConnectionString).c_str(), CurrentParseDefaults());
    ConnectionRecord* added = record.get();
    rows_[added] = Row{list_.ItemCount(), 0};  // the default icon
    table.Add(std::move(record));
    saveButton_.Enable();

    platform::ListViewItem item;
    item.text = name;
    item.image = 0;
    item.state = lvis::kSelected | lvis::kFocused;
    item.data = reinterpret_cast<uintptr_t>(added);
    list_.InsertItem(list_.ItemCount(), item);  // its item-changed event makes it current
    GotoDlgCtrl(list_.Handle());

    // The new connection is the only selected item: Delete removes exactly it.
    if (OnProperties() == platform::kIdCancel) OnDelete();
}

void ConnectionsDialog::TakeSelectionAsDefault() {
    Table().MarkDefault(RecordAt(list_.NextItem(-1, lvni::kSelected)));
}

void ConnectionsDialog::OnDelete() {
    ConnectionTable& table = Table();
    for (int item; (item = list_.NextItem(-1, lvni::kSelected)) >= 0;) {
        ConnectionRecord* record = RecordAt(item);
        list_.DeleteItem(item);
        // The items behind the deleted one have moved up one position.
        for (int behind = item; behind < list_.ItemCount(); ++behind) {
            if (ConnectionRecord* moved = RecordAt(behind)) rows_[moved].item = behind;
        }
        rows_.erase(record);
        table.Remove(record);
        if (table.DefaultRecord() == nullptr) TakeSelectionAsDefault();
        saveButton_.Enable();
    }
    if (list_.ItemCount() == 0) {
        deleteButton_.Enable(false);
        propertiesButton_.Enable(false);
        return;
    }
    list_.SetItemState(0, lvis::kSelected | lvis::kFocused, lvis::kSelected | lvis::kFocused);
}

intptr_t ConnectionsDialog::OnListKeyDown(const Message& message) {
    if (message.ListView() == nullptr || message.ListView()->key != platform::vk::kDelete) return 0;
    if (deleteButton_.IsEnabled()) {
        OnDelete();
    } else {
        Beep();
    }
    return 0;
}

int ConnectionsDialog::OnProperties() {
    ConnectionRecord* record = RecordAt(currentRow_.item);
    if (record == nullptr) return platform::kIdCancel;
    ConnectionTable& table = Table();

    ConnectionPropertiesDialog properties(Handle());
    properties.name = current.name;
    properties.server = current.server;
    properties.port = LeadingNumber(current.port);
    properties.namespaceName = current.namespaceName;
    if (images_) {
        properties.icon.reset(images_->GetIcon(currentRow_.image));
        properties.defaultIcon.reset(images_->GetIcon(0));
    }
    properties.iconFilename = currentIconFilename;  // the record's own string, lent
    properties.iconIndex = current.iconIndex;
    const int code = properties.DoModal();
    // Whatever the end, the dialog's icons and a file name it made and nobody took go with it.
    if (code != platform::kIdOk) return code;

    record->server = properties.server;
    record->port = std::to_string(properties.port);
    record->namespaceName = properties.namespaceName;
    const bool iconChanged = ApplyIcon(*record, properties);

    current.name = properties.name;
    if (iconChanged || !record->Equals(current)) {
        std::string name = current.name;
        const bool kept = table.Rename(record, name);
        CopyToCurrent(*record);
        list_.SetItemText(currentRow_.item, current.name);
        list_.SetItemImage(currentRow_.item, currentRow_.image);
        // An unchanged label and image raise no item change: static 11 follows `current` here.
        ShowConnectionString(current.Format());
        saveButton_.Enable();
        if (!kept) {
            // The name was taken or empty: show the replacement and let the user change it.
            Beep();
            GotoDlgCtrl(list_.Handle());
            list_.EditLabel(currentRow_.item);
        }
        table.SetModified(true);
    }
    return code;
}

bool ConnectionsDialog::ApplyIcon(ConnectionRecord& record, ConnectionPropertiesDialog& properties) {
    const BSTR chosen = properties.iconFilename;  // the record's own (lent) or the dialog's
    if (!IconDiffers(record.iconFilename.get(), record.iconIndex, chosen, properties.iconIndex)) {
        return false;
    }
    // A file that yielded no icon ("No icons found", then OK) chose no icon: the connection
    // keeps the icon it had, its file and index included, and stores nothing new. Taking the
    // file would name an icon the connection never shows and leave it pointing at the default
    // image; the dialog's string goes with the dialog.
    if (!IsEmpty(chosen) && properties.icon.get() == nullptr) return false;
    UniqueBstr file = properties.ReleaseIconFilename();
    if (record.iconFilename.get() == chosen) {
        if (!file) file.reset(record.iconFilename.release());
    } else {
        record.iconFilename.reset();
    }

    if (IsEmpty(chosen)) {
        if (RowOf(&record).image > 0) RemoveImage(record);
        record.iconIndex = -1;
        rows_[&record].image = 0;
        record.iconFilename.reset();
        return true;  // the dialog's string goes with `file`
    }
    if (images_) {
        int& image = rows_[&record].image;
        if (image <= 0) {
            const int slot = images_->ReplaceIcon(-1, properties.icon.get());
            image = slot >= 0 ? slot : 0;
        } else {
            images_->ReplaceIcon(image, properties.icon.get());
        }
    }
    record.iconIndex = properties.iconIndex;
    record.iconFilename = std::move(file);
    return true;
}

void ConnectionsDialog::RemoveImage(const ConnectionRecord& record) {
    const int slot = RowOf(&record).image;
    if (!images_) return;
    // In table order, the order of the list.
    const std::vector<ConnectionRecord*> records = Table().Records();
    for (const ConnectionRecord* other : records) {
        if (other != &record && RowOf(other).image == slot) return;  // still shown: kept
    }
    if (!images_->Remove(slot)) return;
    for (const ConnectionRecord* other : records) {
        const auto row = rows_.find(other);
        if (other == &record || row == rows_.end() || row->second.image <= slot) continue;
        const int image = --row->second.image;
        if (RecordAt(row->second.item) == other) list_.SetItemImage(row->second.item, image);
    }
}

intptr_t ConnectionsDialog::OnBeginLabelEdit() { return 0; }

intptr_t ConnectionsDialog::OnEndLabelEdit(const Message& message) {
    const platform::ListViewNotification* edit = message.ListView();
    if (edit == nullptr) return 0;
    ConnectionRecord* record = RecordAt(edit->item);
    if (record == nullptr) return 0;
    // A cancelled edit proposes the name the record has.
    std::string proposed = edit->text ? *edit->text : record->name;

    intptr_t result = 1;
    const std::string oldName = record->name;
    const std::string typed = proposed;
    const bool kept = Table().Rename(record, proposed);
    if (!kept) {
        Beep();
        GotoDlgCtrl(list_.Handle());
        list_.EditLabel(edit->item);
        result = 0;
    }
    if (record->name != typed) list_.SetItemText(edit->item, record->name);
    if (record->name != oldName) {
        saveButton_.Enable();
        Table().SetModified(true);
    }
    return result;
}

intptr_t ConnectionsDialog::OnListDblClk() {
    const platform::Point point = list_.ScreenToClient(frame::WindowSystem().CursorPos());
    const ConnectionRecord* record = RecordAt(list_.HitTest(point));
    if (record == nullptr) return 0;
    CopyToCurrent(*record);
    ShowConnectionString(current.Format());
    OnOK();
    return 0;
}

void ConnectionsDialog::KeepStoreError(long error) {
    if (error != 0) storeError = error;
}

void ConnectionsDialog::OnSave() {
    TakeSelectionAsDefault();
    const long error = Table().Save();
    KeepStoreError(error);
    // A save that did not land leaves the changes unsaved: Save stays enabled.
    saveButton_.Enable(error != 0);
}

void ConnectionsDialog::OnOK() {
    OnSave();
    if (resultIcon.get() != kNoIconWanted) {
        resultIcon.reset(images_ ? images_->GetIcon(currentRow_.image) : nullptr);
    }
    EndDialog(platform::kIdOk);
}

bool ConnectionsDialog::AskToSaveChanges() {
    if (!Table().Modified()) return false;
    const std::string text = Truncated(LoadOwnString(resources::kStrSavePrompt), kPromptBuffer);
    const std::string caption = Truncated(LoadOwnString(resources::kStrSaveCaption), kCaptionBuffer);
    const platform::LocaleId locale = platform::UserDefaultLocale();
    if (text.empty() || caption.empty() || locale == 0) return false;
    const auto language = static_cast<uint16_t>(locale & 0xFFFF);
    return frame::WindowSystem().ShowMessage(nullptr, text, caption, platform::kMbYesNo,
                                             language) == platform::kIdYes;
}

void ConnectionsDialog::OnDestroy() {
    ConnectionTable& table = Table();
    if (AskToSaveChanges()) {
        KeepStoreError(table.Save());
    } else {
        table.Clear();
        rows_.clear();
        currentIconFilename = nullptr;  // its record is gone
        table.Load();
        ShowStoreWarnings(table);
    }
    Dialog::OnDestroy();
    help::FreeHelp();
}

void ConnectionsDialog::OnContextMenu(const Message& message) {
    const platform::Window from = message.window;
    if (from != nullptr && from != list_.Handle() && from != Handle()) {
        help::CallHelp(from, helpFile_.data(), help::kHelpContextMenu, HelpTable());
        return;
    }
    const int selected = list_.SelectedCount();
    using Menu = frame::PopupMenu;
    Menu menu;
    menu.Append(Menu::kString, kNewButton, LoadString(resources::kStrNewConnection));
    menu.Append(selected == 0 ? Menu::kGrayed : Menu::kString, kDeleteButton,
                LoadString(resources::kStrDeleteConnection));
    menu.AppendSeparator();
    menu.Append(selected != 1 ? Menu::kGrayed : Menu::kString, kPropertiesButton,
                LoadString(resources::kStrProperties));
    menu.Track(message.point, *this);
}

intptr_t ConnectionsDialog::OnHelpInfo(const Message& message) {
    help::CallHelp(message.window, helpFile_.data(), help::kHelpWmHelp, HelpTable());
    return 1;
}

}  // namespace tavix
