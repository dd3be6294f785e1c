// The ConnectionDialog export end to end, as a client program calls it: the library loaded by
// its file name, the real Connections manager with its Properties dialog driven by window
// messages, then what the caller's variables and Wine's registry hold.
#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "gui_driver.h"
#include "resources/resource.h"

namespace tavix::gui_test {
namespace {

using ConnectionDialogFn = int(WINAPI*)(BSTR*, BSTR*, const OLECHAR*, HICON*);

constexpr char kStoreKey[] = "Software\\Vantorin\\Connections";

std::wstring Wide(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : L""; }

// An empty store: "Local" alone; New opens the Properties dialog with its defaults; Connect hands
// the new connection to the caller and saves it.
TEST(ConnectionDialogGui, NewConnectionThenConnect) {
    RegDeleteTreeA(HKEY_CURRENT_USER, kStoreKey);
    HMODULE library = LoadLibraryA(TAVIX_LIBRARY_FILE);
    ASSERT_NE(library, nullptr) << TAVIX_LIBRARY_FILE;
    const auto dialog =
        reinterpret_cast<ConnectionDialogFn>(reinterpret_cast<void*>(GetProcAddress(library, "ConnectionDialog")));
    ASSERT_NE(dialog, nullptr);
    BSTR name = nullptr, connString = nullptr;
    HICON icon = nullptr;
    // ConnectionDialog called on this thread while the script drives it from another.
    struct Call { std::function<int()> DoModal; } call{
        [&] { return dialog(&name, &connString, L"Pick a server", &icon); }};
    const int result = RunDriven(call, [](Driver& driver) {
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
        EXPECT_TRUE(Driver::Screenshot(properties, "connection_properties"));
        for (const auto& [id, text] : {std::pair{IDC_NAME, "Sales"}, {IDC_SERVER, "db1"}, {IDC_NAMESPACE, "SALES"}}) {
            Driver::SetText(GetDlgItem(properties, id), text);
        }
        Driver::Click(properties, IDOK);
        EXPECT_TRUE(Driver::WaitGone(properties));
        EXPECT_TRUE(Driver::WaitUntil([&] { return Driver::Label(list, 1) == "Sales"; }));
        Driver::Click(main, IDOK);
        EXPECT_TRUE(Driver::WaitGone(main));
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Wide(name) + L"|" + Wide(connString), L"Sales|cn_iptcp:db1[1972]:SALES");
    EXPECT_NE(icon, nullptr);
    char stored[1024] = {};
    DWORD size = sizeof stored;
    const std::string key = std::string(kStoreKey) + "\\Sales";
    EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, stored, &size), 0);
    EXPECT_STREQ(stored, "cn_iptcp:db1[1972]:SALES");
    SysFreeString(name);
    SysFreeString(connString);
    if (icon) DestroyIcon(icon);
    FreeLibrary(library);
    RegDeleteTreeA(HKEY_CURRENT_USER, kStoreKey);
}

}  // namespace
}  // namespace tavix::gui_test
