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
        # The first line byte by byte: nothing of what follows may sit in a reader's buffer,
        # where communicate() would not see it.
        line = b""
        while not line.endswith(b"\n"):
            byte = os.read(self.process.stdout.fileno(), 1)
            if not byte:
                break
            line += byte
        first = line.decode().split()
        check(first[:1] == ["pid:"], "the client did not start: %r" % first)
        self.pid = int(first[1])
        LAST_CLIENT[:] = [self]

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


def find(root, role, name=None, showing=True):
    """The first descendant of that role (and accessible name), depth first."""
    stack = [root]
    while stack:
        node = stack.pop(0)
        if node is None:
            continue
        try:
            if node.getRole() == role and (name is None or node.name == name):
                if not showing or node.getState().contains(pyatspi.STATE_SHOWING):
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


def key(keysym):
    pyatspi.Registry.generateKeyboardEvent(keysym, None, pyatspi.KEY_SYM)
    time.sleep(0.2)


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


def story_change_icon_through_the_file_chooser(store):
    icon_file = os.environ["TAVIX_ICON_FILE"]  # a library with several icons
    store_set(store, "A", "cn_iptcp:a[1]")
    client = Client(store)
    window, view = connections(client)
    press(control(window, pyatspi.ROLE_PUSH_BUTTON, "Properties..."))
    props = client.window("Connection Properties")
    press(control(props, pyatspi.ROLE_PUSH_BUTTON, "Icon..."))
    change = client.window("Change Icon")
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
    press(control(change, pyatspi.ROLE_PUSH_BUTTON, "OK"))
    client.gone("Change Icon")
    press(control(props, pyatspi.ROLE_PUSH_BUTTON, "OK"))
    client.gone("Connection Properties")
    press(control(window, pyatspi.ROLE_PUSH_BUTTON, "Connect"))
    out = client.result()
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


def story_rename_in_place_then_escape(store):
    # F2 opens the label editor on the focused item, Enter ends the edit; Escape is Cancel,
    # which asks, and Yes keeps the new name.
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
    key(0xFFBF)  # F2
    # The editor (GTK's own entry inside the icon view, which AT-SPI does not list) has the
    # keyboard and the label selected: typing replaces it.
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
    story_refused_on_another_thread,
    story_refused_beside_gtk4,
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
