"""The program on a fresh demo store: the tree, the folder panel, the message
list and the log as another program on the desktop reads them, compared with
what the mailstore tool says the store holds, and a screenshot."""

import sys

from harness import distinct_colours, listed_from, preorder, run


def check_tree(state, folders, c):
    expected = preorder(folders, by_id=True)
    c.equal(state.tree_count, len(expected), "tree node count")
    c.equal([(n.depth, n.id, n.text) for n in state.nodes],
            [(f.depth, f.id, f.name) for f in expected],
            "tree nodes (depth, folder id, name), siblings in id order")
    c.equal([(n.id, n.image, n.selected_image) for n in state.nodes],
            [(f.id, f.image, f.image) for f in expected], "tree images by folder type")
    parents = [f.id for f in expected if f.children]
    c.check(len(parents) >= 2 and max(f.depth for f in expected) >= 2,
            "the store has nested folders to expand")
    c.equal(sorted(n.id for n in state.nodes if n.expanded and n.children),
            sorted(parents), "expanded nodes: every node with sub-folders")
    c.equal([n.id for n in state.selected], [expected[0].id if expected else None],
            "the selected node is the first top-level folder")
    return expected


def check_panel(state, inbox, c):
    c.equal(state.panel(), {
        "FolderId:": str(inbox.id),
        "Number of sub-folders:": str(len(inbox.children)),
        "Folder type:": "Default INBOX folder",
        "Number of messages:": str(inbox.messages),
        "Number of un-read messages:": str(inbox.unread),
    }, "folder panel")


def check_list(state, messages, c):
    c.equal(state.columns, ["From", "Subject", "Received", ""], "list columns")
    c.equal(state.row_count, len(messages), "list rows")
    c.check(len({m.unread for m in messages}) == 2 and any(m.flagged for m in messages),
            "the demo mail has read, unread and flagged messages")
    for row, m in zip(state.rows, messages):
        where = f"row {row.index} (message {m.id})"
        c.equal(listed_from(row.sender), m.sender, f"{where} From")
        c.equal(row.subject, m.subject, f"{where} Subject")
        c.equal(row.image, 1 if m.unread else 0, f"{where} read-state image")
        c.check((row.flag_image == 3) == m.flagged,
                f"{where}: flag image {row.flag_image}, flagged {m.flagged}")
        c.check(row.received != "", f"{where}: a received time")


def check_pictures(png, state, c):
    """Icons really drawn: a plain background with a tree line has at most two
    colours; every folder and message picture has more."""
    for n in state.nodes:
        x, y = n.icon
        c.check(distinct_colours(png, x - 17, y - 6, 15, 12) >= 3,
                f"folder picture of {n.text!r} at {x - 17},{y - 6} in the screenshot")
    for r in state.rows:
        x, y = r.icon
        c.check(distinct_colours(png, x - 6, y - 6, 12, 12) >= 3,
                f"message picture of row {r.index} at {x - 6},{y - 6} in the screenshot")


def body(s, c):
    s.make_store()
    folders = s.folders()
    messages = s.messages("Inbox")
    inbox = folders[0] if folders else None
    if not c.check(inbox is not None and inbox.type == "inbox", "the store's first folder is the Inbox"):
        return
    s.start()
    state = s.wait_for("the Inbox's messages in the list",
                       lambda st: st.row_count == len(messages) and st.tree_count > 0)
    (s.out / "state.txt").write_text(state.raw)

    check_tree(state, folders, c)
    check_panel(state, inbox, c)
    check_list(state, messages, c)
    c.equal([line.lower() for line in state.log],
            ["path of mail message store:", s.store_win.lower(), ""],
            "log: the store's path and nothing else")

    png = s.screenshot("store-view.png")
    check_pictures(png, state, c)
    print(f"screenshot: {png}")
    s.close()


if __name__ == "__main__":
    sys.exit(run(__doc__, body))
