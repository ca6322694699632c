"""The program on a fresh demo store: the tree, the folder panel, the message
list and the log as another program on the desktop reads them, compared with
what the mailstore tool says the store holds, and a screenshot."""

import sys

from harness import listed_from, panel_of, pixels, preorder, run


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
    c.equal(state.panel(), panel_of(inbox), "folder panel")


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
    """The pictures on screen follow the image indices: two nodes (rows) show the
    same picture exactly when they have the same index. Missing or unset image
    lists leave blank or line-only places, which fails this for the special
    folders and for read against unread rows."""
    def same_as_indices(items, crop, what):
        shots = [pixels(png, *crop(i)) for i in items]
        wrong = [(a, b) for a in range(len(items)) for b in range(a + 1, len(items))
                 if (shots[a] == shots[b]) != (items[a].image == items[b].image)]
        c.check(len({i.image for i in items}) >= 2, f"{what}: more than one image index")
        c.equal(wrong, [], f"{what}: pairs whose pictures disagree with their image indices")

    same_as_indices(state.nodes, lambda n: (n.icon[0] - 16, n.icon[1] - 6, 14, 12),
                    "tree nodes")
    same_as_indices(state.rows, lambda r: (r.icon[0] - 6, r.icon[1] - 6, 12, 12), "rows")


def body(s, c):
    s.make_store()
    folders = s.folders()
    messages = s.messages("Inbox")
    inbox = folders[0] if folders else None
    if not c.check(inbox is not None and inbox.type == "inbox",
                   "the store's first folder is the Inbox"):
        return
    s.start()
    state = s.wait_for("the Inbox's messages in the list",
                       lambda st: st.row_count == len(messages) and st.tree_count > 0)
    # A quiet log for a while: nothing else comes, and the window had time to paint.
    state = s.settle()
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
