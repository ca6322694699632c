"""The window keeps answering on a store of real size, asked WM_NULL from
another process all along: the properties of a 10 MB message while its source
loads, closed with Escape midway; a click on the Subject header of 20,000
messages, until the sorted rows show; and the 20,000 deleted with Ctrl+A, Del
and Yes, every row gone and every line logged in order. The figures seen are
printed; the checks only catch a window that stops answering."""

import subprocess
import sys
import time

from harness import Failed, run

BIG_BYTES = 10 * 1024 * 1024
MASS = 20000
# A window that goes this long without an answer is frozen (it was 18 s here).
FROZEN_MS = 3000


def write_big(path):
    line = b"A line of a long message body, with some words in it to lay out.\r\n"
    head = (b"From: Big Sender <big@example.org>\r\nTo: team@example.org\r\n"
            b"Subject: Ten megabytes\r\nDate: Mon, 07 Dec 2026 10:00:00 +0000\r\n\r\n")
    body = line * ((BIG_BYTES - len(head)) // len(line) + 1)
    path.write_bytes((head + body)[:BIG_BYTES - 2] + b"\r\n")


def write_mbox(path, count):
    with open(path, "wb") as out:
        for i in range(count):
            out.write((f"From sender{i}@example.org Mon Dec  7 10:00:00 2026\n"
                       f"From: Sender {i} <sender{i}@example.org>\nSubject: Mass {i}\n"
                       f"Date: Mon, 07 Dec 2026 10:00:00 +0000\n"
                       f"Message-ID: <mass{i}@example.org>\n\nBody {i}\n\n").encode())


class Ping:
    """The probe asking the window WM_NULL until the awaited state is reached."""

    def __init__(self, s, what, count, seconds=120):
        self.path = s.out / f"ping-{what}.out"
        self.seconds = seconds
        with open(self.path, "wb") as out:
            self.proc = subprocess.Popen(["wine", s.probe, "ping", str(seconds), what, str(count)],
                                         env=s.env, stdin=subprocess.DEVNULL, stdout=out,
                                         stderr=subprocess.STDOUT)
        self.started = time.time()  # about when the probe started counting
        time.sleep(2)  # the probe is up and pinging

    def result(self):
        try:
            self.proc.wait(timeout=self.seconds + 60)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise Failed("the probe kept running")
        seen = {}
        for line in self.path.read_text(errors="replace").splitlines():
            f = line.split("\t")
            if f[0] == "dialog":
                seen["dialog"] = float(f[1]) / 1000
            elif f[0] in ("reached", "timeout") and len(f) >= 10:
                seen.update(end=f[0], longest=float(f[3]), at=float(f[7]) / 1000,
                            longest_from=float(f[9]) / 1000)
        if "end" not in seen:
            raise Failed(f"probe ping: {self.path.read_text(errors='replace')}")
        return seen


def click_first_row(s):
    main = s.window("Brisvander")
    lists = [p for p in main.places if p.cls == "SysListView32"]
    if not lists:
        raise Failed("no message list")
    # Below the column headers, on the first row's From text.
    s.click(main.client[0] + lists[0].left + 60, main.client[1] + lists[0].top + 30)


def big_properties(s, c, folders):
    s.select(folders["Big"])
    Ping(s, "filled", 1).result()
    click_first_row(s)
    ping = Ping(s, "source", 300000)
    pressed = time.time()
    s.keys("Return")
    seen = ping.result()
    shown = seen.get("dialog", pressed) - pressed
    print(f"properties of 10 MB: dialog seen {shown * 1000:.0f} ms after Enter, "
          f"longest without an answer {seen['longest']:.0f} ms, "
          f"300,000 characters in the box after {(seen['at'] - pressed):.1f} s", flush=True)
    c.check(seen["end"] == "reached", "the source box fills while the window answers")
    c.check(seen["longest"] < FROZEN_MS, f"the window answered all along ({seen['longest']} ms)")
    s.screenshot("properties-loading.png")
    props = s.window("Message Properties")
    box = [p for p in props.places if p.cls == "RichEdit20W"]
    c.check(box and box[0].text.startswith("From: Big Sender"),
            "the box shows the source from its start")
    s.keys("Escape")
    s.gone("Message Properties", seconds=10)


def sort_by_subject(s, c):
    main = s.window("Brisvander")
    lists = [p for p in main.places if p.cls == "SysListView32"]
    if not lists:
        raise Failed("no message list")
    ping = Ping(s, "arrow", 1, seconds=30)
    clicked = time.time()
    # The Subject header: From is 120 pixels wide, Subject 150.
    s.click(main.client[0] + lists[0].left + 190, main.client[1] + lists[0].top + 8)
    seen = ping.result()
    print(f"sort {MASS} by Subject: sorted rows shown {seen['at'] - clicked:.2f} s after the "
          f"click, longest without an answer {seen['longest']:.0f} ms", flush=True)
    c.check(seen["end"] == "reached", "the sort shows, its arrow on the Subject header")
    c.check(seen["longest"] < FROZEN_MS, f"the window answered all along ({seen['longest']} ms)")
    s.screenshot("sorted-by-subject.png")


def mass_delete(s, c, folders):
    s.select(folders["Mass"])
    Ping(s, "filled", MASS).result()
    sort_by_subject(s, c)
    # Back to the store's order: the folder again.
    s.select(folders["Big"])
    s.select(folders["Mass"])
    Ping(s, "filled", MASS).result()
    click_first_row(s)
    s.keys("ctrl+a", "Delete")
    s.window(" Delete message(s)")
    ping = Ping(s, "rows", 0)
    answered = time.time()
    s.keys("y")
    seen = ping.result()
    print(f"delete {MASS}: last row gone {seen['at'] - answered:.1f} s after Yes, "
          f"longest without an answer {seen['longest']:.0f} ms, asked "
          f"{seen['longest_from'] - (answered - ping.started):.1f} s after Yes", flush=True)
    c.check(seen["end"] == "reached", "every row goes")
    c.check(seen["longest"] < FROZEN_MS, f"the window answered all along ({seen['longest']} ms)")
    lines = Ping(s, "lines", MASS).result()
    c.check(lines["end"] == "reached", "the log gets its lines")
    log = s.state(60).log
    deleted = [line for line in log if line.startswith("DELETEMSGS MsgId=")]
    ids = [int(line.split("=")[1]) for line in deleted]
    c.equal(len(ids), MASS, "one DELETEMSGS line per message")
    c.check(ids == sorted(ids), "the lines come in the list's order")
    c.equal(len(s.messages("Mass")), 0, "the store holds none of them")


def body(s, c):
    s.cli("init", s.store_win)
    big = s.out / "big.eml"
    write_big(big)
    s.cli("import", "--create", s.store_win, "Big", s.windows_path(big))
    mbox = s.out / "mass.mbox"
    write_mbox(mbox, MASS)
    s.cli("import", "--create", s.store_win, "Mass", s.windows_path(mbox))
    folders = {f.name: f.id for f in s.folders()}
    s.start()
    big_properties(s, c, folders)
    mass_delete(s, c, folders)
    s.close()


if __name__ == "__main__":
    sys.exit(run(__doc__, body))
