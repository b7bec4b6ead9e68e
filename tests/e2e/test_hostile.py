"""The native tool among hostile files, racing attackers and broken environments.

Run as root (the tool's privileged case) with nobody as the second, unprivileged user.
LW_NO_SLEEP names a preload that skips the pauses meant for a reader, for the scenarios
that run the tool hundreds of times; LW_RACE_ATTACKER names the attacker program.
"""

import fcntl
import hashlib
import os
import random
import signal
import socket
import stat
import subprocess
import threading
import time
import unittest
from pathlib import Path

from harness import KIND, SandboxTest, Template, dump, is_root, parse

TEMPLATE = Template()
ENTRY = TEMPLATE.creatable[0]
NOBODY = 65534
NO_SLEEP = os.environ.get("LW_NO_SLEEP", "")
ATTACKER = os.environ.get("LW_RACE_ATTACKER", "")
LINK_REASON = "The path leads through a link or junction"
SET_ID = stat.S_ISUID | stat.S_ISGID


def fast():
    """Environment for a run without the reader's pauses (ASan tolerates the preload)."""
    return {"LD_PRELOAD": NO_SLEEP, "ASAN_OPTIONS": "verify_asan_link_order=0"}


def snapshot(root):
    """Every entry below root: kind, owner, mode and contents or link target, unfollowed."""
    entries = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            if stat.S_ISLNK(info.st_mode):
                what = "link " + os.readlink(path)
            elif stat.S_ISREG(info.st_mode):
                what = hashlib.sha256(Path(path).read_bytes()).hexdigest()
            else:
                what = stat.filemode(info.st_mode)
            entries[os.path.relpath(path, root)] = (info.st_mode, info.st_uid, info.st_ino, what)
    return entries


def make(kind, path, decoy):
    """Puts kind at path; links lead into decoy."""
    if kind == "FIFO":
        os.mkfifo(path)
    elif kind == "socket":
        with socket.socket(socket.AF_UNIX) as sock:
            sock.bind(str(path))
    elif kind == "dangling link":
        os.symlink(decoy / "nothing-here", path)
    elif kind == "link loop":
        os.symlink(path, path)
    elif kind == "link to a file":
        os.symlink(decoy / "rasphone.pbk", path)
    elif kind == "link to a folder":
        os.symlink(decoy, path)
    elif kind == "directory":
        os.mkdir(path)
    elif kind == "regular file":
        path.write_bytes(b"[file]\r\n")
    else:
        raise ValueError(kind)


class HostileTest(SandboxTest):
    def setUp(self):
        if KIND != "native":
            self.skipTest("native only")
        if not is_root():
            self.skipTest("needs root, and a second user")
        super().setUp()
        self.user = self.box.user_text
        # The full path as error lines give it.
        self.full = self.user.replace("/", "\\")
        self.box.install("vpnsetup.exe")

    def head(self):
        return [self.banner(), "* user mode", f"* OS version: {self.box.os_version()}"]

    def created(self):
        """The lines of a root run that creates the entry per user, up to its save."""
        return self.head() + [
            "* reading: " + self.user, "* processing *.pbk", "processing pbk " + self.user,
            "* processing pbk " + self.user, f"* creating [{ENTRY}]"]

    def decoy(self):
        decoy = self.box.root / "decoy"
        decoy.mkdir()
        (decoy / "rasphone.pbk").write_bytes(b"[decoy]\r\n")
        return decoy


class Refusals(HostileTest):
    """Things in place of the phonebook or one of its folders: an error line, status 2,
    nothing written anywhere."""

    def test_things_in_the_phonebooks_place(self):
        decoy = self.decoy()
        read_error = '* exception: Cannot open file "' + self.full + '". '
        cases = [
            ("FIFO", read_error, "Not a regular file"),
            ("socket", read_error, "Not a regular file"),
            ("dangling link", read_error, LINK_REASON),
            ("link loop", read_error, LINK_REASON),
            ("link to a file", read_error, LINK_REASON),
            ("link to a folder", read_error, LINK_REASON),
            ("directory", None, "Is a directory"),
        ]
        self.box.user_pbk.parent.mkdir(parents=True)
        for kind, error, reason in cases:
            with self.subTest(kind=kind):
                make(kind, self.box.user_pbk, decoy)
                try:
                    self.assertRefused(self.head() + ["* reading: " + self.user], error, reason)
                finally:
                    if kind == "directory":
                        self.box.user_pbk.rmdir()
                    else:
                        self.box.user_pbk.unlink()

    def test_things_in_a_folders_place(self):
        decoy = self.decoy()
        levels = self.box.user_pbk.relative_to(self.box.appdata).parts[:-1]
        lock_error = '* exception: Cannot open file "' + self.full + '". '
        cases = [
            ("dangling link", lock_error, LINK_REASON),
            ("link loop", lock_error, LINK_REASON),
            ("link to a file", lock_error, LINK_REASON),
            ("link to a folder", lock_error, LINK_REASON),
            # No folder there, as Windows has it: nothing to read, nowhere to save.
            ("FIFO", None, "Not a directory"),
            ("socket", None, "Not a directory"),
            ("regular file", None, "Not a directory"),
        ]
        for depth in range(len(levels)):
            place = self.box.appdata.joinpath(*levels[:depth + 1])
            for kind, error, reason in cases:
                with self.subTest(kind=kind, level=levels[depth]):
                    place.parent.mkdir(parents=True, exist_ok=True)
                    make(kind, place, decoy)
                    try:
                        self.assertRefused(self.head() + ["* reading: " + self.user], error,
                                           reason)
                    finally:
                        place.unlink()

    def test_normal_user_and_a_link_in_the_phonebooks_place(self):
        decoy = self.decoy()
        for path in [self.box.appdata.parent, *self.box.user_pbk.parents]:
            if self.box.root in path.parents:
                path.mkdir(parents=True, exist_ok=True)
                os.chown(path, NOBODY, NOBODY)
        os.symlink(decoy / "rasphone.pbk", self.box.user_pbk)
        before = snapshot(self.box.root)
        result = self.box.run(user=NOBODY, env=fast())
        self.assertEqual(result.lines(), self.head() + [
            "* reading: " + self.user,
            '* exception: Cannot open file "' + self.full + '". ' + LINK_REASON,
            self.closing()])
        self.assertEqual(result.status, 2)
        self.assertEqual(snapshot(self.box.root), before)

    def assertRefused(self, lines, error, reason):
        """A root run logs error + reason (or, with error None, creates the entry and fails
        to save it), exits with status 2 and writes nothing."""
        before = snapshot(self.box.root)
        result = self.box.run(env=fast(), timeout=60)
        if error is None:
            lines = self.created()
            error = '* exception: Cannot create file "' + self.full + '". '
        self.assertEqual(result.lines(), lines + [error + reason, self.closing()])
        self.assertEqual(result.status, 2)
        self.assertEqual(result.stderr, b"")
        self.assertEqual(snapshot(self.box.root), before)


class ReadOnly(HostileTest):
    def test_read_only_phonebook_of_a_normal_user_is_kept(self):
        old = b"[Office]\nPhoneNumber = vpn1.example.com\n"
        self.box.write(self.box.user_pbk, old)
        for path in [self.box.appdata.parent, *self.box.user_pbk.parents]:
            if self.box.root in path.parents:
                os.chown(path, NOBODY, NOBODY)
        os.chown(self.box.user_pbk, NOBODY, NOBODY)
        os.chmod(self.box.user_pbk, 0o444)
        before = snapshot(self.box.root)
        result = self.box.run(args=["/u"], user=NOBODY, env=fast())
        got = result.lines()
        self.assertEqual(got[-2:], [
            '* exception: Cannot create file "' + self.full + '". Permission denied',
            self.closing()])
        self.assertEqual(result.status, 2)
        self.assertEqual(snapshot(self.box.root), before)

    def test_root_replaces_a_read_only_phonebook_keeping_its_mode_and_owner(self):
        self.box.write(self.box.user_pbk, b"[Office]\nPhoneNumber = vpn1.example.com\n")
        os.chown(self.box.user_pbk, NOBODY, NOBODY)
        os.chmod(self.box.user_pbk, 0o444 | stat.S_ISUID)
        result = self.box.run(args=["/u"], env=fast())
        self.assertEqual(result.status, 0)
        info = os.lstat(self.box.user_pbk)
        self.assertEqual((info.st_uid, info.st_gid, stat.S_IMODE(info.st_mode)),
                         (NOBODY, NOBODY, 0o444))
        self.assertIn(b"IpDnsFlags=", self.box.user_pbk.read_bytes())


class Race(HostileTest):
    """An unprivileged attacker owns the folders below a world-writable APPDATA and swaps
    links, files and folders while root's runs read and save, round after round."""

    ROUNDS = 21 * 10  # every trick of the attacker's, ten times

    def setUp(self):
        super().setUp()
        if not ATTACKER:
            self.skipTest("LW_RACE_ATTACKER is not set")
        self.box.appdata.mkdir(parents=True)
        os.chmod(self.box.appdata, 0o777)
        decoy = self.box.root / "decoy-tree"
        (decoy / "etc").mkdir(parents=True)
        (decoy / "etc" / "passwd").write_bytes(b"[etc]\r\nroot=x\r\n")
        (decoy / "secret").write_bytes(b"[secret]\r\nSECRET=hunter2\r\n")
        os.chmod(decoy / "secret", 0o600)
        (decoy / "setuid").write_bytes(b"[setuid]\r\nx=1\r\n")
        os.chmod(decoy / "setuid", 0o4755)
        self.decoy_tree = decoy
        self.decoy_before = snapshot(decoy)

    def fresh(self):
        """What a run writes where no phonebook was."""
        return dump([TEMPLATE.created_entry(ENTRY)]).encode("latin-1")

    def attacker_text(self):
        return b"[ATTACKER-TEXT]"

    def test_no_set_id_file_no_change_outside_no_root_file_of_the_attackers_text(self):
        attacker = subprocess.Popen(
            ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups", ATTACKER,
             str(self.box.appdata), str(self.decoy_tree)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        self.addCleanup(attacker.stdout.close)
        self.addCleanup(attacker.stdin.close)
        self.addCleanup(attacker.kill)
        statuses = {}
        fired = 0
        clean = None
        for round_number in range(self.ROUNDS):
            attacker.stdin.write(f"go {round_number}\n")
            trick = attacker.stdout.readline().strip()
            self.assertTrue(trick.startswith("ready "), trick)
            result = self.box.run(env=fast(), timeout=60)
            attacker.stdin.write("stop\n")
            idle = attacker.stdout.readline().split()
            self.assertEqual(idle[0], "idle")
            fired += int(idle[1])
            statuses[result.status] = statuses.get(result.status, 0) + 1
            with self.subTest(round=round_number, trick=trick):
                self.assertIn(result.status, (0, 2), result.lines())
                self.assertEqual(result.lines()[-1], self.closing())
                self.assertEqual(result.stderr, b"")
                self.assertSafe()
                if trick == "ready none":
                    # Undisturbed, the run saves the attacker's phonebook as the attacker's.
                    self.assertEqual(result.status, 0)
                    info = os.lstat(self.box.user_pbk)
                    self.assertEqual(info.st_uid, NOBODY)
                    saved = self.box.user_pbk.read_bytes()
                    self.assertIn(f"[{ENTRY}]\r\n".encode(), saved)
                    self.assertEqual(saved, clean or saved)
                    clean = saved
        attacker.stdin.close()
        saves = int(attacker.stdout.readline().split()[1])
        attacker.wait(timeout=60)
        print(f"\n{self.ROUNDS} runs {statuses}, {saves} saves begun, {fired} tricks played")
        self.assertGreaterEqual(saves, self.ROUNDS // 2)
        self.assertGreaterEqual(fired, self.ROUNDS // 2)

    def assertSafe(self):
        self.assertEqual(snapshot(self.decoy_tree), self.decoy_before)
        for folder, dirs, files in os.walk(self.box.appdata):
            for name in dirs + files:
                path = Path(folder) / name
                info = os.lstat(path)
                if stat.S_ISDIR(info.st_mode) or stat.S_ISLNK(info.st_mode):
                    continue
                self.assertEqual(info.st_mode & SET_ID, 0, path)
                if not stat.S_ISREG(info.st_mode):
                    self.assertEqual(info.st_uid, NOBODY, path)
                    continue
                text = path.read_bytes()
                if info.st_uid != NOBODY:
                    # Root's own files hold nothing of the attacker's text.
                    self.assertFalse(self.attacker_text() in text, f"root's file {path}")
                if b"hunter2" in text:
                    self.assertEqual((info.st_uid, info.st_mode & 0o077), (0, 0), path)
        # The phonebook's name: the attacker's own thing, or a phonebook root made anew.
        try:
            info = os.lstat(self.box.user_pbk)
        except OSError:
            return
        if info.st_uid != NOBODY:
            self.assertTrue(stat.S_ISREG(info.st_mode))
            self.assertEqual(self.box.user_pbk.read_bytes(), self.fresh())


class Killed(HostileTest):
    """Runs killed at random points of large saves leave the phonebook whole; the next run
    removes their old temporary files."""

    def test_phonebook_always_whole_and_debris_removed(self):
        rng = random.Random(20190611)
        padding = b"0123456789ABCDEF" * 160
        lines = [b"; a large phonebook\n"]
        for i in range(20000):
            lines.append(b"[entry%d]\nPhoneNumber = host%d.example.org\n"
                         b"Device=WAN Miniport (SSTP)\nCustomData=%s\n" % (i, i, padding))
        lines.append(b"[Office]\nPhoneNumber=vpn1.example.com\n")
        old = b"".join(lines)
        self.assertGreater(len(old), 50 << 20)
        self.box.write(self.box.user_pbk, old)
        folder = self.box.user_pbk.parent
        exe = self.box.bin / "vpnsetup.exe"
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "APPDATA": str(self.box.appdata),
               "ProgramData": str(self.box.programdata), **fast()}

        def start():
            return subprocess.Popen([str(exe), "/u"], env=env, stdout=subprocess.DEVNULL,
                                    cwd=self.box.root)

        def temps():
            return {name for name in os.listdir(folder) if name.startswith(".~lw")}

        def wait_until(condition, run):
            while not condition() and run.poll() is None:
                time.sleep(0.001)
            return time.monotonic()

        # An undisturbed run, timed: the whole run, and the save from temporary file to rename.
        began = time.monotonic()
        run = start()
        created = wait_until(temps, run)
        renamed = wait_until(lambda: not temps(), run)
        self.assertEqual(run.wait(timeout=300), 0)
        duration, window = time.monotonic() - began, renamed - created
        new = self.box.user_pbk.read_bytes()
        self.assertNotEqual(new, old)
        whole = {hashlib.sha256(old).digest(), hashlib.sha256(new).digest()}

        for attempt in range(12):
            self.box.user_pbk.write_bytes(old)
            left = temps()
            run = start()
            if attempt % 3:
                # At a random point of writing its temporary file.
                wait_until(lambda: temps() - left, run)
                time.sleep(rng.uniform(0, window * 0.8))
            else:
                time.sleep(rng.uniform(0, duration))
            run.send_signal(signal.SIGKILL)
            run.wait()
            digest = hashlib.sha256(self.box.user_pbk.read_bytes()).digest()
            self.assertIn(digest, whole, f"attempt {attempt}")

        left = sorted(temps())
        print(f"\n{len(old) >> 20} MB phonebook, save {window:.2f} s of {duration:.2f} s; "
              f"12 runs killed, {len(left)} while saving")
        self.assertGreaterEqual(len(left), 2, "too few runs were killed while saving")
        # The killed runs' files are old now but one, which may still be a run's.
        fresh = left[0]
        long_ago = time.time() - 11 * 60
        for name in left[1:]:
            os.utime(folder / name, (long_ago, long_ago))
        self.box.user_pbk.write_bytes(old)
        result = self.box.run(args=["/u"], env=fast(), timeout=300)
        self.assertEqual(result.status, 0)
        self.assertEqual(self.box.user_pbk.read_bytes(), new)
        self.assertEqual(sorted(os.listdir(folder)), sorted([fresh, "rasphone.pbk"]))


class BrokenOutput(HostileTest):
    """A reader that goes away, or no standard output at all, does not stop the run."""

    def test_head_reads_two_lines_and_the_run_goes_on(self):
        exe = self.box.install("vpnsetup.exe")
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
               "APPDATA": str(self.box.appdata), "ProgramData": str(self.box.programdata)}
        run = subprocess.Popen([str(exe)], env=env, stdout=subprocess.PIPE, cwd=self.box.root)
        head = subprocess.run(["head", "-n", "2"], stdin=run.stdout, capture_output=True,
                              timeout=60)
        run.stdout.close()
        self.assertEqual(run.wait(timeout=60), 0)
        self.assertEqual(head.stdout, (self.banner() + "\r\n* user mode\r\n").encode())
        self.assertEqual(self.box.user_pbk.read_bytes(),
                         dump([TEMPLATE.created_entry(ENTRY)]).encode("latin-1"))

    def test_closed_standard_output(self):
        exe = self.box.install("vpnsetup.exe")
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
               "APPDATA": str(self.box.appdata), "ProgramData": str(self.box.programdata),
               **fast()}
        # stdout closed in the child: the tool's writes fail with EBADF.
        run = subprocess.run(f'exec "{exe}" >&-', shell=True, env=env, cwd=self.box.root,
                             timeout=60)
        self.assertEqual(run.returncode, 0)
        self.assertEqual(self.box.user_pbk.read_bytes(),
                         dump([TEMPLATE.created_entry(ENTRY)]).encode("latin-1"))


class Concurrent(HostileTest):
    """Six runs at once, round after round, while another writer that holds the folder as
    the tool does keeps adding entries: every entry stays, the created one once."""

    def test_every_entry_kept(self):
        folder = self.box.user_pbk.parent
        folder.mkdir(parents=True)
        added = []
        stop = threading.Event()

        def writer():
            # Text the tool always rewrites (LF ends), written the way the tool writes.
            while not stop.is_set():
                fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
                try:
                    fcntl.flock(fd, fcntl.LOCK_EX)
                    try:
                        text = self.box.user_pbk.read_bytes()
                    except FileNotFoundError:
                        text = b""
                    name = f"added{len(added)}"
                    temp = folder / "writer.tmp"
                    temp.write_bytes(text + f"[{name}]\nPhoneNumber=vpn1.example.com\n".encode())
                    os.rename(temp, self.box.user_pbk)
                    added.append(name)
                finally:
                    os.close(fd)
                time.sleep(0.02)

        thread = threading.Thread(target=writer)
        thread.start()
        try:
            for round_number in range(4):
                # Output to files: a run blocked on a full pipe would hold the folder.
                logs = [(self.box.root / f"run{round_number}.{i}.log").open("w+b")
                        for i in range(6)]
                runs = [subprocess.Popen(
                    [str(self.box.bin / "vpnsetup.exe"), *(["/u"] if i % 3 == 2 else [])],
                    env={"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
                         "APPDATA": str(self.box.appdata),
                         "ProgramData": str(self.box.programdata)},
                    stdout=logs[i], cwd=self.box.root) for i in range(6)]
                for run, log in zip(runs, logs):
                    with log:
                        self.assertEqual(run.wait(timeout=120), 0, log.seek(0) or log.read())
        finally:
            stop.set()
            thread.join()
        names = [name for name, _ in parse(self.box.read(self.box.user_pbk))]
        self.assertEqual(names.count(ENTRY), 1)
        for name in added:
            self.assertEqual(names.count(name), 1, name)
        self.assertGreater(len(added), 100)
        self.assertEqual(sorted(os.listdir(folder)), ["rasphone.pbk"])


if __name__ == "__main__":
    unittest.main()
