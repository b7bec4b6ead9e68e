"""The provisioning run of the real executable on real phonebook files."""

import os
import subprocess
import time
import unittest
from pathlib import Path

from harness import (KIND, SSTP_KEY, WINE, SandboxTest, Template, dump, is_root, parse,
                     set_value)

SAMPLES = Path(__file__).resolve().parents[1] / "data"
TEMPLATE = Template()
ENTRY = TEMPLATE.creatable[0]


def on_lines(section, rule, gateway=None):
    """The log lines and the (key, value) writes of one managed rule on one entry."""
    _, _, assignments = TEMPLATE.rule(rule)
    writes = [(k, gateway if gateway is not None and k.lower() == "ipprioritizeremote" else v)
              for k, v in assignments]
    return [f"* on [{section}] setting {k}={v}" for k, v in writes], writes


def apply(sections, section, writes):
    for key, value in writes:
        set_value(sections, section, key, value)


def sample(name, phone_from=None, phone_to=None):
    """A phonebook written by Windows, in CR LF, optionally with one PhoneNumber changed."""
    text = (SAMPLES / name).read_bytes().decode("latin-1").replace("\n", "\r\n")
    if phone_from is not None:
        assert text.count(f"PhoneNumber={phone_from}\r\n") == 1
        text = text.replace(f"PhoneNumber={phone_from}\r\n", f"PhoneNumber={phone_to}\r\n")
    return text


class RunTest(SandboxTest):
    def head(self, name="vpnsetup.exe", mode="* user mode"):
        return [self.banner(name), mode, f"* OS version: {self.box.os_version()}"]

    def assertRun(self, result, lines, status=0, name="vpnsetup.exe"):
        self.assertEqual(result.lines(), lines + [self.closing(name)])
        self.assertEqual(result.status, status)

    def needs_admin(self):
        if KIND == "native" and not is_root():
            self.skipTest("needs administrator rights")


class FirstRun(RunTest):
    def test_first_run_creates_then_second_run_only_updates(self):
        user = self.box.user_text
        result = self.box.run()
        self.assertRun(result, self.head() + [
            "* reading: " + user, "* processing *.pbk", "processing pbk " + user,
            "* processing pbk " + user, f"* creating [{ENTRY}]"])
        created = self.box.read(self.box.user_pbk)
        self.assertEqual(created, dump([TEMPLATE.created_entry(ENTRY)]))
        self.assertFalse(self.box.all_users_pbk.exists())

        result = self.box.run()
        lines, writes = on_lines(ENTRY, "vpn1")
        self.assertRun(result, self.head() + [
            "* reading: " + user, "processing pbk " + user, "* processing *.pbk",
            "* processing pbk " + user] + lines)
        expected = parse(created)
        apply(expected, ENTRY, writes)
        self.assertEqual(self.box.read(self.box.user_pbk), dump(expected))
        self.assertEqual(self.box.read(self.box.user_pbk), created)


class WindowsPhonebooks(RunTest):
    def test_managed_entry_updated_others_kept_entry_created(self):
        text = sample("six-vpn-entries.pbk", "vpn.pin.si", "vpn2.example.com")
        self.box.write(self.box.user_pbk, text)
        user = self.box.user_text
        lines, writes = on_lines("vpn.pin.si", "vpn2")
        result = self.box.run()
        self.assertRun(result, self.head() + [
            "* reading: " + user, "processing pbk " + user, "* processing *.pbk",
            "processing pbk " + user, "* processing pbk " + user] + lines +
            [f"* creating [{ENTRY}]"])
        expected = parse(text)
        apply(expected, "vpn.pin.si", writes)
        expected.append(TEMPLATE.created_entry(ENTRY))
        self.assertEqual(self.box.read(self.box.user_pbk), dump(expected))

    def test_non_ascii_entry_kept_byte_for_byte(self):
        text = sample("broadband-utf8-name.pbk")
        self.box.write(self.box.user_pbk, text)
        result = self.box.run(args=["/u"])
        self.assertRun(result, self.head() + [
            "* processing *.pbk", "* processing pbk " + self.box.user_text])
        saved = self.box.read(self.box.user_pbk)
        self.assertEqual(saved, dump(parse(text)))
        self.assertNotIn("\r\n\r\n[", saved.split("\r\n\r\n", 1)[0])


class UpdateOnly(RunTest):
    def test_no_reading_folder_made_no_file(self):
        result = self.box.run(args=["/u"])
        self.assertRun(result, self.head() + ["* processing *.pbk"])
        self.assertTrue(self.box.user_pbk.parent.is_dir())
        self.assertFalse(self.box.user_pbk.exists())


class Gateway(RunTest):
    def test_overrides_from_switches_and_names(self):
        office = "[Office]\r\nPhoneNumber=vpn1.example.com\r\nIpPrioritizeRemote=0\r\n\r\n"
        cases = [
            ("vpnsetup.exe", ["/g"], [], "1"),
            ("vpnsetup.exe", ["/l"], [], "0"),
            ("site-locgw.exe", [], ["* local gateway mode"], "0"),
            ("site-remgw.exe", [], ["* remote gateway mode"], "1"),
            ("site-locgw.exe", ["/g"], ["* local gateway mode"], "1"),
        ]
        for name, args, modes, value in cases:
            with self.subTest(name=name, args=args):
                self.box.write(self.box.user_pbk, office)
                result = self.box.run(name=name, args=["/u", *args])
                lines, writes = on_lines("Office", "vpn1", gateway=value)
                head = [self.banner(name), *modes, "* user mode",
                        f"* OS version: {self.box.os_version()}"]
                self.assertRun(result, head + [
                    "* processing *.pbk", "* processing pbk " + self.box.user_text] + lines,
                    name=name)
                self.assertIn(f"* on [Office] setting IpPrioritizeRemote={value}",
                              result.lines())
                expected = parse(office)
                apply(expected, "Office", writes)
                self.assertEqual(self.box.read(self.box.user_pbk), dump(expected))


class AllUsers(RunTest):
    def test_admin_name_creates_for_all_users_and_updates_per_user(self):
        self.needs_admin()
        office = "[Office]\r\nPhoneNumber=vpn1.example.com\r\n"
        self.box.write(self.box.user_pbk, office)
        user, every = self.box.user_text, self.box.all_users_text
        lines, writes = on_lines("Office", "vpn1")
        result = self.box.run(name="vpn-admin.exe")
        self.assertRun(result, self.head("vpn-admin.exe", "* admin mode") + [
            "* reading: " + user, "processing pbk " + user, "* reading: " + every,
            "* processing *.pbk", "processing pbk " + every, "* processing pbk " + every,
            f"* creating [{ENTRY}]", "* processing pbk " + user] + lines, name="vpn-admin.exe")
        self.assertEqual(self.box.read(self.box.all_users_pbk),
                         dump([TEMPLATE.created_entry(ENTRY)]))
        expected = parse(office)
        apply(expected, "Office", writes)
        self.assertEqual(self.box.read(self.box.user_pbk), dump(expected))

    def test_entry_held_per_user_means_no_creation_anywhere(self):
        self.needs_admin()
        held = dump([TEMPLATE.created_entry(ENTRY)])
        self.box.write(self.box.user_pbk, held)
        user = self.box.user_text
        lines, _ = on_lines(ENTRY, "vpn1")
        result = self.box.run(args=["/a"])
        self.assertRun(result, self.head() + [
            "* reading: " + user, "processing pbk " + user, "* processing *.pbk",
            "* processing pbk " + user] + lines)
        self.assertFalse(self.box.all_users_pbk.exists())
        self.assertEqual(self.box.read(self.box.user_pbk), held)


class RevocationSwitch(RunTest):
    def test_admin_without_all_users_updates_both_creates_per_user(self):
        self.needs_admin()
        user, every = self.box.user_text, self.box.all_users_text
        result = self.box.run(args=["/r"])
        self.assertRun(result, self.head() + [
            "* reading: " + user, "* processing *.pbk", "* processing pbk " + every,
            "processing pbk " + user, "* processing pbk " + user, f"* creating [{ENTRY}]"])
        self.assertEqual(self.box.registry_dword(SSTP_KEY, "NoCertRevocationCheck"), 1)
        self.assertEqual(self.box.all_users_pbk.read_bytes(), b"")
        self.assertEqual(self.box.read(self.box.user_pbk), dump([TEMPLATE.created_entry(ENTRY)]))


class Failures(RunTest):
    def assertFailed(self, result, lines, prefix, reason):
        got = result.lines()
        self.assertEqual(got[:len(lines)], lines)
        self.assertEqual(len(got), len(lines) + 2, got)
        self.assertTrue(got[-2].startswith(prefix), got[-2])
        self.assertTrue(got[-2].endswith(reason), got[-2])
        self.assertEqual(got[-1], self.closing())
        self.assertEqual(result.status, 2)

    def test_unreadable_phonebook_is_left_untouched(self):
        utf16 = "\ufeff[Office]\r\nPhoneNumber=vpn1.example.com\r\n".encode("utf-16-le")
        self.box.write(self.box.user_pbk, utf16)
        result = self.box.run()
        self.assertFailed(result, self.head() + ["* reading: " + self.box.user_text],
                          '* exception: Cannot open file "', "(UTF-16 or damaged text)")
        self.assertEqual(self.box.user_pbk.read_bytes(), utf16)

    @unittest.skipUnless(KIND == "native", "Wine sets APPDATA itself: see test_windows")
    def test_folder_that_is_not_a_full_path(self):
        for appdata in ["rel/dir", "rel"]:
            with self.subTest(appdata=appdata):
                result = self.box.run(env={"APPDATA": appdata})
                self.assertRun(result, self.head() + [
                    "* exception: The folder in APPDATA is not a full path"], status=2)
                self.assertFalse((self.box.root / "rel").exists())

    @unittest.skipUnless(KIND == "native", "folder permissions bind only a normal user")
    def test_read_only_folder_keeps_the_old_phonebook(self):
        if not is_root():
            self.skipTest("needs root to run as an unprivileged user")
        old = "[Office]\r\nPhoneNumber=vpn1.example.com\r\n"
        self.box.write(self.box.user_pbk, old)
        for path in [self.box.root / "AppData", *self.box.user_pbk.parents]:
            if self.box.root in path.parents:
                os.chmod(path, 0o755)
        os.chmod(self.box.user_pbk, 0o644)
        result = self.box.run(user=65534)
        self.assertFailed(result, self.head() + [
            "* reading: " + self.box.user_text, "processing pbk " + self.box.user_text],
            '* exception: Cannot create file "', "Permission denied")
        self.assertEqual(self.box.read(self.box.user_pbk), old)
        self.assertEqual(sorted(os.listdir(self.box.user_pbk.parent)), ["rasphone.pbk"])

    @unittest.skipUnless(KIND == "wine", "share modes are Windows'")
    def test_phonebook_held_by_another_program_for_a_while(self):
        """A writer, a backup agent's exclusive read (both at the run's read), a reader and
        a scanner that share no deleting (at its replace): the run waits for each."""
        old = "[Office]\r\nPhoneNumber=vpn1.example.com\r\n"
        user = self.box.user_text
        for mode in ("write", "exclusive", "read", "scan"):
            with self.subTest(mode=mode):
                self.box.write(self.box.user_pbk, old)
                holder = subprocess.Popen(
                    [WINE, os.environ["LW_HOLD_FILE"], user, mode, "3000"],
                    stdout=subprocess.PIPE, env=self.box.wine_env())
                try:
                    self.assertEqual(holder.stdout.readline().strip(), b"held")
                    start = time.monotonic()
                    result = self.box.run()
                    waited = time.monotonic() - start
                finally:
                    holder.communicate(timeout=60)
                self.assertEqual(result.status, 0, result.lines())
                self.assertGreaterEqual(waited, 2.5)
                self.assertIn("IpDnsFlags=1", self.box.read(self.box.user_pbk))
                self.assertEqual(sorted(os.listdir(self.box.user_pbk.parent)),
                                 ["rasphone.pbk"])


if __name__ == "__main__":
    unittest.main()
