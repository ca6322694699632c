"""Holds the portable mail code against Python's email package on a corpus of
messages: the same parts in the same order, each part's decoded bytes, names,
and text; the attachments listed; and the pane's text holding each shown
body and each message's Subject and From.

Where the two differ on purpose the comparison says how: HTML is compared by
its visible characters (the pane lays it out as text, with link targets),
format=flowed lines are joined (Python leaves them as sent), control
characters are dropped (the pane never shows them), a multipart without any
of its delimiters is shown as text (Python keeps the type, with a defect),
ISO-2022-JP includes the half-width katakana set (as Python's iso2022_jp_ext
reads it), and of a multipart/alternative only the alternative shown has its
parts listed (as Python's iter_attachments lists none of them).

Usage: mime_corpus.py MIME_DUMP CORPUS_DIR"""

import html.parser
import pathlib
import re
import subprocess
import sys
from email import policy
from email.parser import BytesParser


def dump(program, path):
    parts, attachments, shown = [], [], None
    out = subprocess.run([program, str(path)], check=True, capture_output=True).stdout
    for line in out.decode("ascii").splitlines():
        f = line.split("\t")
        if f[0] == "part":
            parts.append({"parent": int(f[2]), "type": f[3], "name": bytes.fromhex(f[4]).decode(),
                          "bytes": bytes.fromhex(f[5]), "text": bytes.fromhex(f[6]).decode()})
        elif f[0] == "attachment":
            attachments.append(int(f[1]))
        elif f[0] == "shown":
            shown = bytes.fromhex(f[1]).decode()
    return parts, attachments, shown


def clean(text):
    text = text.replace("\r\n", "\n").replace("\r", "\n")
    return "".join(c for c in text if c in "\n\t" or not (ord(c) < 32 or ord(c) == 127))


def join_flowed(text, delsp):
    """RFC 3676, written from the RFC, not from the code under test."""
    out, lines = [], text.split("\n")
    for n, line in enumerate(lines):
        if line.startswith(" "):
            line = line[1:]
        last = n == len(lines) - 1
        soft = line.endswith(" ") and line != "-- " and not last
        if soft and delsp:
            line = line[:-1]
        out.append(line + ("" if soft or last else "\n"))
    return "".join(out)


class Visible(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.skip, self.text = 0, []

    def handle_starttag(self, tag, attrs):
        self.skip += tag in ("script", "style", "title")

    def handle_endtag(self, tag):
        self.skip -= tag in ("script", "style", "title") and self.skip > 0

    def handle_data(self, data):
        if not self.skip:
            self.text.append(data)


def squeeze(text):
    return re.sub(r"\s+", "", text)


def python_text(part):
    """What Python decodes of a text part, made comparable as the docstring says."""
    if part.is_multipart() or part.get_content_maintype() == "multipart":
        return clean(part.get_payload(decode=True).decode("utf-8", "replace"))
    if part.get_content_charset() == "iso-2022-jp":
        text = clean(part.get_payload(decode=True).decode("iso2022_jp_ext", "replace"))
    else:
        text = clean(part.get_content())
    if part.get_content_subtype() == "html":
        visible = Visible()
        visible.feed(text)
        return squeeze("".join(visible.text))
    if part.get_param("format", "").lower() == "flowed":
        text = join_flowed(text, part.get_param("delsp", "").lower() == "yes")
    return text


def address(header):
    return ", ".join(f"{a.display_name} <{a.addr_spec}>" if a.display_name else a.addr_spec
                     for a in header.addresses)


def walk(part, parent=-1, out=None):
    """Python's walk() order, with each part's parent."""
    out = [] if out is None else out
    out.append((part, parent))
    if part.is_multipart():
        me = len(out) - 1
        for child in part.get_payload():
            walk(child, me, out)
    return out


def shown_alternatives(parts):
    """Whether each part is in what the pane shows of every alternative above it:
    the last plain text, else the last HTML, else the last part."""
    shown = [True] * len(parts)
    for i, (part, parent) in enumerate(parts):
        if parent >= 0 and not shown[parent]:
            shown[i] = False
        if part.get_content_type() != "multipart/alternative" or not part.is_multipart():
            continue
        children = [k for k, (_, p) in enumerate(parts) if p == i]
        texts = [[k for k in children if parts[k][0].get_content_type() == t
                  and not parts[k][0].is_attachment()] for t in ("text/plain", "text/html")]
        chosen = (texts[0] or texts[1] or children or [None])[-1]
        for k in children:
            shown[k] = k == chosen
    return shown


def compare(program, path, failures):
    def check(ok, what):
        if not ok:
            failures.append(f"{path.name}: {what}")

    parts, attachments, shown = dump(program, path)
    ours_all = list(enumerate(parts))
    tree = walk(BytesParser(policy=policy.default).parsebytes(path.read_bytes()))
    theirs = [part for part, _ in tree]
    visible = shown_alternatives(tree)
    check(len(parts) == len(theirs), f"{len(parts)} parts, Python {len(theirs)}")
    for (i, ours), (part, parent) in zip(ours_all, tree):
        check(ours["parent"] == parent, f"part {i} is in {ours['parent']}, Python {parent}")
        broken = part.get_content_maintype() == "multipart" and not part.is_multipart()
        want_type = "text/plain" if broken else part.get_content_type()
        check(ours["type"] == want_type, f"part {i} is {ours['type']}, Python {want_type}")
        if part.get_filename() is not None:
            check(ours["name"] == part.get_filename(),
                  f"part {i} is named {ours['name']!r}, Python {part.get_filename()!r}")
        if part.is_multipart():
            continue
        check(ours["bytes"] == part.get_payload(decode=True),
              f"part {i}: the decoded bytes differ ({len(ours['bytes'])} against "
              f"{len(part.get_payload(decode=True))})")
        if part.get_content_maintype() == "text" or broken:
            mine = squeeze(ours["text"]) if part.get_content_subtype() == "html" else ours["text"]
            mine = re.sub(r"<https?:[^>]*>", "", mine)  # the pane's link targets
            check(mine == python_text(part),
                  f"part {i}: text {mine!r}, Python {python_text(part)!r}")
            if visible[i] and i not in attachments and part.get_content_subtype() == "plain":
                check(ours["text"].strip("\n") in shown, f"part {i}: its text is not shown")
        elif visible[i] and part.get_content_maintype() != "message":
            check(i in attachments, f"part {i} ({want_type}) is not listed as an attachment")
        if visible[i] and part.is_attachment() and part.get_content_maintype() != "message":
            check(i in attachments, f"part {i} is an attachment Python sees; not listed")
    for part in theirs:
        if part.get("subject") is not None:
            check(f"Subject: {part['subject']}\n" in shown, f"Subject {part['subject']!r} not shown")
        if part.get("from") is not None:
            check(f"From: {address(part['from'])}\n" in shown,
                  f"From {address(part['from'])!r} not shown")


def main():
    program, corpus = sys.argv[1], pathlib.Path(sys.argv[2])
    failures, files = [], sorted(corpus.glob("*.eml"))
    for path in files:
        compare(program, path, failures)
    for f in failures:
        print(f)
    print(f"{len(files)} messages, {len(failures)} differences")
    return 1 if failures or not files else 0


if __name__ == "__main__":
    sys.exit(main())
