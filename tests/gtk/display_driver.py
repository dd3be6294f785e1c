#!/usr/bin/python3
"""The Connections dialogs on a GTK desktop, played as a user through AT-SPI.

Each story starts the client program (which loads libTavixConnect.so by file name and calls
ConnectionDialog), finds its windows by the client's process id, acts on controls found by role
and accessible name (Action, EditableText, Selection, and real key events), checks what the
client printed and what the store holds afterwards, and saves a screenshot of each dialog.

    display_driver.py CLIENT LIBRARY CLI ARTIFACTS [STORY ...]
"""
import os
import subprocess
import sys
import tempfile
import time
import traceback

import pyatspi

CLIENT, LIBRARY, CLI, ARTIFACTS = sys.argv[1:5]
ONLY = sys.argv[5:]
LOCAL = "cn_iptcp:127.0.0.1[1972]:USER"
KEY_DELETE, KEY_ESCAPE, KEY_RETURN = 0xFFFF, 0xFF1B, 0xFF0D


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def wait_for(probe, what, timeout=20.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            found = probe()
        except Exception:  # a window going away while it is read
            found = None
        if found:
            return found
        time.sleep(0.1)
    raise Failure("timed out waiting for " + what)


class Client:
    """One run of the client program with its own store."""

    def __init__(self, store, *args, env=None):
        environment = dict(os.environ, XDG_CONFIG_HOME=store)
        environment.update(env or {})
        self.process = subprocess.Popen([CLIENT, LIBRARY, *args], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True, env=environment)
        first = self.line().split()
        check(first[:1] == ["pid:"], "the client did not start: %r" % first)
        self.pid = int(first[1])
        LAST_CLIENT[:] = [self]

    def line(self):
        """The client's next line, read byte by byte: nothing of what follows may sit in a
        reader's buffer, where communicate() would not see it."""
        line = b""
        while not line.endswith(b"\n"):
            byte = os.read(self.process.stdout.fileno(), 1)
            if not byte:
                break
            line += byte
        return line.decode()

    def application(self):
        for app in pyatspi.Registry.getDesktop(0):
            try:
                if app is not None and app.get_process_id() == self.pid:
                    return app
            except Exception:
                continue
        return None

    def window(self, name):
        """The client's showing top-level window of that accessible name."""
        def probe():
            app = self.application()
            if app is None:
                return None
            for window in app:
                if window is not None and window.name == name and \
                        window.getState().contains(pyatspi.STATE_SHOWING):
                    return window
            return None
        return wait_for(probe, "window %r of process %d" % (name, self.pid))

    def gone(self, name):
        def probe():
            app = self.application()
            return app is None or not any(
                w is not None and w.name == name and w.getState().contains(pyatspi.STATE_SHOWING)
                for w in app)
        wait_for(probe, "window %r to close" % name)

    def result(self):
        out, err = self.process.communicate(timeout=30)
        lines = dict(line.split(": ", 1) for line in out.splitlines() if ": " in line)
        lines["exit"] = self.process.returncode
        lines["stderr"] = err
        check("result" in lines, "the client gave no answer: %r" % lines)
        return lines


def dump(node, depth=0, out=None):
    """The accessible tree under node, one line per object: role, name, states."""
    out = [] if out is None else out
    try:
        states = [str(s).replace("STATE_", "").lower() for s in node.getState().getStates()
                  if s in (pyatspi.STATE_SELECTED, pyatspi.STATE_FOCUSED, pyatspi.STATE_SHOWING)]
        out.append("%s%s %r %s" % ("  " * depth, node.getRoleName(), node.name, " ".join(states)))
        for child in node:
            dump(child, depth + 1, out)
    except Exception as error:
        out.append("%s(gone: %s)" % ("  " * depth, error))
    return out


LAST_CLIENT = []


def find(root, role, name=None, showing=True, focused=False):
    """The first descendant of that role (any role: None) and accessible name, depth first."""
    stack = [root]
    while stack:
        node = stack.pop(0)
        if node is None:
            continue
        try:
            if (role is None or node.getRole() == role) and (name is None or node.name == name):
                states = node.getState()
                if (not showing or states.contains(pyatspi.STATE_SHOWING)) and \
                        (not focused or states.contains(pyatspi.STATE_FOCUSED)):
                    return node
            stack[0:0] = [child for child in node]
        except Exception:
            continue
    return None


def control(window, role, name=None):
    return wait_for(lambda: find(window, role, name), "%s %r" % (pyatspi.Role(role), name))


def press(button):
    actions = button.queryAction()
    for i in range(actions.nActions):
        if actions.getName(i) == "click":
            actions.doAction(i)
            return
    raise Failure("%r cannot be clicked" % button.name)


def key(keysym, modifiers=0):
    """A real key event; modifiers (a mask: 1 Shift, 8 Alt) are held down around it."""
    if modifiers:
        pyatspi.Registry.generateKeyboardEvent(modifiers, None, pyatspi.KEY_LOCKMODIFIERS)
    pyatspi.Registry.generateKeyboardEvent(keysym, None, pyatspi.KEY_SYM)
    if modifiers:
        pyatspi.Registry.generateKeyboardEvent(modifiers, None, pyatspi.KEY_UNLOCKMODIFIERS)
    time.sleep(0.2)


SHIFT, ALT = 1, 8
KEY_TAB, KEY_F1, KEY_F2 = 0xFF09, 0xFFBE, 0xFFBF


def focused(window):
    """The accessible that has the keyboard focus in window, or None. A list's items keep the
    focused state they had while the list had the focus: an item counts only when no widget
    has it."""
    found = []
    stack = [window]
    while stack:
        node = stack.pop(0)
        try:
            if node.getState().contains(pyatspi.STATE_FOCUSED):
                found.append(node)
            stack[0:0] = [child for child in node if child is not None]
        except Exception:  # gone while it was read
            continue
    widgets = [node for node in found if node.getRole() != pyatspi.ROLE_ICON]
    return (widgets or found or [None])[0]


def focus_name(window):
    node = focused(window)
    return node.name if node is not None else None


def type_into(entry, text):
    entry.queryEditableText().setTextContents(text)
    time.sleep(0.1)


def items(view):
    """The labels of a list's items, and which are selected."""
    labels, selected = [], []
    for child in view:
        labels.append(child.name)
        if child.getState().contains(pyatspi.STATE_SELECTED):
            selected.append(child.name)
    return labels, selected


def wait_active(window):
    """Key events go to the window with the keyboard focus: wait until it is this one."""
    wait_for(lambda: window.getState().contains(pyatspi.STATE_ACTIVE), "%r to be active" % window.name)


def screenshot(name):
    os.makedirs(ARTIFACTS, exist_ok=True)
    time.sleep(0.4)
    subprocess.run(["import", "-window", "root", os.path.join(ARTIFACTS, name + ".png")], check=False)


def store_list(store):
    run = subprocess.run([CLI, "list"], capture_output=True, text=True,
                         env=dict(os.environ, XDG_CONFIG_HOME=store))
    return run.stdout.strip().splitlines()


def store_set(store, name, connstring):
    subprocess.run([CLI, "set", name, connstring], check=True, capture_output=True,
                   env=dict(os.environ, XDG_CONFIG_HOME=store))


def connections(client):
    window = client.window("Connections")
    view = control(window, pyatspi.ROLE_LAYERED_PANE)
    return window, view


# ---- Stories -------------------------------------------------------------------------------

def story_connect_on_an_empty_store(store):
    client = Client(store)
    window, view = connections(client)
    wait_for(lambda: items(view)[0] == ["Local"], "the seeded Local connection")
    check(items(view)[1] == ["Local"], "Local is selected: %r" % (items(view),))
    check(find(window, pyatspi.ROLE_LABEL, LOCAL) is not None, "the connection string is shown")
    for name in ("New...", "Save", "Delete", "Properties...", "Connect", "Cancel"):
        check(find(window, pyatspi.ROLE_PUSH_BUTTON, name) is not None, "button " + name)
    screenshot("connections_empty_store")
    press(control(window, pyatspi.ROLE_PUSH_BUTTON, "Connect"))
    out = client.result()
    check(out["result"] == "1", "Connect answers 1: %r" % out)
    check(out["name"] == "Local" and out["connection"] == LOCAL, "the chosen connection: %r" % out)
    check(out["icon"] == "yes", "an icon is handed out: %r" % out)
    check(store_list(store) == ["* Local  " + LOCAL] or any("Local" in l for l in store_list(store)),
          "the store: %r" % store_list(store))


def story_preselection_cancelled_with_no(store):
    store_set(store, "A", "cn_iptcp:a[1]")
    store_set(store, "B", "cn_iptcp:b[2]:NS")
    before = store_list(store)
    client = Client(store, "--connstring", "C:cn_iptcp:c[3]:X")
    window, view = connections(client)
    wait_for(lambda: items(view)[1] == ["C"], "C preselected")
    screenshot("connections_preselection")
    press(control(window, pyatspi.ROLE_PUSH_BUTTON, "Cancel"))
    prompt = client.window("Save")
    check(find(prompt, pyatspi.ROLE_LABEL, "Do you want to save your changes?") is not None,
          "the save prompt's text")
    check(find(prompt, pyatspi.ROLE_PUSH_BUTTON, "Yes") is not None, "the prompt's Yes")
    screenshot("save_prompt")
    press(control(prompt, pyatspi.ROLE_PUSH_BUTTON, "No"))
    out = client.result()
    check(out["result"] == "0", "Cancel answers 0: %r" % out)
    check(out["connection"] == "C:cn_iptcp:c[3]:X" and out["same variables"] == "yes",
          "the caller's variables are left: %r" % out)
    check(out["icon"] == "untouched", "the icon variable is left: %r" % out)
    check(store_list(store) == before, "No drops the change: %r" % store_list(store))


def story_new_properties_refused_port_connect(store):
    store_set(store, "A", "cn_iptcp:a[1]")
    client = Client(store, "--title", "Pick a server")
    window = client.window("Pick a server")
    press(control(window, pyatspi.ROLE_PUSH_BUTTON, "New..."))
    props = client.window("Connection Properties")
    port = control(props, pyatspi.ROLE_TEXT, "Port:")
    check(control(props, pyatspi.ROLE_TEXT, "Server:").queryText().getText(0, -1) == "127.0.0.1",
          "the new connection's server")
    screenshot("properties_new")
    type_into(port, "65536")
    press(control(props, pyatspi.ROLE_PUSH_BUTTON, "OK"))
    refusal = wait_for(lambda: next((w for w in client.application() if w is not None and
                                     w.getRole() in (pyatspi.ROLE_ALERT, pyatspi.ROLE_DIALOG) and
                                     w.name != "Connection Properties" and
                                     w.getState().contains(pyatspi.STATE_SHOWING)), None),
                       "the refusal of port 65536")
    screenshot("properties_refused_port")
    refusal_name = refusal.name
    press(control(refusal, pyatspi.ROLE_PUSH_BUTTON, "OK"))
    client.gone(refusal_name)
    wait_for(lambda: port.getState().contains(pyatspi.STATE_FOCUSED), "the focus back on the port")
    type_into(port, "1973")
    press(control(props, pyatspi.ROLE_PUSH_BUTTON, "OK"))
    client.gone("Connection Properties")
    view = control(window, pyatspi.ROLE_LAYERED_PANE)
    wait_for(lambda: "New Connection" in items(view)[1], "the new connection selected")
    press(control(window, pyatspi.ROLE_PUSH_BUTTON, "Connect"))
    out = client.result()
    check(out["result"] == "1" and out["name"] == "New Connection" and
          out["connection"] == "cn_iptcp:127.0.0.1[1973]:USER", "the new connection: %r" % out)
    check(any("New Connection" in line and "[1973]" in line for line in store_list(store)),
          "saved: %r" % store_list(store))


def story_select_all_delete_cancel_yes(store):
    for name in "ABC":
        store_set(store, name, "cn_iptcp:%s[1]" % name.lower())
    client = Client(store)
    window, view = connections(client)
    wait_for(lambda: len(items(view)[0]) == 3, "three connections")
    view[0].queryComponent().grabFocus()  # the list's keyboard focus
    view.querySelection().selectAll()
    wait_for(lambda: len(items(view)[1]) == 3, "all three selected")
    wait_active(window)
    key(KEY_DELETE)
    wait_for(lambda: items(view)[0] == [], "the Delete key removes the selected connections")
    screenshot("connections_all_deleted")
    press(control(window, pyatspi.ROLE_PUSH_BUTTON, "Cancel"))
    prompt = client.window("Save")
    press(control(prompt, pyatspi.ROLE_PUSH_BUTTON, "Yes"))
    out = client.result()
    check(out["result"] == "0" and out["same variables"] == "yes", "Cancel answers 0: %r" % out)
    check(store_list(store) == [], "Yes saves the deletions: %r" % store_list(store))


def story_german_save_prompt(store):
    store_set(store, "A", "cn_iptcp:a[1]")
    german = {"LC_ALL": "de_DE.UTF-8", "LANG": "de_DE.UTF-8"}
    client = Client(store, "--connstring", "D:cn_iptcp:d[4]", env=german)
    app_windows = wait_for(lambda: [w for w in client.application() if w is not None and
                                    w.getState().contains(pyatspi.STATE_SHOWING)], "the dialog")
    window = app_windows[0]
    screenshot("connections_german")
    cancel = control(window, pyatspi.ROLE_PUSH_BUTTON, "Abbrechen")
    press(cancel)
    prompt = wait_for(lambda: next((w for w in client.application() if w is not None and
                                    w is not window and w.name != window.name and
                                    w.getState().contains(pyatspi.STATE_SHOWING)), None),
                      "the German save prompt")
    ja = control(prompt, pyatspi.ROLE_PUSH_BUTTON, "Ja")
    check(find(prompt, pyatspi.ROLE_PUSH_BUTTON, "Nein") is not None, "Nein")
    screenshot("save_prompt_german")
    press(ja)
    out = client.result()
    check(out["result"] == "0", "Abbrechen answers 0: %r" % out)
    check(any(line.startswith("* D") or " D " in line or "D  " in line for line in store_list(store)),
          "Ja saves D as the default: %r" % store_list(store))


def story_two_dialogs_in_one_process(store):
    client = Client(store, "--twice")
    def showing(window):
        try:
            return window.getState().contains(pyatspi.STATE_SHOWING)
        except Exception:  # gone
            return False
    for _ in range(2):
        window = client.window("Connections")
        press(control(window, pyatspi.ROLE_PUSH_BUTTON, "Cancel"))
        wait_for(lambda: not showing(window), "the dialog to close")  # the next has its name
    out = client.result()
    check(out["exit"] == 0 and out["result"] == "0", "both dialogs ran: %r" % out)


def change_icon_of_a(store):
    """Connection A alone, its Properties, then Change Icon: the client and the three windows."""
    store_set(store, "A", "cn_iptcp:a[1]")
    client = Client(store)
    window, view = connections(client)
    press(control(window, pyatspi.ROLE_PUSH_BUTTON, "Properties..."))
    props = client.window("Connection Properties")
    press(control(props, pyatspi.ROLE_PUSH_BUTTON, "Icon..."))
    change = client.window("Change Icon")
    return client, window, props, change


def ok_ok_connect(client, window, props, change):
    """OK in Change Icon and in Properties, then Connect: what the client printed."""
    press(control(change, pyatspi.ROLE_PUSH_BUTTON, "OK"))
    client.gone("Change Icon")
    press(control(props, pyatspi.ROLE_PUSH_BUTTON, "OK"))
    client.gone("Connection Properties")
    press(control(window, pyatspi.ROLE_PUSH_BUTTON, "Connect"))
    out = client.result()
    return out


def story_change_icon_through_the_file_chooser(store):
    icon_file = os.environ["TAVIX_ICON_FILE"]  # a library with several icons
    client, window, props, change = change_icon_of_a(store)
    file_name = control(change, pyatspi.ROLE_TEXT, "File Name:")
    row = control(change, pyatspi.ROLE_DRAWING_AREA, "Current Icon:")
    screenshot("change_icon_default")
    press(control(change, pyatspi.ROLE_PUSH_BUTTON, "Browse..."))
    chooser = wait_for(lambda: next((w for w in client.application() if w is not None and
                                     find(w, pyatspi.ROLE_FILE_CHOOSER) is not None and
                                     w.getState().contains(pyatspi.STATE_SHOWING)), None),
                       "the file chooser")
    check(find(chooser, pyatspi.ROLE_COMBO_BOX) is not None, "the chooser's filter list")
    # A slash typed in the chooser opens its location entry, where the path goes.
    wait_active(chooser)
    key(ord("/"))
    location = wait_for(lambda: next((t for t in [find(chooser, pyatspi.ROLE_TEXT)]
                                      if t is not None and
                                      t.getState().contains(pyatspi.STATE_FOCUSED)), None),
                        "the chooser's location entry")
    type_into(location, icon_file)
    screenshot("file_chooser")
    key(KEY_RETURN)
    wait_for(lambda: file_name.queryText().getText(0, -1) == icon_file, "the chosen file's name")
    row.queryComponent().grabFocus()
    wait_for(lambda: row.getState().contains(pyatspi.STATE_FOCUSED), "the icon row's focus")
    wait_active(change)
    key(0xFF53)  # Right: the second icon
    screenshot("change_icon_chosen")
    out = ok_ok_connect(client, window, props, change)
    check(out["result"] == "1" and out["name"] == "A" and out["icon"] == "yes", "Connect: %r" % out)
    shown = subprocess.run([CLI, "show", "A"], capture_output=True, text=True,
                           env=dict(os.environ, XDG_CONFIG_HOME=store)).stdout
    check("icon:       %s, index 1" % icon_file in shown, "the icon saved: %r" % shown)


def menu_items(client):
    """The labels of the open popup menu's items, and which can be chosen."""
    menu = wait_for(lambda: next((m for w in client.application() if w is not None
                                  for m in [find(w, pyatspi.ROLE_MENU, showing=False)] if m is not None and
                                  m.getState().contains(pyatspi.STATE_SHOWING)), None), "the popup menu")
    entries = [item for item in menu if item.getRole() == pyatspi.ROLE_MENU_ITEM]
    return {item.name: item for item in entries}, [
        item.name for item in entries if item.getState().contains(pyatspi.STATE_SENSITIVE)]


def right_click(accessible):
    x, y, width, height = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    pyatspi.Registry.generateMouseEvent(x + width // 2, y + height // 2, "b3c")
    time.sleep(0.3)


def story_context_menu(store):
    store_set(store, "A", "cn_iptcp:a[1]")
    client = Client(store)
    window, view = connections(client)
    item = wait_for(lambda: next((i for i in view if i.name == "A"), None), "item A")
    right_click(item)
    entries, enabled = menu_items(client)
    check(list(entries) == ["New Connection", "Delete Connection", "Properties"] and
          enabled == list(entries), "the item's menu: %r %r" % (list(entries), enabled))
    screenshot("context_menu")
    press(entries["Properties"])
    props = client.window("Connection Properties")
    check(control(props, pyatspi.ROLE_TEXT, "Connection Name:").queryText().getText(0, -1) == "A",
          "Properties of the item clicked")
    press(control(props, pyatspi.ROLE_PUSH_BUTTON, "Cancel"))
    client.gone("Connection Properties")
    # The menu key on the list with nothing selected: only New can be chosen; Escape closes it.
    item.queryComponent().grabFocus()  # the list's keyboard focus, at the item
    view.querySelection().clearSelection()
    wait_for(lambda: items(view)[1] == [], "nothing selected")
    wait_active(window)
    key(0xFF67)  # the menu key
    entries, enabled = menu_items(client)
    check(enabled == ["New Connection"], "greyed without a selection: %r" % enabled)
    key(KEY_ESCAPE)
    press(control(window, pyatspi.ROLE_PUSH_BUTTON, "Cancel"))
    out = client.result()
    check(out["result"] == "0", "Cancel: %r" % out)


def connections_a_b_with_b_selected(store):
    """The Connections dialog over connections A and B, B alone selected and focused: the
    client, the window, the list and B's item."""
    for name in "AB":
        store_set(store, name, "cn_iptcp:%s[1]" % name.lower())
    client = Client(store)
    window, view = connections(client)
    item = wait_for(lambda: next((i for i in view if i.name == "B"), None), "item B")
    item.queryComponent().grabFocus()
    view.querySelection().clearSelection()
    view.querySelection().selectChild(item.getIndexInParent())
    wait_for(lambda: items(view)[1] == ["B"], "B selected")
    wait_active(window)
    return client, window, view, item


def story_rename_in_place_then_escape(store):
    # F2 opens the label editor on the focused item, Enter ends the edit; Escape is Cancel,
    # which asks, and Yes keeps the new name.
    client, window, view, _ = connections_a_b_with_b_selected(store)
    key(0xFFBF)  # F2
    # The editor has the keyboard and the label selected: typing replaces it.
    time.sleep(0.3)
    for letter in "renamed":
        key(ord(letter))
    screenshot("connections_rename")
    key(KEY_RETURN)
    wait_for(lambda: "renamed" in items(view)[0], "the item renamed")
    key(KEY_ESCAPE)
    prompt = client.window("Save")
    press(control(prompt, pyatspi.ROLE_PUSH_BUTTON, "Yes"))
    out = client.result()
    check(out["result"] == "0", "Escape answers as Cancel: %r" % out)
    names = sorted(line.split()[-2] if line.startswith("*") else line.split()[0] for line in store_list(store))
    check(names == ["A", "renamed"], "the rename saved: %r" % store_list(store))


def story_rename_through_the_editor(store):
    # The label editor is on screen over the item's label and is an editable text named by that
    # label. A name another connection holds comes back made unique, and the editor opens again;
    # Escape there keeps the unique name; Enter on a new text renames.
    client, window, view, item = connections_a_b_with_b_selected(store)
    key(KEY_F2)
    editor = control(window, pyatspi.ROLE_TEXT, "B")
    states = editor.getState()
    check(states.contains(pyatspi.STATE_FOCUSED) and states.contains(pyatspi.STATE_EDITABLE),
          "the editor has the keyboard")
    check(editor.queryText().getText(0, -1) == "B", "the editor holds the label")
    ex, ey, ew, eh = editor.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    ix, iy, iw, ih = item.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    check(ew > 0 and eh > 0 and ex < ix + iw and ix < ex + ew and iy < ey < iy + ih,
          "the editor lies over the item: %r %r" % ((ex, ey, ew, eh), (ix, iy, iw, ih)))
    screenshot("connections_rename_editor")
    editor.queryEditableText().setTextContents("A")  # the other connection's name
    key(KEY_RETURN)
    wait_for(lambda: items(view)[0] == ["A", "A1"], "the name made unique")
    wait_for(lambda: find(window, pyatspi.ROLE_TEXT, focused=True), "the editor open again")
    check(control(window, pyatspi.ROLE_PUSH_BUTTON, "Save").getState().contains(pyatspi.STATE_SENSITIVE),
          "the rename enabled Save")
    key(KEY_ESCAPE)
    wait_for(lambda: find(window, pyatspi.ROLE_TEXT) is None, "Escape closing the editor")
    check(items(view)[0] == ["A", "A1"], "Escape keeps the unique name: %r" % (items(view),))
    check(window.getState().contains(pyatspi.STATE_SHOWING), "Escape left the dialog open")
    # A click on the label of the selected item (the list has the keyboard) opens it too.
    x, y, width, height = next(i for i in view if i.name == "A1").queryComponent().getExtents(
        pyatspi.DESKTOP_COORDS)
    pyatspi.Registry.generateMouseEvent(x + width // 2, y + height - 8, "b1c")
    editor = control(window, pyatspi.ROLE_TEXT, "A1")
    editor.queryEditableText().setTextContents("Renamed")
    key(KEY_RETURN)
    wait_for(lambda: items(view)[0] == ["A", "Renamed"], "the item renamed")
    check(find(window, pyatspi.ROLE_TEXT) is None, "the editor closed")
    press(control(window, pyatspi.ROLE_PUSH_BUTTON, "Connect"))
    out = client.result()
    check(out["result"] == "1" and out["name"] == "Renamed" and out["connection"] == "cn_iptcp:b[1]:USER",
          "Connect with the renamed connection: %r" % out)
    check(store_names(store) == ["A", "Renamed"], "the rename saved: %r" % store_list(store))


def store_names(store):
    return sorted(line.lstrip("* ").split("  ")[0] for line in store_list(store))


def story_tab_order(store):
    # Tab walks the template's order, skipping the disabled Save; Shift+Tab walks back.
    store_set(store, "A", "cn_iptcp:a[1]")
    client = Client(store)
    window, view = connections(client)
    wait_for(lambda: items(view)[1] == ["A"], "A selected")
    wait_active(window)
    start = wait_for(lambda: focused(window), "the first focus")
    check(start.getRole() == pyatspi.ROLE_ICON and start.name == "A",  # the list, at its item
          "the list has the first focus: %s %r" % (start.getRoleName(), start.name))
    forward = ["New...", "Delete", "Properties...", "Connect", "Cancel", "A", "New..."]
    for keys, expected in [((KEY_TAB,), name) for name in forward] + \
            [((KEY_TAB, SHIFT), name) for name in ("A", "Cancel", "Connect")]:
        key(*keys)
        try:
            wait_for(lambda: focus_name(window) == expected, "", timeout=3)
        except Failure:
            raise Failure("%s to %r: the focus is on %r" % (
                "Shift+Tab" if len(keys) > 1 else "Tab", expected, focus_name(window))) from None
    screenshot("connections_tab_on_connect")
    key(KEY_RETURN)  # the focused Connect
    out = client.result()
    check(out["result"] == "1" and out["name"] == "A", "Enter on Connect: %r" % out)


def story_alt_mnemonics(store):
    # Alt+N is "&New...": the new connection's properties; Alt+C is "&Connect".
    store_set(store, "A", "cn_iptcp:a[1]")
    client = Client(store)
    window, view = connections(client)
    wait_active(window)
    key(ord("n"), ALT)
    props = client.window("Connection Properties")
    name = control(props, pyatspi.ROLE_TEXT, "Connection Name:")
    check(name.queryText().getText(0, -1) == "New Connection", "New's connection")
    screenshot("properties_from_alt_n")
    press(control(props, pyatspi.ROLE_PUSH_BUTTON, "OK"))
    client.gone("Connection Properties")
    wait_for(lambda: items(view)[1] == ["New Connection"], "the new connection selected")
    time.sleep(0.5)  # the keyboard back from the closed dialog (its "active" state may be stale)
    wait_active(window)
    key(ord("c"), ALT)
    out = client.result()
    check(out["result"] == "1" and out["name"] == "New Connection" and
          out["connection"] == "cn_iptcp:127.0.0.1[1972]:USER", "Alt+C connects: %r" % out)
    check(store_names(store) == ["A", "New Connection"], "saved: %r" % store_list(store))


def showing_windows(client):
    app = client.application()
    return sorted(w.name for w in (app if app is not None else [])
                  if w is not None and w.getState().contains(pyatspi.STATE_SHOWING))


def story_f1_help(store):
    # F1 asks the dialog for help about the focused control. No help viewer is bound on Linux:
    # nothing opens, the focus stays, the dialog goes on (and no change was made).
    store_set(store, "A", "cn_iptcp:a[1]")
    before = store_list(store)
    client = Client(store)
    window, view = connections(client)
    wait_active(window)
    for target in (view[0], control(window, pyatspi.ROLE_PUSH_BUTTON, "New...")):
        expected = target.name
        target.queryComponent().grabFocus()
        wait_for(lambda: focus_name(window) == expected, "the focus on %r" % expected, timeout=3)
        key(KEY_F1)
        time.sleep(0.5)
        check(showing_windows(client) == ["Connections"], "only the dialog shows after F1: %r" % showing_windows(client))
        check(focus_name(window) == expected, "F1 left the focus: %r" % focus_name(window))
        check(window.getState().contains(pyatspi.STATE_ACTIVE), "the dialog stays active")
    screenshot("connections_after_f1")
    press(control(window, pyatspi.ROLE_PUSH_BUTTON, "Cancel"))
    out = client.result()
    check(out["result"] == "0" and out["name"] == "(null)", "F1 ended nothing: %r" % out)
    check(store_list(store) == before, "F1 changed nothing: %r" % store_list(store))


def x_window_of(client, title):
    """The X window of the client's top-level window of that title (its _NET_WM_PID)."""
    tree = subprocess.run(["xwininfo", "-root", "-children"], capture_output=True, text=True).stdout
    for line in tree.splitlines():
        parts = line.split(None, 1)
        if len(parts) == 2 and parts[0].startswith("0x") and parts[1].startswith('"%s"' % title):
            prop = subprocess.run(["xprop", "-id", parts[0], "_NET_WM_PID"], capture_output=True,
                                  text=True).stdout
            if prop.strip().endswith("= %d" % client.pid):
                return int(parts[0], 16)
    return None


def close_box(client, title):
    """What a click on the window's close box sends: the window manager's WM_DELETE_WINDOW."""
    import ctypes

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                    ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                    ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 24)]

    window = wait_for(lambda: x_window_of(client, title), "the X window of %r" % title)
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(ClientMessage)]
    x11.XFlush.argtypes = x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    check(display, "the X display")
    event = ClientMessage(type=33, send_event=1, window=window, format=32,
                          message_type=x11.XInternAtom(display, b"WM_PROTOCOLS", 0))
    event.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    x11.XCloseDisplay(display)
    time.sleep(0.2)


def story_close_box_is_cancel(store):
    # The Properties dialog's close box drops its changes; the Connections dialog's asks to save
    # the preselected connection it added, as Cancel does, and No leaves the store.
    store_set(store, "A", "cn_iptcp:a[1]")
    before = store_list(store)
    client = Client(store, "--connstring", "C:cn_iptcp:c[3]")
    window, view = connections(client)
    wait_for(lambda: items(view)[1] == ["C"], "C preselected")
    press(control(window, pyatspi.ROLE_PUSH_BUTTON, "Properties..."))
    props = client.window("Connection Properties")
    type_into(control(props, pyatspi.ROLE_TEXT, "Port:"), "4444")
    close_box(client, "Connection Properties")
    client.gone("Connection Properties")
    check(find(window, pyatspi.ROLE_LABEL, "cn_iptcp:c[3]:USER") is not None, "the port unchanged")
    close_box(client, "Connections")
    prompt = client.window("Save")
    press(control(prompt, pyatspi.ROLE_PUSH_BUTTON, "No"))
    out = client.result()
    check(out["result"] == "0" and out["connection"] == "C:cn_iptcp:c[3]" and out["same variables"] == "yes",
          "the close box answers as Cancel: %r" % out)
    check(store_list(store) == before, "No drops the change: %r" % store_list(store))


def row_pixels(row):
    x, y, width, height = row.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    time.sleep(0.3)
    return subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (width, height, x, y),
                           "rgb:-"], capture_output=True).stdout


def story_icon_row_scrollbar(store):
    # Moving the row's scroll bar shows other icons: a click at the row's left edge then picks
    # the icon scrolled there, and that icon is the one saved.
    icon_file = os.environ["TAVIX_ROW_ICON_FILE"]  # 25 icons, two kinds alternating
    check(os.path.exists(icon_file), "the row's library of 25 icons: %s" % icon_file)
    client, window, props, change = change_icon_of_a(store)
    type_into(control(change, pyatspi.ROLE_TEXT, "File Name:"), icon_file)
    row = control(change, pyatspi.ROLE_DRAWING_AREA, "Current Icon:")
    row.queryComponent().grabFocus()  # the file name loses the focus: its icons load
    bar = control(change, pyatspi.ROLE_SCROLL_BAR)
    value = bar.queryValue()
    wait_for(lambda: value.maximumValue >= 40 * 10, "the row of the file's icons")
    shown = row_pixels(row)
    check(value.currentValue == 0, "the row starts at its left end")
    value.currentValue = 7 * 40 + 12  # seven and a bit cells to the right
    wait_for(lambda: value.currentValue > 0, "the bar moved")
    position = int(value.currentValue)
    check(row_pixels(row) != shown, "other icons are shown")
    screenshot("change_icon_scrolled")
    x, y, width, height = row.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    pyatspi.Registry.generateMouseEvent(x + 5, y + height // 3, "b1c")
    time.sleep(0.3)
    picked = (position + 5) // 40
    out = ok_ok_connect(client, window, props, change)
    check(out["result"] == "1" and out["name"] == "A", "Connect: %r" % out)
    shown = subprocess.run([CLI, "show", "A"], capture_output=True, text=True,
                           env=dict(os.environ, XDG_CONFIG_HOME=store)).stdout
    check("icon:       %s, index %d" % (icon_file, picked) in shown,
          "the icon at the row's left edge (%d) saved: %r" % (picked, shown))


def store_import(store, count):
    """count connections, imported in one batch."""
    lines = ["REGEDIT4", ""]
    for i in range(count):
        lines += ["[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\Server %05d]" % i,
                  '@="cn_iptcp:host%d[%d]:NS"' % (i, 1000 + i % 60000), ""]
    path = os.path.join(store, "many.reg")
    with open(path, "w", newline="\r\n") as out:
        out.write("\n".join(lines) + "\n")
    subprocess.run([CLI, "import", path], check=True, capture_output=True,
                   env=dict(os.environ, XDG_CONFIG_HOME=store))


def time_to_dialog(store, count):
    """Milliseconds from the client's call of ConnectionDialog (its own clock reading just before
    the call) to the Connections window showing as an assistive technology sees it: polled every
    2 ms through the accessibility bus, whose answers come from the client's main loop, so the
    figure includes the moment the dialog's process is ready to answer, and up to one poll late."""
    store_import(store, count)
    client = Client(store)
    called = client.line().split()
    check(called[:1] == ["called:"], "the client's call time: %r" % called)

    def shown():
        app = client.application()
        return app is not None and any(w is not None and w.name == "Connections" and
                                       w.getState().contains(pyatspi.STATE_SHOWING) for w in app)
    end = time.monotonic() + 120
    while not shown():
        check(time.monotonic() < end, "the dialog within 2 minutes")
        time.sleep(0.002)
    seen = time.monotonic_ns()
    window, view = connections(client)
    wait_for(lambda: view.childCount == count, "%d connections listed" % count, timeout=120)
    press(control(window, pyatspi.ROLE_PUSH_BUTTON, "Cancel"))
    out = client.result()
    check(out["result"] == "0", "Cancel: %r" % out)
    return (seen - int(called[1])) / 1e6


def story_time_to_dialog(store):
    # Measured, not asserted: the figures are printed.
    figures = []
    for count in (10, 10000):
        with tempfile.TemporaryDirectory() as own:
            figures.append((count, time_to_dialog(own, count)))
    for count, ms in figures:
        print("time to dialog, %d connections: %.0f ms" % (count, ms), flush=True)


def story_refused_on_another_thread(store):
    # GTK started on the first call's thread; the main thread's call then gets no dialog.
    client = Client(store, "--thread", "--twice", "--connstring", "T:cn_iptcp:t[1]")
    window = client.window("Connections")
    press(control(window, pyatspi.ROLE_PUSH_BUTTON, "Cancel"))
    press(control(client.window("Save"), pyatspi.ROLE_PUSH_BUTTON, "No"))
    out = client.result()  # the second call's answer
    check(out["exit"] == 0 and out["result"] == "0" and out["connection"] == "T:cn_iptcp:t[1]" and
          out["same variables"] == "yes" and out["icon"] == "untouched", "refused: %r" % out)


def story_refused_beside_gtk4(store):
    # A program that runs GTK 4 (here: a library defining one of its functions) gets no dialog.
    fake = os.path.join(os.path.dirname(CLIENT), "libtavix_fake_gtk4.so")
    client = Client(store, "--connstring", "G:cn_iptcp:g[1]", env={"LD_PRELOAD": fake})
    out = client.result()
    check(out["exit"] == 0 and out["result"] == "0" and out["connection"] == "G:cn_iptcp:g[1]" and
          out["same variables"] == "yes" and out["icon"] == "untouched", "refused: %r" % out)
    check(store_list(store) == [], "the store untouched: %r" % store_list(store))


STORIES = [
    story_connect_on_an_empty_store,
    story_preselection_cancelled_with_no,
    story_new_properties_refused_port_connect,
    story_select_all_delete_cancel_yes,
    story_german_save_prompt,
    story_two_dialogs_in_one_process,
    story_change_icon_through_the_file_chooser,
    story_context_menu,
    story_rename_in_place_then_escape,
    story_rename_through_the_editor,
    story_tab_order,
    story_alt_mnemonics,
    story_f1_help,
    story_close_box_is_cancel,
    story_icon_row_scrollbar,
    story_refused_on_another_thread,
    story_refused_beside_gtk4,
    story_time_to_dialog,
]


def main():
    passed = failed = 0
    # The accessibility bus and its registry start (by D-Bus activation) before the first
    # client, which finds them as it starts.
    wait_for(lambda: pyatspi.Registry.getDesktop(0) is not None, "the accessibility registry")
    for story in STORIES:
        name = story.__name__[len("story_"):]
        if ONLY and name not in ONLY:
            continue
        with tempfile.TemporaryDirectory() as store:
            try:
                story(store)
                print("PASS", name, flush=True)
                passed += 1
            except Exception:
                print("FAIL", name, flush=True)
                traceback.print_exc()
                screenshot("failed_" + name)
                if LAST_CLIENT and LAST_CLIENT[0].application() is not None:
                    print("\n".join(dump(LAST_CLIENT[0].application())))
                if LAST_CLIENT and LAST_CLIENT[0].process.poll() is None:
                    LAST_CLIENT[0].process.kill()
                if LAST_CLIENT and LAST_CLIENT[0].process.stderr:
                    print("client's standard error:", LAST_CLIENT[0].process.stderr.read())
                failed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
