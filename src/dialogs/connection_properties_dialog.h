// The "Connection Properties" dialog: one connection's name, server, port, namespace and icon.
//
// The Connections dialog fills the fields from the connection the user is on, runs the dialog
// and, after OK, writes the fields back into the connection's record. This dialog touches
// neither the connection table nor the store.
//
// On OK the edits are read back and checked in the order name, namespace, port, server: a
// refused value (a text over 255 characters, a port that is not a whole number from 0 to 65535)
// keeps the dialog open with the focus in its edit, and the fields read before it already hold
// their new values. Cancel leaves the text fields and the port as they were given.
//
// Ownership
// - iconFilename is at first lent by the caller (the record's own string) and is never freed
//   here. A string that the icon button puts there instead is the dialog's own until the caller
//   takes it over with ReleaseIconFilename; otherwise the dialog frees it.
// - icon and defaultIcon are the dialog's: the caller hands them in, the icon button replaces
//   icon (destroying the one it replaces), and whatever is held at the end is destroyed with
//   the dialog (0 and 1 never are).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "TavixConnect.h"
#include "dialogs/unique_icon.h"
#include "frame/context/boundary.h"
#include "frame/window/dialog.h"
#include "resources/resource.h"

namespace tavix {

class ConnectionPropertiesDialog : public frame::Dialog {
public:
    static constexpr uint32_t kTemplateId = IDD_CONNECTION_PROPERTIES;
    enum ControlId : int {
        kIconButton = IDC_ICON_BUTTON,
        kListNamespacesButton = IDC_LIST_NAMESPACES,  // hidden for the dialog's whole life
        kNamespaceCombo = IDC_NAMESPACE_COMBO,        // hidden for the dialog's whole life
        kNameEdit = IDC_NAME,
        kServerEdit = IDC_SERVER,
        kNamespaceEdit = IDC_NAMESPACE,
        kPortEdit = IDC_PORT,
    };
    static constexpr int kMaxTextLength = 255;
    static constexpr int32_t kMaxPort = 65535;

    explicit ConnectionPropertiesDialog(platform::Window parent);

    // The file the icon comes from (null: none), lent or the dialog's own; see above.
    BSTR iconFilename = nullptr;
    int32_t iconIndex = -1;
    UniqueIcon icon;         // shown on the icon button
    UniqueIcon defaultIcon;  // lent to the Change Icon dialog for an empty file name
    frame::Button iconButton;
    std::string name;
    std::string namespaceName;
    int32_t port = 0;
    std::string server;

    // The file-name string the icon button made, for the caller to keep; null when iconFilename
    // is the lent string or none. iconFilename still names the string afterwards.
    UniqueBstr ReleaseIconFilename() noexcept { return std::move(ownIconFilename_); }

    static const frame::MessageMap* ClassMap();
    const frame::MessageMap* GetMessageMap() const override { return ClassMap(); }

protected:
    bool OnInitDialog() override;
    void DoDataExchange(frame::DataExchange& exchange) override;

private:
    void OnIconButton();
    intptr_t OnHelpInfo(const frame::Message& message);
    void OnContextMenu(const frame::Message& message);
    void OnDestroy();

    UniqueBstr ownIconFilename_;  // iconFilename when the icon button made it
    std::array<char, 1024> helpFile_{};
};

}  // namespace tavix
