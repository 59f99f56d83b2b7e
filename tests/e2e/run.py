#!/usr/bin/env python3
"""End-to-end runs of Kavrin.exe under Wine, driven from outside through windriver.exe.

Every wait is a condition that windriver polls for, never a bare sleep. The Wine prefix
and the display come from the caller (scripts/test sets WINEPREFIX and DISPLAY).
Prints one line per case and ends with "N passed, N failed".
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

MAIN_CAPTION = "OrumaVPN"
APP_CAPTION = "Kavrin"

TEXTS = {
    "RegisterModulesSuccessfully": "OrumaVPN的模块安装成功。",
    "RegisterModulesFailed": "OrumaVPN的模块安装失败。或许已经安装过了？",
    "UnregisterModulesSuccessfully": "OrumaVPN的模块卸载成功。",
    "UnregisterModulesFailed": "OrumaVPN的模块卸载失败。或许已经卸载过了？",
    "VpnAppAlreadyRunUseTrayIconToActive":
        "程序已经运行。您可以在任务栏右下角图标区双击“OrumaVPN”图标显示已经运行的程序。",
    "CanNotUpdateGreenFile": "无法完成绿色版的升级。",
}


class Driver:
    def __init__(self, build):
        self.build = os.path.abspath(build)
        self.windriver = os.path.join(self.build, "windriver.exe")

    def drive(self, *args, timeout=90):
        # Output goes through a file, not a pipe: Wine's helper processes (explorer, services)
        # started on the way inherit the pipe and would keep a reader waiting for ever.
        with tempfile.TemporaryFile() as out:
            r = subprocess.run(["wine", self.windriver, *args], stdin=subprocess.DEVNULL,
                               stdout=out, stderr=subprocess.DEVNULL, timeout=timeout)
            out.seek(0)
            return r.returncode, out.read().decode("utf-8", "replace").replace("\r\n", "\n")

    def start(self, exe, *args, cwd=None):
        return subprocess.Popen(["wine", exe, *args], cwd=cwd or self.build,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def message_box(self, caption, timeout_ms=15000):
        """Waits for a message box; returns (text, icon) or fails."""
        rc, out = self.drive("msgbox", caption, str(timeout_ms))
        if rc != 0:
            raise AssertionError(f"no message box captioned {caption!r} (windriver: {out!r})")
        fields = dict(line.split("\t", 1) for line in out.splitlines() if "\t" in line)
        return fields.get("text", ""), fields.get("icon", "")

    def press(self, caption, button="#1", timeout_ms=10000):
        rc, out = self.drive("click", "#32770", caption, button, str(timeout_ms))
        if rc != 0:
            raise AssertionError(f"could not press {button} in {caption!r}: {out!r}")

    def wait_window(self, caption, timeout_ms=20000, cls="#32770"):
        rc, _ = self.drive("wait", cls, caption, str(timeout_ms))
        return rc == 0

    def wait_gone(self, caption, timeout_ms=20000, cls="#32770"):
        rc, _ = self.drive("gone", cls, caption, str(timeout_ms))
        return rc == 0


def wait_exit(proc, seconds):
    try:
        proc.wait(timeout=seconds)
        return True
    except subprocess.TimeoutExpired:
        return False


def expect(cond, what):
    if not cond:
        raise AssertionError(what)


def close_main_window(d, proc):
    """Ends a running Kavrin.exe the way a user does: the close box, then its own question."""
    d.drive("close", "#32770", MAIN_CAPTION, "5000")
    if not wait_exit(proc, 15):
        proc.kill()
        subprocess.run(["wineserver", "-k"], stdin=subprocess.DEVNULL)
        raise AssertionError("Kavrin.exe did not exit after its window was closed")


# ---- cases -------------------------------------------------------------------------------

def case_register_and_unregister(d):
    p = d.start("Kavrin.exe", "/REGISTER", "extra")
    text, icon = d.message_box(MAIN_CAPTION)
    expect(text == TEXTS["RegisterModulesSuccessfully"], f"register said {text!r}")
    expect(icon == "information", f"register icon {icon!r}")
    d.press(MAIN_CAPTION)
    expect(wait_exit(p, 20), "/register did not exit")

    for expected, want_icon in (("UnregisterModulesSuccessfully", "information"),
                                ("UnregisterModulesFailed", "warning")):
        p = d.start("Kavrin.exe", "/unregister")
        text, icon = d.message_box(MAIN_CAPTION)
        expect(text == TEXTS[expected], f"unregister said {text!r}, wanted {expected}")
        expect(icon == want_icon, f"unregister icon {icon!r}, wanted {want_icon}")
        d.press(MAIN_CAPTION)
        expect(wait_exit(p, 20), "/unregister did not exit")


def case_register_without_module(d):
    folder = tempfile.mkdtemp(prefix="kv-nobind-", dir=d.build)
    try:
        shutil.copy(os.path.join(d.build, "Kavrin.exe"), folder)
        exe = os.path.join(folder, "Kavrin.exe")
        for arg, expected in (("/register", "RegisterModulesFailed"),
                              ("/unregister", "UnregisterModulesFailed")):
            p = d.start(exe, arg, cwd=folder)
            text, icon = d.message_box(MAIN_CAPTION)
            expect(text == TEXTS[expected], f"{arg} without the module said {text!r}")
            expect(icon == "warning", f"{arg} without the module: icon {icon!r}")
            d.press(MAIN_CAPTION)
            expect(wait_exit(p, 20), f"{arg} did not exit")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def case_update_to_unwritable_target(d):
    started = time.monotonic()
    p = d.start("Kavrin.exe", "/update", "C:\\no\\such\\folder\\Kavrin.exe")
    text, _ = d.message_box(APP_CAPTION, timeout_ms=40000)
    elapsed = time.monotonic() - started
    expect(text.startswith(TEXTS["CanNotUpdateGreenFile"]), f"update said {text!r}")
    expect(elapsed >= 9.5, f"gave up after {elapsed:.1f} s, before ten attempts")
    d.press(APP_CAPTION)
    expect(wait_exit(p, 20), "/update did not exit")


def case_update_copies_and_starts_target(d):
    folder = tempfile.mkdtemp(prefix="kv-update-", dir=d.build)
    try:
        target = os.path.join(folder, "Kavrin.exe")
        with open(target, "wb") as f:
            f.write(b"old")
        shutil.copy(os.path.join(d.build, "KavrinBind.dll"), folder)
        p = d.start("Kavrin.exe", "/update", target)
        expect(d.wait_window(MAIN_CAPTION), "the updated copy did not start")
        expect(wait_exit(p, 20), "/update did not exit after starting the target")
        with open(target, "rb") as f, open(os.path.join(d.build, "Kavrin.exe"), "rb") as g:
            expect(f.read() == g.read(), "target is not a copy of the running program")
        d.drive("close", "#32770", MAIN_CAPTION, "5000")
        expect(d.wait_gone(MAIN_CAPTION), "the updated copy did not exit")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def case_single_instance(d):
    first = d.start("Kavrin.exe")
    expect(d.wait_window(MAIN_CAPTION), "main window did not open")
    d.drive("hide", "#32770", MAIN_CAPTION, "5000")
    second = d.start("Kavrin.exe")
    text, _ = d.message_box(APP_CAPTION)
    expect(text == TEXTS["VpnAppAlreadyRunUseTrayIconToActive"], f"second start said {text!r}")
    d.press(APP_CAPTION)
    expect(wait_exit(second, 20), "second instance did not exit")
    rc, out = d.drive("visible", "#32770", MAIN_CAPTION, "5000")
    expect(rc == 0, "the first instance's window did not come forward")
    rc, out = d.drive("count", "#32770", MAIN_CAPTION)
    expect(out.strip() == "1", f"{out.strip()} main windows")
    close_main_window(d, first)


CASES = [
    case_register_and_unregister,
    case_register_without_module,
    case_update_to_unwritable_target,
    case_update_copies_and_starts_target,
    case_single_instance,
]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/windows")
    ap.add_argument("-k", default="", help="run only cases whose name contains this")
    args = ap.parse_args()
    d = Driver(args.build)
    passed = failed = 0
    for case in CASES:
        if args.k not in case.__name__:
            continue
        started = time.monotonic()
        try:
            case(d)
            passed += 1
            print(f"PASS {case.__name__} ({time.monotonic() - started:.1f} s)", flush=True)
        except Exception:  # one broken case must not hide the others
            failed += 1
            print(f"FAIL {case.__name__}", flush=True)
            traceback.print_exc(file=sys.stdout)
            subprocess.run(["wineserver", "-k"], stdin=subprocess.DEVNULL)
            time.sleep(1)
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
