"""The program keeps up with another process: while it shows the Inbox, the
mailstore tool imports a message into it, marks it read, marks the whole folder
unread, imports a burst, creates a folder and compacts the store; then another
folder is selected, and changes to the Inbox must no longer reach the list
while the shown folder's do. The window's log, list and tree must follow."""

import os
import sys
import time

from harness import listed_from, panel_of, preorder, run

WAIT = 10  # seconds; the store picks up another writer's changes within about half a second


def log_after(state, start):
    return state.log[start:]


def row_view(rows):
    return [(r.sender, r.subject, r.image, r.flag_image) for r in rows]


def import_message(s, c, before_rows, log_start):
    """One more message into the Inbox: a NEWMSGS line and a row in store order."""
    before_ids = {m.id for m in s.messages("Inbox")}
    subject = f"Live import check {os.getpid()}-{int(time.time())}"
    sender = "Ivan Example <ivan@example.org>"
    path = s.write_message("live.eml", sender, subject, "Sent while the window was open.")
    out = s.cli("import", s.store_win, "Inbox", path)
    c.check("Imported 1 message" in out, f"the tool imported the message: {out.strip()}")
    after = s.messages("Inbox")
    new = [m for m in after if m.id not in before_ids]
    if not c.equal(len(new), 1, "new messages the tool lists"):
        return None
    msg = new[0]
    position = after.index(msg)
    inbox = s.folders()[0].id

    line = f"NEWMSGS MsgId={msg.id}"
    props = f"FOLDER_PROPS_CHANGED idFolderOld={inbox} idFolderNew={inbox}"
    state = s.wait_for(f'"{line}", "{props}" and a new row',
                       lambda st: line in log_after(st, log_start) and
                       props in log_after(st, log_start) and
                       st.row_count == len(before_rows) + 1, WAIT)
    lines = log_after(state, log_start)
    c.equal(lines.count(line), 1, f'"{line}" lines')
    c.check(f"UNREAD_CHANGE idFolderOld={inbox} idFolderNew={inbox}" in lines,
            f"an UNREAD_CHANGE line for the Inbox: {lines}")
    row = state.rows[position]
    c.equal((listed_from(row.sender), row.subject, row.image),
            (msg.sender, subject, 1), f"the new row at store position {position}")
    others = state.rows[:position] + state.rows[position + 1:]
    c.equal(row_view(others), row_view(before_rows), "the other rows, unchanged and in order")
    return msg, position, state


def mark_read(s, c, msg, position, before, log_start):
    s.cli("mark", s.store_win, "Inbox", "read", str(msg.id))
    line = f"MARKEDASREAD MsgId={msg.id}"
    state = s.wait_for(f'"{line}" and row {position} shown read',
                       lambda st: line in log_after(st, log_start) and
                       len(st.rows) > position and st.rows[position].image == 0, WAIT)
    c.equal(log_after(state, log_start).count(line), 1, f'"{line}" lines')
    c.equal([r.image for r in state.rows],
            [0 if r.index == position else r.image for r in before.rows],
            "row images after marking one message read")


def mark_all_unread(s, c, before, log_start):
    c.check(any(r.image == 0 for r in before.rows), "some rows show read before")
    s.cli("mark", s.store_win, "Inbox", "unread", "all")
    line = "MARKEDASUNREAD All messages in the folder"
    state = s.wait_for(f'"{line}" and every row unread',
                       lambda st: line in log_after(st, log_start) and
                       all(r.image == 1 for r in st.rows), WAIT)
    c.equal(len(state.rows), len(before.rows), "rows after marking all unread")
    c.equal(log_after(state, log_start).count(line), 1, f'"{line}" lines')


def import_burst(s, c, before, log_start):
    """Many messages at once: one NEWMSGS each, and the list ends in store order.
    Among them a message without From and Subject, and one with a long subject."""
    folder = s.out / "burst"
    folder.mkdir()
    count = 30
    for i in range(count):
        sender = f"From: Sender {i:02} Example <s{i}@example.org>\r\n" if i != 3 else ""
        subject = {3: "", 4: f"Subject: {'A long subject line ' * 20}end\r\n"}.get(
            i, f"Subject: Burst message {i:02}\r\n")
        (folder / f"m{i:02}.eml").write_bytes(
            (f"{sender}To: team@example.org\r\n{subject}"
             f"Date: Mon, 07 Dec 2026 {8 + i % 3:02}:{i:02}:00 +0000\r\n\r\nBody {i}\r\n")
            .encode())
    out = s.cli("import", s.store_win, "Inbox", s.windows_path(folder))
    c.check(f"Imported {count} messages" in out, f"the tool imported the burst: {out.strip()}")
    listed = s.messages("Inbox")
    state = s.wait_for(f"{count} more rows",
                       lambda st: st.row_count == len(before.rows) + count and
                       sum(l.startswith("NEWMSGS") for l in log_after(st, log_start)) >= count,
                       WAIT)
    c.equal(sum(l.startswith("NEWMSGS") for l in log_after(state, log_start)), count,
            "NEWMSGS lines for the burst")
    c.equal([(listed_from(r.sender), r.subject, r.image, r.flag_image == 3) for r in state.rows],
            [(m.sender, m.subject, 1 if m.unread else 0, m.flagged) for m in listed],
            "rows after the burst, in the store's order")


def create_folder(s, c, before, log_start):
    """A folder made by the tool appears in the tree; the selection and the list stay."""
    path = s.write_message("folder.eml", "Judy Example <judy@example.org>", "Filed away",
                           "Goes to a new folder.")
    s.cli("import", "--create", s.store_win, "Inbox/Live", path)
    folders = s.folders()
    inbox = folders[0]
    live = [f for f in inbox.children if f.name == "Live"]
    if not c.equal(len(live), 1, "Inbox/Live in the tool's folder listing"):
        return
    line = f"NEW_FOLDER idFolderOld={inbox.id} idFolderNew={live[0].id}"
    state = s.wait_for(f'"{line}" and the new node',
                       lambda st: line in log_after(st, log_start) and
                       any(n.id == live[0].id for n in st.nodes), WAIT)
    expected = preorder(folders, by_id=True)
    c.equal([(n.depth, n.id, n.text, n.image) for n in state.nodes],
            [(f.depth, f.id, f.name, f.image) for f in expected], "tree after the new folder")
    c.equal(sorted(n.id for n in state.nodes if n.children and not n.expanded), [],
            "nodes with sub-folders left collapsed")
    c.equal([n.id for n in state.selected], [inbox.id], "the selection stays on the Inbox")
    c.equal(row_view(state.rows), row_view(before.rows), "the Inbox's rows stay as they were")
    c.check(not any(l.startswith("NEWMSGS") for l in log_after(state, log_start)),
            "no NEWMSGS for a message that went to another folder")


def compact_then_import(s, c, before, log_start):
    """Compaction by another process rewrites the store's files; later changes
    must still reach the window."""
    s.cli("compact", s.store_win)
    before_ids = {m.id for m in s.messages("Inbox")}
    s.cli("import", s.store_win, "Inbox",
          s.write_message("compacted.eml", "Mona Example <mona@example.org>", "After compaction",
                          "-"))
    listed = s.messages("Inbox")
    new = [m for m in listed if m.id not in before_ids]
    if not c.equal(len(new), 1, "the message imported after compaction"):
        return
    line = f"NEWMSGS MsgId={new[0].id}"
    state = s.wait_for(f'"{line}" after a compaction',
                       lambda st: line in log_after(st, log_start) and
                       st.row_count == len(before.rows) + 1, WAIT)
    c.equal([(listed_from(r.sender), r.subject) for r in state.rows],
            [(m.sender, m.subject) for m in listed], "rows after compaction and an import")
    c.equal([l for l in log_after(state, log_start) if l.startswith(("NEWMSGS", "DELETEMSGS",
                                                                     "MARKED"))],
            [line], "message lines after compaction and one import")


def top_level_folder(s, c, log_start):
    """A new folder while a sub-folder is shown: the rebuilt tree keeps that
    selection, and the list and panel stay."""
    before = s.state()
    selected = [n.id for n in before.selected]
    s.cli("import", "--create", s.store_win, "Projects",
          s.write_message("project.eml", "Nina Example <nina@example.org>", "Kick-off", "-"))
    folders = s.folders()
    made = [f for f in folders if f.name == "Projects"]
    if not c.equal(len(made), 1, "Projects in the tool's folder listing"):
        return
    line = f"NEW_FOLDER idFolderOld=0 idFolderNew={made[0].id}"
    state = s.wait_for(f'"{line}" and the new top-level node',
                       lambda st: line in log_after(st, log_start) and
                       any(n.id == made[0].id and n.depth == 0 for n in st.nodes), WAIT)
    c.equal([(n.depth, n.id, n.text) for n in state.nodes],
            [(f.depth, f.id, f.name) for f in preorder(folders, by_id=True)],
            "tree after a new top-level folder")
    c.equal([n.id for n in state.selected], selected, "the selection after the rebuild")
    c.equal(state.panel(), before.panel(), "the folder panel after the rebuild")
    c.equal(row_view(state.rows), row_view(before.rows), "the rows after the rebuild")


def switch_folder(s, c, log_start):
    """Selecting another folder loads it and moves the list's registration: the
    Inbox's new mail no longer reaches the list, the shown folder's does."""
    folders = s.folders()
    inbox = folders[0]
    lists = next(f for f in inbox.children if f.name == "Lists")
    shown = s.messages("Inbox/Lists")
    s.select(lists.id)
    state = s.wait_for("the Lists folder in the panel and the list",
                       lambda st: st.panel().get("FolderId:") == str(lists.id) and
                       st.row_count == len(shown), WAIT)
    c.equal([n.id for n in state.selected], [lists.id], "the selected node after a click")
    c.equal(state.panel(), panel_of(lists), "the folder panel of Lists")
    c.equal([(listed_from(r.sender), r.subject) for r in state.rows],
            [(m.sender, m.subject) for m in shown], "the rows of Lists")

    before_ids = {m.id for m in s.messages("Inbox")}
    s.cli("import", s.store_win, "Inbox",
          s.write_message("unseen.eml", "Karl Example <karl@example.org>", "Not shown", "-"))
    inbox_new = [m.id for m in s.messages("Inbox") if m.id not in before_ids]
    # The namespace's counts line comes once the store delivered the import.
    props = f"FOLDER_PROPS_CHANGED idFolderOld={inbox.id} idFolderNew={inbox.id}"
    state = s.wait_for(f'"{props}" after an import into the Inbox',
                       lambda st: props in log_after(st, log_start), WAIT)
    c.equal(len(inbox_new), 1, "the message imported into the Inbox")
    c.equal([l for l in log_after(state, log_start) if l.startswith("NEWMSGS")], [],
            "NEWMSGS lines for the Inbox while Lists is shown")
    c.equal(state.row_count, len(shown), "rows of Lists after an import into the Inbox")

    log_start = len(s.settle().log)
    before_ids = {m.id for m in shown}
    s.cli("import", s.store_win, "Inbox/Lists",
          s.write_message("listed.eml", "Lena Example <lena@example.org>", "List traffic", "-"))
    new = [m for m in s.messages("Inbox/Lists") if m.id not in before_ids]
    if not c.equal(len(new), 1, "the message imported into Lists"):
        return
    line = f"NEWMSGS MsgId={new[0].id}"
    state = s.wait_for(f'"{line}" and a new row in Lists',
                       lambda st: line in log_after(st, log_start) and
                       st.row_count == len(shown) + 1, WAIT)
    c.check(any(r.subject == "List traffic" for r in state.rows), "the new row in Lists")


def back_to_inbox(s, c):
    """The Inbox is read afresh when selected again, with the mail that came while away."""
    inbox = s.folders()[0]
    s.select(inbox.id)
    listed = s.messages("Inbox")
    state = s.wait_for("the Inbox again",
                       lambda st: st.panel().get("FolderId:") == str(inbox.id) and
                       st.row_count == len(listed), WAIT)
    c.equal([(listed_from(r.sender), r.subject, r.image) for r in state.rows],
            [(m.sender, m.subject, 1 if m.unread else 0) for m in listed],
            "the Inbox's rows after coming back to it")
    c.equal(state.panel(), panel_of(inbox), "the Inbox's panel after coming back to it")


def body(s, c):
    s.make_store()
    expected = len(s.messages("Inbox"))
    s.start()
    state = s.wait_for("the Inbox's messages in the list",
                       lambda st: st.row_count == expected and len(st.log) >= 3)
    c.equal(state.log[0], "PATH OF MAIL MESSAGE STORE:", "first log line")

    # Each step starts once the previous one's notifications are all in.
    imported = import_message(s, c, state.rows, len(state.log))
    if imported:
        msg, position, state = imported
        state = s.settle()
        mark_read(s, c, msg, position, state, len(state.log))
        state = s.settle()
        mark_all_unread(s, c, state, len(state.log))
        state = s.settle()
        import_burst(s, c, state, len(state.log))
    state = s.settle()
    create_folder(s, c, state, len(state.log))
    state = s.settle()
    compact_then_import(s, c, state, len(state.log))
    switch_folder(s, c, len(s.settle().log))
    top_level_folder(s, c, len(s.settle().log))
    back_to_inbox(s, c)
    (s.out / "state.txt").write_text(s.state().raw)
    s.screenshot("live-updates.png")
    s.close()


if __name__ == "__main__":
    sys.exit(run(__doc__, body))
