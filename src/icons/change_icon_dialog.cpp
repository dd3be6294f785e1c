#include "icons/change_icon_dialog.h"

#include "frame/context/library_context.h"
#include "locale/help.h"

namespace tavix::icons {

namespace wm = platform::wm;

namespace {

// Control id and help context pairs, ended by (0, 0).
using Dlg = ChangeIconDialog;
constexpr uint32_t kHelpIds[] = {
    IDOK, 20001, IDCANCEL, 20002, Dlg::kFileName, 20005, Dlg::kBrowse, 20004, Dlg::kIconRow, 20007, 0, 0,
};
constexpr char kHelpFormat[] = "%s.chm::/context.txt";
constexpr unsigned kOpenFlags = platform::kOfnFileMustExist | platform::kOfnHideReadOnly;

uintptr_t HelpTable() { return reinterpret_cast<uintptr_t>(kHelpIds); }

}  // namespace

ChangeIconDialog::ChangeIconDialog(platform::Window parent) : Dialog(kTemplate, parent) {}

ChangeIconDialog::~ChangeIconDialog() {
    if (platform::IsRealIcon(icon)) platform::Icons().DestroyIcon(icon);
}

const frame::MessageMap* ChangeIconDialog::ClassMap() {
    static constexpr frame::MessageEntry entries[] = {
        frame::OnCommand<&ChangeIconDialog::OnOK>(kIconRow, platform::lbn::kDblClk),
        frame::OnCommand<&ChangeIconDialog::OnFileNameKillFocus>(kFileName,
                                                                 platform::en::kKillFocus),
        frame::OnCommand<&ChangeIconDialog::OnBrowse>(kBrowse),
        frame::OnMessage<&ChangeIconDialog::OnDestroy>(wm::kDestroy),
        frame::OnMessage<&ChangeIconDialog::OnRowCompare>(wm::kCompareItem, kIconRow),
        frame::OnMessage<&ChangeIconDialog::OnRowMeasure>(wm::kMeasureItem, kIconRow),
        frame::OnMessage<&ChangeIconDialog::OnRowDraw>(wm::kDrawItem, kIconRow),
        frame::OnMessage<&ChangeIconDialog::OnHelpInfo>(wm::kHelp),
        frame::OnMessage<&ChangeIconDialog::OnContextMenu>(wm::kContextMenu),
    };
    static const frame::MessageMap map{Dialog::ClassMap(), entries};
    return &map;
}

void ChangeIconDialog::DoDataExchange(frame::DataExchange& exchange) {
    exchange.Bind(platform::kIdOk, okButton);
    exchange.Bind(kBrowse, browseButton);
    exchange.Text(kFileName, iconFilename);
}

bool ChangeIconDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    help::InitHelp(helpFile.data(), kHelpFormat);
    iconList.SubclassDlgItem(kIconRow, *this);
    RefreshIcons(iconIndex);
    return true;
}

void ChangeIconDialog::RefreshIcons(int selectIndex) {
    iconList.LoadIcons(defaultIcon, iconFilename, selectIndex);
    okButton.Enable(iconList.iconCount >= 1);
}

void ChangeIconDialog::OnFileNameKillFocus() {
    const std::string text = frame::WindowSystem().Text(Item(kFileName));
    if (text == iconFilename) return;
    iconFilename = text;
    RefreshIcons(0);
}

void ChangeIconDialog::OnBrowse() {
    frame::FileDialog files({}, iconFilename, kOpenFlags, LoadString(kFilterString), Handle());
    if (files.DoModal() != platform::kIdOk) return;
    const std::string path = files.PathName();
    frame::WindowSystem().SetText(Item(kFileName), path);
    if (path == iconFilename) return;
    iconFilename = path;
    RefreshIcons(0);
}

bool ChangeIconDialog::OnCommand(const frame::Message& message, intptr_t& result) {
    platform::WindowSystem& system = frame::WindowSystem();
    if (message.id == platform::kIdOk && message.code == 0 &&
        system.Focus() == Item(kFileName) && Item(kFileName) != nullptr) {
        // The focus change makes the file name lose the focus, which loads the typed file.
        system.SetFocus(Item(kIconRow));
        return true;
    }
    return Dialog::OnCommand(message, result);
}

void ChangeIconDialog::OnOK() {
    iconIndex = iconFilename.empty() ? -1 : iconList.selectedIndex;
    if (platform::IsRealIcon(icon)) platform::Icons().DestroyIcon(icon);
    icon = nullptr;
    if (iconList.images && iconList.selectedIndex >= 0) {
        icon = iconList.images->GetIcon(iconList.selectedIndex);
    }
    Dialog::OnOK();
}

void ChangeIconDialog::OnDestroy() {
    Dialog::OnDestroy();
    help::FreeHelp();
}

intptr_t ChangeIconDialog::OnRowCompare(const frame::Message& message) {
    int result = 0;
    if (auto* compare = message.CompareRequest()) iconList.CompareItem(*compare, result);
    return result;
}

intptr_t ChangeIconDialog::OnRowMeasure(const frame::Message& message) {
    if (auto* measure = message.MeasureRequest()) iconList.MeasureItem(*measure);
    return 1;
}

intptr_t ChangeIconDialog::OnRowDraw(const frame::Message& message) {
    if (auto* draw = message.DrawRequest()) iconList.DrawItem(*draw);
    return 1;
}

intptr_t ChangeIconDialog::OnHelpInfo(const frame::Message& message) {
    help::CallHelp(message.window, helpFile.data(), help::kHelpWmHelp, HelpTable());
    return 1;
}

void ChangeIconDialog::OnContextMenu(const frame::Message& message) {
    help::CallHelp(message.window, helpFile.data(), help::kHelpContextMenu, HelpTable());
}

}  // namespace tavix::icons
