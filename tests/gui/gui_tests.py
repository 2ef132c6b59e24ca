#!/usr/bin/env python3
"""The library's windows, driven as a person would: a host process opens a
window, xdotool finds it by its title, clicks, types, presses Return or the
close box, and the test checks what the host printed and its exit status.

Runs against the Linux library (build/linux/quillon) or, with --runner wine,
against the DLL (build/win32/quillon.exe). Screenshots go to --shots.
With --no-display, checks that every window export fails at once instead.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
import hostrun  # noqa: E402

OPTS = None
WAIT = 60          # seconds to wait for a window; Wine's first start is slow
SETTLE = 1.0       # a person looks at a new window before acting on it
POPUP, NOTEPAD = 300, 400

# Where the client area starts inside the window that xdotool finds: GTK draws
# a 23-pixel caption; Wine, told to draw its own frame, a 3-pixel border and
# a 19-pixel caption.
CLIENT = {"linux": (0, 23), "win32": (3, 22)}
# The close box, measured from the window's top right corner.
CLOSE_BOX = {"linux": (11, 11), "win32": (12, 11)}


def platform():
    return "win32" if OPTS.runner else "linux"


def command(program, *args):
    return hostrun.command(OPTS.runner, program, *args)


def xdo(*args):
    p = subprocess.run(["xdotool", *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       text=True, timeout=WAIT)
    if p.returncode != 0:
        raise AssertionError("xdotool %s failed: %s" % (" ".join(args), p.stderr.strip()))
    return p.stdout


class Host:
    """A host process that shows windows; the test ends it if it must."""

    def __init__(self, program, *args):
        self.proc = subprocess.Popen(command(program, *args), stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)

    def finish(self, timeout=WAIT):
        """Waits for the host to end; returns (status, stdout bytes)."""
        try:
            out, _ = self.proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError("the host did not end")
        return self.proc.returncode, out

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.communicate()


class Window:
    """A window on the screen, found by a pattern (title or class)."""

    def __init__(self, pattern, by="--name"):
        found = xdo("search", "--sync", "--onlyvisible", by, pattern).split()
        self.id = found[0]
        time.sleep(SETTLE)
        geometry = dict(line.split("=", 1) for line in xdo("getwindowgeometry", "--shell", self.id).split())
        self.width, self.height = int(geometry["WIDTH"]), int(geometry["HEIGHT"])

    def click(self, x, y):
        """Clicks at a point of the client area."""
        dx, dy = CLIENT[platform()]
        xdo("mousemove", "--window", self.id, str(x + dx), str(y + dy), "click", "1")
        time.sleep(0.3)

    def close_box(self):
        rx, y = CLOSE_BOX[platform()]
        xdo("mousemove", "--window", self.id, str(self.width - rx), str(y), "click", "1")

    def wait_gone(self):
        """Waits until the window has left the screen."""
        deadline = time.time() + WAIT
        while time.time() < deadline:
            p = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "."],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, timeout=WAIT)
            if self.id not in p.stdout.split():
                return
            time.sleep(0.2)
        raise AssertionError("window %s stayed" % self.id)

    def screenshot(self, name):
        os.makedirs(OPTS.shots, exist_ok=True)
        path = os.path.join(OPTS.shots, "%s-%s.png" % (name, platform()))
        subprocess.run(["import", "-window", self.id, path], check=True, timeout=WAIT)
        return path


def type_text(text):
    # Then a pause, as a person reads what they typed: the Return key is read
    # from the keyboard's state, so a Return that arrives while typed keys
    # still wait in a slow host's queue ends the window before they land.
    xdo("type", "--delay", "40", text)
    time.sleep(SETTLE)


def keys(*names):
    for name in names:
        xdo("key", name)
    time.sleep(0.3)


def press_return():
    """Return held for a moment, as a finger does."""
    xdo("keydown", "Return")
    time.sleep(0.2)
    xdo("keyup", "Return")


def popup(title="Your name?", text="hello"):
    return Host(OPTS.quillon, "GUI_get_string", title, "", str(POPUP), text)


def notepad(title="Notes", text="first line\r\nsecond line"):
    return Host(OPTS.quillon, "GUI_make_window_notepad", title, "", str(NOTEPAD), text)


class WindowTest(unittest.TestCase):
    def setUp(self):
        self.hosts = []

    def tearDown(self):
        for h in self.hosts:
            h.kill()

    def start(self, host):
        self.hosts.append(host)
        return host


class Popup(WindowTest):
    # The edit box is 291 x 20 at (0, 200); the OK button 285 x 22 at (5, 244).
    def click_edit_end(self, w):
        w.click(280, 210)

    def test_typing_then_return_adds_to_the_text(self):
        h = self.start(popup())
        w = Window("^Your name\\?$")
        self.assertEqual((w.width, w.height), (POPUP, POPUP))
        self.click_edit_end(w)
        type_text(" world")
        w.screenshot("popup")
        press_return()
        self.assertEqual(h.finish(), (0, b"hello world\n"))

    def test_ok_at_once_gives_the_initial_text(self):
        h = self.start(popup())
        w = Window("^Your name\\?$")
        w.click(5 + 142, 244 + 11)
        self.assertEqual(h.finish(), (0, b"hello\n"))

    def test_cleared_box_gives_the_empty_text(self):
        h = self.start(popup())
        w = Window("^Your name\\?$")
        self.click_edit_end(w)
        keys("End", *["BackSpace"] * 5)
        press_return()
        self.assertEqual(h.finish(), (0, b"\n"))

    def test_close_box_gives_the_text_as_it_stands(self):
        h = self.start(popup(title="Close me", text="abc"))
        w = Window("^Close me$")
        self.click_edit_end(w)
        type_text("def")
        w.close_box()
        self.assertEqual(h.finish(), (0, b"abcdef\n"))

    def test_second_popup_overwrites_the_first_result(self):
        h = self.start(Host(OPTS.driver, "popups-twice"))
        Window("^First popup$").click(5 + 142, 244 + 11)
        Window("^Second popup$").click(5 + 142, 244 + 11)
        status, out = h.finish()
        self.assertEqual(status, 0)
        self.assertEqual(out.decode().splitlines()[:4],
                         ["first=one", "second=two", "first-pointer-now=two", "same-storage=yes"])


class Windows1252(WindowTest):
    """A text that is not UTF-8 is shown as Windows-1252 and comes back in it,
    byte for byte when untouched. Linux only: Windows passes texts through its
    code page anyway."""

    def setUp(self):
        super().setUp()
        if OPTS.runner:
            self.skipTest("the Linux windows' text conversion")

    def host(self, export, title, size, text):
        return self.start(Host(OPTS.quillon, "-x", export, title.encode().hex(), "", str(size), text.hex()))

    def test_popup_untouched_and_edited(self):
        h = self.host("GUI_get_string", "Accent", POPUP, b"caf\xe9")
        w = Window("^Accent$")
        w.click(280, 210)
        press_return()
        self.assertEqual(h.finish(), (0, b"caf\xe9\n"))

        h = self.host("GUI_get_string", "Accent edited", POPUP, b"caf\xe9")
        w = Window("^Accent edited$")
        w.click(280, 210)
        type_text("s")
        press_return()
        self.assertEqual(h.finish(), (0, b"caf\xe9s\n"))

    def test_notepad_untouched_keeps_every_byte(self):
        # The euro sign, a byte the code page leaves unassigned, and an accent.
        text = b"\x80 \x81 \xe9\r\nline"
        h = self.host("GUI_make_window_notepad", "Bytes", NOTEPAD, text)
        Window("^Bytes$").close_box()
        self.assertEqual(h.finish(), (0, text + b"\n"))


class Notepad(WindowTest):
    # The edit box is 391 x 344 at (0, 0); the OK button 385 x 22 at (5, 344).
    def test_edited_lines_come_back_and_return_ends_the_window(self):
        h = self.start(notepad())
        w = Window("^Notes$")
        self.assertEqual((w.width, w.height), (NOTEPAD, NOTEPAD))
        w.click(300, 24)  # right of the end of the second line
        type_text(" edited")
        w.screenshot("notepad")
        press_return()  # ends the window; no new line is started
        self.assertEqual(h.finish(), (0, b"first line\r\nsecond line edited\n"))

    def test_closed_at_once_gives_the_initial_text(self):
        h = self.start(notepad(title="Untouched"))
        Window("^Untouched$").close_box()
        self.assertEqual(h.finish(), (0, b"first line\r\nsecond line\n"))

    def test_ok_gives_the_edited_text(self):
        h = self.start(notepad(title="Edit and OK", text="abc"))
        w = Window("^Edit and OK$")
        w.click(300, 100)  # below the only line: the caret goes to its end
        type_text("xyz")
        w.click(5 + 192, 344 + 11)
        self.assertEqual(h.finish(), (0, b"abcxyz\n"))

    def test_text_beyond_the_buffer_is_cut(self):
        lines = 4000100 // 100 + 1
        text = ("%099d\n" % 0) * lines
        path = os.path.join(OPTS.shots, "long-text.txt")
        os.makedirs(OPTS.shots, exist_ok=True)
        with open(path, "w", newline="") as f:
            f.write(text.replace("\n", "\r\n"))
        h = self.start(Host(OPTS.driver, "notepad-file", host_path(path)))
        Window("^Long text$", by="--name").close_box()
        status, out = h.finish(timeout=300)
        self.assertEqual(status, 0)
        self.assertEqual(out.decode().splitlines()[:2], ["length=3999999", "prefix=yes"])


class Boxes(WindowTest):
    def box(self):
        # Message boxes have an empty title: found by the host's class. The
        # pointer goes over the box, which gives it the keyboard.
        w = Window("quillon|gui_driver", by="--class")
        xdo("mousemove", "--window", w.id, str(w.width // 2), "4")
        time.sleep(0.3)
        return w

    def test_question_yes_is_1(self):
        h = self.start(Host(OPTS.quillon, "GUI_show_question", "Shall we go on?"))
        self.box().screenshot("question")
        keys("alt+y")
        self.assertEqual(h.finish(), (0, b"1\n"))

    def test_question_no_is_0(self):
        h = self.start(Host(OPTS.quillon, "GUI_show_question", "Shall we go on?"))
        self.box()
        keys("alt+n")
        self.assertEqual(h.finish(), (0, b"0\n"))

    def test_message_is_1(self):
        h = self.start(Host(OPTS.quillon, "GUI_show_message", "All done."))
        self.box()
        keys("Return")
        self.assertEqual(h.finish(), (0, b"1\n"))

    def test_null_texts_are_empty_texts(self):
        h = self.start(Host(OPTS.driver, "null-texts"))
        Window("^Null text$").click(5 + 142, 244 + 11)
        Window("^Null notepad$").click(5 + 192, 344 + 11)
        self.box()
        keys("Return")
        status, out = h.finish()
        self.assertEqual(status, 0)
        self.assertEqual(out.decode().splitlines()[:3], ["popup=", "notepad=", "message=1"])


class PlainWindow(WindowTest):
    def test_closed_window_gives_0(self):
        h = self.start(Host(OPTS.quillon, "GUI_make_window", "Plain window", "", "320", "240"))
        w = Window("^Plain window$")
        self.assertEqual((w.width, w.height), (320, 240))
        w.close_box()
        self.assertEqual(h.finish(), (0, b"0\n"))

    def test_second_call_shows_a_window_again(self):
        h = self.start(Host(OPTS.driver, "windows-twice"))
        first = Window("^Plain window$")
        first.close_box()
        first.wait_gone()
        Window("^Plain window$").close_box()
        status, out = h.finish()
        self.assertEqual(status, 0)
        self.assertEqual(out.decode().splitlines()[:2], ["first=0", "second=0"])


class NoDisplay(unittest.TestCase):
    """Without a display every window export returns its failure result at once."""

    def test_every_export_fails_at_once(self):
        p = subprocess.run(command(OPTS.driver, "no-display"), stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=WAIT)
        self.assertEqual(p.returncode, 0, p.stderr.decode(errors="replace"))
        results = dict(line.split("=", 1) for line in p.stdout.decode().splitlines())
        expected = {"GUI_show_message": "1", "GUI_show_question": "0", "GUI_make_window": "0",
                    "GUI_make_window_notepad": "error", "GUI_get_string": "error"}
        for name, want in expected.items():
            value, seconds = results[name].rsplit(" ", 1)
            self.assertEqual(value, want, name)
            self.assertLess(float(seconds), 1.0, name)
        self.assertEqual(results["GUI_get_string-again"], "error")

    def test_command_line_host_fails_too(self):
        for args, want in [(["GUI_get_string", "T", "", "300", "x"], b"error\n"),
                           (["GUI_make_window_notepad", "T", "", "400", "x"], b"error\n"),
                           (["GUI_make_window", "T", "", "300", "200"], b"0\n"),
                           (["GUI_show_question", "q"], b"0\n"),
                           (["GUI_show_message", "m"], b"1\n")]:
            p = subprocess.run(command(OPTS.quillon, *args), stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, timeout=WAIT)
            self.assertEqual((p.returncode, p.stdout), (0, want), args[0])


def host_path(path):
    return hostrun.host_path(OPTS.runner, path)


def prepare_wine():
    # Wine draws the Windows frame and caption itself instead of leaving them
    # to a window manager (there is none under Xvfb), so the windows show
    # their title and close box as on Windows.
    subprocess.run(command("reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Decorated",
                           "/d", "N", "/f"), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=300)


def main():
    global OPTS
    ap = argparse.ArgumentParser()
    ap.add_argument("--quillon", required=True)
    ap.add_argument("--driver", required=True)
    ap.add_argument("--runner", default="")
    ap.add_argument("--shots", required=True)
    ap.add_argument("--no-display", action="store_true")
    OPTS, rest = ap.parse_known_args()
    if OPTS.no_display:
        os.environ.pop("DISPLAY", None)
        os.environ.pop("WAYLAND_DISPLAY", None)
        cases = [NoDisplay]
    else:
        if not os.environ.get("DISPLAY"):
            print("gui_tests: no DISPLAY; run under xvfb-run", file=sys.stderr)
            return 1
        for tool in ("xdotool", "import"):
            if not shutil.which(tool):
                print("gui_tests: %s is missing" % tool, file=sys.stderr)
                return 1
        if OPTS.runner:
            prepare_wine()
        cases = [Popup, Windows1252, Notepad, Boxes, PlainWindow]
    suite = unittest.TestSuite()
    for case in cases:
        suite.addTests(unittest.defaultTestLoader.loadTestsFromTestCase(case))
    if rest:
        suite = unittest.TestSuite(t for t in suite if any(r in t.id() for r in rest))
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
