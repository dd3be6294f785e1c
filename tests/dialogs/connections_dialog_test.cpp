// The Connections manager run headless, one test per user story: what the user saw, what the store holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dialogs/connection_properties_dialog.h"
#include "dialogs/connections_dialog.h"
#include "frame/context/library_context.h"
#include "locale/help.h"
#include "platform/automation.h"
#include "platform/headless/headless_window_system.h"
#include "platform/locale.h"
#include "resources/resource.h"
#include "store/connection_table.h"
#include "store/record_defaults.h"
#include "store/registry_store.h"

namespace tavix {
namespace {

using namespace platform;
using headless::HeadlessWindowSystem;
using headless::Record;
using headless::User;
using Dlg = ConnectionsDialog;
using Props = ConnectionPropertiesDialog;
using Names = std::vector<std::string>;
using Act = std::function<void(User&)>;

constexpr const char kLocal[] = "cn_iptcp:127.0.0.1[1972]:USER";

class ConnectionsDialogTest : public ::testing::Test {
protected:
    ContextGuard context;
    HeadlessWindowSystem system{[](uint32_t id) { return LoadDialogTemplate(id); }};
    WindowSystemGuard guard{&system};
    ConnectionTable& table = Connections();

    void SetUp() override { Reset(); }
    void TearDown() override {
        EXPECT_TRUE(system.Problems().empty()) << system.Problems().front();
        Reset();
    }
    void Reset() {
        table.Clear();
        table.SetModified(false);
        store::DeleteKeyTree(kCurrentUser, store::kConnectionsKeyPath);
        system.ClearLog();
    }

    // Stores "name=connection string" entries, the first the default; icons[i] (index 0) is entry i's.
    void Store(const Names& connections, const Names& icons = {}) {
        Reset();
        for (size_t i = 0; i < connections.size(); ++i) {
            auto record = std::make_unique<ConnectionRecord>();
            const size_t equals = connections[i].find('=');
            record->Parse(connections[i].substr(0, equals).c_str(), connections[i].substr(equals + 1).c_str(),
                          CurrentParseDefaults());
            if (i < icons.size() && !icons[i].empty()) {
                record->iconFilename.reset(NewBstrFromNarrow(icons[i]));
                record->iconIndex = 0;
            }
            table.Add(std::move(record));
        }
        table.Save();
        table.Clear();
    }

    // The table, read whole, as "name=connection string" sorted by name, "*" before the default.
    std::string Contents() {
        table.LoadAll();
        Names lines;
        for (const ConnectionRecord* r : table.Records()) {
            lines.push_back((r == table.DefaultRecord() ? "*" : "") + r->name + "=" + r->Format());
        }
        std::ranges::sort(lines, {}, [](const std::string& line) { return line.substr(line[0] == '*'); });
        std::string text;
        for (const std::string& line : lines) text += (text.empty() ? "" : " ") + line;
        return text;
    }
    // The store, as read by a new load; the table must have equalled it.
    std::string Stored() {
        const std::string inMemory = Contents();
        table.Clear();
        table.LoadAll();
        EXPECT_EQ(Contents(), inMemory) << "the table does not equal the store";
        return Contents();
    }

    int Run(Act act, Dlg& dialog) {
        system.Expect(Dlg::kTemplateId, std::move(act));
        return dialog.DoModal();
    }
    int Run(Act act, Dlg&& dialog = Dlg()) { return Run(std::move(act), dialog); }
    std::vector<Record> Boxes() const { return system.RecordsOf(Record::MessageBox); }
    // The message boxes shown, each as "caption|text|style|owner id|language".
    Names Shown() const {
        Names shown;
        for (const Record& b : Boxes()) {
            shown.push_back(b.caption + "|" + b.text + "|" + std::to_string(b.style) + "|" + std::to_string(b.ownerId) +
                            "|" + std::to_string(b.language));
        }
        return shown;
    }
    size_t Beeps() const { return system.RecordsOf(Record::Beep).size(); }
};

// The list's labels (only the selected ones).
Names Labels(User& u, bool selected = false) {
    Names labels;
    const Window list = u.Item(Dlg::kList);
    for (int i = 0; i < u.System().ListViewCount(list); ++i) {
        if (!selected || u.System().ListViewState(list, i, lvis::kSelected)) {
            labels.push_back(u.System().ListViewText(list, i));
        }
    }
    return labels;
}
Names Selected(User& u) { return Labels(u, true); }
int IndexOf(User& u, const std::string& label) {
    const Names labels = Labels(u);
    const auto at = std::find(labels.begin(), labels.end(), label);
    return at == labels.end() ? -1 : static_cast<int>(at - labels.begin());
}
// Connect, Properties, Delete and Save enabled, as "CPDS" with "-" for disabled.
std::string Buttons(User& u) {
    std::string text;
    for (auto [id, letter] : {std::pair{1, 'C'}, {13, 'P'}, {14, 'D'}, {3, 'S'}}) text += u.Enabled(id) ? letter : '-';
    return text;
}
// The list's labels, the selected ones in brackets, then the buttons: "A [B] CPDS".
std::string View(User& u) {
    const Names selected = Selected(u);
    std::string text;
    for (const std::string& label : Labels(u)) {
        const bool on = std::find(selected.begin(), selected.end(), label) != selected.end();
        text += (on ? "[" + label + "]" : label) + " ";
    }
    return text + Buttons(u);
}
// A BSTR's text, "(null)" for none.
std::string Narrow(BSTR s) { return s ? ActiveCodePage().ToNarrow(WideView(s)) : "(null)"; }

// An empty store shows "Local" selected; Cancel neither asks nor writes.
TEST_F(ConnectionsDialogTest, EmptyStoreSeedsLocal) {
    EXPECT_EQ(Run([&](User& u) {
                  EXPECT_EQ(View(u) + " " + u.Text(Dlg::kConnectionStringText) + " " + u.Text(0),
                            "[Local] CPD- " + std::string(kLocal) + " Connections");
                  u.Click(kIdCancel);
              }),
              kIdCancel);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(Stored(), "");
}

// The caller's name or connection string is preselected (added when missing, which makes
// Cancel ask: Yes saves it as the default, No drops it); otherwise the default is.
TEST_F(ConnectionsDialogTest, PreselectionAndTheSavePromptItCauses) {
    // answer 0: no prompt.
    struct Case { std::string name, connectionString, selected; int answer; std::string added; };
    const Case cases[] = {
        {"", "", "A", 0, ""},
        {"B", "", "B", 0, ""},
        {"", "cn_iptcp:b[2]:NS", "B", 0, ""},
        {"", "C:cn_iptcp:c[3]:X", "C", kIdYes, " *C=cn_iptcp:c[3]:X"},
        {"D", "", "D", kIdYes, std::string(" *D=") + kLocal},
        {"", "not a connection string", "A", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + "|" + c.connectionString);
        Store({"A=cn_iptcp:a[1]", "B=cn_iptcp:b[2]:NS"});
        if (c.answer) system.AnswerMessageBox(c.answer);
        Dlg dialog;
        dialog.requestedName = c.name;
        dialog.requestedConnectionString = c.connectionString;
        Run([&](User& u) {
            EXPECT_EQ(Selected(u), Names{c.selected});
            u.Click(kIdCancel);
        }, std::move(dialog));
        const std::string prompt = "Save|Do you want to save your changes?|" + std::to_string(kMbYesNo) + "|0|" +
                                   std::to_string(UserDefaultLocale() & 0xFFFF);
        EXPECT_EQ(Shown(), c.answer ? Names{prompt} : Names{});
        const std::string a = c.added.empty() ? "*A" : "A";  // an added connection is the default
        EXPECT_EQ(Stored(), a + "=cn_iptcp:a[1]:USER B=cn_iptcp:b[2]:NS" + c.added);
    }
}

// What a read of the store passes over reaches the user from the caller, never from the
// table: a read shows nothing and keeps its warnings; the dialog (on opening, and on closing
// when it reads again) and the exports show them as they read, one box each, in the store's
// order, then nothing is left to take.
TEST_F(ConnectionsDialogTest, StoreWarningsAreShownByTheCaller) {
    // Each shown in a message box of its own: OK only (style 0), no owner, no language asked for.
    const std::string duplicate = "Warning - multiple connection entries in registry with same name.";
    const std::string unreadable = "Warning - a connection entry in the registry cannot be read and is left as it is: "
                                   "\"_VRConn1\" (an entry of the older layout without a readable name or connection "
                                   "string).";
    const std::string dropped = TAVIX_PRODUCT_NAME "|" + duplicate + "|0|0|0";
    const std::string passedOver = TAVIX_PRODUCT_NAME "|" + unreadable + "|0|0|0";
    // Beside "Good": a key without a connection string and, with `older`, an entry of the older
    // layout without one (which makes every load read the whole store).
    const auto storeWithBadEntries = [this](bool older) {
        Store({"Good=cn_iptcp:g[1]"});
        for (const std::string path : {"\\NoString", "\\_VRConn1"}) {
            if (!older && path.ends_with("1")) continue;
            RegistryKey key;
            ASSERT_EQ(store::OpenOrCreateKey(kCurrentUser, (store::kConnectionsKeyPath + path).c_str(), key), 0);
            const char* valueName = path.ends_with("1") ? nullptr : "Other";
            ASSERT_EQ(UserRegistry().SetValue(key.get(), valueName, kRegSz, "Old", 4), 0);
        }
        system.ClearLog();
    };

    // The dialog: before the user can act, and again when Cancel reads the store anew.
    storeWithBadEntries(true);
    Run([&](User& u) {
        EXPECT_EQ(Shown(), (Names{dropped, passedOver}));
        u.Click(kIdCancel);
    });
    EXPECT_EQ(Shown(), (Names{dropped, passedOver, dropped, passedOver}));
    EXPECT_TRUE(table.TakeWarnings().empty());

    // The exports: a load that reads the whole store, and a lookup by connection string alone
    // that has to read every connection.
    const WString good = WideFromUtf16(u"Good"), goodString = WideFromUtf16(u"cn_iptcp:g[1]");
    struct Case { bool older; std::function<BSTR()> call; std::string result; Names boxes; };
    const Case cases[] = {
        {true, [&] { return FindConnection(good.c_str(), nullptr); }, "cn_iptcp:g[1]:USER", {dropped, passedOver}},
        {false, [&] { return FindConnectionName(goodString.c_str()); }, "Good", {dropped}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        storeWithBadEntries(c.older);
        BSTR result = c.call();
        EXPECT_EQ(Narrow(result), c.result);
        FreeString(result);
        EXPECT_EQ(Shown(), c.boxes);
        EXPECT_TRUE(table.TakeWarnings().empty());
    }
}

// New numbers its name, opens the Properties dialog on it, and Cancel there removes it again.
TEST_F(ConnectionsDialogTest, NewConnection) {
    for (const int properties : {kIdCancel, kIdOk}) {
        SCOPED_TRACE(properties);
        Store({"New Connection=cn_iptcp:a[1]", "New Connection1=cn_iptcp:b[1]"});
        system.AnswerMessageBox(kIdNo);
        EXPECT_EQ(Run([&](User& u) {
                      u.System().Expect(Props::kTemplateId, [&](User& p) {
                          EXPECT_EQ(p.Text(Props::kNameEdit) + "|" + p.Text(Props::kServerEdit) + "|" +
                                        p.Text(Props::kPortEdit) + "|" + p.Text(Props::kNamespaceEdit),
                                    "New Connection2|127.0.0.1|1972|USER");
                          p.Click(properties);
                      });
                      u.Click(Dlg::kNewButton);
                      EXPECT_EQ(IndexOf(u, "New Connection2") >= 0, properties == kIdOk);
                      EXPECT_EQ(Labels(u).size(), properties == kIdOk ? 3u : 2u);
                      EXPECT_TRUE(u.Enabled(Dlg::kSaveButton));
                      u.Click(kIdCancel);
                  }),
                  kIdCancel);
        EXPECT_EQ(Boxes().size(), 1u);  // modified stays set even after the removal
    }
}

// Renaming in place or in the Properties dialog: a taken or empty name, or one the store cannot
// hold, is replaced (beep, label editor open on the item); a change of case is a rename. Cancel
// then asks (a renamed default is the default no more).
TEST_F(ConnectionsDialogTest, RenameThenClose) {
    struct Case { bool properties; std::string item; std::optional<std::string> typed; std::string label; bool refused;
                  int button, answer; std::string stored; };
    const std::string unchanged = "*A=cn_iptcp:a[1]:USER B=cn_iptcp:b[1]:USER", b = "B=cn_iptcp:b[1]:USER ";
    const Case cases[] = {
        {false, "A", "", "Nameless", true, kIdCancel, kIdNo, unchanged},
        {false, "B", "a", "a1", true, kIdCancel, kIdNo, unchanged},  // "a" is A's name
        {true, "B", "a", "a1", true, kIdCancel, kIdNo, unchanged},
        {false, "A", "Sales\\East\n", "SalesEast", true, kIdOk, 0, b + "*SalesEast=cn_iptcp:a[1]:USER"},
        {false, "A", std::nullopt, "A", false, kIdCancel, 0, unchanged},
        {false, "A", "a", "a", false, kIdCancel, kIdNo, unchanged},
        {false, "A", "Z", "Z", false, kIdCancel, kIdYes, b + "Z=cn_iptcp:a[1]:USER"},
        {false, "A", "Z", "Z", false, kIdOk, 0, b + "*Z=cn_iptcp:a[1]:USER"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.value_or("(cancelled)") + std::to_string(c.button) + (c.properties ? " properties" : ""));
        Store({"A=cn_iptcp:a[1]", "B=cn_iptcp:b[1]"});
        if (c.answer) system.AnswerMessageBox(c.answer);
        Run([&](User& u) {
            const int item = IndexOf(u, c.item);
            if (c.properties) {
                u.ClickItem(Dlg::kList, item);
                u.System().Expect(Props::kTemplateId, [&](User& p) {
                    p.Type(Props::kNameEdit, *c.typed);
                    p.Click(kIdOk);
                });
                u.Click(Dlg::kPropertiesButton);
            } else {
                u.BeginLabelEdit(Dlg::kList, item);
                u.EndLabelEdit(Dlg::kList, c.typed);
            }
            EXPECT_EQ(Labels(u)[static_cast<size_t>(item)], c.label);
            EXPECT_EQ(Beeps(), c.refused ? 1u : 0u);
            EXPECT_EQ(u.EditingItem(Dlg::kList), c.refused ? item : -1);
            EXPECT_EQ(u.Enabled(Dlg::kSaveButton), c.typed.has_value());
            if (c.properties) {  // the list has the focus for the editor; B is still the connection shown
                EXPECT_EQ(u.FocusId(), Dlg::kList);
                EXPECT_EQ(u.Text(Dlg::kConnectionStringText), "cn_iptcp:b[1]:USER");
            }
            u.Click(c.button);
        });
        EXPECT_EQ(Boxes().size(), c.answer ? 1u : 0u);
        EXPECT_EQ(Stored(), c.stored);
    }
}

// Deleting one, several (the Delete key), the default, and nothing; list positions follow, and
// Save makes the selected item the default.
TEST_F(ConnectionsDialogTest, DeleteThenSave) {
    Store({"A=cn_iptcp:a[1]", "B=cn_iptcp:b[1]", "C=cn_iptcp:c[1]", "D=cn_iptcp:d[1]"});
    Names order;
    Run([&](User& u) {
        order = Labels(u);
        ASSERT_NE(order[3], "A");  // the default is among those deleted
        // Two selected: Connect and Properties off; the Delete key removes both.
        u.ClickItem(Dlg::kList, 1);
        u.ClickItem(Dlg::kList, 2, true);
        EXPECT_EQ(Buttons(u), "--D-");
        u.PressKey(vk::kDelete);
        EXPECT_EQ(View(u), "[" + order[0] + "] " + order[3] + " CPDS");
        // The first item goes; Properties on the last one then edits that connection.
        u.Click(Dlg::kDeleteButton);
        u.ClickItem(Dlg::kList, 0);
        u.System().Expect(Props::kTemplateId, [&](User& p) {
            EXPECT_EQ(p.Text(Props::kNameEdit), order[3]);
            p.Type(Props::kPortEdit, "7");
            p.Click(kIdOk);
        });
        u.Click(Dlg::kPropertiesButton);
        // Nothing selected: the Delete key beeps and removes nothing.
        u.ClickEmpty(Dlg::kList);
        EXPECT_EQ(Buttons(u), "---S");
        EXPECT_EQ(u.Text(Dlg::kConnectionStringText), "");
        u.PressKey(vk::kDelete);
        EXPECT_EQ(Beeps(), 1u);
        EXPECT_EQ(Labels(u).size(), 1u);
        u.ClickItem(Dlg::kList, 0);
        u.Click(Dlg::kSaveButton);
        EXPECT_FALSE(u.Enabled(Dlg::kSaveButton));
        u.Click(Dlg::kDeleteButton);
        u.System().AnswerMessageBox(kIdNo);
        u.Click(kIdCancel);
    });
    ASSERT_EQ(Boxes().size(), 1u);  // the last deletion was not saved: No drops it
    const std::string last = order[3];
    EXPECT_EQ(Stored(), "*" + last + "=cn_iptcp:" + char(last[0] - 'A' + 'a') + "[7]:USER");
}

// Properties: OK with nothing changed leaves Save off; a port change, or a stored port with a
// leading zero written back as a number, counts as a change.
TEST_F(ConnectionsDialogTest, PropertiesWriteBackOnlyChanges) {
    struct Case { std::string name; std::optional<std::string> port; bool changed; std::string line; };
    const Case cases[] = {
        {"A", std::nullopt, false, "A=cn_iptcp:a[1972]:NS"},
        {"A", "1973", true, "A=cn_iptcp:a[1973]:NS"},
        {"B", std::nullopt, true, "B=cn_iptcp:b[1972]:USER"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + " " + c.port.value_or("-"));
        Store({"A=cn_iptcp:a[1972]:NS", "B=cn_iptcp:b[01972]"});
        EXPECT_EQ(Run([&](User& u) {
                      u.System().Expect(Props::kTemplateId, [&](User& p) {
                          EXPECT_EQ(p.Text(Props::kPortEdit), "1972");
                          for (int id : {Props::kNameEdit, Props::kServerEdit, Props::kNamespaceEdit}) {
                              EXPECT_EQ(p.System().TextLimit(p.Item(id)), 255);
                          }
                          EXPECT_FALSE(p.Visible(Props::kListNamespacesButton) || p.Visible(Props::kNamespaceCombo));
                          if (c.port) p.Type(Props::kPortEdit, *c.port);
                          p.Click(kIdOk);
                      });
                      u.ClickItem(Dlg::kList, IndexOf(u, c.name));
                      u.Click(Dlg::kPropertiesButton);
                      EXPECT_EQ(u.Enabled(Dlg::kSaveButton), c.changed);
                      EXPECT_EQ(c.name + "=" + u.Text(Dlg::kConnectionStringText), c.line);
                      u.Click(kIdOk);
                  }),
                  kIdOk);
        EXPECT_NE(Stored().find(c.line), std::string::npos);
    }
}

// The Properties dialog's OK reads the fields in order (name, namespace, port, server); the first
// refusal shows its message, puts the focus back into its edit and keeps the dialog open, with
// the fields read before it already updated.
TEST_F(ConnectionsDialogTest, PropertiesRefuseBadValues) {
    const std::string range = "Please enter an integer between 0 and 65535.", integer = "Please enter an integer.";
    struct Case { std::string name, port; int focus; std::string message; };  // focus 0: accepted
    const Case cases[] = {
        {"n", "65535", 0, ""},
        {"n", " 42 ", 0, ""},
        {"n", "65536", Props::kPortEdit, range},
        {"n", "-1", Props::kPortEdit, range},
        {"n", "19a2", Props::kPortEdit, integer},
        {"n", "", Props::kPortEdit, integer},
        {std::string(255, 'x'), "1", 0, ""},
        {std::string(256, 'x'), "1", Props::kNameEdit, "Please enter no more than 255 characters."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.name.size()) + " " + c.port);
        system.ClearLog();
        Props dialog(nullptr);
        dialog.name = dialog.server = dialog.namespaceName = "old";
        dialog.port = 1972;
        system.Expect(Props::kTemplateId, [&](User& p) {
            p.System().SetText(p.Item(Props::kNameEdit), c.name);  // past the edit's limit
            p.Type(Props::kNamespaceEdit, "ns");
            p.Type(Props::kPortEdit, c.port);
            p.Type(Props::kServerEdit, "srv");
            p.Click(kIdOk);
            EXPECT_EQ(p.Running(), c.focus != 0);
            if (!p.Running()) return;
            EXPECT_EQ(p.FocusId(), c.focus);
            const std::string fields = dialog.name + "|" + dialog.namespaceName + "|" + dialog.server;
            EXPECT_EQ(fields + "|" + std::to_string(dialog.port),
                      c.name + (c.focus == Props::kNameEdit ? "|old" : "|ns") + "|old|1972");
            p.Click(kIdCancel);
        });
        EXPECT_EQ(dialog.DoModal(), c.focus ? kIdCancel : kIdOk);
        if (!c.focus) {
            EXPECT_EQ(std::to_string(dialog.port) + dialog.server, std::to_string(std::stoi(c.port)) + "srv");
        }
        const std::string box = TAVIX_PRODUCT_NAME "|" + c.message + "|" + std::to_string(kMbOk | kMbIconExclamation);
        EXPECT_EQ(Shown(), c.message.empty() ? Names{} : Names{box + "|0|0"});
    }
}

// The help viewer's calls: each command with the help-id table it was handed.
std::vector<std::pair<unsigned, std::vector<uint32_t>>> helpRequests;

// A help viewer entry point (the viewer's calling convention, __stdcall on 32-bit Windows).
HWND TAVIXAPI RecordHelpRequest(HWND, const char*, unsigned command, uintptr_t data) {
    std::vector<uint32_t> ids;
    for (auto* p = reinterpret_cast<const uint32_t*>(data); p && (p[0] || p[1]); p += 2) {
        ids.insert(ids.end(), {p[0], p[1]});
    }
    helpRequests.emplace_back(command, ids);
    return reinterpret_cast<HWND>(uintptr_t{1});
}

// F1 (command 17) and a right click (16) reach the help viewer with each dialog's help-id table,
// in the Connections, Properties and Change Icon dialogs; each takes help and gives it back.
TEST_F(ConnectionsDialogTest, HelpRequests) {
    using Table = std::vector<uint32_t>;
    helpRequests.clear();
    help::BindViewer(RecordHelpRequest, Library().module);
    help::SetUseCount(1);
    Store({"A=cn_iptcp:a[1]"});
    Run([](User& u) {
        u.Help();
        u.RightClick(Dlg::kNewButton);
        u.System().Expect(Props::kTemplateId, [](User& p) {
            p.Help();
            p.RightClick(Props::kServerEdit);
            p.System().Expect(IDD_CHANGE_ICON, [](User& c) {
                c.Help();
                c.RightClick(IDC_BROWSE);
                c.PressKey(vk::kEscape);
            });
            p.Click(Props::kIconButton);
            p.Click(kIdCancel);
        });
        u.Click(Dlg::kPropertiesButton);
        u.Click(kIdCancel);
    });
    EXPECT_EQ(help::UseCount(), 1);
    help::BindViewer(nullptr, nullptr);
    help::SetUseCount(0);
    const Table connections = {1, 20013, 2, 20014, 13, 20011, 14, 20012, 3, 20015, 12, 20010, 11, 20017, 5, 20009};
    const Table properties = {1, 20020, 2, 20021, 6, 20025, 15, 20023, 17, 20031, 18, 20029, 16, 20027};
    const Table changeIcon = {1, 20001, 2, 20002, IDC_FILE_NAME, 20005, IDC_BROWSE, 20004, IDC_ICON_ROWS, 20007};
    const std::vector<std::pair<unsigned, Table>> expected = {
        {17, connections}, {16, connections}, {17, properties}, {16, properties}, {17, changeIcon}, {16, changeIcon}};
    EXPECT_EQ(helpRequests, expected);
}

// A double click on an item connects with it; on empty space it does nothing.
TEST_F(ConnectionsDialogTest, DoubleClick) {
    Store({"A=cn_iptcp:a[1]", "B=cn_iptcp:b[2]"});
    Dlg dialog;
    system.Expect(Dlg::kTemplateId, [&](User& u) {
        u.DoubleClickEmpty(Dlg::kList);
        EXPECT_TRUE(u.Running());
        u.DoubleClickItem(Dlg::kList, IndexOf(u, "B"));
    });
    EXPECT_EQ(dialog.DoModal(), kIdOk);
    EXPECT_EQ(dialog.current.name + "=" + dialog.current.Format(), "B=cn_iptcp:b[2]:USER");
    EXPECT_NE(dialog.resultIcon.get(), nullptr);
    EXPECT_EQ(Stored(), "A=cn_iptcp:a[1]:USER *B=cn_iptcp:b[2]:USER");
}

// A command chosen from the list's context menu runs. (Which items it offers: the display stories.)
TEST_F(ConnectionsDialogTest, ContextMenuRunsTheCommandChosen) {
    Store({"A=cn_iptcp:a[1]"});
    Run([&](User& u) {
        u.System().AnswerMenu(Dlg::kPropertiesButton);
        u.System().Expect(Props::kTemplateId, [](User& p) { p.Click(kIdCancel); });
        u.RightClickItem(Dlg::kList, 0);
        u.Click(kIdCancel);
    });
    EXPECT_EQ(system.OpenedDialogs().back(), Props::kTemplateId);
}

// The icon files of the library's sources.
const std::string kCube = TAVIX_SOURCE_DIR "/src/resources/icons/connection.ico";
const std::string kGrey = TAVIX_SOURCE_DIR "/src/resources/icons/missing.ico";

// Properties on the selected connection: for each Change Icon act the icon button (which then
// shows an icon, when `shown`), then the button `end`.
void ThroughProperties(User& u, const std::vector<Act>& changeIcon, int end, bool shown = true) {
    u.System().Expect(Props::kTemplateId, [changeIcon, end, shown](User& p) {
        for (const Act& act : changeIcon) {
            p.System().Expect(IDD_CHANGE_ICON, act);
            p.Click(Props::kIconButton);
            EXPECT_TRUE(!shown || p.System().ButtonIcon(p.Item(Props::kIconButton)));
        }
        p.Click(end);
    });
    u.Click(Dlg::kPropertiesButton);
}
// In the Change Icon dialog: the file typed, then Enter twice (load, then OK).
Act Picks(const std::string& file) {
    return [file](User& c) {
        c.Type(IDC_FILE_NAME, file);
        c.PressKey(vk::kReturn);
        c.PressKey(vk::kReturn);
    };
}

// The picture the list item of connection `name` shows, from the image list the list view shows.
std::optional<icons::IconImage> PictureOf(User& u, Dlg& dialog, const std::string& name) {
    EXPECT_EQ(u.System().ListViewImages(u.Item(Dlg::kList)), dialog.Images());
    const int item = dialog.RowOf(Connections().Find(name)).item;
    const int image = u.System().ListViewItemImage(u.Item(Dlg::kList), item);
    return ReadIcon(UniqueIcon(dialog.Images()->GetIcon(image)).get());
}

// The icon button: a file's icon gives a connection a picture of its own; dropping it shows the
// default one, and the other connections keep showing their own. A pick that the Properties
// dialog's Cancel throws away changes nothing.
TEST_F(ConnectionsDialogTest, IconsOfTheirOwn) {
    Store({"A=cn_iptcp:a[1]", "B=cn_iptcp:b[1]", "C=cn_iptcp:c[1]"}, {"", kCube, kGrey});
    Dlg dialog;
    Run([&](User& u) {
        ConnectionRecord *a = table.Find("A"), *b = table.Find("B");
        ASSERT_TRUE(a && b && table.Find("C") && dialog.Images());
        const auto pictures = [&] { return std::array{PictureOf(u, dialog, "A"), PictureOf(u, dialog, "B"),
                                                      PictureOf(u, dialog, "C")}; };
        const auto [standard, cube, grey] = pictures();
        ASSERT_TRUE(standard && cube && grey && grey != cube);

        u.ClickItem(Dlg::kList, dialog.RowOf(b).item);
        ThroughProperties(u, {Picks("")}, kIdOk);  // no file: the default icon
        EXPECT_EQ(b->iconFilename.get(), nullptr);
        EXPECT_EQ(b->iconIndex, -1);
        EXPECT_EQ(pictures(), (std::array{standard, standard, grey}));

        u.ClickItem(Dlg::kList, dialog.RowOf(a).item);
        ThroughProperties(u, {Picks(kGrey)}, kIdOk);
        EXPECT_EQ(pictures(), (std::array{grey, standard, grey}));
        ThroughProperties(u, {Picks(kCube), Picks(kGrey), Picks(kCube)}, kIdCancel);  // picked, replaced, thrown away
        EXPECT_EQ(a->iconFilename.view(), ActiveCodePage().ToWide(kGrey));
        EXPECT_EQ(pictures(), (std::array{grey, standard, grey}));
        u.Click(kIdOk);
    }, dialog);
    Stored();
    ASSERT_TRUE(table.Find("A") && table.Find("B"));
    EXPECT_EQ(table.Find("A")->iconFilename.view(), ActiveCodePage().ToWide(kGrey));
    EXPECT_EQ(table.Find("B")->iconFilename.get(), nullptr);
}

// Changing an icon of its own: another file (same index) replaces the picture shown, enables
// Save, makes Cancel ask and is stored. A file that yields no icon ("No icons found", then
// OK) chooses nothing: the connection keeps its icon, whether its own or the default one.
TEST_F(ConnectionsDialogTest, ChangingAnIconOfItsOwn) {
    const std::string none = TAVIX_SOURCE_DIR "/src/resources/icons/absent.ico";
    const std::string three = std::string(TAVIX_ROW_FIXTURES) + "/icons3.dll";  // cube, grey, cube
    // A's icon is `own` (index 0); in the file picked, the cell clicked (-1: none). kept: the
    // icon file and index afterwards.
    struct Case { std::string connection, own, file; int cell; std::string kept; int keptIndex; bool changed; };
    std::vector<Case> cases = {{"A", kCube, kGrey, -1, kGrey, 0, true}, {"A", kCube, none, -1, kCube, 0, false},
                               {"B", kCube, none, -1, "", -1, false}};
    if (std::ifstream(three).good()) cases.push_back({"A", three, three, 1, three, 1, true});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.connection + " " + c.file + " " + std::to_string(c.cell));
        Store({"A=cn_iptcp:a[1]", "B=cn_iptcp:b[1]"}, {c.own});
        Dlg dialog;
        Run([&](User& u) {
            ConnectionRecord* record = table.Find(c.connection);
            ASSERT_TRUE(record && dialog.Images());
            const auto before = PictureOf(u, dialog, c.connection);
            u.ClickItem(Dlg::kList, dialog.RowOf(record).item);
            const Act pick = [&](User& ci) {
                ci.Type(IDC_FILE_NAME, c.file);
                ci.PressKey(vk::kReturn);  // loads the file
                if (c.cell >= 0) ci.ClickAt(IDC_ICON_ROWS, {c.cell * 40 + 5, 10});
                if (ci.Running() && !ci.Click(kIdOk)) ci.DoubleClickAt(IDC_ICON_ROWS, {4, 4});
                EXPECT_FALSE(ci.Running());
            };
            ThroughProperties(u, {pick}, kIdOk, false);
            const auto after = PictureOf(u, dialog, c.connection);
            const auto grey = ReadIcon(UniqueIcon(Icons().LoadResourceIcon(Library().module, IDI_MISSING)).get());
            EXPECT_EQ(after, c.changed ? grey : before);
            EXPECT_NE(after, c.changed ? before : std::nullopt);
            EXPECT_EQ(u.Enabled(Dlg::kSaveButton), c.changed);
            if (c.changed) u.System().AnswerMessageBox(kIdYes);
            u.Click(kIdCancel);
        }, dialog);
        EXPECT_EQ(system.RecordsOf(Record::MessageBox).back().caption == "Save", c.changed);
        Stored();
        const ConnectionRecord* stored = table.Find(c.connection);
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->iconFilename.view(), ActiveCodePage().ToWide(c.kept));
        EXPECT_EQ(stored->iconIndex, c.keptIndex);
    }
}

// Connect replaces the caller's variables (old icon destroyed, never 1); the caption is the title.
TEST_F(ConnectionsDialogTest, ConnectionDialogExport) {
    Store({"A=cn_iptcp:a[1]", "B=cn_iptcp:b[2]:NS"});
    BSTR name = NewBstrFromNarrow("B"), connectionString = nullptr;
    HICON icon = static_cast<HICON>(Icons().LoadResourceIcon(Library().module, IDI_CONNECTION));
    const HICON givenIcon = icon;
    const WString empty;
    struct Case { const WString* title; std::string caption; bool iconWanted; };
    const Case cases[] = {{nullptr, "Connections", true}, {&empty, "", false}};
    for (const Case& c : cases) {
        system.Expect(Dlg::kTemplateId, [&](User& u) {
            EXPECT_EQ(u.Text(0), c.caption);
            u.Click(kIdOk);
        });
        if (!c.iconWanted) icon = static_cast<HICON>(kNoIconWanted);
        EXPECT_EQ(ConnectionDialog(&name, &connectionString, c.title ? c.title->c_str() : nullptr, &icon), 1);
        EXPECT_EQ(Narrow(name) + " " + Narrow(connectionString), "B cn_iptcp:b[2]:NS");
        EXPECT_TRUE(ReadIcon(icon).has_value());
        if (&c == cases) {
            EXPECT_NE(icon, givenIcon);
            EXPECT_FALSE(Icons().DestroyIcon(givenIcon)) << "the caller's previous icon was not destroyed";
        }
    }
    system.Expect(Dlg::kTemplateId, [](User& u) { u.Click(kIdOk); });
    EXPECT_EQ(ConnectionDialog(nullptr, nullptr, nullptr, nullptr), 1);
    // A string without a name that no connection has: Connect hands back the connection made.
    FreeString(name);
    name = nullptr;
    FreeString(connectionString);
    connectionString = NewBstrFromNarrow("cn_iptcp:z[9]:Q");
    system.Expect(Dlg::kTemplateId, [](User& u) { u.Click(kIdOk); });
    EXPECT_EQ(ConnectionDialog(&name, &connectionString, nullptr, nullptr), 1);
    EXPECT_EQ(Narrow(name) + " " + Narrow(connectionString), "New Connection cn_iptcp:z[9]:Q");
    FreeString(name);
    FreeString(connectionString);
    Icons().DestroyIcon(icon);
}

}  // namespace
}  // namespace tavix
