// The modal "Connections" manager: every connection of the process's connection table as a
// large icon with its name; the user creates, renames, edits, deletes and saves connections and
// picks the one to connect to.
//
// The dialog works on the table's records directly: each list item's data is its record. The
// view is the dialog's own: it keeps, for each record it lists, its item's position and its
// image in the dialog's image list (RowOf), and the item position always follows the list.
// Every change goes to the table and sets its `modified` flag; Save and Connect write the
// table to the store. Closing the dialog with unsaved changes asks whether to save them (the
// question and its caption are the library's own strings; the buttons are in the user's
// language); without a save the table is cleared and loaded again, so that afterwards it
// always equals the store. What a read of the store passes over is shown right after the read.
//
// `current` is the dialog's copy of the connection the user is on, from which the caller reads
// the chosen connection. It owns its copies of the texts; its icon file name is only borrowed
// from the table's record (currentIconFilename) and never read once the table was cleared.
//
// The image list starts with the default connection icon (image 0, shared by every connection
// without an icon file), then an image of its own for each connection with an icon file, put
// there when the dialog opens. Dropping a connection's own icon removes its image; the images
// behind it move down, and the records that show them are renumbered (their items too), so
// every record's image stays its own. An image that another record also shows stays in place.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "TavixConnect.h"
#include "connstring/connection_record.h"
#include "dialogs/unique_icon.h"
#include "frame/window/dialog.h"
#include "platform/icons.h"
#include "resources/resource.h"

namespace tavix {

class ConnectionPropertiesDialog;
class ConnectionTable;

class ConnectionsDialog : public frame::Dialog {
public:
    static constexpr uint32_t kTemplateId = IDD_CONNECTIONS;
    enum ControlId : int {
        kConnectButton = IDOK,
        kCancelButton = IDCANCEL,
        kSaveButton = IDC_SAVE,
        kList = IDC_CONNECTION_LIST,
        kConnectionStringText = IDC_CONNECTION_STRING,
        kNewButton = IDC_NEW,
        kPropertiesButton = IDC_PROPERTIES,
        kDeleteButton = IDC_DELETE,
    };

    ConnectionsDialog();
    ~ConnectionsDialog() override;

    // Set by the caller before DoModal.
    std::optional<std::string> title;  // the caption instead of "Connections"
    std::string requestedName;               // preselect this connection ...
    std::string requestedConnectionString;   // ... or this one (added when missing)

    // Read by the caller after DoModal.
    ConnectionRecord current;            // its iconFilename stays null: see currentIconFilename
    BSTR currentIconFilename = nullptr;  // borrowed from the table's record
    // The chosen connection's icon, made by Connect; kNoIconWanted (set by the caller) keeps
    // it from being made. Destroyed with the dialog unless taken.
    UniqueIcon resultIcon;
    // The first failure to read or save the store during the run (a registry error), 0 when
    // every read and save landed.
    long storeError = 0;

    // Where the dialog shows a record: its item's position in the list and its image in
    // Images(); -1 for a record it does not list, or one without an image.
    struct Row {
        int item = -1;
        int image = -1;
    };
    Row RowOf(const ConnectionRecord* record) const;
    // The list of the connections' icons that the list view shows; null before the dialog opens.
    const platform::ImageList* Images() const { return images_.get(); }

    static const frame::MessageMap* ClassMap();
    const frame::MessageMap* GetMessageMap() const override { return ClassMap(); }

protected:
    bool OnInitDialog() override;
    void DoDataExchange(frame::DataExchange& exchange) override;
    void OnOK() override;  // Connect

private:
    void KeepStoreError(long error);
    intptr_t OnItemChanged();
    intptr_t OnBeginLabelEdit();
    intptr_t OnEndLabelEdit(const frame::Message& message);
    intptr_t OnListKeyDown(const frame::Message& message);
    intptr_t OnListDblClk();
    void OnNew();
    void OnSave();
    void OnDelete();
    int OnProperties();
    void OnContextMenu(const frame::Message& message);
    intptr_t OnHelpInfo(const frame::Message& message);
    void OnDestroy();

    ConnectionTable& Table() const;
    ConnectionRecord* RecordAt(int item) const;
    void CopyToCurrent(const ConnectionRecord& record);
    void ShowConnectionString(const std::string& text);
    void UpdateButtons();
    void TakeSelectionAsDefault();
    bool AskToSaveChanges();
    // Adds the requested connection string that carries no name; null when it does not parse.
    ConnectionRecord* AddUnnamedRequest();
    // Applies the icon the Properties dialog returned to record; true when it changed.
    bool ApplyIcon(ConnectionRecord& record, ConnectionPropertiesDialog& properties);
    void RemoveImage(const ConnectionRecord& record);
    void Beep();

    frame::Button newButton_;
    frame::Button propertiesButton_;
    frame::Button saveButton_;
    frame::Button connectButton_;
    frame::Button deleteButton_;
    frame::ListView list_;
    std::unique_ptr<platform::ImageList> images_;
    std::unordered_map<const ConnectionRecord*, Row> rows_;
    Row currentRow_;  // where the record `current` was copied from is shown
    std::array<char, 1024> helpFile_{};
};

// The number at the start of a port text as atoi reads it: leading blanks, an optional sign,
// then decimal digits up to the first other character; 0 when there are none. A value beyond
// 32 bits saturates.
int32_t LeadingNumber(std::string_view text);

}  // namespace tavix
