"""The reading pane as a user works it: F8 on, the arrow keys through messages
of every kind (plain quoted-printable, HTML only, base64 with attachments, a
nested message), each pane's text read back from outside and held against
Python's own decoding; an attachment saved with Enter and compared byte for
byte; F8 off again. Screenshots of each."""

import sys
import time
from email import policy
from email.message import EmailMessage
from email.parser import BytesParser

from harness import Failed, run
from message_props import window, xdotool

TEXT, ATTACHMENTS = 1101, 1102  # the pane's text box and attachment list


def messages():
    """name -> the source bytes of each kind of message."""
    out = {}
    plain = EmailMessage()
    plain["From"] = "Jürgen Beispiel <j@example.org>"
    plain["To"] = "Team <team@example.org>"
    plain["Subject"] = "Grüße aus Köln"
    plain["Date"] = "Mon, 07 Dec 2026 10:00:00 +0000"
    plain.set_content("Schöne Grüße\nvom Rhein, mit Umlauten: äöü ß\n", cte="quoted-printable")
    out["plain"] = plain.as_bytes(policy=policy.SMTP)

    html = EmailMessage()
    html["From"] = "News <news@example.org>"
    html["Subject"] = "Newsletter"
    html.set_content("<html><head><style>p{color:red}</style></head><body><h1>Weekly</h1>"
                     "<p>Read the <a href='https://example.org/x'>full story</a> &amp; more"
                     "</p><script>alert(1)</script></body></html>", subtype="html")
    out["html"] = html.as_bytes(policy=policy.SMTP)

    files = EmailMessage()
    files["From"] = "Sender <s@example.org>"
    files["Subject"] = "=?utf-8?B?QmVyaWNodCDDvGJlciBkYXMgSmFocg==?="
    files.set_content("Two files attached.\n")
    pdf = bytes(range(256)) * 40 + b"%%EOF\r\n\x00"
    files.add_attachment(pdf, maintype="application", subtype="pdf", filename="Bericht 2026.pdf")
    files.add_attachment("Zeile eins\r\nZeile zwei\r\n".encode("utf-8"), maintype="text",
                         subtype="plain", filename="notiz.txt")
    out["files"] = files.as_bytes(policy=policy.SMTP)

    inner = EmailMessage()
    inner["From"] = "Inner Author <inner@example.org>"
    inner["Subject"] = "Original question"
    inner.set_content("The inner words stay readable.\n")
    nested = EmailMessage()
    nested["From"] = "Forwarder <fw@example.org>"
    nested["Subject"] = "Fwd: Original question"
    nested.set_content("See below.\n")
    nested.add_attachment(inner, disposition="inline")
    out["nested"] = nested.as_bytes(policy=policy.SMTP)
    return out


def decoded(source):
    return BytesParser(policy=policy.default).parsebytes(source)


def pane_text(s):
    controls = window(s, "Brisvander")
    box = controls.get(TEXT)
    text = box.text.replace("\r\n", "\n").replace("\r", "\n") if box and box.visible else None
    return text, controls


def wait_text(s, c, words, what, seconds=10):
    deadline = time.monotonic() + seconds
    while True:
        text, controls = pane_text(s)
        if text is not None and all(w in text for w in words):
            return text, controls
        if time.monotonic() >= deadline:
            c.check(False, f"{what}: the pane shows {words}; it shows {text!r}")
            return text, controls
        time.sleep(0.3)


def body(s, c):
    s.make_store()
    sources = messages()
    for name, source in sources.items():
        path = s.out / f"{name}.eml"
        path.write_bytes(source)
        s.cli("import", "--create", s.store_win, "Reading", s.windows_path(path))
    folder = next(f for f in s.folders() if f.name == "Reading")
    s.start()
    s.wait_for("the tree", lambda st: st.tree_count > 0)
    s.select(folder.id)
    state = s.wait_for("the Reading folder's messages", lambda st: st.row_count == len(sources))

    _, controls = pane_text(s)
    c.check(TEXT not in controls or not controls[TEXT].visible, "the pane is off at start")
    s.screenshot("pane-off.png")

    first = state.rows[0]
    xdotool(s, "mousemove", first.icon[0] + 60, first.icon[1], "click", 1)
    xdotool(s, "key", "F8")

    plain = decoded(sources["plain"])
    expected = {
        "plain": [f"Subject: {plain['subject']}", "From: Jürgen Beispiel <j@example.org>",
                  plain.get_body().get_content().replace("\r\n", "\n").strip()],
        "html": ["Weekly", "full story <https://example.org/x> & more"],
        "files": [f"Subject: {decoded(sources['files'])['subject']}", "Two files attached."],
        "nested": ["See below.", "From: Inner Author <inner@example.org>",
                   "Subject: Original question", "The inner words stay readable."],
    }
    for i, name in enumerate(sources):
        if i:
            xdotool(s, "key", "Down")
        text, controls = wait_text(s, c, expected[name], name)
        if name == "html" and text is not None:
            c.check("alert" not in text and "color" not in text,
                    "script and style contents are not shown")
        s.screenshot(f"pane-{name}.png")
        listed = controls.get(ATTACHMENTS)
        c.equal(bool(listed and listed.visible), name == "files",
                f"{name}: the attachment list shows only with attachments")
        if name == "files" and listed:
            check_save(s, c, listed, decoded(sources["files"]))
            # Back to the message list, on the same row.
            row = s.state().rows[i]
            xdotool(s, "mousemove", row.icon[0] + 60, row.icon[1], "click", 1)

    xdotool(s, "key", "F8")
    _, controls = pane_text(s)
    c.check(TEXT in controls and not controls[TEXT].visible, "F8 turns the pane off again")
    s.close()


def check_save(s, c, listed, message):
    """Enter on the first attachment saves it; the file holds Python's decoding."""
    part = next(message.iter_attachments())
    want = part.get_payload(decode=True)
    target = s.out / "saved.pdf"
    x, y = (listed.rect[0] + 40, listed.rect[1] + 30)  # the first row, below the header
    xdotool(s, "mousemove", x, y, "click", 1)
    xdotool(s, "key", "Return")
    dialog = window(s, "Save attachment")
    names = [k.text for k in dialog.values()]
    c.check("Bericht 2026.pdf" in names, f"the dialog offers the attachment's name: {names}")
    xdotool(s, "key", "ctrl+a")
    xdotool(s, "type", "--delay", 20, s.windows_path(target))
    xdotool(s, "key", "Return")
    deadline = time.monotonic() + 15
    while not (target.exists() and target.read_bytes() == want) and time.monotonic() < deadline:
        time.sleep(0.3)
    c.check(target.exists() and target.read_bytes() == want,
            f"the saved attachment equals Python's decoding ({len(want)} bytes)")


if __name__ == "__main__":
    sys.exit(run(__doc__, body))
