"""Names in every script, with real keys and clicks. Folder names and subjects
in Japanese, Greek, Russian and with an emoji show in the tree and the list
exactly as the command-line tool lists them; the window creates and renames
folders with such names; an edit ended without a change (F2 and Enter; a slow
second click, then a click elsewhere) leaves the stored name as it was; and
Enter pressed at once in Move's folder dialog moves nothing, for a folder under
another and for a top-level one."""

import sys
import time

from harness import listed_from, preorder, run

JAPANESE = "日本語のフォルダ"
RUSSIAN = "Привет мир"
GREEK = "Ελληνικά 📁"
SUBJECTS = ["会議の議題 😀", "Καλημέρα σας", "Отчёт за квартал"]


def node(state, text):
    found = [n for n in state.nodes if n.text == text]
    return found[0] if len(found) == 1 else None


def label_point(n):
    return n.icon[0] + 12, n.icon[1]


def places(s):
    """Folder name -> (depth, id), as the store holds it."""
    return {f.name: (f.depth, f.id) for f in preorder(s.folders(), by_id=True)}


def renames_in_log(state):
    return [line for line in state.log if line.startswith("RENAME_FOLDER")]


def shown_as_listed(s, c):
    state = s.wait_for("the foreign names in the tree",
                       lambda st: all(node(st, n) for n in (JAPANESE, RUSSIAN, GREEK)))
    tree = sorted(n.text for n in state.nodes)
    c.equal(tree, sorted(places(s)), "the tree's names are the tool's folder names")
    s.click(*label_point(node(state, "Inbox")))
    listed = s.messages("Inbox")
    state = s.wait_for("the Inbox's rows", lambda st: st.row_count == len(listed))
    c.equal(sorted(r.subject for r in state.rows), sorted(m.subject for m in listed),
            "the list's subjects are the tool's")
    c.equal(sorted(listed_from(r.sender) for r in state.rows), sorted(m.sender for m in listed),
            "the list's senders are the tool's")
    c.check(all(any(r.subject == want for r in state.rows) for want in SUBJECTS),
            "every foreign subject is in the list whole")
    print(f"screenshot: {s.screenshot('names-in-every-script.png')}")


def unchanged_edits(s, c, before):
    state = s.state()
    # F2 and Enter, changing nothing.
    s.click(*label_point(node(state, JAPANESE)))
    s.keys("F2")
    time.sleep(0.5)
    s.keys("Return")
    # A slow second click starts an edit; a click in the list ends it.
    state = s.state()
    target = node(state, RUSSIAN)
    s.click(*label_point(target))
    time.sleep(1.0)
    s.click(*label_point(target))
    time.sleep(1.0)
    main = s.window("Brisvander")
    lst = next(p for p in main.places if p.cls == "SysListView32")
    s.click(main.client[0] + (lst.left + lst.right) // 2, main.client[1] + lst.bottom - 20)
    state = s.settle()
    c.equal(places(s), before, "the store's folder names after the unchanged edits")
    c.equal(renames_in_log(state), [], "no rename was logged")


def created_and_renamed(s, c):
    # Create SubFolder from the Inbox's menu (Home, then Shift+F10), the name
    # pasted into the box.
    state = s.state()
    s.click(*label_point(node(state, "Archive")))
    s.keys("Home", "shift+F10")
    s.window("#menu")
    s.keys("Down", "Return")
    s.window("Create SubFolder")
    s.paste(GREEK + " 2")
    s.keys("Return")
    s.gone("Create SubFolder")
    state = s.wait_for("the new folder in the tree", lambda st: node(st, GREEK + " 2"))
    c.check((GREEK + " 2") in places(s), "the tool lists the created name whole")
    # F2 on Lists, a Russian name pasted: stored as it is, no box.
    s.keys("Home")
    state = s.state()
    s.click(*label_point(node(state, "Lists")))
    s.keys("F2")
    s.paste("Список")
    s.keys("Return")
    state = s.wait_for("the renamed folder in the tree", lambda st: node(st, "Список"))
    names = places(s)
    c.check("Список" in names and "Lists" not in names, "the tool lists the new name")
    # And F2 with Enter keeps it.
    s.click(*label_point(node(state, "Список")))
    s.keys("F2")
    time.sleep(0.5)
    s.keys("Return")
    s.settle()
    c.equal(places(s), names, "F2 and Enter keep the renamed folder's name")
    return names


def move_dialog_enter(s, c, before):
    for name in ("Список", "Archive"):  # under the Inbox; top level
        state = s.state()
        s.click(*label_point(node(state, name)), button=3)
        s.window("#menu")
        s.keys("Up", "Return")  # Move, the menu's last entry
        dialog = s.window("Folder select")
        shot = s.screenshot(f"move-{'archive' if name == 'Archive' else 'lists'}-dialog.png")
        print(f"screenshot: {shot}")
        selected = [n.text for n in dialog.selected]
        c.equal(selected, ["Inbox"] if name != "Archive" else [],
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
    s.cli("mkdir", s.store_win, f"Inbox/{GREEK}")
    for i, subject in enumerate(SUBJECTS):
        s.cli("import", s.store_win, "Inbox",
              s.write_message(f"foreign{i}.eml", "Σωκράτης <s@example.org>", subject, "Γεια"))
    before = places(s)
    s.start()
    s.wait_for("the window with its tree", lambda st: st.tree_count == len(before))
    shown_as_listed(s, c)
    unchanged_edits(s, c, before)
    after = created_and_renamed(s, c)
    move_dialog_enter(s, c, after)
    print(f"screenshot: {s.screenshot('kept-names.png')}")
    s.close()


if __name__ == "__main__":
    sys.exit(run(__doc__, body))
