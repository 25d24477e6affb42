#!/usr/bin/env python3
"""Drives the built installer's terminal dialogs in a private tmux server.

Each case runs the installer in a sandbox home, types at its alerts like a
user would and checks the screen, the exit status, the terminal modes left
behind and the saver's preferences. Web lookups go to a closed loopback port
(through the proxy variables), so the IP lookup always fails and the city
prompt follows.

Usage: terminal_dialog_e2e.py <path to zeph-installer> [SHARD/SHARDS]

With SHARD/SHARDS (1/4, say) it runs every SHARDS-th case from the SHARD-th
on, so that the cases, which mostly wait on the installer, run side by side.
"""

import fcntl
import os
import plistlib
import shlex
import socket
import subprocess
import sys
import tempfile
import time

INSTALLER = os.path.abspath(sys.argv[1])
WAIT_LIMIT = 45  # seconds before a missing screen counts as a failure (the lock waits 30)
KEY_GUARD = 0.35  # an alert ignores keys for its first 300 ms on screen
NO_NETWORK = {"https_proxy": "http://127.0.0.1:9", "HTTPS_PROXY": "http://127.0.0.1:9",
              "http_proxy": "http://127.0.0.1:9", "no_proxy": "", "NO_PROXY": ""}
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, flush=True)


class Session:
    """One installer run in its own tmux server, in a fresh home."""

    def __init__(self, name, env=None, width=90, height=30, delay=0, stderr_to_terminal=False, prepare=None):
        """`delay` seconds pass before the installer starts (keys typed then
        are queued for it); `stderr_to_terminal` leaves standard error on the
        pane, where child programs' messages would land; `prepare(home)` runs
        before the installer starts."""
        self.name = name
        self.dir = tempfile.mkdtemp(prefix="zeph-e2e-")
        self.home = os.path.join(self.dir, "home")
        os.mkdir(self.home)
        if prepare:
            prepare(self.home)
        self.socket = os.path.join(self.dir, "tmux.sock")
        self.status_file = os.path.join(self.dir, "status")
        self.stty_file = os.path.join(self.dir, "stty")
        self.stty_before_file = os.path.join(self.dir, "stty-before")
        variables = {"HOME": self.home, "LANG": "C.UTF-8", **NO_NETWORK, **(env or {})}
        assignments = " ".join(f"{k}={shlex.quote(v)}" for k, v in variables.items())
        stderr = "" if stderr_to_terminal else f"2>{shlex.quote(self.dir)}/stderr"
        if stderr_to_terminal:
            open(os.path.join(self.dir, "stderr"), "w").close()
        # Ctrl-C and Ctrl-\\ reach the whole foreground group: the shell waits
        # them out (a trap resets to the default in the installer); SIGQUIT
        # must not leave a core file behind.
        script = ("trap : INT QUIT; ulimit -c 0; "
                  f"stty -a > {shlex.quote(self.stty_before_file)}; "
                  f"sleep {delay}; "
                  f"env {assignments} {shlex.quote(INSTALLER)} {stderr}; "
                  f"echo $? > {shlex.quote(self.status_file)}.part; "
                  f"stty -a > {shlex.quote(self.stty_file)}; "
                  f"mv {shlex.quote(self.status_file)}.part {shlex.quote(self.status_file)}; "
                  "sleep 600")
        self.tmux("new-session", "-d", "-x", str(width), "-y", str(height), "sh", "-c", script)
        # Esc reaches the installer at once, as from a terminal emulator.
        self.tmux("set-option", "-s", "escape-time", "0")

    def __enter__(self):
        return self

    def __exit__(self, *_):
        subprocess.run(["tmux", "-S", self.socket, "kill-server"], capture_output=True)
        subprocess.run(["rm", "-rf", self.dir])

    def check(self, condition, what):
        check(condition, f"{self.name}: {what}")

    def tmux(self, *args):
        return subprocess.run(["tmux", "-S", self.socket, "-f", "/dev/null", *args],
                              check=True, capture_output=True, text=True).stdout

    def screen(self):
        return self.tmux("capture-pane", "-p")

    def keys(self, *keys):
        self.tmux("send-keys", *keys)

    def type(self, text):
        self.tmux("send-keys", "-l", text)

    def paste(self, text):
        """Pastes `text` as a terminal emulator does, bracketed when asked for."""
        self.tmux("set-buffer", "--", text)
        self.tmux("paste-buffer", "-p", "-r")

    def field_row(self):
        """The text on the field's row: the row above the buttons' blank row."""
        lines = self.screen().splitlines()
        for i, line in enumerate(lines):
            if "< Use this city >" in line and i >= 2:
                return lines[i - 2].strip(" │")
        return None

    def stty_before(self):
        with open(self.stty_before_file) as f:
            return f.read()

    def poll(self, found, failure):
        """What `found()` gives once it is true, tried for up to WAIT_LIMIT
        seconds; else None, with `failure` and the screen reported."""
        deadline = time.monotonic() + WAIT_LIMIT
        while time.monotonic() < deadline:
            result = found()
            if result:
                return result
            time.sleep(0.1)
        self.check(False, f"{failure}; screen was:\n{self.screen()}")
        return None

    def wait_for(self, text):
        """The screen once it shows `text`, past the time an alert ignores keys."""
        def screen_with_text():
            screen = self.screen()
            return screen if text in screen else None
        screen = self.poll(screen_with_text, f"never showed {text!r}") or ""
        time.sleep(KEY_GUARD)
        return screen

    def wait_for_field(self, text):
        """Waits until the field reads `text` (and nothing after it on its row)."""
        self.poll(lambda: any(field_text(line) == text for line in self.screen().splitlines()),
                  f"field never read {text!r}")

    def installer_pid(self):
        def pid_in_this_home():
            found = subprocess.run(["pgrep", "-f", "-x", f"{INSTALLER}"], capture_output=True, text=True)
            for pid in found.stdout.split():
                try:
                    with open(f"/proc/{pid}/environ", "rb") as f:
                        if f"HOME={self.home}".encode() in f.read().split(b"\0"):
                            return int(pid)
                except OSError:
                    pass
            return None
        return self.poll(pid_in_this_home, "installer process not found")

    def finished(self):
        """(exit status, stty -a text, standard error) once the installer has ended."""
        if not self.poll(lambda: os.path.exists(self.status_file), "installer did not end"):
            return None, "", ""
        with open(self.status_file) as s, open(self.stty_file) as t, open(os.path.join(self.dir, "stderr")) as e:
            return int(s.read()), t.read(), e.read()

    def preferences(self):
        path = os.path.join(self.home, "Library/Preferences/app.zeph.zeph.plist")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            check(f.read(8) == b"bplist00", f"{self.name}: preferences are not a binary property list")
            f.seek(0)
            return plistlib.load(f)

    def to_city_prompt(self):
        """Answers the confirmation with Install and waits for the city prompt."""
        self.wait_for("Put zeph° on every screen?")
        self.keys("Enter")
        return self.wait_for("Which city's weather should zeph show?")

    def expect_end(self, status, modes="same"):
        """Waits for the end; checks the exit status and the terminal modes:
        "same" as before the run, "restored" (canonical, echoing) or None."""
        ended, stty, stderr = self.finished()
        self.check(ended == status, f"exit status {ended} (expected {status})")
        if modes == "same":
            self.check(stty == self.stty_before(), f"terminal modes changed:\n{stty}")
        elif modes == "restored":
            self.check(modes_restored(stty), f"terminal modes not restored:\n{stty}")
        return stderr

    def expect_home_untouched(self):
        self.check(os.listdir(self.home) == [], f"home changed: {os.listdir(self.home)}")

    def expect_no_city(self):
        prefs = self.preferences()
        self.check(prefs is None or "manualLatitude" not in prefs, f"a city was stored: {prefs}")


def field_text(line):
    """A dialog row without its frame: "│", or "x" where the pane keeps
    line-drawing characters untranslated (xterm's alternate character set)."""
    line = line.strip()
    if len(line) >= 2 and line[0] == line[-1] and line[0] in "│x":
        line = line[1:-1]
    return line.strip()


def flat(screen):
    """The screen's text as one line: frames gone, runs of spaces one space."""
    return " ".join(" ".join(line.strip(" │") for line in screen.splitlines()).split())


def modes_restored(stty):
    flags = stty.split()
    return "icanon" in flags and "echo" in flags and "-icanon" not in flags and "-echo" not in flags


def typed_city_and_done():
    with Session("typed city") as s:
        s.to_city_prompt()
        screen = s.screen()
        s.check("Type a city — “Portland, Maine” or “Oslo”." in screen, "prompt text")
        s.check("City name" in screen, "placeholder while empty")
        # Typing, clearing, and the editing keys: the field ends as "52.52, 13.4005".
        # Longer than the field: it scrolls, and clearing it scrolls back.
        s.type("Oslo" + "o" * 120)
        s.wait_for("o" * 60)
        s.keys("C-u")
        s.wait_for("City name")
        s.type("Oslo")
        s.wait_for_field("Oslo")
        s.keys("C-u")
        s.wait_for("City name")
        s.type("x2.52, 13.405y")
        s.keys("BSpace", "Home", "DC")
        s.type("5")
        s.keys("End", "Left")
        s.type("0")
        s.keys("Left", "Left", "Right", "Right")
        s.type("5")
        s.keys("BSpace")
        s.wait_for_field("52.52, 13.4005")
        s.keys("Enter")
        screen = s.wait_for("zeph° is ready")
        # A new home has no wallpaper store: nothing set yet, and the saver says so.
        text = flat(screen)
        s.check("zeph is installed, but no screen uses it yet. Log out and back in, then run the installer again "
                "to turn it on for every screen. It will show the temperature in 52.52, 13.4005." in text,
                f"completion text:\n{screen}")
        s.check("< Open Screen Saver Settings >" in screen and "[ Done ]" in screen, "buttons")
        s.keys("Tab", "Enter")
        s.expect_end(0, modes="restored")
        prefs = s.preferences()
        s.check(prefs is not None and prefs.get("manualLatitude") == 52.52 and
                prefs.get("manualLongitude") == 13.4005 and prefs.get("manualLocationName") == "52.52, 13.4005" and
                prefs.get("locationSetupAsked") is True, f"preferences {prefs}")
        s.check(os.path.isdir(os.path.join(s.home, "Library/Screen Savers/zeph.saver")), "saver installed")


def declined():
    with Session("declined") as s:
        s.wait_for("< Install >  [ Quit ]")
        s.keys("Right", "Enter")  # "Quit"
        s.expect_end(0, modes="restored")
        s.expect_home_untouched()


def skipped_with_back_tab_and_resized():
    with Session("skipped", width=90) as s:
        s.wait_for("Put zeph° on every screen?")
        s.keys("Tab", "BTab", "Enter")  # back on "Install"
        s.wait_for("Which city's weather should zeph show?")
        s.tmux("resize-window", "-x", "40")
        # Narrower box, text wrapped anew, nothing drawn past the edge.
        screen = s.wait_for("Which city's weather should")
        s.check(all(len(line.rstrip()) <= 40 for line in screen.splitlines()), f"resize: lines too wide:\n{screen}")
        s.check("City name" in screen and "[ Skip ]" in screen, f"resize: field and buttons kept:\n{screen}")
        s.keys("BTab", "Enter")  # from the field back to the last button, "Skip"
        s.wait_for("zeph° is ready")
        s.keys("BTab", "Enter")  # "Done"
        s.expect_end(0, modes=None)
        s.check(s.preferences() is None, "preferences written")


def refused_without_a_terminal_that_shows_dialogs():
    with Session("dumb terminal", env={"TERM": "dumb"}) as s:
        stderr = s.expect_end(1, modes=None)
        s.check(stderr == 'error: the terminal type "dumb" cannot show dialogs; run zeph-installer --apply '
                'for an unattended install\n', f"stderr {stderr!r}")
        s.expect_home_untouched()
    with tempfile.TemporaryDirectory(prefix="zeph-e2e-") as home:
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home, "TERM": "xterm", **NO_NETWORK}
        # A new session has no controlling terminal, like a job started by a scheduler.
        run = subprocess.run(["setsid", "-w", INSTALLER], env=env, stdin=subprocess.DEVNULL,
                             capture_output=True, text=True, timeout=WAIT_LIMIT)
        check(run.returncode == 1, f"no terminal: exit status {run.returncode}")
        check(run.stderr == "error: no terminal to ask on; run zeph-installer --apply for an unattended "
              "install\n", f"no terminal: stderr {run.stderr!r}")
        check(run.stdout == "", f"no terminal: stdout {run.stdout!r}")
        check(os.listdir(home) == [], "no terminal: home changed")


def early_keys_answer_nothing_and_esc_quits():
    with Session("early keys", delay=1) as s:
        # Enter twice while the installer is still starting: the confirmation
        # was never seen, so it must not be answered.
        s.keys("Enter", "Enter")
        s.wait_for("Put zeph° on every screen?")
        time.sleep(1)
        screen = s.screen()
        s.check("Put zeph° on every screen?" in screen, f"confirmation answered unseen:\n{screen}")
        s.check("Tab move · Enter choose · Esc Quit" in screen, f"key hint:\n{screen}")
        s.expect_home_untouched()
        s.keys("Escape")
        s.expect_end(0)
        s.expect_home_untouched()


def status_during_the_pause_and_pasted_tab():
    # Standard error stays on the pane: "killall" finds no agent and says so,
    # which must not land on the dialog screen.
    with Session("status and paste", stderr_to_terminal=True) as s:
        s.wait_for("Put zeph° on every screen?")
        s.keys("Enter")
        screen = s.wait_for("Installing…")
        s.check("Which city" not in screen, "the prompt came before the status")
        s.keys("Enter")  # typed during the pause: must not answer the prompt
        s.wait_for("Which city's weather should zeph show?")
        time.sleep(0.5)
        screen = s.screen()
        s.check("Which city's weather should zeph show?" in screen, f"Enter during the pause answered:\n{screen}")
        s.check("no process found" not in screen, f"child output on the screen:\n{screen}")
        # A pasted Tab is a space in the field, not a key that moves focus.
        s.paste("Oslo\tNorway")
        s.wait_for_field("Oslo Norway")
        # Typing while a button has focus goes to the field.
        s.keys("Tab")
        s.type("!")
        s.wait_for_field("Oslo Norway!")
        s.keys("C-w", "C-w")
        s.wait_for("City name")
        s.keys("Escape")  # Skip
        s.wait_for("zeph° is ready")
        s.keys("Escape")  # Done
        s.expect_end(0)
        s.expect_no_city()


def home_and_end_under_xterm():
    with Session("home and end", env={"TERM": "xterm-256color"}) as s:
        s.to_city_prompt()
        s.type("slo")
        s.keys("Home")
        s.type("O")
        s.keys("End")
        s.type(", Norway")
        s.keys("Home", "Right", "DC")  # Delete: "Olo, Norway"
        s.keys("M-b")  # Alt-b: a word back, never a typed "b"
        s.keys("C-Right")  # a word on: after "Olo"
        s.type("!")
        s.wait_for_field("Olo!, Norway")
        s.keys("End", "C-Left", "M-f")  # a word back and on again: the end
        s.keys("BSpace")
        s.wait_for_field("Olo!, Norwa")
        # With the field there, a space typed after Tab is text ("New", Tab, " York").
        s.keys("Tab")
        s.type(" x")
        s.wait_for_field("Olo!, Norwa x")


def vt100_keys_and_placeholder():
    with Session("vt100", env={"TERM": "vt100"}) as s:
        screen = s.to_city_prompt()
        # No dim on a vt100: the placeholder must not read as typed text.
        s.check("(City name)" in screen, f"placeholder:\n{screen}")
        s.type("XOslo")
        s.keys("Home", "DC")
        s.wait_for_field("Oslo")
        s.keys("BTab", "Enter")  # Shift-Tab from the field: "Skip"
        s.wait_for("zeph° is ready")
        s.keys("Enter")
        s.expect_end(0, modes=None)
        s.expect_no_city()


def long_city_keeps_the_buttons():
    with Session("long city", width=80, height=24) as s:
        s.to_city_prompt()
        s.type("x" * 2100)
        screen = s.wait_for("…")
        s.check("< Use this city >" in screen, f"buttons left the prompt:\n{screen}")
        s.keys("Enter")
        # Offline: the search's own alert (a long title's "…”" is a layout table's case).
        screen = s.wait_for("Couldn't reach the city search")
        s.check("< Try again >" in screen and "[ Skip ]" in screen, f"buttons off screen:\n{screen}")
        s.keys("Enter")  # Try again: the text comes back, its end in view
        s.wait_for("Which city's weather should zeph show?")
        field = s.field_row()
        s.check(field is not None and field.startswith("…x"), f"field {field!r}")


def tiny_terminal_waits_for_a_resize():
    with Session("tiny", width=20, height=5) as s:
        screen = s.wait_for("Terminal too small")
        s.check("Install" not in screen, f"a cut dialog was drawn:\n{screen}")
        s.keys("Enter")  # nobody can see the dialog: nothing happens
        time.sleep(0.3)
        s.tmux("resize-window", "-x", "80", "-y", "24")
        screen = s.wait_for("Put zeph° on every screen?")
        s.check("< Install >  [ Quit ]" in screen, f"dialog after resize:\n{screen}")
        s.expect_home_untouched()  # a key typed at the notice did not answer
        s.tmux("resize-window", "-x", "30", "-y", "12")
        s.wait_for("Terminal too small")
        s.tmux("resize-window", "-x", "40", "-y", "10")
        screen = s.wait_for("Put zeph° on every screen?")
        s.check("< Install >" in screen and "[ Quit ]" in screen, f"40x10 dialog:\n{screen}")


def killed_by_a_signal():
    """SIGTERM and Ctrl-\\ (SIGQUIT) at the confirmation, Ctrl-C (SIGINT) while
    installing: the installer dies of the signal and leaves the terminal as it was."""
    def terminate(s):
        pid = s.installer_pid()
        if pid:
            os.kill(pid, 15)

    for name, answer, shown, send, signal in (
            ("terminated", False, "Put zeph°", terminate, 15),
            ("sigquit", False, "Put zeph°", lambda s: s.keys("C-\\"), 3),
            ("interrupted twice", True, "Installing…", lambda s: s.keys("C-c", "C-c"), 2)):
        with Session(name) as s:
            s.wait_for("Put zeph° on every screen?")
            if answer:
                s.keys("Enter")
                s.wait_for(shown)
            send(s)
            s.expect_end(128 + signal)
            screen = s.screen()
            s.check(shown not in screen, f"still on screen:\n{screen}")
            if not answer:
                s.expect_home_untouched()


def esc_calls_off_a_hanging_lookup():
    # A proxy that takes connections and never answers: each lookup would
    # wait for its whole timeout.
    with socket.socket() as silent:
        silent.bind(("127.0.0.1", 0))
        silent.listen(8)
        proxy = f"http://127.0.0.1:{silent.getsockname()[1]}"
        with Session("hanging lookup", env={"https_proxy": proxy, "HTTPS_PROXY": proxy}) as s:
            s.wait_for("Put zeph° on every screen?")
            s.keys("Enter")
            s.wait_for("Looking up your location…")
            started = time.monotonic()
            s.keys("Escape")
            s.wait_for("Which city's weather should zeph show?")
            s.check(time.monotonic() - started < 3, "Esc did not call the lookup off")
            s.type("Oslo")
            s.keys("Enter")
            screen = s.wait_for("Looking up “Oslo”…")
            s.check("Esc to skip" in screen, f"no word that Esc skips:\n{screen}")
            s.keys("Escape")  # back to the prompt, the text kept, no alert
            s.wait_for("Which city's weather should zeph show?")
            s.wait_for_field("Oslo")
            s.check("Couldn't" not in s.screen(), f"an alert after Esc:\n{s.screen()}")
            s.keys("Escape")  # Skip
            s.wait_for("zeph° is ready")
            s.keys("Enter")
            s.expect_end(0)


def damaged_store(home):
    store = os.path.join(home, "Library/Application Support/com.apple.wallpaper/Store")
    os.makedirs(store)
    with open(os.path.join(store, "Index.plist"), "wb") as f:
        f.write(b"bplist00 damaged")


def failures_leave_the_terminal_as_it_was_with_the_error_on_it():
    """The failure alert after a damaged store, and after another run held
    the home's lock for the whole wait: OK puts the terminal back as it was
    found and leaves the error line on it."""
    with Session("failure alert", prepare=damaged_store, stderr_to_terminal=True) as s:
        s.wait_for("Put zeph° on every screen?")
        s.keys("Enter")
        s.wait_for("Something went wrong")
        s.keys("Enter")
        s.expect_end(1)
        screen = s.screen()
        s.check("error: " in screen and "a damaged binary property list" in screen, f"no error line left:\n{screen}")

    def held_lock(home):
        folder = os.path.join(home, "Library/Screen Savers")
        os.makedirs(folder)
        held_lock.fd = os.open(os.path.join(folder, ".zeph.lock"), os.O_RDWR | os.O_CREAT, 0o644)
        fcntl.flock(held_lock.fd, fcntl.LOCK_EX)

    with Session("lock timeout", prepare=held_lock, stderr_to_terminal=True) as s:
        try:
            s.wait_for("Put zeph° on every screen?")
            s.keys("Enter")
            s.wait_for("waiting for another zeph-installer run…")
            screen = s.wait_for(" s")  # the seconds it has waited
            s.check("Installing" in screen, f"the wait does not say what it is for:\n{screen}")
            screen = s.wait_for("Something went wrong")
            s.check("another zeph-installer run is working on" in flat(screen), f"lock error:\n{screen}")
            s.keys("Enter")
            s.expect_end(1)
            screen = flat(s.screen())
            s.check("error: another zeph-installer run is working on" in screen, f"no error line:\n{s.screen()}")
        finally:
            os.close(held_lock.fd)


def lookups_that_get_no_answer():
    """Offline, and a proxy that answers 503: the guess says it failed, the
    city search has its own alert, and "Try again" keeps the text."""
    with socket.socket() as server:
        server.bind(("127.0.0.1", 0))
        server.listen(8)
        unavailable = f"http://127.0.0.1:{server.getsockname()[1]}"

        def answer_503():
            while True:
                try:
                    conn, _ = server.accept()
                except OSError:
                    return
                with conn:
                    try:
                        conn.recv(4096)
                        conn.sendall(b"HTTP/1.1 503 Service Unavailable\r\nContent-Length: 2\r\n\r\n[]")
                    except OSError:
                        pass

        import threading
        threading.Thread(target=answer_503, daemon=True).start()
        for name, env in (("offline", {}), ("503", {"https_proxy": unavailable, "HTTPS_PROXY": unavailable})):
            with Session(name, env=env) as s:
                s.wait_for("Put zeph° on every screen?")
                s.keys("Enter")
                s.wait_for("Couldn't guess your location — type a city")
                s.wait_for("Which city's weather should zeph show?")
                s.type("Oslo")
                s.wait_for_field("Oslo")
                s.keys("Enter")
                screen = flat(s.wait_for("Couldn't reach the city search"))
                s.check("Check your internet connection, then try again." in screen, f"alert text:\n{screen}")
                s.check("< Try again >" in screen and "[ Skip ]" in screen, f"buttons:\n{screen}")
                s.keys("Enter")  # Try again: the prompt, the text kept
                s.wait_for("Which city's weather should zeph show?")
                s.wait_for_field("Oslo")
                s.keys("Escape")
                s.wait_for("zeph° is ready")
                s.keys("Escape")
                s.expect_end(0)
                s.expect_no_city()


def ctrl_c_during_the_install_lets_it_finish():
    with Session("ctrl-c while installing") as s:
        s.wait_for("Put zeph° on every screen?")
        s.keys("Enter")
        s.wait_for("Installing…")
        s.keys("C-c")
        s.wait_for("Finishing the install — Ctrl-C again to stop now")
        stderr = s.expect_end(130)
        # The last line; "killall" may have said something before it.
        last = stderr.splitlines()[-1] if stderr else ""
        s.check(last == f"interrupted after: installed {s.home}/Library/Screen Savers/zeph.saver; 0 screensaver "
                "slots set to zeph", f"stderr {stderr!r}")
        s.check(os.path.isdir(os.path.join(s.home, "Library/Screen Savers/zeph.saver")), "the install did not finish")
        s.check("Finishing" not in s.screen(), f"still on screen:\n{s.screen()}")


def mashed_enter_answers_no_alert_unseen():
    """Enter every 50 ms from the first alert to the end: every alert of the
    run is on screen before it is answered."""
    with Session("mashed enter") as s:
        seen = set()
        titles = ("Put zeph° on every screen?", "Which city's weather should zeph show?", "zeph° is ready")
        deadline = time.monotonic() + WAIT_LIMIT
        while not os.path.exists(s.status_file) and time.monotonic() < deadline:
            s.keys("Enter")
            screen = s.screen()
            seen.update(title for title in titles if title in screen)
            time.sleep(0.05)
        s.expect_end(0)
        s.check(seen == set(titles), f"alerts answered unseen: {set(titles) - seen}")


CASES = (refused_without_a_terminal_that_shows_dialogs, declined, skipped_with_back_tab_and_resized,
         typed_city_and_done, early_keys_answer_nothing_and_esc_quits, status_during_the_pause_and_pasted_tab,
         home_and_end_under_xterm, vt100_keys_and_placeholder, long_city_keeps_the_buttons,
         tiny_terminal_waits_for_a_resize, killed_by_a_signal, esc_calls_off_a_hanging_lookup,
         failures_leave_the_terminal_as_it_was_with_the_error_on_it, lookups_that_get_no_answer,
         ctrl_c_during_the_install_lets_it_finish, mashed_enter_answers_no_alert_unseen)


def cases_to_run():
    chosen = CASES
    if len(sys.argv) > 2:
        shard, shards = (int(n) for n in sys.argv[2].split("/"))
        if not 1 <= shard <= shards:
            sys.exit(f"terminal_dialog_e2e.py: no shard {sys.argv[2]}")
        chosen = CASES[shard - 1::shards]
    # ZEPH_E2E_ONLY=name,name runs only those cases (while working on one).
    if os.environ.get("ZEPH_E2E_ONLY"):
        chosen = [case for case in chosen if case.__name__ in os.environ["ZEPH_E2E_ONLY"].split(",")]
    return chosen


for case in cases_to_run():
    case()
print("failures:", len(failures))
sys.exit(1 if failures else 0)
