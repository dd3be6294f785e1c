// The ConnectionDialog export end to end, as a client program calls it: the library loaded by
// its file name, the real Connections manager with its Properties and Change Icon dialogs driven
// by window messages, then what the caller's variables and Wine's registry hold.
#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "gui_driver.h"
#include "resources/resource.h"

namespace tavix::gui_test {
namespace {

using ConnectionDialogFn = int(WINAPI*)(BSTR*, BSTR*, const OLECHAR*, HICON*);

constexpr char kStoreKey[] = "Software\\Vantorin\\Connections";

std::wstring Wide(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : L""; }

// The default value of a connection's key; nothing when the store has no such connection.
std::optional<std::string> StoredConnection(const std::string& name) {
    char value[1024] = {};
    DWORD size = sizeof value;
    const std::string key = std::string(kStoreKey) + "\\" + name;
    const LSTATUS rc = RegGetValueA(HKEY_CURRENT_USER, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size);
    return rc == ERROR_SUCCESS ? std::optional<std::string>(value) : std::nullopt;
}

class ConnectionDialogGui : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, kStoreKey);
        library_ = LoadLibraryA(TAVIX_LIBRARY_FILE);
        ASSERT_NE(library_, nullptr) << TAVIX_LIBRARY_FILE;
        dialog_ = reinterpret_cast<ConnectionDialogFn>(reinterpret_cast<void*>(GetProcAddress(library_, "ConnectionDialog")));
        if (dialog_ == nullptr) GTEST_SKIP() << "the library has no ConnectionDialog yet";
    }
    void TearDown() override {
        if (library_) FreeLibrary(library_);
        RegDeleteTreeA(HKEY_CURRENT_USER, kStoreKey);
    }

    // Calls ConnectionDialog on this thread while script drives it from another.
    int Run(BSTR* name, BSTR* connString, const wchar_t* title, HICON* icon,
            const std::function<void(Driver&)>& script) {
        struct Call {
            std::function<int()> DoModal;
        } call{[=, this] { return dialog_(name, connString, title, icon); }};
        return RunDriven(call, script);
    }

    HMODULE library_ = nullptr;
    ConnectionDialogFn dialog_ = nullptr;
};

// An empty store: "Local" alone; New opens the Properties dialog, a refused port keeps it open
// with the focus in the port, the icon button opens Change Icon; Connect hands the new
// connection to the caller and saves it.
TEST_F(ConnectionDialogGui, NewConnectionThenConnect) {
    BSTR name = nullptr, connString = nullptr;
    HICON icon = nullptr;
    const int result = Run(&name, &connString, L"Pick a server", &icon, [](Driver& driver) {
        HWND main = driver.WaitForDialog("Pick a server");
        ASSERT_NE(main, nullptr);
        HWND list = GetDlgItem(main, IDC_CONNECTION_LIST);
        EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 1);
        EXPECT_EQ(Driver::Label(list, 0), "Local");
        EXPECT_EQ(Driver::ItemText(main, 11), "cn_iptcp:127.0.0.1[1972]:USER");
        EXPECT_TRUE(Driver::Screenshot(main, "connections"));

        Driver::Click(main, IDC_NEW);
        HWND properties = driver.WaitForDialog("Connection Properties");
        ASSERT_NE(properties, nullptr);
        EXPECT_EQ(Driver::ItemText(properties, 15) + "|" + Driver::ItemText(properties, 16) + "|" +
                      Driver::ItemText(properties, 18),
                  "New Connection|127.0.0.1|1972");
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(properties, IDC_LIST_NAMESPACES)) ||
                     IsWindowVisible(GetDlgItem(properties, IDC_NAMESPACE_COMBO)));
        EXPECT_TRUE(Driver::Screenshot(properties, "connection_properties"));
        for (const auto& [id, text] : {std::pair{IDC_NAME, "Sales"}, {IDC_SERVER, "db1"}, {IDC_PORT, "65536"},
                                       {IDC_NAMESPACE, "SALES"}}) {
            Driver::SetText(GetDlgItem(properties, id), text);
        }
        Driver::Click(properties, IDOK);
        HWND box = driver.WaitForDialog("TavixConnect");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(Driver::MessageText(box), "Please enter an integer between 0 and 65535.");
        Driver::Answer(box, IDOK);
        EXPECT_TRUE(Driver::WaitUntil([&] { return driver.Focus() == GetDlgItem(properties, IDC_PORT); }));
        Driver::SetText(GetDlgItem(properties, IDC_PORT), "1972");

        Driver::Click(properties, IDC_ICON_BUTTON);
        HWND changeIcon = driver.WaitForDialog("Change Icon");
        ASSERT_NE(changeIcon, nullptr);
        EXPECT_TRUE(Driver::Screenshot(changeIcon, "connections_change_icon"));
        Driver::Click(changeIcon, IDCANCEL);
        EXPECT_TRUE(Driver::WaitGone(changeIcon));

        Driver::Click(properties, IDOK);
        EXPECT_TRUE(Driver::WaitGone(properties));
        EXPECT_TRUE(Driver::WaitUntil([&] { return Driver::Label(list, 1) == "Sales"; }));
        EXPECT_EQ(Driver::ItemText(main, 11), "cn_iptcp:db1[1972]:SALES");
        EXPECT_TRUE(Driver::Screenshot(main, "connections_with_new"));
        Driver::Click(main, IDOK);
        EXPECT_TRUE(Driver::WaitGone(main));
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Wide(name) + L"|" + Wide(connString), L"Sales|cn_iptcp:db1[1972]:SALES");
    EXPECT_NE(icon, nullptr);
    EXPECT_EQ(StoredConnection("Sales"), "cn_iptcp:db1[1972]:SALES");
    SysFreeString(name);
    SysFreeString(connString);
    if (icon) DestroyIcon(icon);
}

}  // namespace
}  // namespace tavix::gui_test
