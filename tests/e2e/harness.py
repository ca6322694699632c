"""Runs the real program under Wine on a real store and looks at it from outside.

Shared by the end-to-end tests: builds a store with the mailstore tool, starts
brisvander.exe on it, reads the window's tree, panel, list and log through the
probe, and collects failed checks so one run reports all of them.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SAMPLES = ROOT / "resources" / "samples"

# Folder type as the tool prints it -> the tree image of that type.
TYPE_IMAGES = {None: 0, "inbox": 1, "outbox": 2, "sent": 3, "deleted": 4, "drafts": 5}
TYPE_TEXTS = {
    None: "Not a special folder",
    "inbox": "Default INBOX folder",
    "outbox": "Default OUTBOX folder",
    "sent": "Default SENT folder",
    "deleted": "Default DELETED folder",
    "drafts": "Default DRAFT folder",
}
FROM_WIDTH = 24  # the tool's listing cuts From to this many characters


class Failed(Exception):
    pass


@dataclass
class Folder:
    depth: int
    name: str
    id: int
    type: str | None
    messages: int
    unread: int
    children: list = field(default_factory=list)

    @property
    def image(self):
        return TYPE_IMAGES[self.type]


@dataclass
class Message:
    id: int
    unread: bool
    flagged: bool
    sender: str
    subject: str


@dataclass
class Node:
    depth: int
    id: int
    image: int
    selected_image: int
    expanded: bool
    children: int
    selected: bool
    icon: tuple
    text: str


@dataclass
class Row:
    index: int
    image: int
    flag_image: int
    icon: tuple
    sender: str
    subject: str
    received: str
    selected: bool = False


@dataclass
class Place:
    cls: str
    left: int
    top: int
    right: int
    bottom: int
    text: str


@dataclass
class State:
    raw: str
    tree_count: int = -1
    nodes: list = field(default_factory=list)
    columns: list = field(default_factory=list)
    row_count: int = -1
    rows: list = field(default_factory=list)
    labels: list = field(default_factory=list)
    log: list = field(default_factory=list)
    places: list = field(default_factory=list)
    client: tuple = ()  # a window's client area on screen: x, y, width, height
    headers: list = field(default_factory=list)  # (left, top, right, bottom, arrow) on screen

    @property
    def selected(self):
        return [n for n in self.nodes if n.selected]

    def panel(self):
        """Caption -> value pairs of the folder panel."""
        pairs = {}
        for caption, value in zip(self.labels[0::2], self.labels[1::2]):
            pairs[caption] = value
        return pairs


def parse_state(text):
    state = State(raw=text)
    for line in text.split("\n"):
        if not line:
            continue
        kind, _, rest = line.partition("\t")
        f = rest.split("\t")
        if kind == "treecount":
            state.tree_count = int(f[0])
        elif kind == "tree":
            state.nodes.append(
                Node(int(f[0]), int(f[1]), int(f[2]), int(f[3]), f[4] == "1", int(f[5]),
                     f[6] == "1", (int(f[7]), int(f[8])), f[9]))
        elif kind == "column":
            state.columns.append(f[0])
        elif kind == "rowcount":
            state.row_count = int(f[0])
        elif kind == "row":
            state.rows.append(
                Row(int(f[0]), int(f[1]), int(f[2]), (int(f[3]), int(f[4])), f[5], f[6], f[7],
                    len(f) > 8 and f[8] == "1"))
        elif kind == "header":
            state.headers.append(tuple(int(v) for v in f[1:6]))
        elif kind == "panel":
            state.labels.append(f[0])
        elif kind == "log":
            state.log.append(f[0])
        elif kind == "client":
            state.client = tuple(int(v) for v in f[:4])
        elif kind == "place":
            state.places.append(Place(f[0], *map(int, f[1:5]), f[5]))
    return state


FOLDER_LINE = re.compile(r"^(?P<indent> *)(?P<name>.*?) +#(?P<id>\d+)(?: \((?P<type>\w+)\))?"
                         r"  (?P<messages>\d+) messages, (?P<unread>\d+) unread$")
MESSAGE_LINE = re.compile(r"^(?P<id>\d+) +(?P<flags>[U-][F-][HL-])  "
                          r"(?:\d{4}-\d\d-\d\d \d\d:\d\d|-)  (?P<rest>.*)$")


def parse_folders(text):
    """The tool's folder listing as a forest, children in listing order."""
    roots, stack = [], []
    for line in text.splitlines():
        m = FOLDER_LINE.match(line.rstrip("\r"))
        if not m:
            continue
        depth = len(m["indent"]) // 2
        folder = Folder(depth, m["name"], int(m["id"]), m["type"], int(m["messages"]),
                        int(m["unread"]))
        del stack[depth:]
        (stack[-1].children if stack else roots).append(folder)
        stack.append(folder)
    return roots


def node(state, name):
    """The one node of the tree with this text."""
    found = [n for n in state.nodes if n.text == name]
    if len(found) != 1:
        raise Failed(f"expected one node {name!r} in the tree, saw {[n.text for n in state.nodes]}")
    return found[0]


def preorder(forest, by_id=False):
    """Folders depth first; with by_id, siblings in ascending (signed 32-bit) id order."""
    def key(f):
        return f.id - (1 << 32) if f.id >= 1 << 31 else f.id

    out = []
    for f in sorted(forest, key=key) if by_id else forest:
        out.append(f)
        out.extend(preorder(f.children, by_id))
    return out


def parse_messages(text):
    out = []
    for line in text.splitlines():
        m = MESSAGE_LINE.match(line.rstrip("\r"))
        if not m:
            continue
        rest = m["rest"]
        out.append(Message(int(m["id"]), m["flags"][0] == "U", m["flags"][1] == "F",
                           rest[:FROM_WIDTH].rstrip(), rest[FROM_WIDTH + 2:]))
    return out


def listed_from(sender):
    """A From text as the tool's listing shows it, to compare with the window's."""
    return sender[:FROM_WIDTH].rstrip()


def panel_of(folder):
    """The folder panel as it should show a folder of the tool's listing."""
    return {
        "FolderId:": str(folder.id),
        "Number of sub-folders:": str(len(folder.children)),
        "Folder type:": TYPE_TEXTS[folder.type],
        "Number of messages:": str(folder.messages),
        "Number of un-read messages:": str(folder.unread),
    }


class Checks:
    """Collects failed expectations; a test reports all of them at the end."""

    def __init__(self, name):
        self.name = name
        self.failures = []
        self.count = 0

    def check(self, ok, what):
        self.count += 1
        if not ok:
            self.failures.append(what)
            print(f"FAIL: {what}", flush=True)
        return ok

    def equal(self, seen, expected, what):
        return self.check(seen == expected, f"{what}: expected {expected!r}, saw {seen!r}")

    def finish(self):
        if self.failures:
            print(f"{self.name}: {len(self.failures)} of {self.count} checks failed")
            return 1
        print(f"{self.name}: ok, {self.count} checks")
        return 0


def wine_environment():
    env = dict(os.environ)
    if "WINEPREFIX" not in env:
        env["WINEPREFIX"] = env.get("BRIS_WINEPREFIX", str(ROOT / "build/windows/wineprefix"))
        env.setdefault("WINEARCH", "win32")
        env.setdefault("WINEDEBUG", "-all")
        env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=d")
    return env


class Session:
    """One test run: its output directory, its store and at most one running program."""

    def __init__(self, description, dpi=None):
        parser = argparse.ArgumentParser(description=description)
        parser.add_argument("--exe", required=True, help="brisvander.exe")
        parser.add_argument("--probe", required=True, help="the probe program")
        parser.add_argument("--cli", required=True, help="mailstore.exe")
        parser.add_argument("--out", required=True, help="output directory")
        args = parser.parse_args()
        if not os.environ.get("DISPLAY"):
            raise Failed("needs a display (run through scripts/test-windows.sh)")
        self.exe, self.probe, self.cli_exe = args.exe, args.probe, args.cli
        self.out = Path(args.out)
        self.env = wine_environment()
        self.dpi = dpi
        self.own_prefix = bool(dpi)
        if dpi:
            self.use_dpi(dpi)
        self.app = None
        self.calls = 0
        # Every run starts from nothing: the directory is this test's alone.
        shutil.rmtree(self.out, ignore_errors=True)
        self.out.mkdir(parents=True)
        self.store = self.out / "store"
        self.store_win = self.windows_path(self.store)

    def use_dpi(self, dpi):
        """A Wine prefix of its own beside the usual one, whose screen has this DPI,
        with this build's store server registered."""
        self.env["WINEPREFIX"] = str(Path(self.env["WINEPREFIX"]).parent / f"wineprefix-dpi{dpi}")
        env = dict(self.env, BRIS_WINEPREFIX=self.env["WINEPREFIX"], BRIS_DPI=str(dpi))
        for script in (["wine-prefix.sh"], ["register-store.sh", str(Path(self.exe).parent)]):
            subprocess.run([str(ROOT / "scripts" / script[0]), *script[1:]], env=env, check=True,
                           stdin=subprocess.DEVNULL, timeout=300)

    def windows_path(self, path):
        done = subprocess.run(["winepath", "-w", str(path)], env=self.env, text=True,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              stdin=subprocess.DEVNULL, timeout=60)
        return done.stdout.strip()

    def windows_unix(self, path):
        done = subprocess.run(["winepath", "-u", str(path)], env=self.env, text=True,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              stdin=subprocess.DEVNULL, timeout=60)
        return done.stdout.strip()

    def wine(self, args, timeout=60, env=None):
        """Runs a Windows program to its end; output goes through files, never
        pipes, as Wine's helpers may keep a pipe open after the program ends."""
        self.calls += 1
        out = self.out / f"call{self.calls}.out"
        err = self.out / f"call{self.calls}.err"
        with open(out, "wb") as o, open(err, "wb") as e:
            try:
                rc = subprocess.run(["wine", *args], env=env or self.env, stdout=o, stderr=e,
                                    stdin=subprocess.DEVNULL, timeout=timeout).returncode
            except subprocess.TimeoutExpired:
                raise Failed(f"{Path(args[0]).name} {' '.join(args[1:])}: no end after "
                             f"{timeout} s")
        text = out.read_bytes().decode("utf-8", "replace").replace("\r\n", "\n")
        return rc, text, err.read_bytes().decode("utf-8", "replace")

    def cli(self, *args):
        rc, text, err = self.wine([self.cli_exe, *args])
        if rc != 0:
            raise Failed(f"mailstore {' '.join(args)} ended with {rc}: {text}{err}")
        return text

    # ---- The store -------------------------------------------------------------------------

    def make_store(self):
        """A fresh store: the demo mail in the Inbox, and nested folders that the
        tool creates on import, so the tree has levels to expand."""
        self.cli("init", self.store_win)
        # The samples' README and the Maildir's tmp/ placeholder are skipped.
        self.cli("import", "--skip-other", self.store_win, "Inbox", self.windows_path(SAMPLES))
        self.cli("import", "--create", self.store_win, "Inbox/Lists",
                 self.windows_path(SAMPLES / "plain.eml"))
        self.cli("import", "--create", self.store_win, "Archive/Année 2026/Q4",
                 self.windows_path(SAMPLES / "low-priority.eml"))

    def folders(self):
        return parse_folders(self.cli("folders", self.store_win))

    def messages(self, folder):
        listing = self.cli("list", self.store_win, folder)
        messages = parse_messages(listing)
        total = re.search(r"^(\d+) messages?$", listing, re.M)
        if not total or int(total[1]) != len(messages):
            raise Failed(f"cannot read the listing of {folder}:\n{listing}")
        return messages

    def write_message(self, name, sender, subject, body):
        path = self.out / name
        path.write_bytes((f"From: {sender}\r\nTo: Team Example <team@example.org>\r\n"
                          f"Subject: {subject}\r\nDate: Mon, 07 Dec 2026 10:00:00 +0000\r\n"
                          f"Message-ID: <{name}@example.org>\r\n\r\n{body}\r\n").encode())
        return self.windows_path(path)

    # ---- The program -----------------------------------------------------------------------

    def start(self):
        env = dict(self.env)
        env["MAILSTORE_DIR"] = self.store_win
        self.app_log = open(self.out / "brisvander.wine.log", "wb")
        self.app = subprocess.Popen(["wine", self.exe], env=env, stdin=subprocess.DEVNULL,
                                    stdout=self.app_log, stderr=subprocess.STDOUT)

    def state(self, seconds=30):
        rc, text, err = self.wine([self.probe, "state", str(seconds)], timeout=seconds + 30)
        if rc != 0:
            raise Failed(f"probe state: {err.strip() or rc}")
        return parse_state(text)

    def select(self, folder_id):
        rc, _, err = self.wine([self.probe, "select", "10", str(folder_id)], timeout=40)
        if rc != 0:
            raise Failed(f"probe select: {err.strip() or rc}")

    def wait_for(self, what, ready, seconds=15):
        """Polls the window until ready(state) holds; the state it last saw on failure."""
        deadline = time.monotonic() + seconds
        while True:
            state = self.state()
            if ready(state):
                return state
            if time.monotonic() >= deadline:
                (self.out / "last-state.txt").write_text(state.raw)
                raise Failed(f"{what}: not seen within {seconds} s; the window showed\n"
                             f"{state.raw}")
            time.sleep(0.2)

    def settle(self, seconds=10):
        """The state once the log stopped growing for longer than the store's
        250 ms change timer, so that late lines of one step do not count for the next."""
        deadline = time.monotonic() + seconds
        last = self.state()
        since = time.monotonic()
        while time.monotonic() < deadline:
            time.sleep(0.2)
            state = self.state()
            if state.log != last.log:
                last, since = state, time.monotonic()
            elif time.monotonic() - since >= 0.8:
                return state
        raise Failed(f"the log kept changing for {seconds} s")

    def window(self, caption, seconds=15):
        """A shown window's client area, controls and tree ("#menu": a context menu)."""
        rc, text, err = self.wine([self.probe, "look", str(seconds), caption],
                                  timeout=seconds + 30)
        if rc != 0:
            raise Failed(f"probe look {caption!r}: {err.strip() or rc}")
        return parse_state(text)

    def gone(self, caption, seconds=15):
        rc, _, err = self.wine([self.probe, "gone", str(seconds), caption], timeout=seconds + 30)
        if rc != 0:
            raise Failed(f"probe gone {caption!r}: {err.strip() or rc}")

    # ---- A user's hands: real pointer and key events through the X server --------------

    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env, check=True, timeout=30,
                       stdin=subprocess.DEVNULL)

    def click(self, x, y, button=1, modifier=None):
        if modifier:
            self.xdotool("mousemove", x, y, "keydown", modifier, "click", button, "keyup",
                         modifier)
        else:
            self.xdotool("mousemove", x, y, "click", button)
        time.sleep(0.3)

    def keys(self, *keys):
        self.xdotool("key", "--delay", 120, *keys)
        time.sleep(0.3)

    def type(self, text):
        self.xdotool("type", "--delay", 80, text)
        time.sleep(0.2)

    def paste(self, text):
        """Text copied in another program, then Ctrl+V: X key events cannot carry
        every script to the program."""
        rc, _, err = self.wine([self.probe, "clip", "10", text.encode().hex()])
        if rc != 0:
            raise Failed(f"probe clip: {err.strip() or rc}")
        self.keys("ctrl+v")

    def screenshot(self, name):
        path = self.out / name
        subprocess.run(["import", "-window", "root", str(path)], env=self.env, timeout=60,
                       stdin=subprocess.DEVNULL, check=True)
        return path

    def close(self):
        """Closes the window as a user would and expects the program to end well."""
        if not self.app:
            return
        rc, _, err = self.wine([self.probe, "close", "20"], timeout=50)
        if rc != 0:
            raise Failed(f"probe close: {err.strip()}")
        try:
            status = self.app.wait(timeout=20)
        except subprocess.TimeoutExpired:
            raise Failed("the program kept running after its window closed")
        self.app = None
        if status != 0:
            raise Failed(f"the program ended with status {status}")

    def stop(self):
        if self.app:
            self.app.kill()
            self.app.wait(timeout=20)
            self.app = None
        if self.own_prefix:
            # The prefix of its own has its own server, which the test runner does not end.
            subprocess.run(["wineserver", "-k"], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def pixels(png, x, y, width, height):
    """The RGB bytes of a rectangle of a screenshot."""
    return subprocess.run(["convert", str(png), "-crop", f"{width}x{height}+{x}+{y}", "+repage",
                           "rgb:-"], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL,
                          timeout=60, check=True).stdout


def run(description, body, dpi=None):
    """Runs body(session, checks); a broken step ends the test with its reason."""
    name = Path(sys.argv[0]).stem
    checks = Checks(name)
    session = None
    try:
        session = Session(description, dpi)
        body(session, checks)
    except Failed as failure:
        checks.failures.append(str(failure))
        print(f"FAIL: {failure}", flush=True)
        if session:
            print(f"screen at the failure: {session.screenshot('failure.png')}")
    finally:
        if session:
            session.stop()
    return checks.finish()
