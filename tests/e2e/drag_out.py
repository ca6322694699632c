"""Mail taken out of the window by another program, with a real mouse and keys:
two rows dragged onto a drop target of the tests' own become two .eml files
equal byte for byte to `mailstore show`; the Inbox dragged there becomes one
mbox equal to `mailstore export --format mbox`; Ctrl+C and a paste give the
rows' files again; Escape during a drag out writes nothing; a row deleted by
another program during the drag is left out and the log says so once."""

import os
import subprocess
import sys
import time
from pathlib import Path

from drag_drop import drag, label_point
from harness import Failed, node, run


class DropTarget:
    """The tests' drop target: a window beside the program's, and its log."""

    def __init__(self, s, place):
        self.s = s
        self.dir = s.out / "received"
        self.log_path = self.dir / "drops.log"
        exe = os.environ.get("BRIS_DROPTARGET")
        if not exe:
            raise Failed("BRIS_DROPTARGET names no drop-target program")
        self.log = open(s.out / "droptarget.wine.log", "wb")
        self.proc = subprocess.Popen(["wine", exe, "window", s.windows_path(self.dir),
                                      *map(str, place)], env=s.env, stdin=subprocess.DEVNULL,
                                     stdout=self.log, stderr=subprocess.STDOUT)
        self.center = (place[0] + place[2] // 2, place[1] + place[3] // 2)
        self.wait_lines(1, "the drop target's window")

    def lines(self):
        if not self.log_path.exists():
            return []
        return self.log_path.read_text().splitlines()

    def wait_lines(self, count, what, seconds=30):
        end = time.time() + seconds
        while time.time() < end:
            if len(self.lines()) >= count:
                return self.lines()
            time.sleep(0.2)
        raise Failed(f"no {what} after {seconds} s (log: {self.lines()})")

    def paste(self):
        rc, _, err = self.s.wine([os.environ["BRIS_DROPTARGET"], "paste",
                                  self.s.windows_path(self.dir)], timeout=60)
        if rc != 0:
            raise Failed(f"the paste ended with {rc}: {err}")

    def stop(self):
        self.proc.kill()
        self.proc.wait(timeout=20)
        self.log.close()


def files(folder):
    return {p.name: p.read_bytes() for p in sorted(Path(folder).iterdir())}


def source(s, folder, message_id):
    """`mailstore show`'s bytes, as the tool writes them."""
    done = subprocess.run(["wine", s.cli_exe, "show", s.store_win, folder, str(message_id)],
                          env=s.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          stdin=subprocess.DEVNULL, timeout=60)
    if done.returncode != 0:
        raise Failed(f"mailstore show {folder} {message_id} ended with {done.returncode}")
    return done.stdout


def select_two(s, state):
    """The first two rows selected by clicks, the first one focused."""
    first, second = state.rows[0], state.rows[1]
    s.click(*first.icon)
    s.click(*second.icon, modifier="shift")
    return s.wait_for("two rows selected",
                      lambda st: [r.index for r in st.rows if r.selected] == [0, 1])


def body(s, c):
    s.make_store()
    inbox = s.messages("Inbox")
    s.start()
    state = s.wait_for("the Inbox's messages in the list",
                       lambda st: st.row_count == len(inbox) and len(st.log) >= 3)
    x, y, width, height = state.client
    # Beside the window when there is room on the screen, else below it.
    place = (x + width + 20, y, 220, 300) if x + width + 260 <= 1280 else (x, y + height + 40, 300, 150)
    target = DropTarget(s, place)
    try:
        check_drops(s, c, target, select_two(s, state), inbox)
    finally:
        target.stop()
    s.close()


def check_drops(s, c, target, state, inbox):
    by_subject = {m.subject: m.id for m in inbox}
    dragged = [by_subject[r.subject] for r in state.rows[:2]]
    expected = sorted(source(s, "Inbox", i) for i in dragged)

    # Escape while over the target: no drop, no file.
    drag(s, state.rows[0].icon, target.center, escape=True)
    time.sleep(1.5)
    c.equal(target.lines(), ["ready"], "Escape during a drag out wrote nothing")

    # The two rows onto the target: two .eml files, the sources byte for byte.
    drag(s, state.rows[0].icon, target.center, shot="drag-out-rows.png")
    line = target.wait_lines(2, "drop of the rows")[1]
    got = files(target.dir / "drop1")
    c.equal(line.split()[:2], ["2", "0"], "both files written, none left out")
    c.check(all(n.endswith(".eml") for n in got), f"names end in .eml: {list(got)}")
    c.check(all(state.rows[i].subject[:20] in "".join(got) for i in (0, 1)),
            f"names carry the subjects: {list(got)}")
    c.equal(sorted(got.values()), expected, "the files are the messages' sources")
    c.equal(s.messages("Inbox"), inbox, "dragging out changed nothing in the store")

    # The Inbox (with Lists under it) onto the target: one mbox, without Lists.
    drag(s, label_point(node(s.state(), "Inbox")), target.center, shot="drag-out-folder.png")
    target.wait_lines(3, "drop of the folder")
    export = s.out / "export"
    s.cli("export", s.store_win, "Inbox", s.windows_path(export), "--format", "mbox")
    c.equal(list(files(target.dir / "drop2")), ["Inbox.mbox"], "one file named after the folder")
    c.check(files(target.dir / "drop2").get("Inbox.mbox") == (export / "Inbox.mbox").read_bytes(),
            "the mbox is what `mailstore export --format mbox` writes")

    # Ctrl+C in the list, then a paste: the same two files.
    s.click(*state.rows[0].icon)
    s.click(*state.rows[1].icon, modifier="shift")
    s.keys("ctrl+c")
    time.sleep(0.5)
    target.paste()
    c.equal(sorted(files(target.dir / "paste").values()), expected,
            "a paste gives the same files")
    c.check(target.lines()[-1].startswith("paste 2 0"), f"pasted: {target.lines()[-1]}")

    # One of two rows deleted by another program while over the target.
    state = select_two(s, s.state())
    gone = by_subject[state.rows[1].subject]
    drag(s, state.rows[0].icon, target.center,
         during=lambda: s.cli("delete", s.store_win, "Inbox", str(gone)))
    line = target.wait_lines(5, "drop with a row gone")[4]
    # Offered or not (the store in the window may learn of the delete late),
    # the gone one is never written.
    c.equal(line.split()[0], "1", "only the remaining row written")
    c.equal(list(files(target.dir / "drop3").values()), [source(s, "Inbox", by_subject[
        state.rows[0].subject])], "and it is its source")
    said = lambda st: [l for l in st.log if l.startswith("Left out")]
    log = s.wait_for("the log's word on it", said, 10)
    time.sleep(1.5)
    c.equal(said(s.state()), ["Left out 1 message the store could not read"], "said once")


if __name__ == "__main__":
    sys.exit(run(__doc__, body))
