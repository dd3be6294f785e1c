// Driving real dialogs from a second thread, as a user would: the test's thread runs the modal
// dialog, the driver's thread finds its windows and acts on them with window messages.
//
// Actions that may open a modal window (a click, a key) are posted, never sent: a sent message
// would wait for the modal window's answer, which only the driver can give. What the driver reads
// (texts, states) is sent, and the dialog thread's modal loop answers it. Every wait is bounded.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace tavix::gui_test {

class Driver {
public:
    explicit Driver(DWORD uiThread) : uiThread_(uiThread) {}

    // A visible top-level dialog window ("#32770": dialogs and message boxes, whose caption is
    // the library's name or the prompt's) of the dialog thread with this caption; null when none
    // came within the time limit.
    HWND WaitForDialog(std::string_view caption, DWORD timeoutMs = 10000) const;
    // Waits until done answers true; false at the time limit.
    static bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);
    // Waits until window no longer exists.
    static bool WaitGone(HWND window, DWORD timeoutMs = 10000) {
        return WaitUntil([window] { return !IsWindow(window); }, timeoutMs);
    }

    static std::string Text(HWND window);
    static std::string ItemText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }
    // The label of a list view's item.
    static std::string Label(HWND list, int index);
    // The focus in the dialog thread.
    HWND Focus() const;
    // A popup menu of the dialog thread that is showing ("#32768"), or null.
    HWND Menu() const;

    // A click on a button, posted: the handler may open a modal window.
    static void Click(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
    static void PostKey(HWND window, int virtualKey);
    // A key pressed on the keyboard (keybd_event): it goes to the focus of the active window, and
    // the system's own handling of the key (F1 raising WM_HELP) takes place. shift: with Shift
    // held down, as the dialog manager reads it (GetKeyState).
    static void Type(int virtualKey, bool shift = false);
    static void SetText(HWND window, const std::string& text) {
        SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }

    // A message box's text; Click(box, IDOK) answers it.
    static std::string MessageText(HWND box) { return ItemText(box, 0xFFFF); }

    // Saves a picture of window as a BMP file named name in the directory that the environment
    // variable TAVIX_SCREENSHOT_DIR names (nothing when it is not set). False when it was asked
    // for and could not be written.
    static bool Screenshot(HWND window, std::string_view name);

    // Closes every window the dialog thread still shows: dialogs and message boxes with their
    // cancel or negative button, menus with Escape.
    void CloseAll() const;

private:
    DWORD uiThread_;
};

// Runs dialog.DoModal() on this thread while script drives it from another; once the script
// returns (or gives up), whatever it left open is closed, so that the test always ends.
// Answers DoModal's code.
template <class DialogT>
int RunDriven(DialogT& dialog, const std::function<void(Driver&)>& script) {
    Driver driver(GetCurrentThreadId());
    std::atomic<bool> done{false};
    std::thread thread([&] {
        script(driver);
        for (int i = 0; i < 100 && !done; ++i) {
            driver.CloseAll();
            Sleep(100);
        }
    });
    const int code = dialog.DoModal();
    done = true;
    thread.join();
    return code;
}

}  // namespace tavix::gui_test
