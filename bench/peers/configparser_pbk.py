#!/usr/bin/env python3
"""configparser_pbk.py TEMPLATE IN OUT: the tool's work on one phonebook, with configparser.

Reads TEMPLATE and IN with Python's configparser (letter case of keys kept, repeated
sections and keys allowed, no interpolation), probes IN for the template's creatable
entries, sets the managed rules' keys in every section whose PhoneNumber equals a rule's
id, creates the missing creatable entries, and writes the canonical text ("[name]",
"key=value" lines, a blank line after each section, CR LF) to a new file beside OUT that
then takes OUT's place.

configparser keeps one value per key and one section per name: repeated keys and
sections are merged, lookups compare letter case exactly (a folding optionxform would
rewrite every key's case in the output), lines starting with a blank continue the
previous value, lines starting with "#" are comments and ":" also separates a key.
Where the phonebook holds any of these the output differs from the tool's.
"""
import configparser
import os
import sys


def parser():
    doc = configparser.ConfigParser(strict=False, interpolation=None)
    doc.optionxform = str
    return doc


def split(text, delimiter):
    return text.split(delimiter) if text else []


def derive_guid(template_guid):
    tail = template_guid[24:32]
    try:
        number = int(tail, 16) if tail else 0
    except ValueError:
        number = 0
    return template_guid[:24] + "%08X" % ((number + 1) & 0xFFFFFFFF)


def main():
    template_path, in_path, out_path = sys.argv[1:4]
    templ = parser()
    with open(template_path, encoding="latin-1") as f:
        templ.read_file(f)
    with open(in_path, encoding="latin-1", newline="") as f:
        text = f.read()
    bom = text.startswith("\xef\xbb\xbf")
    doc = parser()
    doc.read_string(text[3:] if bom else text)

    creatable = split(templ.get("config", "cresecs", fallback=""), "|")
    create = not any(doc.has_section(name) and len(doc[name]) > 0 for name in creatable)
    for rule in split(templ.get("config", "mansecs", fallback=""), "|"):
        ident = split(templ.get(rule, "id", fallback=""), "=")
        if len(ident) < 2:
            continue
        assignments = [split(a, "=") for a in split(templ.get(rule, "set", fallback=""), "|")]
        for entry in doc.sections():
            if doc.get(entry, ident[0], fallback="") != ident[1]:
                continue
            for pair in assignments:
                if len(pair) >= 2:
                    doc.set(entry, pair[0], pair[1])
    if create:
        for entry in creatable:
            guid = doc.get(entry, "Guid", fallback="") or derive_guid(
                templ.get(entry, "Guid", fallback=""))
            if doc.has_section(entry) and len(doc[entry]) > 0:
                continue
            if not doc.has_section(entry):
                doc.add_section(entry)
            for key, value in templ.items(entry):
                doc.set(entry, key, value.replace("\\r\\n", "\r\n"))
            doc.set(entry, "Guid", guid)

    parts = ["\xef\xbb\xbf"] if bom else []
    for name in doc.sections():
        parts.append("[%s]\r\n" % name)
        parts.extend("%s=%s\r\n" % item for item in doc.items(name))
        parts.append("\r\n")
    temp = "%s.%d.tmp" % (out_path, os.getpid())
    with open(temp, "w", encoding="latin-1", newline="") as f:
        f.write("".join(parts))
        f.flush()
        os.fsync(f.fileno())
    os.replace(temp, out_path)


if __name__ == "__main__":
    main()
