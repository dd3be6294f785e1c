// The dialog manager's event order as user stories, one table for every window system: each
// story opens a dialog of event_order_stories.rc, plays the user's actions (keys, clicks, typed
// text, the close box) and names the exact events the dialog sees and the code DoModal answers.
// Each backend has a small runner that plays the actions its own way (headless: the scripted
// user; Win32: input and window messages under a real dialog manager) and checks the table.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "frame/window/dialog.h"
#include "platform/window_system.h"
#include "story_templates.h"

namespace tavix::stories {

struct Action {
    enum Kind { Key, ShiftKey, Click, Type, Close } kind;
    int target = 0;  // Key, ShiftKey: the virtual key; Click, Type: the control id
    std::string text;  // Type
};

inline Action Press(int key) { return {Action::Key, key, {}}; }
inline Action ShiftPress(int key) { return {Action::ShiftKey, key, {}}; }
inline Action ClickOn(int id) { return {Action::Click, id, {}}; }
inline Action TypeInto(int id, std::string text) { return {Action::Type, id, std::move(text)}; }
inline Action CloseBox() { return {Action::Close, 0, {}}; }

struct Story {
    const char* what;
    uint32_t templateId;
    std::vector<Action> actions;
    int code;             // what DoModal answers
    std::string events;   // the dialog's events, ", "-separated
};

// The dialog every story runs: it logs its start, the edits' focus changes, the Go button, OK
// (with the name read back) and Cancel, and its destruction. F1 requests are counted, not
// logged: a runner that acts asynchronously uses one as a marker that the actions before it
// have been handled.
class StoryDialog : public frame::Dialog {
public:
    explicit StoryDialog(uint32_t templateId) : Dialog(templateId) {}
    std::vector<std::string> log;
    std::string name;
    std::atomic<int> helpRequests{0};

    std::string Events() const {
        std::string joined;
        for (const std::string& entry : log) joined += (joined.empty() ? "" : ", ") + entry;
        return joined;
    }

    static const frame::MessageMap* ClassMap() {
        namespace en = platform::en;
        static constexpr frame::MessageEntry entries[] = {
            frame::OnCommand<&StoryDialog::OnGo>(STORY_GO),
            frame::OnCommand<&StoryDialog::OnEditFocus>(STORY_NAME, en::kSetFocus),
            frame::OnCommand<&StoryDialog::OnEditFocus>(STORY_NAME, en::kKillFocus),
            frame::OnCommand<&StoryDialog::OnEditFocus>(STORY_PORT, en::kSetFocus),
            frame::OnCommand<&StoryDialog::OnEditFocus>(STORY_PORT, en::kKillFocus),
            frame::OnMessage<&StoryDialog::OnHelp>(platform::wm::kHelp),
            frame::OnMessage<&StoryDialog::OnDestroy>(platform::wm::kDestroy),
        };
        static const frame::MessageMap map{Dialog::ClassMap(), entries};
        return &map;
    }
    const frame::MessageMap* GetMessageMap() const override { return ClassMap(); }

protected:
    bool OnInitDialog() override { return log.push_back("init"), Dialog::OnInitDialog(); }
    void DoDataExchange(frame::DataExchange& exchange) override { exchange.Text(STORY_NAME, name); }
    void OnOK() override {
        UpdateData(true);  // the name as OK reads it, logged before the dialog ends
        log.push_back("ok name=" + name);
        Dialog::OnOK();
    }
    void OnCancel() override {
        log.push_back("cancel");
        Dialog::OnCancel();
    }

private:
    void OnGo() { log.push_back("go"); }
    void OnEditFocus(const frame::Message& message) {
        log.push_back(std::string(message.id == STORY_NAME ? "name" : "port") +
                      (message.code == platform::en::kSetFocus ? " setfocus" : " killfocus"));
    }
    intptr_t OnHelp() { return ++helpRequests, 1; }
    void OnDestroy() {
        Dialog::OnDestroy();
        log.push_back("destroy");
    }
};

// The stories. Every dialog opens with the focus on the first edit (WM_INITDIALOG answered
// true); when a dialog ends, the focused edit loses the focus before the dialog is destroyed.
inline const std::vector<Story>& EventOrderStories() {
    namespace vk = platform::vk;
    static const std::vector<Story> stories = {
        {"Enter in an edit clicks the default button; Escape cancels", STORY_WITH_DEFAULT,
         {Press(vk::kReturn), Press(vk::kEscape)}, 2, "init, name setfocus, go, cancel, name killfocus, destroy"},
        {"Enter in a dialog without a default button is IDOK", STORY_NO_DEFAULT,
         {TypeInto(STORY_NAME, "db1"), Press(vk::kReturn)}, 1,
         "init, name setfocus, ok name=db1, name killfocus, destroy"},
        {"Tab walks the tab stops forward; Enter clicks the focused button, not the default one", STORY_WITH_DEFAULT,
         {Press(vk::kTab), Press(vk::kTab), Press(vk::kTab), Press(vk::kReturn)}, 1,
         "init, name setfocus, name killfocus, port setfocus, port killfocus, ok name=, destroy"},
        {"Shift+Tab walks backward and wraps from the first stop to the last", STORY_WITH_DEFAULT,
         {Press(vk::kTab), ShiftPress(vk::kTab), ShiftPress(vk::kTab), ShiftPress(vk::kTab), Press(vk::kReturn)}, 1,
         "init, name setfocus, name killfocus, port setfocus, port killfocus, name setfocus, name killfocus, ok name=, "
         "destroy"},
        {"Typing focuses the edit; a click on a button takes the focus; OK reads the fields", STORY_WITH_DEFAULT,
         {TypeInto(STORY_PORT, "42"), TypeInto(STORY_NAME, "db2"), ClickOn(STORY_GO), ClickOn(1)}, 1,
         "init, name setfocus, name killfocus, port setfocus, port killfocus, name setfocus, name killfocus, go, "
         "ok name=db2, destroy"},
        {"The close box cancels", STORY_NO_DEFAULT, {CloseBox()}, 2,
         "init, name setfocus, cancel, name killfocus, destroy"},
    };
    return stories;
}

}  // namespace tavix::stories
