"""Sorting, finding and deleting in the message list as a user does them: real
clicks on the Received header, Ctrl+F, typing, Enter, F3, the find box's
Previous button, Delete. The rows and the selection are read back from outside
and compared with what the store's listing in the window's first order
implies; a screenshot shows the sorted list's arrow. A right-click on the
headers opens no menu."""

import sys
import unicodedata
from datetime import datetime

from harness import Failed, run


def when(text):
    for form in ("%m/%d/%Y %I:%M:%S %p", "%m/%d/%Y"):
        try:
            return datetime.strptime(text, form)
        except ValueError:
            pass
    raise Failed(f"a Received text that is no date: {text!r}")


def shown(state):
    return [(r.sender, r.subject, r.received) for r in state.rows]


def check_sorted(s, c, store_order, descending):
    """One click on the Received header, then the rows as a stable sort of the
    store's order by time, either way, and the header's arrow."""
    before = s.state()
    left, top, right, bottom, _ = before.headers[2]
    s.click((left + right) // 2, (top + bottom) // 2)
    # Python's sort keeps ties in their order both ways, as the list must.
    keyed = sorted(store_order, key=lambda row: when(row[2]), reverse=descending)
    state = s.wait_for("the rows sorted by Received", lambda st: shown(st) == keyed, 10)
    c.equal(shown(state), keyed, f"rows by Received, {'newest' if descending else 'oldest'} first")
    c.equal([h[4] for h in state.headers], [0, 0, 2 if descending else 1, 0],
            "only the Received header has an arrow, pointing the sort's way")
    return state


def fold(text):
    """Lower case without accents."""
    parts = unicodedata.normalize("NFD", text.lower())
    return "".join(ch for ch in parts if not unicodedata.combining(ch))


def next_match(rows, text, start, forward=True):
    count = len(rows)
    for step in range(1, count + 1):
        i = (start + (step if forward else -step)) % count
        if fold(text) in fold(rows[i].sender) or fold(text) in fold(rows[i].subject):
            return i
    return None


def button(window, text):
    """The middle of a window's button on screen."""
    for p in window.places:
        if p.cls == "Button" and p.text.replace("&", "") == text:
            x, y = window.client[:2]
            return x + (p.left + p.right) // 2, y + (p.top + p.bottom) // 2
    raise Failed(f"no button {text!r} in the window: {window.places}")


def find_accents_and_previous(s, c, rows):
    """In the open find box: a word without its accents found by Previous, and
    a word no row holds said in the box."""
    box = s.window("Find")
    main = s.window("Brisvander")
    bx, by, bw, bh = box.client
    mx, my, mw, mh = main.client
    c.check(mx <= bx and bx + bw <= mx + mw and my <= by and by + bh <= my + mh,
            f"the find box {box.client} lies over the main window {main.client}")
    s.keys("End", "shift+Home")
    s.type("renee")
    focus = [r.index for r in s.state().rows if r.selected][0]
    s.click(*button(box, "Previous"))
    want = next_match(rows, "renee", focus, forward=False)
    c.check(want is not None and "é" in rows[want].sender + rows[want].subject,
            "a row holds the word with its accent")
    state = s.wait_for("the accented row selected", lambda st: selected(st) == [want], 10)
    c.equal(selected(state), [want], "Previous: the row before the focus holding 'renée'")
    edit = next(p for p in box.places if p.cls == "Edit")
    s.click(bx + (edit.left + edit.right) // 2, by + (edit.top + edit.bottom) // 2)
    s.keys("End", "shift+Home")
    s.type("no such words")
    s.click(*button(box, "Next"))
    box = s.window("Find")
    c.check(any(p.text == "Not found" for p in box.places), "the box says Not found")
    c.equal(selected(s.state()), [want], "nothing found: the selection stays")
    s.screenshot("not-found.png")


def header_menu_and_delete(s, c):
    """A right-click on the headers opens no menu; Delete of two rows leaves
    the row after them selected."""
    state = s.state()
    left, top, right, bottom, _ = state.headers[1]
    s.click((left + right) // 2, (top + bottom) // 2, button=3)
    try:
        s.window("#menu", seconds=2)
        c.check(False, "a right-click on the headers opens no menu")
        s.keys("Escape")
    except Failed:
        pass
    rows = state.rows
    s.click(rows[2].icon[0] + 60, rows[2].icon[1])
    s.click(rows[3].icon[0] + 60, rows[3].icon[1], modifier="shift")
    s.keys("Delete")
    s.window(" Delete message(s)")
    s.keys("y")
    s.gone(" Delete message(s)")
    state = s.wait_for("two rows fewer", lambda st: st.row_count == len(rows) - 2, 10)
    state = s.wait_for("a row selected after the delete", lambda st: selected(st), 10)
    c.equal(selected(state), [2], "after the delete the row after the deleted ones is selected")
    c.equal((state.rows[2].sender, state.rows[2].subject), (rows[4].sender, rows[4].subject),
            "and it is the row that followed them")


def selected(state):
    return [r.index for r in state.rows if r.selected]


def body(s, c):
    s.make_store()
    messages = s.messages("Inbox")
    s.start()
    state = s.wait_for("the Inbox's messages in the list",
                       lambda st: st.row_count == len(messages) and len(st.headers) == 4)
    state = s.settle()
    store_order = shown(state)
    c.check(len({when(r[2]) for r in store_order}) >= 3, "the Inbox has several received times")

    check_sorted(s, c, store_order, descending=False)
    state = check_sorted(s, c, store_order, descending=True)
    png = s.screenshot("sorted-by-received.png")
    print(f"screenshot: {png}")

    # Ctrl+F from the list, with the focus on the first row.
    rows = state.rows
    s.click(rows[0].icon[0] + 60, rows[0].icon[1])
    s.keys("ctrl+f")
    box = s.window("Find")
    c.equal(sorted(p.text.replace("&", "") for p in box.places if p.cls == "Button"),
            ["Close", "Next", "Previous"], "the find box's buttons")
    # A word of several subjects, typed in another case.
    word = "the"
    hits = [r.index for r in rows if word in r.subject.lower()]
    c.check(len(hits) >= 2 and not any(word in r.sender.lower() for r in rows),
            f"subjects of rows {hits}, and no sender, hold {word!r}")
    s.type(word.upper())
    s.keys("Return")
    first = next_match(rows, word, 0)
    state = s.wait_for("the first match selected", lambda st: selected(st) == [first], 10)
    c.equal(selected(state), [first], f"Enter: the first row after the focus holding {word!r}")
    s.keys("F3")
    second = next_match(rows, word, first)
    state = s.wait_for("the next match selected", lambda st: selected(st) == [second], 10)
    c.equal(selected(state), [second], "F3: the next row holding it, wrapping")
    s.keys("shift+F3")
    state = s.wait_for("the previous match selected", lambda st: selected(st) == [first], 10)
    c.equal(selected(state), [first], "Shift+F3: back to the one before")
    c.check(first != second and second in hits, "F3 went on to another subject holding it")
    s.screenshot("found.png")
    find_accents_and_previous(s, c, rows)
    s.keys("Escape")

    # Typing in the list: the next row whose sender starts with the letter.
    s.click(rows[0].icon[0] + 60, rows[0].icon[1])
    letter = rows[-1].sender[0].lower()
    starts = [i for i in list(range(1, len(rows))) + [0] if rows[i].sender.lower().startswith(letter)]
    s.type(letter)
    state = s.wait_for("the typed sender selected", lambda st: selected(st) == starts[:1], 10)
    c.equal(selected(state), starts[:1], f"typing {letter!r}: the next sender starting with it")
    header_menu_and_delete(s, c)
    s.close()


if __name__ == "__main__":
    sys.exit(run(__doc__, body))
