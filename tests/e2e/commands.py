"""The folder and message commands as a user gives them, on a screen at 144 DPI:
real clicks and key presses on the program's windows, the context menus opened
with the mouse and from the keyboard, the input box, the question boxes and the
folder dialog answered by hand. What the window shows afterwards, read from
outside, is compared with what the mailstore tool says the store holds."""

import sys
import time

from harness import Failed, listed_from, node, preorder, run

DPI = 144


def scale(design):
    """A design length at 96 DPI as the program puts it on this screen."""
    return (design * DPI + 48) // 96


def label_point(n):
    """A point on a node's label: its icon place is the pixel left of the text."""
    return n.icon[0] + scale(12), n.icon[1]


def row_point(row):
    """A point in a row's Subject column, right of the From column."""
    return row.icon[0] + scale(140), row.icon[1]


def button(window, text):
    """The middle of a window's button on screen."""
    for p in window.places:
        if p.cls == "Button" and p.text.replace("&", "") == text:
            x, y = window.client[:2]
            return x + (p.left + p.right) // 2, y + (p.top + p.bottom) // 2
    raise Failed(f"no button {text!r} in the window: {window.places}")


def log_tail(s, before):
    return s.state().log[len(before.log):]


class Steps:
    def __init__(self, s, c):
        self.s, self.c = s, c
        self.dialog_seen = False

    def state(self):
        return self.s.state()

    def wait(self, what, ready, seconds=15):
        return self.s.wait_for(what, ready, seconds)

    def tree_matches_store(self, what):
        """Waits until the tree shows the store's folders, then returns both."""
        folders = []

        def same(st):
            folders[:] = preorder(self.s.folders(), by_id=True)
            return [(n.depth, n.id, n.text) for n in st.nodes] == \
                [(f.depth, f.id, f.name) for f in folders]
        state = self.wait(f"{what}: the tree as the store has it", same)
        return state, {f.name: f for f in folders}

    def choose_in_menu(self, steps, anchor=None, what="menu"):
        """Moves through an open context menu with the arrow keys and takes the
        entry; with an anchor, checks the menu opened beside that point."""
        menu = self.s.window("#menu")
        if anchor:
            x, y = menu.client[:2]
            self.c.check(abs(x - anchor[0]) <= scale(60) and abs(y - anchor[1]) <= scale(40),
                         f"{what} opens at {x},{y}, beside {anchor}")
        self.s.keys(*steps, "Return")
        self.s.gone("#menu")

    def pick_in_dialog(self, target, confirm_by_key=False):
        """Clicks the target's node in the folder dialog, then OK."""
        dialog = self.s.window("Folder select")
        if not self.dialog_seen:
            self.dialog_seen = True
            check_places(dialog, {"SysTreeView32": (8, 3, 251, 226), "OK": (32, 246, 75, 22),
                                  "Cancel": (146, 246, 75, 22)}, "folder dialog", self.c)
            self.c.equal(dialog.client[2:], (scale(265), scale(284)), "folder dialog client size")
            print(f"screenshot: {self.s.screenshot('folder-dialog.png')}")
        self.s.click(*label_point(node(dialog, target)))
        dialog = self.s.window("Folder select")
        self.c.equal([n.text for n in dialog.selected], [target], "dialog selection")
        if confirm_by_key:
            self.s.keys("Return")
        else:
            self.s.click(*button(dialog, "OK"))
        self.s.gone("Folder select")


def check_places(window, design, what, c):
    """Controls (by class, or by text for buttons) at their design places
    scaled to the screen's DPI."""
    for key, (x, y, w, h) in design.items():
        found = [p for p in window.places if key in (p.cls, p.text.replace("&", ""))]
        if c.check(len(found) == 1, f"{what}: one {key}"):
            p = found[0]
            c.equal((p.left, p.top, p.right - p.left, p.bottom - p.top),
                    (scale(x), scale(y), scale(w), scale(h)), f"{what}: {key} at {DPI} DPI")


def check_main_places(state, c):
    check_places(state, {"SysTreeView32": (7, 16, 218, 188), " Folder properties ":
                         (7, 208, 219, 112), "SysListView32": (230, 16, 444, 304),
                         "Edit": (7, 325, 668, 117)}, "main window", c)
    folders_label = [p for p in state.places if p.text == "Folders:"]
    c.check(folders_label and folders_label[0].bottom - folders_label[0].top >= scale(8) * 4 // 3,
            "the labels' font follows the DPI")


def folder_commands(t):
    s, c = t.s, t.c
    state, folders = t.tree_matches_store("at start")
    start_log = state

    # Create: the menu from a right-click on Archive, the name typed into the box.
    s.click(*label_point(node(state, "Archive")), button=3)
    t.choose_in_menu(["Down"])
    box = s.window("Create SubFolder")
    c.check(any(p.cls == "Edit" for p in box.places), "the input box has its edit")
    s.type("Projects")
    s.keys("Return")
    state, folders = t.tree_matches_store("after Create SubFolder")
    c.check("Projects" in folders and folders["Projects"].id in
            [f.id for f in folders["Archive"].children], "Projects created under Archive")

    # Rename with F2 on the selected node.
    s.click(*label_point(node(state, "Projects")))
    s.keys("F2")
    s.type("Plans")
    s.keys("Return")
    state, folders = t.tree_matches_store("after renaming with F2")
    c.check("Plans" in folders and "Projects" not in folders, "F2 renamed Projects to Plans")

    # Rename with a slow second click on the selected node's label.
    s.click(*label_point(node(state, "Archive")))
    s.click(*label_point(node(state, "Plans")))
    time.sleep(1.0)
    s.click(*label_point(node(state, "Plans")))
    time.sleep(1.0)
    s.type("Ideas")
    s.keys("Return")
    state, folders = t.tree_matches_store("after renaming with a second click")
    c.check("Ideas" in folders and "Plans" not in folders, "a second click renamed Plans")

    # Move: the folder menu from the keyboard, beside the selected node.
    ideas = node(state, "Ideas")
    c.equal([n.text for n in state.selected], ["Ideas"], "the renamed folder stays selected")
    s.keys("shift+F10")
    t.choose_in_menu(["Up"], anchor=ideas.icon, what="folder menu from the keyboard")
    t.pick_in_dialog("Lists")
    state, folders = t.tree_matches_store("after Move")
    c.check(folders["Ideas"].id in [f.id for f in folders["Lists"].children],
            "Ideas moved under Lists")

    # Delete with the Del key; the question answered with a click on Yes. (A
    # click on the selected node's label would start a rename.)
    s.click(*label_point(node(state, "Lists")))
    s.click(*label_point(node(state, "Ideas")))
    s.keys("Delete")
    question = s.window(" Delete folder")
    s.click(*button(question, "Yes"))
    s.gone(" Delete folder")
    state, folders = t.tree_matches_store("after Delete")
    c.check("Ideas" not in folders, "Ideas deleted")

    state = s.settle()  # a change's line comes after the tree shows it
    log = state.log[len(start_log.log):]
    kinds = [line.split(" ")[0] for line in log]
    c.equal([k for k in kinds if k.endswith("_FOLDER")],
            ["NEW_FOLDER", "RENAME_FOLDER", "RENAME_FOLDER", "MOVE_FOLDER", "DELETE_FOLDER"],
            "log: one line per folder change, in order")
    return folders


def list_matches_store(t, folder, what):
    messages = []

    def same(st):
        messages[:] = t.s.messages(folder)
        return [(listed_from(r.sender), r.subject, r.image) for r in st.rows] == \
            [(m.sender, m.subject, 1 if m.unread else 0) for m in messages]
    return t.wait(f"{what}: the list as the store has it", same), messages


def message_commands(t, folders):
    s, c = t.s, t.c
    state = s.state()
    s.click(*label_point(node(state, "Inbox")))
    state, inbox = list_matches_store(t, "Inbox", "the Inbox")
    if not c.check(len(inbox) >= 4, "the Inbox has messages to work on"):
        return
    picked = [inbox[0].id, inbox[2].id]
    # Pictures drawn for the DPI: rows as tall as a scaled picture.
    c.check(state.rows[1].icon[1] - state.rows[0].icon[1] >= scale(16),
            f"rows {state.rows[0].icon[1]}, {state.rows[1].icon[1]} fit a picture of {scale(16)}")

    # Two rows, by click and Ctrl+click; both marks from the keyboard menu.
    s.click(*row_point(state.rows[0]))
    s.click(*row_point(state.rows[2]), modifier="ctrl")
    s.keys("shift+F10")
    t.choose_in_menu(["Down"], anchor=state.rows[2].icon, what="message menu from the keyboard")
    state, inbox = list_matches_store(t, "Inbox", "after Mark as read")
    c.equal([m.unread for m in inbox if m.id in picked], [False, False], "both marked read")
    s.keys("Menu")
    t.choose_in_menu(["Down", "Down"])
    state, inbox = list_matches_store(t, "Inbox", "after Mark as unread")
    c.equal([m.unread for m in inbox if m.id in picked], [True, True], "both marked unread")

    # Copy both to Lists through the folder dialog, confirmed with Enter.
    lists_before = len(s.messages("Inbox/Lists"))
    s.keys("shift+F10")
    t.choose_in_menu(["Down"] * 4)
    t.pick_in_dialog("Lists", confirm_by_key=True)
    t.wait("the copies in Lists", lambda st: len(s.messages("Inbox/Lists")) == lists_before + 2)
    state, inbox = list_matches_store(t, "Inbox", "after Copy")
    c.equal(len(inbox), len(state.rows), "copying leaves the Inbox as it was")

    # Move one row to Q4.
    moved = inbox[1]
    q4 = "Archive/Année 2026/Q4"
    q4_before = len(s.messages(q4))
    s.click(*row_point(state.rows[1]))
    s.keys("shift+F10")
    t.choose_in_menu(["Down"] * 3)
    t.pick_in_dialog("Q4")
    state, inbox = list_matches_store(t, "Inbox", "after Move")
    c.check(moved.id not in [m.id for m in inbox], "the moved message left the Inbox")
    c.equal(len(s.messages(q4)), q4_before + 1, "Q4 holds the moved message")

    # Delete the first row with the Del key, the question answered with Y.
    gone = inbox[0]
    s.click(*row_point(state.rows[0]))
    s.keys("Delete")
    s.window(" Delete message(s)")
    s.keys("y")
    s.gone(" Delete message(s)")
    state, inbox = list_matches_store(t, "Inbox", "after Delete")
    c.check(gone.id not in [m.id for m in inbox], "the deleted message left the Inbox")

    log = s.settle().log  # a change's line comes after the list shows it
    for line in (f"MARKEDASREAD MsgId={picked[0]}", f"MARKEDASREAD MsgId={picked[1]}",
                 f"MARKEDASUNREAD MsgId={picked[0]}", f"DELETEMSGS MsgId={moved.id}",
                 f"DELETEMSGS MsgId={gone.id}"):
        c.check(line in log, f"log has {line!r}")


def body(s, c):
    s.make_store()
    s.start()
    t = Steps(s, c)
    state = s.wait_for("the window with its tree", lambda st: st.tree_count > 0)
    check_main_places(state, c)
    folders = folder_commands(t)
    message_commands(t, folders)
    state = s.settle()
    (s.out / "state.txt").write_text(state.raw)
    print(f"screenshot: {s.screenshot('commands.png')}")
    s.close()


if __name__ == "__main__":
    sys.exit(run(__doc__, body, dpi=DPI))
