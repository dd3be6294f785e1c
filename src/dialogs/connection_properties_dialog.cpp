#include "dialogs/connection_properties_dialog.h"

#include "frame/context/library_context.h"
#include "icons/change_icon_dialog.h"
#include "locale/help.h"

namespace tavix {

namespace {

namespace wm = platform::wm;

constexpr const char kHelpFormat[] = "%s.chm::/context.txt";

// Control id and help context id pairs, ended by 0, 0.
using Ids = ConnectionPropertiesDialog::ControlId;
constexpr uint32_t kHelpIds[] = {
    IDOK, 20020, IDCANCEL, 20021, Ids::kIconButton, 20025, Ids::kNameEdit, 20023,
    Ids::kNamespaceEdit, 20031, Ids::kPortEdit, 20029, Ids::kServerEdit, 20027, 0, 0,
};

uintptr_t HelpTable() { return reinterpret_cast<uintptr_t>(kHelpIds); }

}  // namespace

ConnectionPropertiesDialog::ConnectionPropertiesDialog(platform::Window parent)
    : Dialog(kTemplateId, parent) {}

const frame::MessageMap* ConnectionPropertiesDialog::ClassMap() {
    using Self = ConnectionPropertiesDialog;
    static constexpr frame::MessageEntry entries[] = {
        frame::OnCommand<&Self::OnIconButton>(kIconButton),
        frame::OnMessage<&Self::OnHelpInfo>(wm::kHelp),
        frame::OnMessage<&Self::OnContextMenu>(wm::kContextMenu),
        frame::OnMessage<&Self::OnDestroy>(wm::kDestroy),
    };
    static const frame::MessageMap map{Dialog::ClassMap(), entries};
    return &map;
}

void ConnectionPropertiesDialog::DoDataExchange(frame::DataExchange& exchange) {
    exchange.Bind(kIconButton, iconButton);
    exchange.Text(kNameEdit, name, kMaxTextLength);
    exchange.Text(kNamespaceEdit, namespaceName, kMaxTextLength);
    exchange.Number(kPortEdit, port, 0, kMaxPort);
    exchange.Text(kServerEdit, server, kMaxTextLength);
}

bool ConnectionPropertiesDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    help::InitHelp(helpFile_.data(), kHelpFormat);
    iconButton.SetIcon(icon.get());
    return true;
}

void ConnectionPropertiesDialog::OnIconButton() {
    icons::ChangeIconDialog change;
    change.iconFilename =
        iconFilename ? ActiveCodePage().ToNarrow(WideView(iconFilename)) : std::string();
    change.defaultIcon = defaultIcon.get();
    change.iconIndex = iconIndex;
    if (change.DoModal() != platform::kIdOk) return;  // nothing has changed

    // The string given up here is freed only when it is the dialog's own.
    ownIconFilename_.reset();
    iconFilename = nullptr;
    if (!change.iconFilename.empty()) {
        ownIconFilename_.reset(NewBstrFromNarrow(change.iconFilename));
        iconFilename = ownIconFilename_.get();
    }
    iconIndex = change.iconIndex;
    iconButton.SetIcon(change.icon);
    if (change.icon != icon.get()) {
        icon.reset(change.icon);
        change.icon = nullptr;  // taken over: the Change Icon dialog must not destroy it
    }
    iconButton.Invalidate(false);
}

intptr_t ConnectionPropertiesDialog::OnHelpInfo(const frame::Message& message) {
    help::CallHelp(message.window, helpFile_.data(), help::kHelpWmHelp, HelpTable());
    return 1;
}

void ConnectionPropertiesDialog::OnContextMenu(const frame::Message& message) {
    help::CallHelp(message.window, helpFile_.data(), help::kHelpContextMenu, HelpTable());
}

void ConnectionPropertiesDialog::OnDestroy() {
    Dialog::OnDestroy();
    help::FreeHelp();
}

}  // namespace tavix
