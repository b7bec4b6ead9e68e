"""lwtemplate from-phonebook, stamp, show and plan on the real executables; signing.

LW_LWTEMPLATE names lwtemplate for this machine and LW_EXE the vpnsetup.exe to stamp (32- or
64-bit), or the native vpnsetup. The stamped executable's resources are read back with
binutils' windres, apart from lwtemplate's own reading; StampedRun runs a stamped
executable under wine64; Planning compares plan with the real run; Signing signs with a
certificate made for the test.
"""

import hashlib
import os
import shutil
import struct
import subprocess
import tempfile
import unittest
from pathlib import Path

from harness import EXE, KIND, WINE, SandboxTest, dump, parse

LWTEMPLATE = os.environ.get("LW_LWTEMPLATE", "")
LWTEMPLATE_EXE = os.environ.get("LW_LWTEMPLATE_EXE", "")
NO_SLEEP = os.environ.get("LW_NO_SLEEP", "")
ROOT = Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "tests" / "data" / "six-vpn-entries.pbk"
BROADBAND = ROOT / "tests" / "data" / "broadband-utf8-name.pbk"
SHIPPED = ROOT / "resources" / "template.ini"
INIDATA = ("#10", "INIDATA")


def lwtemplate(*args):
    return subprocess.run([LWTEMPLATE, *map(str, args)], capture_output=True, timeout=120)


def digest(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def resources(exe, folder):
    """{(type, name, language): bytes} of an executable, as windres reads them."""
    res = Path(folder) / (Path(exe).name + ".res")
    windres = shutil.which("x86_64-w64-mingw32-windres") or "i686-w64-mingw32-windres"
    subprocess.run([windres, "-i", str(exe), "-O", "res", "-o", str(res)], check=True)
    data = res.read_bytes()
    found = {}
    pos = 0
    while pos + 8 <= len(data):
        size, header = struct.unpack_from("<II", data, pos)
        at = pos + 8
        ids = []
        for _ in range(2):
            if struct.unpack_from("<H", data, at)[0] == 0xFFFF:
                ids.append("#%d" % struct.unpack_from("<H", data, at + 2)[0])
                at += 4
            else:
                end = at
                while struct.unpack_from("<H", data, end)[0] != 0:
                    end += 2
                ids.append(data[at:end].decode("utf-16-le").upper())
                at = end + 2
        at = (at + 3) & ~3
        language = struct.unpack_from("<H", data, at + 6)[0]
        if ids[0] != "#0":
            found[(ids[0], ids[1], language)] = data[pos + header:pos + header + size]
        pos = (pos + header + size + 3) & ~3
    return found


def template_of(entry, manage=None):
    args = ["from-phonebook", SAMPLE, entry] + (["--manage", manage] if manage is not None else [])
    made = lwtemplate(*args)
    assert made.returncode == 0, made.stderr
    return made.stdout


def next_guid(guid):
    return guid[:24] + "%08X" % ((int(guid[24:32], 16) + 1) & 0xFFFFFFFF)


class Stamping(unittest.TestCase):
    """What stamping writes, and what it refuses to write; nothing is run."""

    def setUp(self):
        if not LWTEMPLATE or not EXE.endswith(".exe"):
            self.skipTest("needs lwtemplate and a Windows vpnsetup.exe")
        self.dir = Path(tempfile.mkdtemp(prefix="lw-stamp-"))
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.input = self.dir / "vpnsetup.exe"
        shutil.copy(EXE, self.input)
        self.before = digest(self.input)

    def tearDown(self):
        self.assertEqual(digest(self.input), self.before, "the input was changed")

    def write(self, name, data):
        path = self.dir / name
        path.write_bytes(data)
        return path

    def test_stamped_copy_keeps_every_other_resource_and_its_imports(self):
        template = self.write("corp.ini", template_of("vpn.pin.si"))
        output = self.dir / "vpnsetup-corp.exe"
        done = lwtemplate("stamp", template, self.input, output)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stderr, b"")

        before = resources(self.input, self.dir)
        after = resources(output, self.dir)
        self.assertEqual(sorted(before), sorted(after))
        kept = [key for key in before if key[:2] != INIDATA]
        self.assertTrue(any(key[0] == "#24" for key in kept), "no manifest")
        self.assertTrue(any(key[0] == "#16" for key in kept), "no version")
        for key in kept:
            self.assertEqual(after[key], before[key], key)
        [key] = [key for key in before if key[:2] == INIDATA]
        room = len(before[key])
        self.assertEqual(after[key], template.read_bytes().ljust(room, b"\0"))
        self.assertEqual(before[key], SHIPPED.read_bytes().ljust(room, b"\0"))

        imports = subprocess.run([ROOT / "scripts" / "check-imports", output],
                                 capture_output=True, text=True)
        self.assertEqual(imports.returncode, 0, imports.stdout + imports.stderr)

        # The shipped template stamped back gives the executable the build wrote,
        # checksum included.
        again = self.dir / "again.exe"
        self.assertEqual(lwtemplate("stamp", SHIPPED, output, again).returncode, 0)
        self.assertEqual(again.read_bytes(), self.input.read_bytes())

    def test_an_existing_output_is_replaced(self):
        output = self.write("out.exe", b"old")
        done = lwtemplate("stamp", SHIPPED, self.input, output)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(output.read_bytes(), self.input.read_bytes())

    def test_refusals_write_nothing(self):
        shipped = SHIPPED.read_bytes()
        large = self.write("large.ini", shipped + b";" * 30000 + b"\r\n")
        refused = self.write("refused.ini", b"[config]\r\ncresecs=none\r\n")
        cut = self.write("cut.exe", self.input.read_bytes()[:-1000])
        text = self.write("notes.txt", b"MZ" + b"\0" * 100)
        output = self.dir / "out.exe"
        files = sorted(self.dir.iterdir())
        cases = [
            ("too large", [large, self.input, output],
             "%s: has room for a template of" % self.input),
            ("refused", [refused, self.input, output],
             "%s: [config] cresecs: lists \"none\", but there is no such section" % refused),
            ("cut short", [SHIPPED, cut, output], "%s: section " % cut),
            ("missing input", [SHIPPED, self.dir / "missing.exe", output],
             "missing.exe: no such file"),
            ("not a program", [SHIPPED, text, output], "%s: no PE signature" % text),
            ("output is input", [SHIPPED, self.input, self.input], "is IN.exe itself"),
        ]
        for name, args, message in cases:
            with self.subTest(name):
                done = lwtemplate("stamp", *args)
                self.assertEqual(done.returncode, 2)
                self.assertIn(message, done.stderr.decode("latin-1"))
                self.assertEqual(done.stdout, b"")
                self.assertEqual(sorted(self.dir.iterdir()), files)


class StampedRun(SandboxTest):
    """A stamped executable under wine64 creates the entry its template was made of."""

    def setUp(self):
        if KIND != "wine" or not LWTEMPLATE:
            self.skipTest("runs a stamped Windows executable under wine64")
        super().setUp()

    def stamp(self, entry, manage=None):
        template = self.box.root / (entry + ".ini")
        template.write_bytes(template_of(entry, manage))
        target = self.box.bin / "vpnsetup.exe"
        done = lwtemplate("stamp", template, EXE, target)
        self.assertEqual(done.returncode, 0, done.stderr)

    def expected(self, entry):
        """The sample entry as it stands, with the next Guid."""
        sections = parse(SAMPLE.read_bytes().decode("latin-1"))
        [lines] = [lines for name, lines in sections if name == entry]
        lines = ["Guid=" + next_guid(line[5:]) if line.startswith("Guid=") else line
                 for line in lines]
        return dump([[entry, lines]])

    def test_each_entry_is_created_as_it_stood_then_only_enforced(self):
        for entry, manage in (("vpn.pin.si", None), ("jezero.pin.si", "Type,DEVICE,Device")):
            with self.subTest(entry):
                self.box.user_pbk.unlink(missing_ok=True)
                self.stamp(entry, manage)
                first = self.box.run()
                self.assertEqual(first.status, 0, first.stdout)
                self.assertIn(f"* creating [{entry}]", first.lines())
                self.assertEqual(self.box.read(self.box.user_pbk), self.expected(entry))

                second = self.box.run()
                self.assertEqual(second.status, 0, second.stdout)
                settings = [line for line in second.lines() if line.startswith("* on [")]
                self.assertEqual(len(settings), 8 if manage is None else 3, settings)
                self.assertEqual(self.box.read(self.box.user_pbk), self.expected(entry))


def named(line, text, path):
    """`line` with the phonebook's path, as given or in full, called PBK."""
    return line.replace(text, "PBK").replace(str(path).replace("/", "\\"), "PBK")


class Planning(SandboxTest):
    """plan --output writes the bytes the run writes, after the lines the run prints."""

    def setUp(self):
        if not LWTEMPLATE:
            self.skipTest("needs lwtemplate")
        super().setUp()

    def run_tool(self, name, args):
        """The real run on the sandbox's phonebook: its lines for the phonebook, its status."""
        env = None
        if KIND == "native" and NO_SLEEP:
            # The pauses meant for a reader skipped (a sanitized build lets the preload be).
            env = {"LD_PRELOAD": NO_SLEEP, "ASAN_OPTIONS": "verify_asan_link_order=0"}
        result = self.box.run(name, args, env=env)
        # Between the banner and the closing line: the modes its name chooses, then the
        # phonebook's lines; plan prints no "* user mode" and no version.
        lines = [line for line in result.lines()[1:-1]
                 if line != "* user mode" and not line.startswith("* OS version: ")]
        return [named(line, self.box.user_text, self.box.user_pbk) for line in lines], result.status

    def assertPlanned(self, source, phonebook, args=(), name="vpnsetup.exe"):
        """plan SOURCE on a copy of `phonebook` (None: no file) against the run on it."""
        self.box.user_pbk.unlink(missing_ok=True)
        copy = self.box.root / "copy.pbk"
        copy.unlink(missing_ok=True)
        if phonebook is not None:
            self.box.write(self.box.user_pbk, phonebook)
            copy.write_bytes(phonebook)
        output = self.box.root / "planned.pbk"
        output.unlink(missing_ok=True)
        plan = lwtemplate("plan", source, copy, *args, "--output", output)
        body, status = self.run_tool(name, args)
        written = self.box.user_pbk.read_bytes() if self.box.user_pbk.exists() else None

        shown = plan.stdout.decode("latin-1").split("\r\n")
        shown = [named(line, str(copy), copy) for line in shown]
        self.assertEqual(shown[:len(body)], body, plan.stderr)
        if status == 2:
            # The run stopped at the phonebook; the plan writes nothing either.
            self.assertEqual(plan.returncode, 2)
            self.assertFalse(output.exists())
            return shown[len(body):]
        self.assertEqual(status, 0)
        self.assertEqual(output.read_bytes() if output.exists() else None, written)
        self.assertEqual(plan.returncode, 0 if written == phonebook else 1, plan.stderr)
        if phonebook is not None:
            self.assertEqual(copy.read_bytes(), phonebook)
        return shown[len(body):]

    def samples(self):
        six = SAMPLE.read_bytes()
        crlf = six.replace(b"\n", b"\r\n")
        return [
            ("absent", None),
            ("six, LF", six),
            ("six, CR LF, one managed", crlf.replace(b"PhoneNumber=vpn.pin.si\r\n",
                                                     b"PhoneNumber=vpn1.example.com\r\n")),
            ("broadband", BROADBAND.read_bytes()),
            ("UTF-16", b"\xff\xfe[\0a\0]\0\r\0\n\0"),
        ]

    def test_shipped_template_on_the_samples(self):
        if KIND != "native":
            self.skipTest("the native run with the shipped template; under Wine, a few below")
        for label, phonebook in self.samples():
            for args in ((), ("/u",), ("/g",)):
                with self.subTest(label, args=args):
                    self.assertPlanned(SHIPPED, phonebook, args)
        # What the run wrote is what a second plan leaves unchanged.
        self.assertPlanned(SHIPPED, None)
        rest = self.assertPlanned(SHIPPED, self.box.user_pbk.read_bytes())
        self.assertEqual(rest, ["unchanged", ""])

    def test_the_windows_executable_shipped_and_stamped(self):
        if KIND != "wine":
            self.skipTest("runs vpnsetup.exe under wine64")
        crlf = SAMPLE.read_bytes().replace(b"\n", b"\r\n")
        managed = crlf.replace(b"PhoneNumber=vpn.pin.si\r\n", b"PhoneNumber=vpn1.example.com\r\n")
        for phonebook, args in ((managed, ("/g",)), (None, ())):
            with self.subTest("shipped", args=args):
                self.assertPlanned(EXE, phonebook, args)
        template = self.box.root / "pin.ini"
        template.write_bytes(template_of("vpn.pin.si"))
        stamped = self.box.bin / "vpnsetup-locgw.exe"
        self.assertEqual(lwtemplate("stamp", template, EXE, stamped).returncode, 0)
        for phonebook, args in ((SAMPLE.read_bytes(), ()), (None, ("/u",)), (None, ())):
            with self.subTest("stamped", args=args):
                self.assertPlanned(stamped, phonebook, args, name=stamped.name)


def throwaway_key(folder):
    """A self-signed code-signing certificate and its key, made for one test."""
    key, cert, p12 = (folder / "key.pem", folder / "cert.pem", folder / "test.p12")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=Linkwright test signing",
                    "-addext", "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", p12,
                    "-passout", "pass:test-only"], check=True, capture_output=True)
    return p12, cert, {"LINKWRIGHT_SIGN_PKCS12": str(p12),
                       "LINKWRIGHT_SIGN_PASSWORD": "test-only"}


class Signing(SandboxTest):
    """The release's signing (scripts/sign.sh) on the 64-bit executable, with a key made here."""

    def setUp(self):
        if KIND != "wine" or not LWTEMPLATE:
            self.skipTest("signs the Windows executable and runs it under wine64")
        if not shutil.which("osslsigncode") or not shutil.which("openssl"):
            self.skipTest("needs osslsigncode and openssl")
        super().setUp()

    def test_signed_executable_verifies_runs_shows_signed_and_is_not_stamped(self):
        p12, cert, env = throwaway_key(self.box.root)
        signed = self.box.bin / "vpnsetup.exe"
        shutil.copy(EXE, signed)
        done = subprocess.run([ROOT / "scripts" / "sign.sh", signed], capture_output=True,
                              env={**os.environ, **env})
        self.assertEqual(done.returncode, 0, done.stderr)
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed],
                                  capture_output=True)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)

        run = self.box.run()
        self.assertEqual(run.status, 0, run.stdout)
        self.assertIn("* creating [auto.vpn1.example.com]", run.lines())

        shown = lwtemplate("show", signed)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        self.assertIn(b"\r\nsigned: yes", shown.stdout)
        self.assertIn(b"\r\nsigned: no\r\n", lwtemplate("show", EXE).stdout)

        output = self.box.root / "stamped.exe"
        stamp = lwtemplate("stamp", SHIPPED, signed, output)
        self.assertEqual(stamp.returncode, 2)
        self.assertIn(b"stamp the unsigned executable, then sign the result", stamp.stderr)
        self.assertFalse(output.exists())

        # A key that does not open leaves the file as it was.
        before = signed.read_bytes()
        wrong = subprocess.run([ROOT / "scripts" / "sign.sh", signed], capture_output=True,
                               env={**os.environ, **env, "LINKWRIGHT_SIGN_PASSWORD": "wrong"})
        self.assertNotEqual(wrong.returncode, 0)
        self.assertEqual(signed.read_bytes(), before)
        self.assertEqual(sorted(p.name for p in self.box.bin.iterdir()), ["vpnsetup.exe"])


class WindowsTool(SandboxTest):
    """lwtemplate.exe under wine64 does what lwtemplate does here, to the byte."""

    def setUp(self):
        if KIND != "wine" or not LWTEMPLATE or not LWTEMPLATE_EXE:
            self.skipTest("runs lwtemplate.exe under wine64")
        super().setUp()

    def windows(self, *args):
        """lwtemplate.exe with Unix paths given as Wine's Z: paths."""
        converted = ["Z:" + str(a).replace("/", "\\") if isinstance(a, Path) else a
                     for a in args]
        return subprocess.run([WINE, LWTEMPLATE_EXE, *converted], capture_output=True,
                              env=self.box.wine_env(), timeout=120, cwd=self.box.root)

    def test_same_template_same_stamp_same_refusals(self):
        made = self.windows("from-phonebook", SAMPLE, "vpn.pin.si", "--manage", "Type,IpDnsFlags")
        here = lwtemplate("from-phonebook", SAMPLE, "vpn.pin.si", "--manage", "Type,IpDnsFlags")
        self.assertEqual(made.returncode, 0, made.stderr)
        self.assertEqual(made.stdout, here.stdout)

        template = self.box.root / "corp.ini"
        template.write_bytes(made.stdout)
        output = self.box.root / "stamped.exe"
        done = self.windows("stamp", template, Path(EXE), output)
        self.assertEqual(done.returncode, 0, done.stderr)
        expected = self.box.root / "expected.exe"
        self.assertEqual(lwtemplate("stamp", template, EXE, expected).returncode, 0)
        self.assertEqual(output.read_bytes(), expected.read_bytes())

        refused = self.windows("check", ROOT / "tests" / "data" / "refused-template.ini")
        self.assertEqual(refused.returncode, 2)
        self.assertIn(b"template refused (11 problems)", refused.stderr)
        # OUT is IN however it is spelled.
        shutil.copy(EXE, self.box.root / "in.exe")
        for out in (Path(EXE), "in.exe", ".\\in.exe", "IN.EXE", "sub\\..\\in.exe"):
            source = Path(EXE) if out == Path(EXE) else "in.exe"
            (self.box.root / "sub").mkdir(exist_ok=True)
            again = self.windows("stamp", template, source, out)
            self.assertEqual(again.returncode, 2, out)
            self.assertIn(b"is IN.exe itself", again.stderr)
        self.assertEqual(digest(self.box.root / "in.exe"), digest(EXE))

    def test_same_show_and_plan(self):
        shown = self.windows("show", Path(EXE))
        here = lwtemplate("show", EXE)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        self.assertEqual(shown.stdout.split(b"\r\n")[1:], here.stdout.split(b"\r\n")[1:])
        self.assertIn(b"\r\nbuild: 64-bit (x64)\r\n", shown.stdout)

        phonebook = self.box.root / "rasphone.pbk"
        phonebook.write_bytes(SAMPLE.read_bytes())
        planned = self.box.root / "planned.pbk"
        expected = self.box.root / "expected.pbk"
        plan = self.windows("plan", Path(EXE), phonebook, "/g", "--output", planned)
        local = lwtemplate("plan", EXE, phonebook, "/g", "--output", expected)
        self.assertEqual(plan.returncode, 1, plan.stderr)
        self.assertEqual(local.returncode, 1, local.stderr)
        windows_path = ("Z:" + str(phonebook).replace("/", "\\")).encode()
        self.assertEqual(plan.stdout.replace(windows_path, b"PBK"),
                         local.stdout.replace(str(phonebook).encode(), b"PBK"))
        self.assertEqual(planned.read_bytes(), expected.read_bytes())


if __name__ == "__main__":
    unittest.main()
