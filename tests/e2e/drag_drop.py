"""Dragging with a real mouse: a row onto Deleted Items, a row with Ctrl held
onto another folder, and a folder under another, each first given up with
Escape; then a row onto a folder the tree scrolls into view while the pointer
rests at its bottom edge. What the store holds afterwards, by the mailstore
tool's listings, must be what the drops asked for, and the window must show it."""

import sys
import time

from harness import Failed, listed_from, node, preorder, run


def label_point(n):
    return n.icon[0] + 12, n.icon[1]


def drag(s, start, end, modifier=None, shot=None, escape=False, rest=0.3, during=None):
    """Button down, a move in small steps, a rest, button up; the screen taken
    just before the drop when asked, Escape pressed or `during` run before it
    when asked."""
    s.xdotool("mousemove", *start, "mousedown", 1)
    time.sleep(0.2)
    if modifier:
        s.xdotool("keydown", modifier)
    # A hand leaves the row slowly: the list only starts a drag on a move
    # that still lies inside it.
    for i in range(1, 4):
        s.xdotool("mousemove", start[0] + (3 * i if end[0] > start[0] else -3 * i),
                  start[1] + (2 * i if end[1] > start[1] else -2 * i))
        time.sleep(0.05)
    steps = 12
    for i in range(1, steps + 1):
        s.xdotool("mousemove", start[0] + (end[0] - start[0]) * i // steps,
                  start[1] + (end[1] - start[1]) * i // steps)
        time.sleep(0.05)
    time.sleep(rest)
    if shot:
        print(f"screenshot: {s.screenshot(shot)}")
    if during:
        during()
    if escape:
        s.xdotool("keydown", "Escape")
        time.sleep(0.15)
        s.xdotool("keyup", "Escape")
        time.sleep(0.3)
    s.xdotool("mouseup", 1)
    if modifier:
        s.xdotool("keyup", modifier)
    time.sleep(0.3)


def rows_match(s, folder):
    def same(st):
        listed = [(m.sender, m.subject) for m in s.messages(folder)]
        return [(listed_from(r.sender), r.subject) for r in st.rows] == listed
    return same


def subjects(s, folder):
    return sorted(m.subject for m in s.messages(folder))


def body(s, c):
    s.make_store()
    inbox = s.messages("Inbox")
    s.start()
    state = s.wait_for("the Inbox's messages in the list",
                       lambda st: st.row_count == len(inbox) and len(st.log) >= 3)
    if not c.check(len(inbox) >= 2, "the Inbox has messages to drag"):
        return
    deleted_before = subjects(s, "Deleted Items")
    lists_before = subjects(s, "Inbox/Lists")
    folders_before = preorder(s.folders(), by_id=True)

    # Escape before the release gives up a drag of a row and of a folder.
    drag(s, state.rows[0].icon, label_point(node(state, "Deleted Items")), escape=True)
    drag(s, label_point(node(state, "Lists")), label_point(node(state, "Archive")), escape=True)
    time.sleep(1)
    c.equal(subjects(s, "Deleted Items"), deleted_before, "Escape: no row moved")
    c.equal(preorder(s.folders(), by_id=True), folders_before, "Escape: no folder moved")
    c.equal(s.state().row_count, len(inbox), "Escape: the list as it was")

    # The first row onto Deleted Items: moved.
    first = state.rows[0]
    drag(s, first.icon, label_point(node(state, "Deleted Items")), shot="drag-row.png")
    state = s.wait_for("the row gone from the list",
                       lambda st: st.row_count == len(inbox) - 1, 15)
    c.equal(subjects(s, "Deleted Items"), sorted(deleted_before + [first.subject]),
            "Deleted Items holds the dropped message")
    remaining = [m.subject for m in inbox]
    remaining.remove(first.subject)
    c.equal(subjects(s, "Inbox"), sorted(remaining), "it left the Inbox")
    s.wait_for("the list as the store has it", rows_match(s, "Inbox"))

    # The next row with Ctrl held onto Lists: copied.
    state = s.state()
    second = state.rows[0]
    drag(s, second.icon, label_point(node(state, "Lists")), modifier="ctrl")
    s.wait_for("the copy in Lists",
               lambda st: len(s.messages("Inbox/Lists")) == len(lists_before) + 1, 15)
    c.equal(subjects(s, "Inbox/Lists"), sorted(lists_before + [second.subject]),
            "Lists holds a copy")
    state = s.wait_for("the list as the store has it", rows_match(s, "Inbox"))
    c.equal(state.row_count, len(inbox) - 1, "copying left the Inbox as it was")

    # Lists (under the Inbox) onto Archive: moved there with its message.
    drag(s, label_point(node(state, "Lists")), label_point(node(state, "Archive")),
         shot="drag-folder.png")

    def moved(st):
        folders = preorder(s.folders(), by_id=True)
        return [(n.depth, n.id, n.text) for n in st.nodes] == \
            [(f.depth, f.id, f.name) for f in folders] and \
            any(f.name == "Archive" and "Lists" in [g.name for g in f.children] for f in folders)
    s.wait_for("Lists under Archive, in the store and the tree", moved, 15)
    c.equal(len(s.messages("Archive/Lists")), len(lists_before) + 1, "Lists kept its messages")

    log = s.settle().log
    c.check(any(l.startswith("MOVE_FOLDER") for l in log), "the log has the folder's move")
    drop_scrolled_into_view(s, c)
    s.close()


def tree_box(state):
    """The tree's client area on screen, about: left, top, right, bottom."""
    tree = [p for p in state.places if p.cls == "SysTreeView32"][0]
    x, y = state.client[:2]
    return x + tree.left + 2, y + tree.top + 2, x + tree.right - 2, y + tree.bottom - 2


def drop_scrolled_into_view(s, c):
    """More folders than the tree shows; a row held at the tree's bottom edge
    until the last one comes into view, then dropped onto it."""
    for i in range(30):
        s.cli("mkdir", s.store_win, f"Many {i:02}")
    state = s.wait_for("the new folders in the tree",
                       lambda st: any(n.text == "Many 29" for n in st.nodes), 30)
    left, top, right, bottom = tree_box(state)
    c.check(node(state, "Many 29").icon[1] > bottom, "the last folder starts out of view")
    row = state.rows[0]
    s.xdotool("mousemove", *row.icon, "mousedown", 1)
    time.sleep(0.2)
    for i in range(1, 4):
        s.xdotool("mousemove", row.icon[0] - 3 * i, row.icon[1] + 2 * i)
        time.sleep(0.05)
    s.xdotool("mousemove", (left + right) // 2, bottom - 3)
    end = time.time() + 20
    target = None
    while time.time() < end and not target:
        time.sleep(0.5)
        n = node(s.state(), "Many 29")
        if top < n.icon[1] < bottom - 6:
            target = n
    if not target:
        s.xdotool("mouseup", 1)
        raise Failed("the tree did not scroll the last folder into view")
    print(f"screenshot: {s.screenshot('drag-scrolled.png')}")
    s.xdotool("mousemove", *label_point(target))
    time.sleep(0.4)
    s.xdotool("mouseup", 1)
    s.wait_for("the row moved into the scrolled-to folder",
               lambda st: len(s.messages("Many 29")) == 1, 15)
    c.equal([m.subject for m in s.messages("Many 29")], [row.subject],
            "the folder scrolled into view holds the row")


if __name__ == "__main__":
    sys.exit(run(__doc__, body))
