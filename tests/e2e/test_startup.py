"""Start-up of the real executable: banner, help, modes, switches, registry, version gate."""

import os
import re
import shutil
import struct
import subprocess
import unittest

from harness import KIND, SSTP_KEY, WINE, Result, SandboxTest, is_root

HELP = [
    "vpnsetup.exe [/u] [/l] [/a] [/r] [/R]",
    "/u - update only (no create)",
    "/l - force local gateway (internet access through local connection)",
    "/g - force remote gateway (internet access through vpn connection)",
    "/a - all users connection (admin only)",
    "/r - SSTP NoCertRevocationCheck (admin only)",
    "/R - SSTP CertRevocationCheck (admin only)",
]


class Help(SandboxTest):
    def test_help_bytes_and_status(self):
        result = self.box.run(args=["/x", "/U", "/?", "/r"])
        expected = "\r\n".join([self.banner(), "* user mode", *HELP]) + "\r\n"
        self.assertEqual(result.stdout, expected.encode())
        self.assertEqual(result.status, 0)
        self.assertEqual(result.stderr, b"")
        self.assertIsNone(self.box.registry_dword(SSTP_KEY, "NoCertRevocationCheck"))


class Modes(SandboxTest):
    def test_renamed_copy_selects_modes(self):
        result = self.box.run(name="A-Updt-RemGw-LocGw.exe", args=["/x"])
        lines = result.lines()
        self.assertEqual(lines[:4], [self.banner("a-updt-remgw-locgw.exe"),
                                     "* update only mode !", "* remote gateway mode",
                                     "* user mode"])
        self.assertEqual(lines[-1], self.closing("a-updt-remgw-locgw.exe"))
        self.assertEqual(result.status, 0)

    @unittest.skipUnless(KIND == "native", "Wine always runs as administrator")
    def test_admin_name_refused_for_a_normal_user(self):
        user = 65534 if is_root() else None
        if user is None:
            self.skipTest("needs root to run as an unprivileged user")
        result = self.box.run(name="x-admin.exe", args=["/r"], stdin=b"\n", user=user)
        self.assertEqual(result.lines(), [self.banner("x-admin.exe"),
                                          "* admin mode failed - not running as administrator !"])
        self.assertEqual(result.status, 3)
        self.assertFalse(self.box.user_pbk.parent.exists())
        self.assertFalse((self.box.programdata / "Registry").exists())

    @unittest.skipUnless(KIND == "native", "Wine always runs as administrator")
    def test_registry_switch_ignored_for_a_normal_user(self):
        if not is_root():
            self.skipTest("needs root to run as an unprivileged user")
        result = self.box.run(args=["/R"], user=65534)
        self.assertIn("/R NoCertRevocationCheck=0 ignored - not running as administrator !",
                      result.lines())
        self.assertEqual(result.lines()[-1], self.closing())
        self.assertEqual(result.status, 3)

    def test_doubled_quotes_before_a_switch(self):
        # Wine builds the command line `vpnsetup.exe "" /u`, whose pair is skipped with the
        # blank after it; natively argv holds an empty argument, which ends the list.
        result = self.box.run(args=["", "/u"])
        self.assertEqual(result.status, 0)
        self.assertEqual(result.stderr, b"")
        reading = [line for line in result.lines() if line.startswith("* reading: ")]
        if KIND == "wine":
            self.assertEqual(reading, [])
            self.assertFalse(self.box.user_pbk.exists())
        else:
            self.assertEqual(reading, ["* reading: " + self.box.user_text])
        self.assertEqual(result.lines()[-1], self.closing())


def executable_ranges(path):
    """(start, end) of the code an address counted from the load address may lie in."""
    data = path.read_bytes()
    if data[:4] == b"\x7fELF":
        phoff, = struct.unpack_from("<Q", data, 0x20)
        size, count = struct.unpack_from("<HH", data, 0x36)
        ranges = []
        for i in range(count):
            kind, flags, _, vaddr, _, _, memsz = struct.unpack_from("<IIQQQQQ", data,
                                                                  phoff + i * size)
            if kind == 1 and flags & 1:  # PT_LOAD, PF_X
                ranges.append((vaddr, vaddr + memsz))
        return ranges
    pe, = struct.unpack_from("<I", data, 0x3C)
    assert data[pe:pe + 4] == b"PE\0\0"
    count, = struct.unpack_from("<H", data, pe + 6)
    optional, = struct.unpack_from("<H", data, pe + 20)
    table = pe + 24 + optional
    ranges = []
    for i in range(count):
        vsize, vaddr = struct.unpack_from("<II", data, table + i * 40 + 8)
        flags, = struct.unpack_from("<I", data, table + i * 40 + 36)
        if flags & 0x20000000:  # IMAGE_SCN_MEM_EXECUTE
            ranges.append((vaddr, vaddr + vsize))
    return ranges


class Registry(SandboxTest):
    """Writes of the revocation value, and root's "/r" and "/R" that leave it unwritten:
    the failed-write report and status 1."""

    def assert_unwritten_report(self, result, name="vpnsetup.exe"):
        """The failed-write report, status 1, and nothing after the mode line."""
        self.assertEqual(result.lines(), [self.banner(name), "* user mode"])
        self.assertEqual(result.status, 1)
        match = re.fullmatch(rb"Exception ERegistryException in module (.*) at ([0-9A-F]{8})"
                             rb"\.\r\nFailed to set data for 'NoCertRevocationCheck'\.\r\n\r\n",
                             result.stderr)
        self.assertIsNotNone(match, result.stderr)
        self.assertEqual(match.group(1).decode().lower(), name)
        address = int(match.group(2), 16)
        self.assertTrue(any(start <= address < end
                            for start, end in executable_ranges(self.box.bin / name)),
                        hex(address))
        self.assertFalse(self.box.user_pbk.exists())
        self.assertFalse(self.box.all_users_pbk.exists())

    def test_switches_write_the_revocation_value(self):
        if KIND == "native" and not is_root():
            self.skipTest("needs administrator rights")
        result = self.box.run(name="x-admin.exe", args=["/r", "/?"])
        self.assertEqual(result.status, 0)
        self.assertEqual(result.lines()[:2], [self.banner("x-admin.exe"), "* admin mode"])
        self.assertEqual(self.box.registry_dword(SSTP_KEY, "NoCertRevocationCheck"), 1)
        result = self.box.run(name="x-admin.exe", args=["/R", "/?"])
        self.assertEqual(self.box.registry_dword(SSTP_KEY, "NoCertRevocationCheck"), 0)

    def test_key_that_opens_only_for_reading(self):
        if KIND == "wine":
            tool = os.environ.get("LW_READ_ONLY_KEY")
            if not tool:
                self.skipTest("LW_READ_ONLY_KEY is not set")
            holder = subprocess.Popen([WINE, tool, SSTP_KEY], env=self.box.wine_env(),
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE)
            try:
                self.assertEqual(holder.stdout.readline().strip(), b"ready")
                result = self.box.run(args=["/r"])
            finally:
                holder.communicate(b"\n", timeout=120)
        else:
            _, key = self.native_key()
            self.assertEqual(self.box.run(args=["/R", "/u"]).status, 0)
            self.assertEqual(self.box.registry_dword(SSTP_KEY, "NoCertRevocationCheck"), 0)
            result = self.run_on_read_only(key, ["/r"])
        self.assert_unwritten_report(result)
        self.assertEqual(self.box.registry_dword(SSTP_KEY, "NoCertRevocationCheck"),
                         None if KIND == "wine" else 0)

    def native_key(self):
        """The key's directory in the POSIX registry stand-in (root only)."""
        if KIND != "native" or not is_root():
            self.skipTest("the POSIX registry stand-in, as root")
        hive = self.box.programdata / "Registry" / "HKEY_LOCAL_MACHINE"
        return hive, hive.joinpath(*SSTP_KEY.split("\\"))

    def test_program_data_unset_or_empty(self):
        self.native_key()
        for value in (None, ""):
            result = self.box.run(args=["/a", "/r"], env={"ProgramData": value})
            self.assert_unwritten_report(result)
            self.assertFalse(self.box.programdata.exists())
            self.assertFalse(os.path.exists("/Registry"))
            self.assertFalse((self.box.root / "Registry").exists())

    def test_parameters_a_regular_file(self):
        _, key = self.native_key()
        self.box.write(key, "not a key")
        result = self.box.run(args=["/R"])
        self.assert_unwritten_report(result)
        self.assertEqual(key.read_bytes(), b"not a key")

    def run_on_read_only(self, folder, args):
        """A run that sees `folder` mounted read-only, in a mount namespace of its own."""
        if shutil.which("unshare") is None:
            self.skipTest("no unshare")
        probe = subprocess.run(["unshare", "-m", "mount", "--bind", "-o", "ro", str(folder),
                                str(folder)], capture_output=True)
        if probe.returncode != 0:
            self.skipTest("no mount namespaces here: " + probe.stderr.decode())
        self.box.install("vpnsetup.exe")
        command = ["unshare", "-m", "sh", "-c", 'mount --bind -o ro "$0" "$0" && exec "$@"',
                   str(folder), str(self.box.bin / "vpnsetup.exe"), *args]
        environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
                       "APPDATA": str(self.box.appdata),
                       "ProgramData": str(self.box.programdata)}
        completed = subprocess.run(command, capture_output=True, env=environment,
                                   cwd=self.box.root, timeout=120)
        return Result(completed)

    def test_hive_on_a_read_only_mount(self):
        hive, _ = self.native_key()
        hive.mkdir(parents=True)
        result = self.run_on_read_only(hive, ["/r"])
        self.assert_unwritten_report(result)
        self.assertEqual(list(hive.iterdir()), [])


@unittest.skipUnless(KIND == "wine", "the Windows version is Wine's setting")
class VersionGate(SandboxTest):
    def test_windows_xp_is_refused(self):
        self.box.set_windows_version("winxp")
        result = self.box.run(args=["/?"])
        self.assertEqual(result.stdout, (self.banner() + "\r\n" + "vpnsetup.exe not running "
                                         "in vista (6.0) or superior !\r\n").encode())
        self.assertEqual(result.status, 4)

    def test_vista_and_windows_10_pass(self):
        # Without a supported-OS list in the manifest, Windows 10 reports 6.2.
        for version, number in (("vista", 60), ("win10", 62)):
            self.box.set_windows_version(version)
            result = self.box.run(args=["/u"])
            self.assertEqual(result.status, 0, version)
            self.assertEqual(result.lines()[1:3], ["* user mode", f"* OS version: {number}"])


if __name__ == "__main__":
    unittest.main()
