#!/usr/bin/env python3
"""The INI benchmark's work done with Python's configparser, for comparison.

Same phonebooks as ini_bench (copies of the first entry of tests/data/six-vpn-entries.pbk,
named and dialled vpn<i>.example.net, CR LF breaks); same work: parse from text, a
PhoneNumber lookup in every entry, eight assignments on every tenth entry, save to text.
Prints the best of several runs per size.
"""
import configparser
import io
import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ASSIGNMENTS = [("UseRasCredentials", "0"), ("SwCompression", "1"), ("PreviewDomain", "0"),
               ("AutoLogon", "0"), ("ExcludedProtocols", "8"),
               ("IpDnsSuffix", "corp.example.net"), ("IpPrioritizeRemote", "0"),
               ("IpDnsFlags", "1")]


def sample_entry():
    with open(os.path.join(ROOT, "tests", "data", "six-vpn-entries.pbk"), "rb") as f:
        lines = f.read().decode("latin-1").split("\n")
    entry = [lines[0]]
    for line in lines[1:]:
        if line.startswith("["):
            break
        entry.append(line)
    return entry


def phonebook(entries):
    entry = sample_entry()
    out = []
    for i in range(entries):
        name = "vpn%d.example.net" % i
        out.append("[%s]" % name)
        for line in entry[1:]:
            out.append("PhoneNumber=" + name if line.startswith("PhoneNumber=") else line)
    return "".join(line + "\r\n" for line in out)


def round_trip(text):
    # Not strict: an entry holds both Device= and DEVICE=, which fold to one name.
    doc = configparser.ConfigParser(strict=False, interpolation=None)
    doc.read_string(text)
    names = doc.sections()
    found = sum(len(doc.get(name, "PhoneNumber", fallback="")) for name in names)
    for name in names[::10]:
        for key, value in ASSIGNMENTS:
            doc.set(name, key, value)
    saved = io.StringIO()
    doc.write(saved)
    return found, saved.getvalue()


def main():
    sizes = [int(arg) for arg in sys.argv[1:]] or [10, 1000, 10000]
    print("entries  bytes       best ms   MB/s")
    for entries in sizes:
        text = phonebook(entries)
        runs = 20 if entries <= 1000 else 3
        best = float("inf")
        for _ in range(runs):
            start = time.perf_counter()
            round_trip(text)
            best = min(best, time.perf_counter() - start)
        print("%-8d %-11d %-9.2f %.1f" % (entries, len(text), best * 1000,
                                          len(text) / best / 1e6))


if __name__ == "__main__":
    main()
