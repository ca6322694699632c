"""The Windows packages as a user gets them, in a fresh Wine prefix of their own:
the MSI installed without a store, the program's first start, a message imported
with the installed tool, a later version installed over it, the uninstall, and
the zip unpacked and run in place. The version under test comes in
BRIS_PACKAGE_VERSION."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from harness import ROOT, Failed, run

FILES = ["LICENSE.txt", "README.txt", "brisvander.exe", "mailstore.dll", "mailstore.exe"]
SPECIAL = ["Inbox", "Outbox", "Sent Items", "Deleted Items", "Drafts"]
SERVER = r"Software\Classes\CLSID\{2499E836-5D88-42AF-A658-AE2993879DFF}"
ROUTE = r"Software\Classes\CLSID\{E70C92A9-4BFD-11D1-8A95-00C04FB951F3}"
UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall"


def next_version(version):
    parts = (version.split(".") + ["0", "0"])[:3]
    parts[2] = str(int(parts[2]) + 1)
    return ".".join(parts)


def shell(s, command):
    rc, text, err = s.wine(["cmd", "/c", command])
    if rc != 0:
        raise Failed(f"cmd /c {command}: {rc} {err}")
    return text.strip()


def reg(s, key, root="HKCU"):
    """The output of reg query KEY /s, or None when the key is not there."""
    rc, text, _ = s.wine(["reg", "query", f"{root}\\{key}", "/s"])
    return text if rc == 0 else None


def product_entries(s):
    """Installed-programs entries that name the tool, from both hives."""
    found = []
    for root in ("HKCU", "HKLM"):
        text = reg(s, UNINSTALL, root) or ""
        for block in text.split("\n\n"):
            if "Brisvander" in block and "DisplayName" in block:
                found.append(block)
    return found


def msiexec(s, *args):
    rc, text, err = s.wine(["msiexec", *args, "/qn"], timeout=180)
    if rc != 0:
        raise Failed(f"msiexec {' '.join(args)}: status {rc} {text}{err}")


def see_row(s, c, subject, where):
    state = s.wait_for(f"{where}: the message in the list",
                       lambda st: any(r.subject == subject for r in st.rows), 15)
    c.equal([r.subject for r in state.rows], [subject], f"{where}: the Inbox's rows")


def start_and_look(s, c, exe, store_win, where):
    """Starts exe with no store setting of its own; the log must name store_win
    and the tree show the five special folders."""
    env = {k: v for k, v in s.env.items() if k != "MAILSTORE_DIR"}
    s.app_log = open(s.out / "brisvander.wine.log", "ab")
    s.app = subprocess.Popen(["wine", exe], env=env, stdin=subprocess.DEVNULL, stdout=s.app_log,
                             stderr=subprocess.STDOUT)
    state = s.wait_for(f"{where}: the store's folders", lambda st: st.tree_count >= 5, 60)
    c.equal([line.lower() for line in state.log[:2]],
            ["path of mail message store:", store_win.lower()], f"{where}: log")
    c.equal([n.text for n in state.nodes], SPECIAL, f"{where}: the special folders")


def import_and_see(s, c, cli, store_win, where):
    """Imports a message with cli while the program runs; it must show in its list."""
    subject = f"Installed check {where}"
    message = s.write_message(f"{where}.eml", "Ann Example <ann@example.org>", subject, "Hi")
    rc, text, err = s.wine([cli, "import", store_win, "Inbox", message])
    c.equal(rc, 0, f"{where}: import with {cli}: {text}{err}")
    see_row(s, c, subject, where)
    return subject


def resource_version(path):
    """The FileVersion text of a program's version resource (UTF-16, key and
    value apart by NUL padding), or None."""
    key = "FileVersion".encode("utf-16-le")
    m = re.search(re.escape(key) + rb"(?:\0\0)+((?:[0-9.]\0)+)\0\0", path.read_bytes())
    return m[1].decode("utf-16-le") if m else None


def files_under(path):
    return sorted(str(p.relative_to(path)) for p in path.rglob("*")) if path.exists() else []


def check_msi(s, c, packages, version, later, local_win, local):
    msi, msi_later = (s.windows_path(packages / f"Brisvander-{v}-x86.msi") for v in (version, later))
    install = local / "Programs" / "Brisvander"
    store = local / "Brisvander" / "MailStore"
    store_win = local_win + r"\Brisvander\MailStore"

    msiexec(s, "/i", msi)
    c.equal(files_under(install), FILES, "installed files")
    exe, cli = (s.windows_path(install / n) for n in ("brisvander.exe", "mailstore.exe"))
    server = reg(s, SERVER) or ""
    c.check(str(s.windows_path(install / "mailstore.dll")).lower() in server.lower() and
            "Apartment" in server, f"the server registered for the user: {server}")
    c.check("TreatAs" in (reg(s, ROUTE) or ""), "the store's class routed to the server")
    c.check(store_win.lower() in (reg(s, r"Software\Brisvander\MailStore") or "").lower(),
            "the store directory set in the user's local application data")
    entries = product_entries(s)
    c.check(len(entries) == 1 and version in entries[0] and "The Brisvander authors" in
            entries[0], f"one installed-programs entry with version and publisher: {entries}")
    start_menu = Path(s.windows_unix(shell(s, "echo %APPDATA%")))
    c.equal(len(list(start_menu.rglob("Brisvander.lnk"))), 1, "one Start-menu shortcut")
    c.equal(s.wine([cli, "--version"])[1].strip(), f"mailstore {version}", "mailstore --version")
    c.check(not store.exists(), "no store before the first start")

    start_and_look(s, c, exe, store_win, "first start")
    subject = import_and_see(s, c, cli, store_win, "msi")
    print(f"screenshot: {s.screenshot('installed.png')}")
    s.close()

    msiexec(s, "/i", msi_later)
    entries = product_entries(s)
    c.check(len(entries) == 1 and later in entries[0],
            f"the later version replaced the first in installed programs: {entries}")
    start_and_look(s, c, exe, store_win, "after the upgrade")
    see_row(s, c, subject, "after the upgrade")
    s.close()

    msiexec(s, "/x", msi_later)
    c.equal(files_under(install), [], "files left under the install folder")
    for key in (SERVER, ROUTE, r"Software\Brisvander"):
        c.check(reg(s, key) is None, f"{key} removed")
    c.equal(product_entries(s), [], "installed-programs entries after the uninstall")
    c.equal(list(start_menu.rglob("Brisvander.lnk")), [], "Start-menu shortcuts left")
    listing = s.cli("list", store_win, "Inbox")
    c.check(subject in listing, f"the store and its message kept: {listing}")

    # A server already registered for the store's class keeps it.
    other = [f"HKLM\\{ROUTE}\\InprocServer32", "/ve", "/d", r"C:\other\store.dll", "/f"]
    c.equal(s.wine(["reg", "add", *other])[0], 0, "another store server registered")
    msiexec(s, "/i", msi)
    c.check(reg(s, ROUTE) is None, "no route over another store server")
    msiexec(s, "/x", msi)
    s.wine(["reg", "delete", f"HKLM\\{ROUTE}", "/f"])
    return store


def check_zip(s, c, packages, version, local_win, store):
    # The same check from nothing: no store, and nothing registered.
    shutil.rmtree(store)
    folder = s.out / "unpacked"
    folder.mkdir()
    subprocess.run(["cmake", "-E", "tar", "xf", str(packages / f"Brisvander-{version}-x86.zip")],
                   cwd=folder, check=True, stdin=subprocess.DEVNULL, timeout=60)
    c.equal(files_under(folder), FILES, "the zip's files")
    for name in ("brisvander.exe", "mailstore.dll", "mailstore.exe"):
        c.equal(resource_version(folder / name), version, f"{name}: version resource")
    exe, cli = (s.windows_path(folder / n) for n in ("brisvander.exe", "mailstore.exe"))
    store_win = local_win + r"\Brisvander\MailStore"
    start_and_look(s, c, exe, store_win, "zip")
    import_and_see(s, c, cli, store_win, "zip")
    s.close()


def body(s, c):
    version = os.environ["BRIS_PACKAGE_VERSION"]
    later = next_version(version)
    build = Path(s.exe).parent
    packages = s.out / "packages"
    for v in (version, later):
        subprocess.run([str(ROOT / "scripts/package.sh"), str(build), str(packages), v],
                       check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       timeout=300)
    # A prefix of this test's own, as on a machine that never had the tool.
    prefix = s.out.resolve() / "wineprefix"
    s.env.update(WINEPREFIX=str(prefix), BRIS_WINEPREFIX=str(prefix))
    s.env.pop("BRIS_DPI", None)
    s.own_prefix = True  # stop() ends this prefix's wineserver
    subprocess.run([str(ROOT / "scripts/wine-prefix.sh")], env=s.env, check=True,
                   stdin=subprocess.DEVNULL, timeout=300)
    local_win = shell(s, "echo %LOCALAPPDATA%")
    local = Path(s.windows_unix(local_win))
    store = check_msi(s, c, packages, version, later, local_win, local)
    check_zip(s, c, packages, version, local_win, store)
    if not c.failures:
        # Over half a gigabyte, kept only to look into a failure.
        for flag in ("-k", "-w"):
            subprocess.run(["wineserver", flag], env=s.env, stdin=subprocess.DEVNULL, timeout=60)
        shutil.rmtree(prefix, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(run(__doc__, body))
