// The "Change Icon" dialog (template 100): a file, typed or browsed for, whose icons are shown
// in a row (CIconListBox), and one icon among them. An empty file name stands for the default
// icon.
//
// The caller sets defaultIcon (lent), iconIndex and iconFilename, runs DoModal, and after OK
// reads iconFilename, iconIndex (-1 for the default icon) and icon, a copy of the picked icon
// that the dialog owns until the caller takes it over by setting the field to null.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "frame/window/dialog.h"
#include "icons/icon_list_box.h"
#include "platform/icons.h"
#include "resources/resource.h"

namespace tavix::icons {

class ChangeIconDialog : public frame::Dialog {
public:
    static constexpr uint32_t kTemplate = IDD_CHANGE_ICON;
    static constexpr int kFileName = IDC_FILE_NAME, kBrowse = IDC_BROWSE, kIconRow = IDC_ICON_ROWS;
    static constexpr uint32_t kFilterString = IDS_ICON_FILE_FILTER;

    explicit ChangeIconDialog(platform::Window parent = nullptr);
    ~ChangeIconDialog() override;

    // Reloads the row and enables OK only when it holds an icon.
    void RefreshIcons(int selectIndex);

    platform::IconHandle defaultIcon = nullptr;  // lent
    platform::IconHandle icon = nullptr;         // owned
    int iconIndex = -1;
    frame::Button okButton;
    frame::Button browseButton;
    std::string iconFilename;
    CIconListBox iconList;
    std::array<char, 1024> helpFile{};

    static const frame::MessageMap* ClassMap();
    const frame::MessageMap* GetMessageMap() const override { return ClassMap(); }

protected:
    bool OnInitDialog() override;
    void DoDataExchange(frame::DataExchange& exchange) override;
    void OnOK() override;
    // Enter in the file name loads the file instead of ending the dialog.
    bool OnCommand(const frame::Message& message, intptr_t& result) override;

private:
    void OnFileNameKillFocus();
    void OnBrowse();
    void OnDestroy();
    intptr_t OnRowCompare(const frame::Message& message);
    intptr_t OnRowMeasure(const frame::Message& message);
    intptr_t OnRowDraw(const frame::Message& message);
    intptr_t OnHelpInfo(const frame::Message& message);
    void OnContextMenu(const frame::Message& message);
};

}  // namespace tavix::icons
