// What the user is shown outside the dialogs: menus, message boxes, beeps, the file dialog.
#include "platform/headless/headless_window_system.h"

#include <string>

#include "platform/headless/headless_internal.h"

namespace tavix::platform::headless {

namespace {

constexpr unsigned kMbTypeMask = 0x0F;

int DefaultAnswer(unsigned style) {
    switch (style & kMbTypeMask) {
        case 0x02: return 3;  // abort, retry, ignore: abort
        case kMbYesNo:
        case kMbYesNoCancel: return kIdYes;
        case 0x05: return 4;  // retry, cancel: retry
        default: return kIdOk;
    }
}

}  // namespace

// ---- Menus, message boxes, file dialogs --------------------------------------------------------
int HeadlessWindowSystem::TrackPopupMenu(const std::vector<MenuItem>& items, Point screen,
                                         Window owner) {
    Record record;
    record.kind = Record::Menu;
    record.menu = items;
    record.point = screen;
    record.ownerId = ControlId(owner);
    record.dialog = Active() ? Active()->templateId : 0;
    if (!menuAnswers_.empty()) {
        const int wanted = menuAnswers_.front();
        menuAnswers_.pop_front();
        for (const MenuItem& item : items) {
            if (item.id == wanted && wanted != 0 && !item.grayed) record.answer = wanted;
        }
        if (wanted != 0 && record.answer == 0) {
            Problem("menu item " + std::to_string(wanted) + " is not there to be chosen");
        }
    }
    records_.push_back(record);
    return record.answer;
}

int HeadlessWindowSystem::ShowMessage(Window owner, std::string_view text,
                                      std::string_view caption, unsigned style,
                                      uint16_t language) {
    Record record;
    record.kind = Record::MessageBox;
    record.text = text;
    record.caption = caption;
    record.style = style;
    record.language = language;
    record.ownerId = ControlId(owner);
    record.dialog = Active() ? Active()->templateId : 0;
    record.answer = DefaultAnswer(style);
    if (!messageBoxAnswers_.empty()) {
        record.answer = messageBoxAnswers_.front();
        messageBoxAnswers_.pop_front();
    }
    const size_t slot = records_.size();
    records_.push_back(record);
    ModalTakesFocus([] {});
    return records_[slot].answer;
}

void HeadlessWindowSystem::Beep(unsigned type) {
    Record record;
    record.kind = Record::Beep;
    record.style = type;
    record.dialog = Active() ? Active()->templateId : 0;
    records_.push_back(record);
}

std::optional<std::string> HeadlessWindowSystem::OpenFileDialog(const FileDialogRequest& request) {
    Record record;
    record.kind = Record::FileDialog;
    record.file = request;
    record.ownerId = ControlId(request.owner);
    record.dialog = Active() ? Active()->templateId : 0;
    if (!fileAnswers_.empty()) {
        record.path = fileAnswers_.front();
        fileAnswers_.pop_front();
    }
    records_.push_back(record);
    ModalTakesFocus([] {});
    return record.path;
}

bool HeadlessWindowSystem::IsKeyDown(int virtualKey) {
    if (virtualKey == vk::kControl) return ctrl_;
    if (virtualKey == vk::kShift) return shift_;
    return false;
}

}  // namespace tavix::platform::headless
