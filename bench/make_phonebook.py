#!/usr/bin/env python3
"""make_phonebook.py ENTRIES OUT: a phonebook of ENTRIES copies of a real Windows entry
(the first of tests/data/six-vpn-entries.pbk, CR LF, blank lines kept), each named and
dialled on its own; every tenth dials vpn1.example.com, so the template manages it."""

import sys
from pathlib import Path

SAMPLE = Path(__file__).resolve().parents[1] / "tests" / "data" / "six-vpn-entries.pbk"


def main():
    count, out = int(sys.argv[1]), Path(sys.argv[2])
    text = SAMPLE.read_text(encoding="latin-1")
    entry = text[:text.index("\n[", 1) + 1].splitlines()
    body = [line for line in entry[1:] if not line.startswith("PhoneNumber=")]
    at = next(i for i, line in enumerate(entry[1:]) if line.startswith("PhoneNumber="))
    with out.open("w", encoding="latin-1", newline="\r\n") as f:
        for i in range(count):
            phone = "vpn1.example.com" if i % 10 == 0 else f"gw{i}.branch.example.org"
            lines = body[:at] + [f"PhoneNumber={phone}"] + body[at:]
            f.write(f"[Branch office {i}]\n" + "\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
