"""Sorting and finding in the message list as a user does them: real clicks on
the Received header, Ctrl+F, typing, Enter and F3. The rows and the selection
are read back from outside and compared with what the store's listing in the
window's first order implies; a screenshot shows the sorted list's arrow."""

import sys
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


def next_match(rows, text, start, forward=True):
    count = len(rows)
    for step in range(1, count + 1):
        i = (start + (step if forward else -step)) % count
        if text in rows[i].sender.lower() or text in rows[i].subject.lower():
            return i
    return None


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
            ["Close", "Find next"], "the find box's buttons")
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
    s.keys("Escape")

    # Typing in the list: the next row whose sender starts with the letter.
    s.click(rows[0].icon[0] + 60, rows[0].icon[1])
    letter = rows[-1].sender[0].lower()
    starts = [i for i in list(range(1, len(rows))) + [0] if rows[i].sender.lower().startswith(letter)]
    s.type(letter)
    state = s.wait_for("the typed sender selected", lambda st: selected(st) == starts[:1], 10)
    c.equal(selected(state), starts[:1], f"typing {letter!r}: the next sender starting with it")
    s.close()


if __name__ == "__main__":
    sys.exit(run(__doc__, body))
