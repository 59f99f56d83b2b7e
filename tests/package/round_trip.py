#!/usr/bin/env python3
"""Installs, runs and uninstalls the packages of scripts/package under Wine, as users do, and
checks what each step leaves behind.

    round_trip.py --build DIR [--packages DIR] [--openvpn DIR] [--prefix DIR] [--quick]

First silently (/S): install, files, shortcuts, uninstall entry, the binding modules and
their registration, the installed program started once from its desktop shortcut, a second install
that waits for the running program, the program's online update downloading and running this
installer (served by the service simulator), uninstall, and that the user's settings and the program
data folder survive it. Then (unless --quick) once
more through the wizard's pages, where the program's own "/register" and "/unregister" report.

It runs in a Wine prefix of its own (default: wineprefix-package in the build folder), copied
afresh from a pristine one before every run, so each run starts on a machine that never had the
program. The display comes from the caller (DISPLAY). Prints one line per check and ends with
"N passed, N failed".
"""
import argparse
import filecmp
import os
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "installer"))
import package_tools  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import run as e2e  # noqa: E402  (the service simulator and the program's texts)

PRODUCT = "OrumaVPN"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\OrumaVPN"
BIND_KEY = r"HKLM\SOFTWARE\Kavrin\Bind"
SETTINGS_KEY = r"HKCU\Software\Kavrin\Kavrin\Main"
SHELL_FOLDERS = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders"
UNINSTALL_SHORTCUT = "卸载 OrumaVPN.lnk"
TEXTS = {
    "RegisterModulesSuccessfully": "OrumaVPN的模块安装成功。",
    "RegisterModulesFailed": "OrumaVPN的模块安装失败。或许已经安装过了？",
    "UnregisterModulesSuccessfully": "OrumaVPN的模块卸载成功。",
    "UnregisterModulesFailed": "OrumaVPN的模块卸载失败。或许已经卸载过了？",
}
# Wine's socket layer accepts catalog changes and keeps none of them, so the binding module
# cannot be registered here: the installer must say so (exit code 3 when silent, the program's
# failure box in the wizard) rather than claim a module that steers nothing. On Windows these
# are 0 and the two success boxes.
INSTALL_EXIT = 3
REGISTER_REPORT = ("RegisterModulesFailed", "warning")
UNREGISTER_REPORT = ("UnregisterModulesFailed", "warning")
IMAGE_FILE_MACHINE_AMD64 = 0x8664
NEXT, INSTALL, UNINSTALL, FINISH = "下一步(&N) >", "安装(&I)", "卸载(&U)", "完成(&F)"
DIRECTORY_EDIT = 1019


class Wine:
    """Runs programs in one prefix; output always through files (a pipe inherited by Wine's
    helper processes would keep its reader waiting)."""

    def __init__(self, prefix, build):
        self.prefix = prefix
        self.windriver = os.path.join(build, "windriver.exe")
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d",
                        LANG="zh_CN.UTF-8", LC_ALL="zh_CN.UTF-8")

    def run(self, *args, timeout=60, encoding="gbk"):
        """(exit code, output); Wine's own console programs write the ANSI code page, 936."""
        with tempfile.TemporaryFile() as out:
            r = subprocess.run(["wine", *args], env=self.env, stdin=subprocess.DEVNULL,
                               stdout=out, stderr=subprocess.DEVNULL, timeout=timeout)
            out.seek(0)
            return r.returncode, out.read().decode(encoding, "replace").replace("\r\n", "\n")

    def start(self, *args):
        return subprocess.Popen(["wine", *args], env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def end(self, process):
        """Waits for a program the check started; one left hanging by a failure is ended with
        everything else in the prefix, so the next check starts clean."""
        try:
            process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.server("-k")
            process.wait(timeout=30)
            self.fresh_server()

    def server(self, *args):
        subprocess.run(["wineserver", *args], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    def fresh(self, base):
        """A prefix as Wine makes it: the pristine one is made once, then copied."""
        if not os.path.isfile(os.path.join(base, "system.reg")):
            shutil.rmtree(base, ignore_errors=True)
            subprocess.run(["wineboot", "-i"], env=dict(self.env, WINEPREFIX=base),
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=300)
            subprocess.run(["wineserver", "-w"], env=dict(self.env, WINEPREFIX=base),
                           stdin=subprocess.DEVNULL, timeout=300)
        self.server("-k")
        shutil.rmtree(self.prefix, ignore_errors=True)
        subprocess.run(["cp", "-a", base, self.prefix], check=True)
        self.fresh_server()

    def fresh_server(self):
        # A server of its own, detached from every pipe, for the whole run.
        subprocess.Popen(["wineserver", "-p"], env=self.env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True)
        self.run("cmd", "/c", "exit")

    def reg(self, key, name):
        """The value's text, or None when the key or value is missing."""
        rc, out = self.run("reg", "query", key, "/v", name)
        if rc != 0:
            return None
        for line in out.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[0] == name and parts[1].startswith("REG_"):
                return parts[2] if len(parts) == 3 else ""
        return None

    def unix(self, path):
        """C:\\a\\b -> the file in the prefix."""
        drive, _, rest = path.partition(":\\")
        assert drive.upper() == "C", path
        return os.path.join(self.prefix, "drive_c", *rest.split("\\"))

    def drive(self, *args, timeout_ms=20000):
        return self.run(self.windriver, *args, timeout=timeout_ms / 1000 + 30, encoding="utf-8")

    def wait_window(self, caption, timeout_ms=20000):
        return self.drive("wait", "#32770", caption, str(timeout_ms), timeout_ms=timeout_ms)[0] == 0

    def wait_gone(self, caption, timeout_ms=20000):
        return self.drive("gone", "#32770", caption, str(timeout_ms), timeout_ms=timeout_ms)[0] == 0

    def controls(self, caption):
        """{id: [texts]} of a visible window and its pages, or {} when it is not there."""
        rc, out = self.drive("texts", "#32770", caption, "3000", timeout_ms=3000)
        found = {}
        if rc != 0:
            return found
        for line in out.splitlines()[1:]:
            parts = line.split("\t", 2)
            if len(parts) == 3 and parts[0].lstrip("-").isdigit():
                found.setdefault(int(parts[0]), []).append(parts[2])
        return found

    def press_when(self, caption, button_text, seconds=30):
        """Waits until the wizard's button 1 reads button_text, then presses it; returns the
        controls of the page it pressed it on."""
        deadline = time.monotonic() + seconds
        seen = None
        while time.monotonic() < deadline:
            page = self.controls(caption)
            seen = page.get(1, [])
            if button_text in seen:
                rc, _ = self.drive("click", "#32770", caption, "#1", "5000", timeout_ms=5000)
                expect(rc == 0, f"could not press {button_text!r} in {caption!r}")
                return page
            time.sleep(0.3)
        raise AssertionError(f"{caption!r}: button 1 shows {seen!r}, wanted {button_text!r}")

    def confirm_report(self, report, timeout_ms=30000):
        """Waits for the program's box with this (text key, icon) and presses its OK."""
        text_key, want_icon = report
        rc, out = self.drive("msgbox", PRODUCT, str(timeout_ms), timeout_ms=timeout_ms)
        expect(rc == 0, f"no message box captioned {PRODUCT!r}")
        fields = dict(line.split("\t", 1) for line in out.splitlines() if "\t" in line)
        text, icon = fields.get("text", ""), fields.get("icon", "")
        expect(text == TEXTS[text_key] and icon == want_icon,
               f"the box said {text!r} ({icon}), wanted {text_key}")
        rc, _ = self.drive("click", "#32770", PRODUCT, "#1", "10000", timeout_ms=10000)
        expect(rc == 0, "could not press OK in the box")


def expect(cond, what):
    if not cond:
        raise AssertionError(what)


def wait_until(predicate, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.3)
    raise AssertionError(what)


class RoundTrip:
    def __init__(self, args):
        self.build = os.path.abspath(args.build)
        self.packages = os.path.abspath(args.packages or os.path.join(self.build, "package"))
        self.openvpn = os.path.abspath(args.openvpn) if args.openvpn else None
        prefix = os.path.abspath(args.prefix or os.path.join(self.build, "wineprefix-package"))
        self.base = prefix + ".base"
        self.wine = Wine(prefix, self.build)
        self.installer = os.path.join(self.packages, "KavrinInstaller.exe")
        self.green = os.path.join(self.packages, "Kavrin.exe")
        self.version = None
        self.passed = self.failed = 0

    # --- where things are on this machine ------------------------------------------------

    def shell_folder(self, name, default):
        return self.wine.reg(SHELL_FOLDERS, name) or default

    def locations(self):
        program_files = self.wine.reg(r"HKLM\Software\Microsoft\Windows\CurrentVersion",
                                      "ProgramFilesDir") or r"C:\Program Files"
        programs = self.shell_folder("Common Programs",
                                     r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs")
        desktop = self.shell_folder("Common Desktop", r"C:\users\Public\Desktop")
        data = self.shell_folder("Common AppData", r"C:\ProgramData")
        self.folder = program_files + "\\" + PRODUCT
        self.data_file = data + r"\Kavrin\applist.ini"
        self.shortcuts = {
            desktop + "\\OrumaVPN.lnk": self.folder + r"\Kavrin.exe",
            programs + r"\OrumaVPN\OrumaVPN.lnk": self.folder + r"\Kavrin.exe",
            programs + "\\OrumaVPN\\" + UNINSTALL_SHORTCUT: self.folder + r"\uninst.exe",
        }
        self.start_menu_folder = programs + "\\" + PRODUCT

    def installed_files(self):
        """{path in the program folder: file it must equal, or None for any content}."""
        files = {"Kavrin.exe": self.green, "KavrinBind.dll": None, "uninst.exe": None}
        if self.openvpn:
            _, names = package_tools.component_files(self.openvpn)
            for name in names:
                files["openvpn\\" + name] = os.path.join(self.openvpn, *name.split("\\"))
        return files

    # --- checks ----------------------------------------------------------------------------

    def check(self, name, fn):
        started = time.monotonic()
        try:
            fn()
        except Exception as error:  # every check reports; a broken one must not hide the rest
            self.failed += 1
            detail = str(error) if isinstance(error, AssertionError) else traceback.format_exc()
            print(f"FAIL {name}: {detail}", flush=True)
            return False
        self.passed += 1
        print(f"ok   {name} ({time.monotonic() - started:.1f} s)", flush=True)
        return True

    def check_packages(self):
        for path in (self.installer, self.green):
            expect(os.path.isfile(path), f"{path} is missing: run scripts/package first")
        with open(self.green, "rb") as f:
            program = package_tools.file_version(f.read())
        with open(self.installer, "rb") as f:
            installer = package_tools.file_version(f.read())
        expect(program is not None, "Kavrin.exe carries no version")
        expect(installer == program, f"installer version {installer}, program {program}")
        self.version = "%d.%d.%d.%d" % program

    def check_installed(self):
        location = self.wine.reg(UNINSTALL_KEY, "InstallLocation")
        expect(location == self.folder, f"installed into {location!r}, wanted {self.folder!r}")
        for name, same_as in self.installed_files().items():
            path = self.wine.unix(self.folder + "\\" + name)
            expect(os.path.isfile(path), f"{name} is not installed")
            if same_as:
                expect(filecmp.cmp(path, same_as, shallow=False), f"installed {name} differs")

    def check_shortcuts(self):
        for link, target in self.shortcuts.items():
            path = self.wine.unix(link)
            expect(os.path.isfile(path), f"no shortcut {link}")
            with open(path, "rb") as f:
                data = f.read()
            # A shell link keeps its target as ANSI text and, when it has one, as UTF-16.
            expect(target.encode("gbk") in data or target.encode("utf-16-le") in data,
                   f"{link} does not lead to {target}")

    def check_uninstall_entry(self):
        wanted = {
            "DisplayName": PRODUCT,
            "DisplayVersion": self.version,
            "Publisher": PRODUCT,
            "UninstallString": f'"{self.folder}\\uninst.exe"',
            "QuietUninstallString": f'"{self.folder}\\uninst.exe" /S',
        }
        for name, value in wanted.items():
            found = self.wine.reg(UNINSTALL_KEY, name)
            expect(found == value, f"uninstall entry {name} is {found!r}, wanted {value!r}")

    def is_64bit_windows(self):
        return os.path.isdir(self.wine.unix(r"C:\windows\syswow64"))

    def check_bind_modules(self):
        """KavrinBind64.dll goes only where 64-bit programs run; the record earlier versions
        wrote in place of a registration is never written."""
        module64 = os.path.exists(self.wine.unix(self.folder + r"\KavrinBind64.dll"))
        expect(module64 == self.is_64bit_windows(),
               f"KavrinBind64.dll {'is' if module64 else 'is not'} installed on this Windows")
        expect(self.wine.reg(BIND_KEY, "ModulePath") is None, "a registration record was written")

    def check_module64_built(self):
        """The 64-bit module the installer carries: a PE32+ x86-64 file with the same entry
        points as the 32-bit one."""
        names = {}
        for name in ("KavrinBind.dll", "KavrinBind64.dll"):
            with open(os.path.join(self.build, name), "rb") as f:
                data = f.read()
            pe = int.from_bytes(data[0x3C:0x40], "little")
            expect(data[pe:pe + 4] == b"PE\0\0", f"{name} is not a PE file")
            machine = int.from_bytes(data[pe + 4:pe + 6], "little")
            magic = int.from_bytes(data[pe + 24:pe + 26], "little")
            names[name] = (machine, magic)
            for entry in (b"DllRegisterServer", b"DllUnregisterServer", b"VpnBindStart",
                          b"VpnBindStop"):
                expect(entry + b"\0" in data, f"{name} lacks {entry.decode()}")
        expect(names["KavrinBind64.dll"] == (IMAGE_FILE_MACHINE_AMD64, 0x20B),
               f"KavrinBind64.dll is machine/magic {names['KavrinBind64.dll']}, not PE32+ x86-64")

    def close_program(self):
        expect(self.wine.wait_window(PRODUCT, 30000), "the program's main window did not appear")
        rc, _ = self.wine.drive("close", "#32770", PRODUCT, "5000", timeout_ms=5000)
        expect(rc == 0, "could not close the main window")
        expect(self.wine.wait_gone(PRODUCT, 20000), "the program did not end when closed")

    def check_runs_from_shortcut(self):
        desktop_link = next(iter(self.shortcuts))
        process = self.wine.start("start", desktop_link)
        try:
            self.close_program()
        finally:
            self.wine.end(process)
        # Its start-up repairs a registration the catalog lacks, and must write nothing else.
        self.check_bind_modules()

    def check_reinstall_waits_for_program(self):
        # The online update starts the installer, then closes the program: the installer must
        # not copy while the program runs (Wine would let it overwrite the running file).
        program = self.wine.start(self.wine.unix(self.folder + r"\Kavrin.exe"))
        installer = None
        try:
            expect(self.wine.wait_window(PRODUCT, 30000), "the program did not start")
            installer = self.wine.start(self.installer, "/S")
            time.sleep(3)
            expect(installer.poll() is None,
                   f"the installer ended ({installer.returncode}) while the program ran")
            self.close_program()
            installer.wait(timeout=30)
            expect(installer.returncode == INSTALL_EXIT,
                   f"the installer exited with {installer.returncode}")
        finally:
            self.wine.end(program)
            if installer:
                self.wine.end(installer)
        self.check_installed()
        self.check_bind_modules()

    def check_update_runs_installer(self):
        # The online update as users meet it: the service requires a newer version and offers
        # this very installer; the installed program downloads it, checks its MD5, starts it
        # and closes, and the installer's wizard upgrades the installation in place.
        sim = e2e.Simulator(options=["--required-version", "2.1.0.1",
                                     "--packages", self.packages])
        ini = self.wine.unix(self.folder + r"\Kavrin.exe.ini")
        program = None
        setup = f"{PRODUCT} {self.version} 安装"
        try:
            with open(ini, "w", newline="") as f:
                f.write(f"[Main]\r\nLoginHosts={sim.base}\r\n")
            program = self.wine.start(self.wine.unix(self.folder + r"\Kavrin.exe"))
            for key in ("ClientNeedUpdate", "DownloadUpdateCompletedReadyToExecuteUpdateFile"):
                rc, out = self.wine.drive("msgbox", e2e.APP_CAPTION, "60000", timeout_ms=60000)
                expect(rc == 0, f"no box for {key}")
                expect(f"text\t{e2e.TEXTS[key]}\n" in out, f"wanted {key}, the box said {out!r}")
                rc, _ = self.wine.drive("click", "#32770", e2e.APP_CAPTION, "#1", "10000",
                                        timeout_ms=10000)
                expect(rc == 0, "could not press OK")
            expect(self.wine.wait_window(setup, 60000), "the update did not start the installer")
            program.wait(timeout=30)
            expect(len(sim.requests("package:setup")) == 1, "the installer was not fetched once")
            self.wine.press_when(setup, NEXT)
            self.wine.press_when(setup, INSTALL)
            self.wine.confirm_report(REGISTER_REPORT)
            # The upgraded program must find nothing newer when the finish page starts it.
            e2e.sim_get(sim, "_sim/offer?required_version=" + self.version)
            self.wine.press_when(setup, FINISH)
            expect(self.wine.wait_gone(setup), "the installer did not end")
            self.close_program()
        finally:
            if program:
                self.wine.end(program)
            sim.stop()
            if os.path.exists(ini):
                os.remove(ini)  # a file of the user's: the uninstaller would rightly keep it
        self.check_installed()
        self.check_bind_modules()

    def seed_user_data(self):
        rc, _ = self.wine.run("reg", "add", SETTINGS_KEY, "/v", "LastUserName", "/d", "demo",
                              "/f")
        expect(rc == 0, "could not write a setting")
        path = self.wine.unix(self.data_file)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="ascii") as f:
            f.write("[Apps]\r\n")

    def uninstall_finished(self):
        return (self.wine.reg(UNINSTALL_KEY, "DisplayName") is None and
                not os.path.exists(self.wine.unix(self.folder)))

    def check_removed(self):
        expect(not os.path.exists(self.wine.unix(self.folder)), f"{self.folder} is still there")
        for link in self.shortcuts:
            expect(not os.path.exists(self.wine.unix(link)), f"{link} is still there")
        expect(not os.path.exists(self.wine.unix(self.start_menu_folder)),
               "the Start-menu folder is still there")
        expect(self.wine.reg(UNINSTALL_KEY, "DisplayName") is None, "uninstall entry is left")
        expect(self.wine.reg(BIND_KEY, "ModulePath") is None, "binding module still registered")

    def check_user_data_kept(self):
        expect(self.wine.reg(SETTINGS_KEY, "LastUserName") == "demo", "the settings are gone")
        expect(os.path.isfile(self.wine.unix(self.data_file)), "the program data folder is gone")

    # --- the two round trips -------------------------------------------------------------

    def silent(self):
        def install():
            rc, _ = self.wine.run(self.installer, "/S", timeout=120)
            expect(rc == INSTALL_EXIT, f"silent install exited with {rc}")

        def uninstall():
            # The uninstaller copies itself away and returns at once; the copy does the work.
            rc, _ = self.wine.run(self.wine.unix(self.folder + r"\uninst.exe"), "/S")
            expect(rc == 0, f"silent uninstall exited with {rc}")
            wait_until(self.uninstall_finished, 60, "the silent uninstall did not finish")

        if not self.check("silent install", install):
            return
        self.check("installed files", self.check_installed)
        self.check("shortcuts", self.check_shortcuts)
        self.check("uninstall entry", self.check_uninstall_entry)
        self.check("binding modules", self.check_bind_modules)
        self.check("installed program runs from its shortcut", self.check_runs_from_shortcut)
        self.check("installing again waits for the running program",
                   self.check_reinstall_waits_for_program)
        self.check("the online update downloads and runs this installer",
                   self.check_update_runs_installer)
        self.check("user data seeded", self.seed_user_data)
        if self.check("silent uninstall", uninstall):
            self.check("uninstall removed the program", self.check_removed)
        self.check("uninstall kept settings and program data", self.check_user_data_kept)

    def wizard(self):
        setup = f"{PRODUCT} {self.version} 安装"
        remove = f"{PRODUCT} {self.version} 卸载"

        def install():
            process = self.wine.start(self.installer)
            try:
                expect(self.wine.wait_window(setup), f"no window {setup!r}")
                self.wine.press_when(setup, NEXT)
                shown = self.wine.press_when(setup, INSTALL).get(DIRECTORY_EDIT, [])
                expect(self.folder in shown, f"the folder page offered {shown!r}")
                self.wine.confirm_report(REGISTER_REPORT)
                # The finish page starts the program (its box is ticked).
                self.wine.press_when(setup, FINISH)
                expect(self.wine.wait_gone(setup), "the installer did not end")
                self.close_program()
            finally:
                self.wine.end(process)
            self.check_installed()
            self.check_bind_modules()

        def uninstall():
            process = self.wine.start(self.wine.unix(self.folder + r"\uninst.exe"))
            try:
                self.wine.press_when(remove, UNINSTALL)
                self.wine.confirm_report(UNREGISTER_REPORT)
                self.wine.press_when(remove, FINISH)
                expect(self.wine.wait_gone(remove), "the uninstaller did not end")
            finally:
                self.wine.end(process)
            wait_until(self.uninstall_finished, 30, "the uninstall did not finish")
            self.check_removed()

        if self.check("wizard install, /register, finish page runs the program", install):
            self.check("wizard uninstall, /unregister", uninstall)

    def run(self, quick):
        if not self.check("packages and their version", self.check_packages):
            return
        self.check("the 64-bit binding module", self.check_module64_built)
        if not self.check("fresh Wine prefix", lambda: self.wine.fresh(self.base)):
            return
        try:
            self.locations()
            self.silent()
            if not quick:
                self.wizard()
        finally:
            self.wine.server("-k")
        if self.failed == 0:
            shutil.rmtree(self.wine.prefix, ignore_errors=True)  # kept only to look into


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the Windows build folder (windriver.exe)")
    parser.add_argument("--packages", help="folder of scripts/package's output")
    parser.add_argument("--openvpn", help="the component folder the installer was given")
    parser.add_argument("--prefix", help="the Wine prefix to use (made afresh)")
    parser.add_argument("--quick", action="store_true", help="only the silent round trip")
    args = parser.parse_args()
    trip = RoundTrip(args)
    trip.run(args.quick)
    print(f"{trip.passed} passed, {trip.failed} failed")
    return 0 if trip.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
