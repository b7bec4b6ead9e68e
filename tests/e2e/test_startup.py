"""Start-up of the real executable: banner, help, modes, switches, registry, version gate."""

import unittest

from harness import KIND, SSTP_KEY, SandboxTest, is_root

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


class Registry(SandboxTest):
    def test_switches_write_the_revocation_value(self):
        if KIND == "native" and not is_root():
            self.skipTest("needs administrator rights")
        result = self.box.run(name="x-admin.exe", args=["/r", "/?"])
        self.assertEqual(result.status, 0)
        self.assertEqual(result.lines()[:2], [self.banner("x-admin.exe"), "* admin mode"])
        self.assertEqual(self.box.registry_dword(SSTP_KEY, "NoCertRevocationCheck"), 1)
        result = self.box.run(name="x-admin.exe", args=["/R", "/?"])
        self.assertEqual(self.box.registry_dword(SSTP_KEY, "NoCertRevocationCheck"), 0)


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
