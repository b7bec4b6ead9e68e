"""What only the Windows build must get right, under wine64: runs started together, saves
that never leave the phonebook absent, holds that time out or die with their holder,
read-only phonebooks, profile folders outside the ANSI code page, long paths and links
below the profile."""

import os
import re
import shutil
import subprocess
import sys
import time
import unittest
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

from harness import KIND, SUFFIX, WINE, Result, dump, parse
from test_run import ENTRY, TEMPLATE, RunTest, on_lines

OWN = ("[Home ISP]\r\nPhoneNumber=isp.example.net\r\nType=1\r\n\r\n"
       "[Office VPN]\r\nPhoneNumber=office.example.org\r\nType=2\r\n\r\n")
CREATED = dump(parse(OWN) + [TEMPLATE.created_entry(ENTRY)])


def windows_path(path):
    """The Wine name of a host path (the Z: drive maps /)."""
    return "Z:" + str(path).replace("/", "\\")


@unittest.skipUnless(KIND == "wine", "Windows semantics under wine64")
class WindowsTest(RunTest):
    def stamp(self, path):
        st = path.stat()
        return path.read_bytes(), st.st_mtime_ns, st.st_ino

    def run_with(self, variables, name="vpnsetup.exe", args=(), locale="C.UTF-8"):
        """A run whose environment sets `variables` after Wine has set its own (Wine makes
        APPDATA from the profile): through cmd, which hands them on as Unicode. The locale
        gives Wine its ANSI code page."""
        self.box.install(name)
        sets = "".join(f"set {key}={value}&& " for key, value in variables.items())
        command = sets + " ".join([windows_path(self.box.bin / name), *args])
        env = self.box.wine_env()
        env.update(LANG=locale, LC_ALL=locale)
        completed = subprocess.run([WINE, "cmd", "/c", command], capture_output=True,
                                   env=env, timeout=120, cwd=self.box.root)
        return Result(completed)

    def assertFails(self, result, lines, message, name="vpnsetup.exe"):
        """The run stopped at `lines` with the error line `message`, status 2."""
        self.assertEqual(result.lines(),
                         lines + ["* exception: " + message, self.closing(name)])
        self.assertEqual(result.status, 2)


class Watcher:
    """watch-file.exe looking for a file, without holding it, until stopped."""

    def __init__(self, box, path):
        self.process = subprocess.Popen(
            [WINE, os.environ["LW_WATCH_FILE"], path, "attributes"], stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, env=box.wine_env())
        assert self.process.stdout.readline().strip() == b"watching"

    def stop(self):
        """(probes, absent, other) counted while it watched."""
        out, _ = self.process.communicate(b"", timeout=60)
        fields = dict(part.split("=") for part in out.decode().split())
        return int(fields["probes"]), int(fields["absent"]), int(fields["other"])


class Concurrent(WindowsTest):
    RUNS = 6
    ROUNDS = 12

    def test_runs_started_together_keep_every_entry(self):
        user = self.box.user_text
        probe = "processing pbk " + user
        pass_line = "* processing pbk " + user
        head = self.head() + ["* reading: " + user, probe, "* processing *.pbk"]
        # Half the runs want the remote gateway, half the local one, so that most runs
        # save. The first to work on the phonebook creates the entry; the others find it,
        # at the first look or, having looked before it was made, at the second.
        switches = {"/g": "1", "/l": "0"}
        expected = {}
        for switch, gateway in switches.items():
            updates, _ = on_lines(ENTRY, "vpn1", gateway=gateway)
            expected[switch] = {
                "creator": head + [probe, pass_line, f"* creating [{ENTRY}]"],
                "found": head + [pass_line] + updates,
                "found late": head + [probe, pass_line] + updates,
            }
        finals = [dump(parse(OWN) + [TEMPLATE.created_entry(ENTRY, gateway)])
                  for gateway in switches.values()]
        # Another run held the phonebook past the wait.
        held = f'* exception: Cannot open file "{user}". Another run of this tool holds the file'
        self.box.install("vpnsetup.exe")
        order = [list(switches)[run % 2] for run in range(self.RUNS)]
        for round_ in range(self.ROUNDS):
            with self.subTest(round=round_):
                self.box.write(self.box.user_pbk, OWN)
                watcher = Watcher(self.box, user)
                try:
                    with ThreadPoolExecutor(self.RUNS) as pool:
                        results = list(pool.map(lambda s: self.box.run(args=[s]), order))
                finally:
                    probes, absent, other = watcher.stop()
                self.assertIn(self.box.read(self.box.user_pbk), finals)
                self.assertEqual(sorted(os.listdir(self.box.user_pbk.parent)), ["rasphone.pbk"])
                self.assertGreater(probes, 0)
                self.assertEqual((absent, other), (0, 0), "the phonebook was absent")
                kinds = []
                for switch, result in zip(order, results):
                    lines = result.lines()
                    kind = [k for k, v in expected[switch].items()
                            if lines == v + [self.closing()] and result.status == 0]
                    if not kind and held in lines and result.status == 2:
                        kind = ["held"]
                    self.assertTrue(kind, f"{switch}, status {result.status}: {lines}")
                    kinds += kind
                self.assertEqual(kinds.count("creator"), 1, kinds)


class OtherWriters(WindowsTest):
    """Another program saving the phonebook while runs work on it, and runs that reach one
    phonebook by two spellings of its folder."""

    ROUNDS = 3
    RUNS = 6

    def finals(self, text):
        return [dump(parse(text) + [TEMPLATE.created_entry(ENTRY, gateway)])
                for gateway in ("0", "1")]

    def run_all(self, runs):
        with ThreadPoolExecutor(len(runs)) as pool:
            return list(pool.map(lambda run: run(), runs))

    def test_entries_another_program_saves_meanwhile_are_kept(self):
        self.box.install("vpnsetup.exe")
        user = self.box.user_text
        changed = f'* exception: Cannot create file "{user}". Another program changed the file ' \
                  "meanwhile"
        writes, retried = 60, 0
        for round_ in range(self.ROUNDS):
            with self.subTest(round=round_):
                self.box.write(self.box.user_pbk, OWN)
                writer = subprocess.Popen(
                    [WINE, os.environ["LW_HOLD_FILE"], user, "append", str(writes), "15"],
                    stdout=subprocess.PIPE, env=self.box.wine_env())
                try:
                    results = self.run_all([lambda s=s: self.box.run(args=[s])
                                            for s in ["/g", "/l"] * (self.RUNS // 2)])
                finally:
                    self.assertEqual(writer.communicate(timeout=120)[0].strip(), b"appended")
                text = self.box.read(self.box.user_pbk)
                for n in range(writes):
                    self.assertEqual(text.count(f"[Writer {n}]\r\n"), 1, f"entry {n} lost")
                self.assertEqual(text.count(f"[{ENTRY}]"), 1)
                for result in results:
                    lines = result.lines()
                    self.assertTrue(result.status == 0 or (result.status == 2 and changed in lines),
                                    lines)
                    retried += lines.count("* processing pbk " + user) > 1
                self.assertEqual(sorted(os.listdir(self.box.user_pbk.parent)), ["rasphone.pbk"])
        print(f"\n{self.ROUNDS * self.RUNS} runs, {retried} read the phonebook again",
              file=sys.stderr)

    def test_two_spellings_of_one_folder_hold_each_other_off(self):
        home = self.box.appdata.parent.parent
        drive = self.box.prefix / "dosdevices" / "y:"
        drive.symlink_to(home, target_is_directory=True)
        other = "Y:\\" + str(self.box.appdata.relative_to(home)).replace("/", "\\")
        self.box.install("vpnsetup.exe")
        # Large enough that the runs' reads and saves overlap.
        text = OWN + "".join(f"[Dial {n}]\r\nPhoneNumber=555{n}\r\nType=1\r\n\r\n"
                             for n in range(60000))
        finals = self.finals(text)
        for round_ in range(self.ROUNDS):
            with self.subTest(round=round_):
                self.box.write(self.box.user_pbk, text)
                runs = []
                for n in range(self.RUNS):
                    switch = ["/g", "/l"][n % 2]
                    if n % 3 == 0:
                        runs.append(lambda s=switch: self.run_with({"APPDATA": other}, args=[s]))
                    else:
                        runs.append(lambda s=switch: self.box.run(args=[s]))
                results = self.run_all(runs)
                for result in results:
                    self.assertEqual(result.status, 0, result.lines())
                creators = sum("* creating [" + ENTRY + "]" in r.lines() for r in results)
                self.assertEqual(creators, 1)
                self.assertIn(self.box.read(self.box.user_pbk), finals)


class UpToDate(WindowsTest):
    def test_second_run_touches_nothing(self):
        self.box.write(self.box.user_pbk, OWN)
        self.assertEqual(self.box.run().status, 0)
        before = self.stamp(self.box.user_pbk)
        self.assertEqual(before[0].decode("latin-1"), CREATED)
        time.sleep(0.05)  # a rewrite would show in the time stamp
        result = self.box.run()
        self.assertEqual(result.status, 0)
        self.assertEqual(self.stamp(self.box.user_pbk), before)
        self.assertEqual(sorted(os.listdir(self.box.user_pbk.parent)), ["rasphone.pbk"])


class ReadOnly(WindowsTest):
    def attrib(self, flag):
        done = subprocess.run([WINE, "cmd", "/c", "attrib", flag, self.box.user_text],
                              capture_output=True, env=self.box.wine_env(), timeout=120)
        self.assertEqual(done.returncode, 0, done.stdout)

    def test_read_only_phonebook(self):
        user = self.box.user_text
        # Up to date: nothing to write, no error. Needing the entry: refused, untouched.
        cases = [(CREATED, 0), (OWN, 2)]
        for text, status in cases:
            with self.subTest(status=status):
                self.box.write(self.box.user_pbk, text)
                self.attrib("+r")
                before = self.stamp(self.box.user_pbk)
                result = self.box.run()
                self.assertEqual(result.status, status, result.lines())
                if status == 2:
                    self.assertEqual(result.lines()[-2],
                                     f'* exception: Cannot create file "{user}". Access denied')
                self.assertEqual(self.stamp(self.box.user_pbk), before)
                self.assertEqual(self.box.user_pbk.stat().st_mode & 0o222, 0)
                self.assertEqual(sorted(os.listdir(self.box.user_pbk.parent)),
                                 ["rasphone.pbk"])
                self.attrib("-r")


class ProfileNames(WindowsTest):
    def test_folder_outside_the_code_page(self):
        home = self.box.appdata.parent.parent
        folder = home / "\u0141\u00f3d\u017a"  # Łódź: Ł and ź are not in code page 1252
        folder.mkdir()
        before = sorted(os.listdir(home))
        appdata = "C:\\users\\" + home.name + "\\\u0141\u00f3d\u017a"
        result = self.run_with({"APPDATA": appdata})
        lines = result.lines()
        self.assertEqual(sorted(os.listdir(home)), before, "a look-alike folder was made")
        pbk = folder.joinpath(*SUFFIX)
        if result.status == 2:
            self.assertFails(result, self.head(), "The folder in APPDATA cannot be named in "
                             "this system's code page")
            self.assertFalse(pbk.exists())
            return
        # Named by its short name, which the code page holds.
        self.assertEqual(result.status, 0, lines)
        reading = lines[len(self.head())]
        self.assertTrue(reading.startswith("* reading: C:\\users\\" + home.name + "\\"), reading)
        self.assertTrue(reading.endswith("\\" + "\\".join(SUFFIX)), reading)
        self.assertNotRegex(reading, "(?i)lodz|l\xf3dz|\\?")
        self.assertEqual(self.box.read(pbk), dump([TEMPLATE.created_entry(ENTRY)]))


    def test_drive_that_does_not_answer_is_no_missing_phonebook(self):
        """Q: is mapped nowhere: an error, and nothing created for all users instead."""
        appdata = "Q:\\AppData\\Roaming"
        user = appdata + "\\" + "\\".join(SUFFIX)
        away = f'Cannot open file "{user}". The drive or network share that holds it does not answer'
        admin = "vpn-admin.exe"
        cases = [("vpnsetup.exe", ["/u"], self.head(), ["* processing *.pbk"]),
                 (admin, [], self.head(admin, "* admin mode"), ["* reading: " + user])]
        for name, args, head, lines in cases:
            with self.subTest(name=name):
                result = self.run_with({"APPDATA": appdata}, name=name, args=args)
                self.assertFails(result, head + lines, away, name)
                self.assertFalse(self.box.all_users_pbk.exists())

    def test_folder_that_is_not_a_full_path(self):
        drive = self.box.prefix / "drive_c"
        # Relative to the folder the run starts in, the current drive's root, or the current
        # folder of drive C:.
        cases = [("rel\\dir", self.box.root / "rel"),
                 ("\\lw-not-full\\AppData", Path("/lw-not-full")),
                 ("C:lw-not-full", drive / "lw-not-full")]
        for appdata, stray in cases:
            with self.subTest(appdata=appdata):
                result = self.run_with({"APPDATA": appdata})
                self.assertFails(result, self.head(), "The folder in APPDATA is not a full path")
                self.assertFalse(stray.exists())

    def test_double_byte_names_in_code_page_932(self):
        """Under LANG=ja_JP.UTF-8 Wine's ANSI code page is 932, where "\u30bd" (83 5C) and
        "\u8868" (95 5C) end in the byte of the backslash."""
        locales = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout
        if not re.search(r"(?im)^ja_JP\.utf-?8$", locales):
            self.fail("no locale ja_JP.UTF-8: run scripts/install-deps.sh as root")
        name = "\u30bd\u30d5\u30c8\u8868"
        # A profile folder that is there, and one the run makes.
        for top, made in [("dbcs", True), ("dbcs-new", False)]:
            with self.subTest(made=made):
                folder = self.box.prefix / "drive_c" / top
                if made:
                    (folder / name / "AppData" / "Roaming").mkdir(parents=True)
                appdata = f"C:\\{top}\\{name}\\AppData\\Roaming"
                path = (appdata + "\\" + "\\".join(SUFFIX)).encode("cp932").decode("latin-1")
                result = self.run_with({"APPDATA": appdata}, locale="ja_JP.UTF-8")
                self.assertEqual(result.lines(), self.head() + [
                    "* reading: " + path, "* processing *.pbk", "processing pbk " + path,
                    "* processing pbk " + path, f"* creating [{ENTRY}]", self.closing()])
                self.assertEqual(result.status, 0)
                self.assertEqual(os.listdir(folder), [name], "a stray folder")
                pbk = folder.joinpath(name, "AppData", "Roaming", *SUFFIX)
                self.assertEqual(self.box.read(pbk), dump([TEMPLATE.created_entry(ENTRY)]))


class LongPath(WindowsTest):
    def test_phonebook_path_of_255_characters_saves(self):
        suffix = "\\" + "\\".join(SUFFIX)
        appdata = "C:\\users\\" + self.box.appdata.parent.parent.name + "\\deep"
        while len(appdata) + len(suffix) < 255:
            appdata += "\\" + "d" * min(40, 255 - len(appdata) - len(suffix) - 1)
        path = appdata + suffix
        self.assertEqual(len(path), 255)
        host = self.box.prefix / "drive_c" / path[3:].replace("\\", "/")
        host.parent.parent.parent.parent.parent.mkdir(parents=True)
        for run in range(2):
            with self.subTest(run=run):
                result = self.run_with({"APPDATA": appdata})
                self.assertEqual(result.status, 0, result.lines())
                self.assertEqual(result.lines()[len(self.head())], "* reading: " + path)
                self.assertEqual(self.box.read(host), dump([TEMPLATE.created_entry(ENTRY)]))
                self.assertEqual(os.listdir(host.parent), ["rasphone.pbk"])

    def test_path_too_long_for_the_system_is_named_in_the_error(self):
        appdata = "C:\\users\\" + self.box.appdata.parent.parent.name + "\\" + "d" * 230
        path = appdata + "\\" + "\\".join(SUFFIX)
        result = self.run_with({"APPDATA": appdata})
        lines = result.lines()
        self.assertEqual(lines[:-2], self.head() + ["* reading: " + path])
        self.assertTrue(lines[-2].startswith(f'* exception: Cannot open file "{path}". '),
                        lines[-2])
        self.assertEqual(lines[-1], self.closing())
        self.assertEqual(result.status, 2)


class Links(WindowsTest):
    """Wine shows a Unix link to a folder as a reparse point."""

    def test_link_below_the_profile_or_program_data_is_refused(self):
        user, every = self.box.user_text, self.box.all_users_text
        admin = "vpn-admin.exe"
        cases = [
            (self.box.appdata, "vpnsetup.exe", self.head(), user),
            (self.box.programdata, admin, self.head(admin, "* admin mode") +
             ["* reading: " + user], every),
        ]
        for folder, name, lines, path in cases:
            with self.subTest(name=name):
                elsewhere = self.box.root / ("elsewhere-" + name)
                elsewhere.mkdir()
                network = folder / "Microsoft" / "Network"
                shutil.rmtree(network, ignore_errors=True)
                network.parent.mkdir(parents=True, exist_ok=True)
                network.symlink_to(elsewhere, target_is_directory=True)
                result = self.box.run(name=name)
                self.assertFails(result, lines + ["* reading: " + path],
                                 f'Cannot open file "{path}". The path leads through a link '
                                 "or junction", name)
                self.assertEqual(os.listdir(elsewhere), [])
                network.unlink()


class Held(WindowsTest):
    def test_run_gives_up_on_a_held_phonebook_and_a_killed_holder_holds_nothing(self):
        self.box.write(self.box.user_pbk, OWN)
        before = self.stamp(self.box.user_pbk)
        user = self.box.user_text
        holder = subprocess.Popen([WINE, os.environ["LW_HOLD_LOCK"], user],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  env=self.box.wine_env())
        try:
            self.assertEqual(holder.stdout.readline().strip(), b"held")
            start = time.monotonic()
            result = self.box.run(timeout=300)
            waited = time.monotonic() - start
            self.assertFails(result, self.head() + ["* reading: " + user],
                             f'Cannot open file "{user}". Another run of this tool holds '
                             "the file")
            self.assertGreaterEqual(waited, 60)
            self.assertEqual(self.stamp(self.box.user_pbk), before)
        finally:
            # Killed while holding it, as a logon script's run might be.
            holder.kill()
            holder.wait(timeout=60)
        start = time.monotonic()
        result = self.box.run()
        self.assertEqual(result.status, 0, result.lines())
        self.assertLess(time.monotonic() - start, 60)
        self.assertEqual(self.box.read(self.box.user_pbk), CREATED)


if __name__ == "__main__":
    unittest.main()
