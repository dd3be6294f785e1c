#!/usr/bin/env python3
"""Many tavixconnect processes on one store at once.

  cli_concurrency_test.py --cli PATH [--emulator WINE]

  - 8 processes, each running `tavixconnect set` for 25 new names, at once: all 200 are there
    afterwards and every command exited 0;
  - sets, deletes and default changes at once: no set lost, no deleted entry back, the default
    the last one asked for;
  - (Linux) a store locked past the busy timeout (another connection holding BEGIN IMMEDIATE):
    the command exits 4 with the "locked" line, and nothing is lost.

On Linux the store is a configuration directory of the test's own; under Wine it is the
registry of the run's prefix, whose connections key is cleared before and after.
"""
import argparse
import os
import sqlite3
import subprocess
import sys
import tempfile
import threading

WORKERS = 8
NAMES_PER_WORKER = 25
KEY = r"HKEY_CURRENT_USER\Software\Vantorin\Connections"

failures = []
failures_lock = threading.Lock()


def fail(message):
    with failures_lock:
        failures.append(message)
    print("FAIL: " + message, file=sys.stderr, flush=True)


class Tool:
    def __init__(self, cli, emulator, env):
        self.command = ([emulator] if emulator else []) + [cli]
        self.env = env

    def run(self, *args):
        done = subprocess.run(self.command + list(args), env=self.env, capture_output=True, timeout=300)
        out = done.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
        err = done.stderr.decode("utf-8", "replace").replace("\r\n", "\n")
        return done.returncode, out, err

    def expect(self, status, *args):
        code, out, err = self.run(*args)
        if code != status:
            fail("tavixconnect %s: exit %d, expected %d: %s%s" % (" ".join(args), code, status, out, err))
        return out, err

    def connections(self):
        """name -> (connection string, default?) as `list` shows them."""
        out, _ = self.expect(0, "list")
        listed = {}
        for line in out.splitlines():
            marker, name, connection = line[:2], *line[2:].split()
            listed[name] = (connection, marker == "* ")
        return listed

    def import_text(self, directory, name, text):
        path = os.path.join(directory, name)
        with open(path, "w", newline="\r\n") as file:
            file.write(text)
        self.expect(0, "import", path)


def in_parallel(jobs):
    threads = [threading.Thread(target=job) for job in jobs]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


def sets_at_once(tool):
    def worker(w):
        for i in range(NAMES_PER_WORKER):
            tool.expect(0, "set", "P%d_%02d" % (w, i), "cn_iptcp:h%d[%d]:NS" % (w, i))

    in_parallel([lambda w=w: worker(w) for w in range(WORKERS)])
    listed = tool.connections()
    missing = ["P%d_%02d" % (w, i) for w in range(WORKERS) for i in range(NAMES_PER_WORKER)
               if listed.get("P%d_%02d" % (w, i), ("",))[0] != "cn_iptcp:h%d[%d]:NS" % (w, i)]
    if missing:
        fail("%d of %d sets lost, e.g. %s" % (len(missing), WORKERS * NAMES_PER_WORKER, missing[:5]))


def sets_deletes_and_defaults_at_once(tool, directory):
    keep = ["Keep%d" % i for i in range(10)]
    doomed = ["Del%02d" % i for i in range(40)]
    lines = ["REGEDIT4", ""]
    for name in keep + doomed:
        lines += ["[%s\\%s]" % (KEY, name), '@="cn_iptcp:%s[1]:NS"' % name.lower(), ""]
    tool.import_text(directory, "mixed.reg", "\n".join(lines) + "\n")

    added = ["Mix%d_%02d" % (w, i) for w in range(4) for i in range(15)]
    jobs = [lambda w=w: [tool.expect(0, "set", name, "cn_iptcp:m[%d]:NS" % w) for name in added[w * 15:(w + 1) * 15]]
            for w in range(4)]
    jobs += [lambda half=half: [tool.expect(0, "delete", name) for name in doomed[half::2]] for half in range(2)]
    jobs.append(lambda: [tool.expect(0, "default", name) for name in keep])
    in_parallel(jobs)

    listed = tool.connections()
    lost = [name for name in added + keep if name not in listed]
    back = [name for name in doomed if name in listed]
    if lost:
        fail("sets lost while others deleted and changed the default: %s" % lost[:5])
    if back:
        fail("deleted entries came back: %s" % back[:5])
    out, _ = tool.expect(0, "default")
    if out != keep[-1] + "\n":
        fail("the default is %r, not the last one asked for (%s)" % (out, keep[-1]))


def lock_past_the_busy_timeout(tool, store):
    before = tool.connections()
    holder = sqlite3.connect(store, isolation_level=None, timeout=30)
    try:
        holder.execute("BEGIN IMMEDIATE")
        code, out, err = tool.run("set", "Locked", "cn_iptcp:l[1]")
        if code != 4 or out or err != "tavixconnect: the store is locked by another process\n":
            fail("set while the store was locked: exit %d, %r %r" % (code, out, err))
    finally:
        holder.execute("ROLLBACK")
        holder.close()
    after = tool.connections()
    if after != before:
        fail("the locked store changed: %d connections before, %d after, %s" %
             (len(before), len(after), sorted(set(before) ^ set(after))[:5]))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--emulator", default="")
    options = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="tavix-cli-concurrency-") as directory:
        env = dict(os.environ, XDG_CONFIG_HOME=directory)
        tool = Tool(options.cli, options.emulator, env)
        clear = "REGEDIT4\n\n[-%s]\n" % KEY
        tool.import_text(directory, "clear.reg", clear)
        try:
            sets_at_once(tool)
            sets_deletes_and_defaults_at_once(tool, directory)
            if not options.emulator:
                lock_past_the_busy_timeout(tool, os.path.join(directory, "tavixconnect", "registry.db"))
        finally:
            tool.import_text(directory, "clear.reg", clear)
    if failures:
        print("%d failures" % len(failures), file=sys.stderr)
        return 1
    print("all passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
