"""Nothing changes that the user did not change, with real keys and clicks: an
edit of a name the code page cannot show, ended without a change (F2 and Enter;
a slow second click, then a click elsewhere), leaves the stored name as it was;
and Enter pressed at once in Move's folder dialog moves nothing, for a folder
under another and for a top-level one."""

import sys
import time

from harness import preorder, run

JAPANESE = "日本語のフォルダ"
RUSSIAN = "Привет мир"


def shown(name):
    """The name as the window's code page shows it: '?' for what it cannot."""
    return "".join(ch if ord(ch) < 128 else "?" for ch in name)


def node(state, text):
    found = [n for n in state.nodes if n.text == text]
    return found[0] if len(found) == 1 else None


def label_point(n):
    return n.icon[0] + 12, n.icon[1]


def places(s):
    """Folder name -> (parent id, depth), as the store holds it."""
    return {f.name: (f.depth, f.id) for f in preorder(s.folders(), by_id=True)}


def renames_in_log(state):
    return [line for line in state.log if line.startswith("RENAME_FOLDER")]


def unchanged_edits(s, c, before):
    state = s.wait_for("both foreign names shown in the tree",
                       lambda st: node(st, shown(JAPANESE)) and node(st, shown(RUSSIAN)))
    c.check(node(state, JAPANESE) is None, "the tree shows the Japanese name in its '?' form")
    # F2 and Enter, changing nothing.
    s.click(*label_point(node(state, shown(JAPANESE))))
    s.keys("F2")
    time.sleep(0.5)
    s.keys("Return")
    # A slow second click starts an edit; a click in the list ends it.
    state = s.state()
    target = node(state, shown(RUSSIAN))
    s.click(*label_point(target))
    time.sleep(1.0)
    s.click(*label_point(target))
    time.sleep(1.0)
    main = s.window("Brisvander")
    lst = next(p for p in main.places if p.cls == "SysListView32")
    s.click(main.client[0] + (lst.left + lst.right) // 2, main.client[1] + lst.bottom - 20)
    # A typed name the code page cannot hold: a box says so, nothing changes.
    state = s.state()
    s.click(*label_point(node(state, "Lists")))
    s.keys("F2")
    s.type("Список")
    s.keys("Return")
    box = s.window(" Rename folder error")
    print(f"screenshot: {s.screenshot('unstorable-name.png')}")
    c.check(any("cannot be stored" in p.text for p in box.places), "the box says why")
    s.keys("Return")
    s.gone(" Rename folder error")
    state = s.settle()
    c.equal(places(s), before, "the store's folder names after the unchanged edits")
    c.equal(renames_in_log(state), [], "no rename was logged")


def move_dialog_enter(s, c, before):
    for name in ("Lists", "Archive"):  # under the Inbox; top level
        state = s.state()
        s.click(*label_point(node(state, name)), button=3)
        s.window("#menu")
        s.keys("Up", "Return")  # Move, the menu's last entry
        dialog = s.window("Folder select")
        shot = s.screenshot(f"move-{name.lower()}-dialog.png")
        print(f"screenshot: {shot}")
        selected = [n.text for n in dialog.selected]
        c.equal(selected, ["Inbox"] if name == "Lists" else [],
                f"Move of {name}: the dialog starts on the old parent or on nothing")
        s.keys("Return")
        time.sleep(1.0)
        s.window("Folder select", seconds=5)  # still open: there was nothing to confirm
        if name == "Archive":
            s.keys("Down")  # the keyboard still picks
            picked = [n.text for n in s.window("Folder select").selected]
            c.check(len(picked) == 1, f"Down picks a folder in the dialog: {picked}")
        s.keys("Escape")
        s.gone("Folder select")
    s.settle()
    c.equal(places(s), before, "the store's folders after Enter in Move's dialog")


def body(s, c):
    s.make_store()
    s.cli("mkdir", s.store_win, JAPANESE)
    s.cli("mkdir", s.store_win, f"Archive/{RUSSIAN}")
    before = places(s)
    s.start()
    s.wait_for("the window with its tree", lambda st: st.tree_count == len(before))
    unchanged_edits(s, c, before)
    move_dialog_enter(s, c, before)
    print(f"screenshot: {s.screenshot('kept-names.png')}")
    s.close()


if __name__ == "__main__":
    sys.exit(run(__doc__, body))
