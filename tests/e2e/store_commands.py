"""The program follows the mailstore tool's change commands run by another
process: mkdir, rename, move and rmdir of a folder, delete, copy and
move-messages. Each must give the log lines the same change through the store's
own objects gives, and the tree or the list must show the change."""

import sys

from harness import SAMPLES, listed_from, preorder, run

WAIT = 10  # seconds; the store picks up another writer's changes within about half a second
MESSAGE_LINES = ("NEWMSGS", "DELETEMSGS", "MARKEDAS")


def split(lines):
    """Message lines in order; folder lines sorted (the server's own tests check
    their order)."""
    messages = [l for l in lines if l.startswith(MESSAGE_LINES)]
    return messages, sorted(l for l in lines if not l.startswith(MESSAGE_LINES))


def counts(folder_id, unread):
    lines = [f"FOLDER_PROPS_CHANGED idFolderOld={folder_id} idFolderNew={folder_id}"]
    if unread:
        lines.append(f"UNREAD_CHANGE idFolderOld={folder_id} idFolderNew={folder_id}")
    return lines


def folder_line(kind, old, new):
    return f"{kind} idFolderOld={old} idFolderNew={new}"


def step(s, c, what, args, expect):
    """Runs the tool; expect() gives, read after the change, the message lines,
    the folder lines and what the window must then show. Waits for all of it,
    then checks the step's lines are exactly those."""
    start = len(s.settle().log)
    out = s.cli(*args)
    c.check(out.strip() != "", f"{what}: the tool said what it did")
    messages, folders, ready = expect()
    s.wait_for(f"{what}: {messages + folders}",
               lambda st: all(l in st.log[start:] for l in messages + folders) and ready(st),
               WAIT)
    state = s.settle()
    c.equal(split(state.log[start:]), (messages, sorted(folders)), f"{what}: the log lines")
    return state


def tree_is_listing(s):
    expected = [(f.depth, f.id, f.name) for f in preorder(s.folders(), by_id=True)]
    return lambda st: [(n.depth, n.id, n.text) for n in st.nodes] == expected


def rows_are_listing(s, folder):
    listed = [(m.sender, m.subject) for m in s.messages(folder)]
    return lambda st: [(listed_from(r.sender), r.subject) for r in st.rows] == listed


def folder_steps(s, c):
    store = s.store_win
    inbox = s.folders()[0]
    archive = next(f for f in s.folders() if f.name == "Archive")
    work = []

    def made():
        work.append(next(f for f in s.folders()[0].children if f.name == "Work").id)
        return [], [folder_line("NEW_FOLDER", inbox.id, work[0])], tree_is_listing(s)

    step(s, c, "mkdir", ["mkdir", store, "Inbox/Work"], made)
    if not work:
        return
    w = work[0]
    step(s, c, "rename", ["rename", store, f"#{w}", "Projects"],
         lambda: ([], [folder_line("RENAME_FOLDER", w, w)], tree_is_listing(s)))
    step(s, c, "move", ["move", store, "Inbox/Projects", "Archive"],
         lambda: ([], [folder_line("MOVE_FOLDER", inbox.id, w)], tree_is_listing(s)))
    state = step(s, c, "rmdir", ["rmdir", store, "Archive/Projects"],
                 lambda: ([], [folder_line("DELETE_FOLDER", archive.id, w)], tree_is_listing(s)))
    c.check(all(n.id != w for n in state.nodes), "rmdir: the node is gone")
    c.equal([n.id for n in state.selected], [inbox.id], "the selection stays on the Inbox")


def message_steps(s, c):
    store = s.store_win
    inbox = s.folders()[0]
    lists = next(f for f in inbox.children if f.name == "Lists")
    first = s.messages("Inbox")[0]
    step(s, c, "delete", ["delete", store, "Inbox", str(first.id)],
         lambda: ([f"DELETEMSGS MsgId={first.id}"], counts(inbox.id, first.unread),
                  rows_are_listing(s, "Inbox")))

    before = {m.id for m in s.messages("Inbox")}
    copied = s.messages("Inbox/Lists")
    new = []

    def copies():
        new.extend(m for m in s.messages("Inbox") if m.id not in before)
        return ([f"NEWMSGS MsgId={m.id}" for m in new],
                counts(inbox.id, any(m.unread for m in copied)), rows_are_listing(s, "Inbox"))

    step(s, c, "copy", ["copy", store, "Inbox/Lists", "Inbox", "all"], copies)
    if not c.equal(len(new), len(copied), "messages the copy made"):
        return
    moved = new[0]
    step(s, c, "move-messages", ["move-messages", store, "Inbox", "Inbox/Lists", str(moved.id)],
         lambda: ([f"DELETEMSGS MsgId={moved.id}"],
                  counts(inbox.id, moved.unread) + counts(lists.id, moved.unread),
                  rows_are_listing(s, "Inbox")))


def show_is_byte_for_byte(s, c):
    """The console program writes a stored source unchanged: CRLF stays CRLF."""
    listed = s.messages("Inbox/Lists")
    rc, _, err = s.wine([s.cli_exe, "show", s.store_win, "Inbox/Lists", str(listed[0].id)])
    c.equal(rc, 0, f"show ended well: {err}")
    c.equal((s.out / f"call{s.calls}.out").read_bytes(), (SAMPLES / "plain.eml").read_bytes(),
            "show's output, byte for byte")


def body(s, c):
    s.make_store()
    expected = len(s.messages("Inbox"))
    s.start()
    s.wait_for("the Inbox's messages in the list",
               lambda st: st.row_count == expected and len(st.log) >= 3)
    show_is_byte_for_byte(s, c)
    folder_steps(s, c)
    message_steps(s, c)
    (s.out / "state.txt").write_text(s.state().raw)
    s.screenshot("store-commands.png")
    s.close()


if __name__ == "__main__":
    sys.exit(run(__doc__, body))
