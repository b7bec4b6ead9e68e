"""Runs the real vpnsetup executable in a private sandbox, natively or under wine64.

LW_EXE names the executable under test; LW_KIND is "native" or "wine". Every sandbox is
a fresh folder: native runs get APPDATA and ProgramData inside it; Wine runs get a copy
of a prepared prefix, whose C:\\users\\<user>\\AppData\\Roaming and C:\\ProgramData are
the targets.
"""

import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest
from pathlib import Path

EXE = os.environ.get("LW_EXE", "")
KIND = os.environ.get("LW_KIND", "native")
WINE = "/usr/lib/wine/wine64"
WINE_RUN = Path(__file__).resolve().parents[2] / "scripts" / "wine-run"
SUFFIX = ("Microsoft", "Network", "Connections", "Pbk", "rasphone.pbk")
TEMPLATE = Path(__file__).resolve().parents[2] / "resources" / "template.ini"
SUFFIX_TEXT = "\\" + "\\".join(SUFFIX)
SSTP_KEY = "System\\CurrentControlSet\\Services\\Sstpsvc\\Parameters"
STAMP = "2019061101"


def is_root():
    return hasattr(os, "geteuid") and os.geteuid() == 0


class Result:
    def __init__(self, completed):
        self.status = completed.returncode
        self.stdout = completed.stdout
        self.stderr = completed.stderr

    def lines(self):
        """Standard output cut at CR LF; fails if any line ends otherwise."""
        text = self.stdout.decode("latin-1")
        assert text == "" or text.endswith("\r\n"), repr(text[-20:])
        body = text[:-2] if text else ""
        parts = body.split("\r\n") if text else []
        for part in parts:
            assert "\n" not in part and "\r" not in part, repr(part)
        return parts


class Sandbox:
    """A private folder holding the executable under some name and both phonebooks."""

    def __init__(self, kind=KIND):
        self.kind = kind
        self.root = Path(tempfile.mkdtemp(prefix="lw-e2e-"))
        os.chmod(self.root, 0o777)
        if kind == "wine":
            self.prefix = self.root / "prefix"
            template = Path(os.environ["LW_WINE_TEMPLATE"])
            shutil.copytree(template, self.prefix, symlinks=True)
            user = os.environ.get("USER") or "root"
            drive = self.prefix / "drive_c"
            self.appdata = drive / "users" / user / "AppData" / "Roaming"
            self.programdata = drive / "ProgramData"
        else:
            self.appdata = self.root / "AppData" / "Roaming"
            self.programdata = self.root / "ProgramData"
        self.bin = self.root / "bin"
        self.bin.mkdir()

    def close(self):
        if self.kind == "wine":
            subprocess.run([WINE.replace("wine64", "wineserver"), "-k"],
                           env=self.wine_env(), capture_output=True)
        shutil.rmtree(self.root, ignore_errors=True)

    def wine_env(self):
        env = dict(os.environ)
        env.update(WINEPREFIX=str(self.prefix), WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=")
        return env

    @property
    def user_text(self):
        """The per-user phonebook path as the tool prints it."""
        if self.kind == "wine":
            user = os.environ.get("USER") or "root"
            return f"C:\\users\\{user}\\AppData\\Roaming" + SUFFIX_TEXT
        return str(self.appdata) + SUFFIX_TEXT

    @property
    def all_users_text(self):
        if self.kind == "wine":
            return "C:\\ProgramData" + SUFFIX_TEXT
        return str(self.programdata) + SUFFIX_TEXT

    def os_version(self):
        """The number the tool reports: Wine's default Windows 7, or the kernel's."""
        if self.kind == "wine":
            return 61
        major, minor = re.match(r"(\d+)\.(\d+)", os.uname().release).groups()
        return int(major) * 10 + int(minor)

    def write(self, path, text):
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(text.encode("latin-1") if isinstance(text, str) else text)

    @staticmethod
    def read(path):
        return path.read_bytes().decode("latin-1")

    @property
    def user_pbk(self):
        return self.appdata.joinpath(*SUFFIX)

    @property
    def all_users_pbk(self):
        return self.programdata.joinpath(*SUFFIX)

    def install(self, name):
        target = self.bin / name
        shutil.copy2(EXE, target)
        os.chmod(target, 0o755)
        return target

    def run(self, name="vpnsetup.exe", args=(), stdin=b"", user=None, env=None, timeout=120):
        exe = self.bin / name
        if not exe.exists():
            self.install(name)
        if self.kind == "wine":
            command = [WINE, str(exe), *args]
            environment = self.wine_env()
        else:
            command = [str(exe), *args]
            environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
                           "APPDATA": str(self.appdata),
                           "ProgramData": str(self.programdata)}
            if user is not None:
                command = ["setpriv", f"--reuid={user}", f"--regid={user}",
                           "--clear-groups", *command]
        if env:
            environment.update(env)
            for key, value in env.items():
                if value is None:
                    environment.pop(key)
        completed = subprocess.run(command, input=stdin, capture_output=True,
                                   env=environment, timeout=timeout, cwd=self.root)
        return Result(completed)

    # Wine registry access.
    def reg(self, *args):
        return subprocess.run([WINE, "reg", *args], env=self.wine_env(),
                              capture_output=True, timeout=120)

    def set_windows_version(self, version):
        done = self.reg("add", "HKCU\\Software\\Wine", "/v", "Version", "/d", version, "/f")
        assert done.returncode == 0, done.stderr

    def registry_dword(self, key, name):
        """A REG_DWORD below HKEY_LOCAL_MACHINE, or None."""
        if self.kind == "wine":
            done = self.reg("query", "HKLM\\" + key, "/v", name, "/reg:64")
            if done.returncode != 0:
                return None
            for line in done.stdout.decode("latin-1").splitlines():
                parts = line.split()
                if len(parts) == 3 and parts[0] == name and parts[1] == "REG_DWORD":
                    return int(parts[2], 16)
            return None
        path = self.programdata / "Registry" / "HKEY_LOCAL_MACHINE"
        path = path.joinpath(*key.split("\\")) / name
        if not path.exists():
            return None
        data = path.read_bytes()
        assert len(data) == 4, data
        return struct.unpack("<I", data)[0]


class SandboxTest(unittest.TestCase):
    """Gives each test a fresh sandbox, removed afterwards."""

    def setUp(self):
        if not EXE:
            self.skipTest("LW_EXE is not set")
        self.box = Sandbox()
        self.addCleanup(self.box.close)

    def banner(self, name="vpnsetup.exe"):
        return f"{name} {STAMP}"

    def closing(self, name="vpnsetup.exe"):
        return f"{name} {STAMP} done ..."


# A small independent model of the phonebook text form, for expected results.

def _trim(text):
    start, end = 0, len(text)
    while start < end and ord(text[start]) <= 0x20:
        start += 1
    while end > start and ord(text[end - 1]) <= 0x20:
        end -= 1
    return text[start:end]


def parse(text):
    """Sections as [name, [lines]] in order; comments, blanks and orphans dropped."""
    sections = []
    for raw in re.split(r"\r\n|\r|\n", text):
        line = _trim(raw)
        if not line or line.startswith(";"):
            continue
        if line[0] == "[" and line[-1] == "]" and len(line) > 1:
            sections.append([_trim(line[1:-1]), []])
        elif sections:
            if "=" in line:
                key, value = line.split("=", 1)
                line = _trim(key) + "=" + _trim(value)
            sections[-1][1].append(line)
    return sections


def dump(sections):
    return "".join("[" + name + "]\r\n" + "".join(line + "\r\n" for line in lines) + "\r\n"
                   for name, lines in sections)


def set_value(sections, section, key, value):
    """Replaces the last line named key in the last such section, or appends."""
    target = [s for s in sections if s[0].upper() == section.upper()][-1][1]
    for index in range(len(target) - 1, -1, -1):
        name = target[index].split("=", 1)[0] if "=" in target[index] else None
        if name is not None and name.upper() == key.upper():
            target[index] = key + "=" + value
            return
    target.append(key + "=" + value)


def get_value(sections, section, key):
    found = [s for s in sections if s[0].upper() == section.upper()]
    if not found:
        return None
    for line in reversed(found[-1][1]):
        if "=" in line and line.split("=", 1)[0].upper() == key.upper():
            return line.split("=", 1)[1]
    return None


class Template:
    """The shipped template, read as an administrator would read it."""

    def __init__(self, path=TEMPLATE):
        self.sections = parse(path.read_bytes().decode("latin-1"))
        config = dict(line.split("=", 1) for line in self.lines("config"))
        self.managed = config.get("mansecs", "").split("|")
        self.creatable = config.get("cresecs", "").split("|")

    def lines(self, name):
        return [lines for section, lines in self.sections if section == name][-1]

    def value(self, name, key):
        return get_value(self.sections, name, key)

    def rule(self, name):
        """(id key, id value, [(key, value), ...]) of a managed section."""
        key, value = self.value(name, "id").split("=")[:2]
        assignments = [tuple(a.split("=")[:2]) for a in self.value(name, "set").split("|")]
        return key, value, assignments

    def created_entry(self, name, gateway=None):
        """The lines the tool writes for a creatable entry."""
        guid = self.value(name, "Guid")
        derived = guid[:24] + "%08X" % ((int(guid[24:32], 16) + 1) & 0xFFFFFFFF)
        lines = []
        for line in self.lines(name):
            key, value = line.split("=", 1)
            if key == "Guid":
                value = derived
            if key.lower() == "ipprioritizeremote" and gateway is not None:
                value = gateway
            lines.extend((key + "=" + value).split("\\r\\n"))
        return [name, lines]
