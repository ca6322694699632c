#!/usr/bin/env python3
"""Writes the benchmark mail: COUNT messages as mbox files of SLICE messages each
(slice-00.mbox, ...) and the same messages as a Maildir (maildir/cur), so a
mail reader can be timed on the very mail the store imports.

Usage: make_mail.py OUT_DIR [COUNT [SLICE]]. Does nothing when OUT_DIR already
holds a complete set of that size. Deterministic: the same arguments give the
same bytes."""
import os
import random
import sys

FIRST = ["Alice", "Bob", "Carol", "Dave", "Erin", "Frank", "Grace", "Heidi", "Ivan", "Judy",
         "Mallory", "Niaj", "Olivia", "Peggy", "Rupert", "Sybil", "Trent", "Victor", "Walter"]
LAST = ["Example", "Sample", "Tester", "Demo", "Placeholder", "Specimen", "Model", "Pattern"]
WORDS = ("status report meeting notes quarterly numbers draft review budget plan schedule "
         "release build question answer update reminder invoice travel lunch proposal "
         "design change request follow up minutes agenda summary").split()


def message(rng, n):
    sender = rng.randrange(500)
    name = f"{FIRST[sender % len(FIRST)]} {LAST[sender // len(FIRST) % len(LAST)]}"
    address = f"{name.split()[0].lower()}.{sender}@example.org"
    words = " ".join(rng.choice(WORDS) for _ in range(rng.randrange(2, 8)))
    subject = f"{words.capitalize()} #{n}"
    day = 1 + n % 28
    minute = n % 1440
    body_lines = [" ".join(rng.choice(WORDS) for _ in range(rng.randrange(4, 14)))
                  for _ in range(rng.randrange(2, 20))]
    headers = [
        f"From: {name} <{address}>",
        "To: Reader Example <reader@example.org>",
        f"Subject: {subject}",
        f"Date: Mon, {day:02d} Nov 2026 {minute // 60:02d}:{minute % 60:02d}:00 +0000",
        f"Message-ID: <bench-{n}@example.org>",
    ]
    if n % 7 == 0:
        headers.append("X-Priority: 1")
    return "\r\n".join(headers) + "\r\n\r\n" + "\r\n".join(body_lines) + "\r\n"


def main():
    out = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    slice_size = int(sys.argv[3]) if len(sys.argv) > 3 else 10000
    done_mark = os.path.join(out, f"complete-{count}-{slice_size}")
    if os.path.exists(done_mark):
        return
    cur = os.path.join(out, "maildir", "cur")
    for sub in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(out, "maildir", sub), exist_ok=True)
    rng = random.Random(20261207)
    mbox = None
    for n in range(count):
        if n % slice_size == 0:
            if mbox:
                mbox.close()
            mbox = open(os.path.join(out, f"slice-{n // slice_size:02d}.mbox"), "w", newline="")
        text = message(rng, n).replace("\r\n", "\n")
        mbox.write("From bench@example.org Mon Nov  2 08:00:00 2026\n" + text + "\n")
        with open(os.path.join(cur, f"{1700000000 + n}.{n}.bench:2,S"), "w", newline="") as f:
            f.write(text)
    if mbox:
        mbox.close()
    open(done_mark, "w").close()


if __name__ == "__main__":
    main()
