"""Properties, Save to file and About on a demo store, as a user does them:
a double-click on a row, the message menu from a right-click, the About link;
the dialogs read back from outside the program, the saved file compared with
the message as it was imported, and screenshots of both dialogs."""

import subprocess
import sys
import time
from dataclasses import dataclass

from harness import SAMPLES, Failed, pixels, run

# Control ids of the properties dialog's value labels and source box.
PROPS = {"id": 420, "to": 421, "from": 422, "subject": 423, "size": 424, "priority": 425,
         "sent": 426, "received": 427, "source": 434}


@dataclass
class Control:
    id: int
    cls: str
    rect: tuple
    visible: bool
    text: str

    @property
    def centre(self):
        return ((self.rect[0] + self.rect[2]) // 2, (self.rect[1] + self.rect[3]) // 2)


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"t": "\t", "r": "\r", "n": "\n"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def window(s, caption, text="", seconds=20):
    """The controls of the program's enabled window with that caption, by id."""
    args = [s.probe, "window", str(seconds), caption] + ([text] if text else [])
    rc, out, err = s.wine(args, timeout=seconds + 30)
    if rc != 0:
        raise Failed(f"window {caption!r}: {err.strip() or rc}")
    controls = {}
    for line in out.split("\n"):
        f = line.split("\t")
        if f[0] == "control":
            controls.setdefault(int(f[1]), Control(int(f[1]), f[2], tuple(map(int, f[3:7])),
                                                   f[7] == "1", unescape(f[8])))
    return controls


def gone(s, caption, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        rc, _, _ = s.wine([s.probe, "window", "0", caption], timeout=30)
        if rc != 0:
            return True
        time.sleep(0.3)
    return False


def xdotool(s, *args):
    subprocess.run(["xdotool", *map(str, args)], env=s.env, timeout=30, check=True,
                   stdin=subprocess.DEVNULL)
    time.sleep(0.3)


def header(source, name):
    for line in source.split(b"\r\n"):
        if line.lower().startswith(name.lower().encode() + b":"):
            return line.split(b":", 1)[1].strip().decode("latin-1")
    return None


def lines(text):
    return text.replace("\r\n", "\n").replace("\r", "\n").rstrip("\n")


def check_properties(s, c, row, message, source):
    xdotool(s, "mousemove", row.icon[0] + 60, row.icon[1], "click", "--repeat", 2,
            "--delay", 100, 1)
    props = window(s, "Message Properties")
    text = {name: props[i].text if i in props else None for name, i in PROPS.items()}
    c.equal(text["id"], str(message.id), "properties: message id")
    c.equal(text["from"], row.sender, "properties: From as the list shows it")
    c.equal(text["subject"], header(source, "Subject"), "properties: Subject")
    c.check(text["to"] not in (None, "", "0") and text["to"] in header(source, "To"),
            f"properties: To {text['to']!r} from the header {header(source, 'To')!r}")
    c.equal(text["size"], f"{len(source)} byte", "properties: size")
    c.equal(text["priority"], "High", "properties: priority")
    c.check(text["sent"] not in (None, "", "0") and text["received"] not in (None, "", "0"),
            f"properties: sent {text['sent']!r} and received {text['received']!r}")
    c.equal(lines(text["source"] or ""), lines(source.decode("latin-1")),
            "properties: the source box holds the whole source")
    shot = s.screenshot("properties.png")
    box = props[PROPS["source"]].rect
    c.check(len(set(pixels(shot, box[0] + 4, box[1] + 4, box[2] - box[0] - 24, 40))) > 2,
            "the source box shows text")
    xdotool(s, "key", "Return")
    c.check(gone(s, "Message Properties"), "Enter closes the properties dialog")


def check_save(s, c, row, source):
    target = s.out / "saved.eml"
    target.write_bytes(b"An older, longer file in the way.\r\n" * 200)
    xdotool(s, "mousemove", row.icon[0] + 60, row.icon[1], "click", 3)
    xdotool(s, "key", "Up", "Up", "Return")  # from the bottom: Properties, Save to file
    window(s, "Save message to file")
    xdotool(s, "type", "--delay", 20, s.windows_path(target))
    xdotool(s, "key", "Return")
    window(s, "Save message to file", "exist")  # asks before replacing
    xdotool(s, "key", "Return")
    deadline = time.monotonic() + 15
    while target.read_bytes() != source and time.monotonic() < deadline:
        time.sleep(0.3)
    c.check(target.read_bytes() == source,
            "the saved file holds the message's source byte for byte, the old file replaced")
    c.equal(sorted(p.name for p in s.out.glob("*.tmp")), [], "no temporary file left")


def check_about(s, c):
    main = window(s, "Brisvander")
    link = next((k for k in main.values() if k.text == "About"), None)
    if not c.check(link is not None, "the main window has its About link"):
        return
    xdotool(s, "mousemove", *link.centre, "click", 1)
    about = window(s, " About Brisvander")
    texts = [k.text for k in about.values()]
    c.check("Brisvander" in texts and "v 1.0" in texts, f"About texts: {texts}")
    c.check(any(t.startswith("https://") for t in texts), "About has a web link")
    shot = s.screenshot("about.png")
    picture = about[501].rect
    seen = pixels(shot, picture[0], picture[1], 36, 36)
    colours = {seen[i:i + 3] for i in range(0, len(seen), 3)}
    c.check(b"\xff\x00\xff" not in colours and len(colours) > 4,
            "the About picture is drawn, its magenta background left out")
    ok = about.get(1)
    if c.check(ok is not None and ok.text == "OK", "About has OK"):
        xdotool(s, "mousemove", *ok.centre, "click", 1)
        c.check(gone(s, " About Brisvander"), "OK closes the About box")


def body(s, c):
    s.make_store()
    sample = SAMPLES / "high-priority.eml"
    source = sample.read_bytes()
    messages = s.messages("Inbox")
    message = next((m for m in messages if m.subject == header(source, "Subject")), None)
    if not c.check(message is not None, f"{sample.name} is in the Inbox"):
        return
    s.start()
    state = s.wait_for("the Inbox's messages in the list",
                       lambda st: st.row_count == len(messages))
    state = s.settle()
    row = next(r for r in state.rows if r.subject == message.subject)
    check_properties(s, c, row, message, source)
    check_save(s, c, row, source)
    check_about(s, c)
    s.close()


if __name__ == "__main__":
    sys.exit(run(__doc__, body))
