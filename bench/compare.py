#!/usr/bin/env python3
"""compare.py [--quick] [--before REV] [--work DIR] [--no-write]

Times the tool's work on one phonebook (bench/pbk-bench) against other programs doing the
same job, each as a whole process, on phonebooks from several generators and naming
styles and on inputs built to hurt; checks that every output is the faithful one (the
bytes pbk-bench writes, which are the bytes vpnsetup writes); writes the tables into
docs/performance.md between the "compare.py" markers.

Programs: copy (C, fread/fwrite, safe replace), pbk-bench --copy (the same through the
tool's own file code), pbk-bench, the inih-based C program and the configparser script of
bench/peers/, and with --before REV pbk-bench built from the engine of commit REV.

Runs are interleaved (every program once, then again), so that load from elsewhere falls
on all alike; the figures are medians: wall time from start to exit, peak resident memory
from the kernel's accounting of the child (wait4). --quick runs the small cases only.
"""
import argparse
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

import phonebooks as pb

ROOT = Path(__file__).resolve().parents[1]
TEMPLATE = ROOT / "resources" / "template.ini"
PACKAGES = ["cmake", "make", "g++", "gcc", "libinih-dev", "libbenchmark-dev", "python3", "time"]
BEGIN, END = "<!-- compare.py: begin -->", "<!-- compare.py: end -->"
MB = 1e6
# pbk_bench.cpp as it was before saves streamed from the pieces (TextSink).
DRIVER_WHOLE_TEXT = "af3a3c0"
TIMEOUT = 300  # seconds a run may take before it is stopped
MIB = 1024 * 1024


def check_packages():
    """Installs what is missing when root, else prints the apt-get line (as
    scripts/install-deps.sh does)."""
    missing = [p for p in PACKAGES if subprocess.run(
        ["dpkg-query", "-W", "-f=${Status}", p], capture_output=True, text=True
    ).stdout.find("install ok installed") < 0]
    if not missing:
        return
    if os.geteuid() != 0:
        sys.exit("Missing packages. Run as root:\n  apt-get update && apt-get install -y "
                 + " ".join(missing))
    print("Installing: " + " ".join(missing), flush=True)
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "update", "-q"], check=True, env=env)
    subprocess.run(["apt-get", "install", "-y", "-q"] + missing, check=True, env=env)


def run(cmd, **kw):
    subprocess.run(cmd, check=True, **kw)


def build(work, before):
    run(["cmake", "--preset", "linux"], cwd=ROOT, stdout=subprocess.DEVNULL)
    run(["cmake", "--build", "--preset", "linux", "--target", "pbk-bench"], cwd=ROOT,
        stdout=subprocess.DEVNULL)
    bins = work / "bin"
    bins.mkdir(parents=True, exist_ok=True)
    peers = ROOT / "bench" / "peers"
    run(["gcc", "-O2", "-o", str(bins / "copy"), str(peers / "copy.c")])
    run(["gcc", "-O2", "-o", str(bins / "inih_pbk"), str(peers / "inih_pbk.c"), "-linih"])
    programs = {
        "copy (C)": lambda i, o: [str(bins / "copy"), i, o],
        "pbk-bench --copy": lambda i, o: [str(ROOT / "build/linux/bench/pbk-bench"), "--copy", i, o],
        "pbk-bench": lambda i, o: [str(ROOT / "build/linux/bench/pbk-bench"), i, o],
    }
    if before:
        # The engine of that commit under today's pbk-bench, which only uses the document's
        # public interface.
        src = work / ("before-" + before)
        if not (src / "build" / "bench" / "pbk-bench").exists():
            shutil.rmtree(src, ignore_errors=True)
            src.mkdir(parents=True)
            archive = subprocess.run(["git", "archive", before], cwd=ROOT, check=True,
                                     capture_output=True).stdout
            run(["tar", "-x", "-C", str(src)], input=archive)
            driver = (ROOT / "bench" / "pbk_bench.cpp").read_bytes()
            if b"class TextSink" not in (src / "ini" / "text_file.h").read_bytes():
                # An engine without streaming saves: the last driver that saved a whole text.
                driver = subprocess.run(["git", "show", DRIVER_WHOLE_TEXT + ":bench/pbk_bench.cpp"],
                                        cwd=ROOT, check=True, capture_output=True).stdout
            (src / "bench" / "pbk_bench.cpp").write_bytes(driver)
            run(["cmake", "-S", str(src), "-B", str(src / "build"), "-DCMAKE_BUILD_TYPE=Release",
                 "-DLINKWRIGHT_BENCH=ON", "-DLINKWRIGHT_TESTS=OFF"], stdout=subprocess.DEVNULL)
            run(["cmake", "--build", str(src / "build"), "-j2", "--target", "pbk-bench"],
                stdout=subprocess.DEVNULL)
        old = str(src / "build" / "bench" / "pbk-bench")
        programs["pbk-bench before"] = lambda i, o: [old, i, o]
    programs["inih"] = lambda i, o: [str(bins / "inih_pbk"), str(TEMPLATE), i, o]
    programs["configparser"] = lambda i, o: [
        sys.executable, str(peers / "configparser_pbk.py"), str(TEMPLATE), i, o]
    return programs


def datasets(quick):
    """(table, name, entries or None, generator)"""
    six = ROOT / "tests" / "data" / "six-vpn-entries.pbk"
    broadband = ROOT / "tests" / "data" / "broadband-utf8-name.pbk"
    sets = []
    sizes = [1000] if quick else [1000, 10000]
    for n in sizes:
        for style in pb.NAME_STYLES:
            sets.append(("phonebooks", "IKEv2/SSTP, %s names" % style, n,
                         lambda n=n, s=style: pb.ikev2_sstp(n, s)))
        sets.append(("phonebooks", "six-vpn-entries.pbk scaled", n,
                     lambda n=n: pb.scaled_sample(six, n)))
        sets.append(("phonebooks", "broadband-utf8-name.pbk scaled", n,
                     lambda n=n: pb.scaled_sample(broadband, n)))
        sets.append(("phonebooks", "make_phonebook.py", n, lambda n=n: make_phonebook(n)))
    if not quick:
        sets.append(("phonebooks", "IKEv2/SSTP, middle names", 100000,
                     lambda: pb.ikev2_sstp(100000, "middle")))
        sets.append(("phonebooks", "IKEv2/SSTP, suffix names", 100000,
                     lambda: pb.ikev2_sstp(100000, "suffix")))
        sets.append(("phonebooks", "six-vpn-entries.pbk scaled", 100000,
                     lambda: pb.scaled_sample(six, 100000)))
    adversarial = [
        ("40,000 names of one rotate-xor hash", lambda: pb.colliding_names(40000)),
        ("40,000 ordinary names, same size", lambda: pb.ordinary_names(40000)),
        ("1,000,000 tiny sections", lambda: pb.tiny_sections(1000000)),
        ("1,000,000 keys in one section", lambda: pb.one_section_of_keys(1000000)),
        ("one line of 200 MB", lambda: pb.one_long_line(200 * 1000 * 1000)),
        ("20 MB of binary garbage", lambda: pb.garbage(20 * 1000 * 1000)),
    ]
    if quick:
        adversarial = adversarial[:2]
    for name, make in adversarial:
        sets.append(("adversarial", name, None, make))
    return sets


def make_phonebook(n):
    path = Path("/tmp/compare-make-phonebook-%d.pbk" % os.getpid())
    run([sys.executable, str(ROOT / "bench" / "make_phonebook.py"), str(n), str(path)])
    data = path.read_bytes()
    path.unlink()
    return data


def timed(cmd, work):
    """Runs cmd; returns (wall seconds, peak RSS bytes, exit status, output). The peak comes
    from /usr/bin/time, whose child starts small (a child forked from this script would
    count the script's own memory)."""
    report = work / "time.out"
    start = time.perf_counter()
    try:
        child = subprocess.run(["/usr/bin/time", "-o", str(report), "-f", "%M"] + cmd,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        return TIMEOUT, 0, None, "over %d s" % TIMEOUT
    wall = time.perf_counter() - start
    peak = int(report.read_text().split()[-1]) * 1024 if child.returncode == 0 else 0
    return wall, peak, child.returncode, child.stdout.decode(errors="replace")


def runs_for(size, program):
    if program == "pbk-bench before":
        return 1  # for the record; the old engine takes minutes on some inputs
    if program == "configparser":
        return 0 if size > 40 * MB else (1 if size > 10 * MB else 3)
    return 7 if size < 64 * MB else 3


def bench_one(programs, path, work, reference_name="pbk-bench"):
    size = path.stat().st_size
    outs = {name: work / ("out-" + re.sub(r"\W+", "_", name)) for name in programs}
    walls = {name: [] for name in programs}
    peaks = {name: [] for name in programs}
    notes = {}
    most = max(runs_for(size, name) for name in programs)
    for r in range(most):
        for name, make in programs.items():
            if r >= runs_for(size, name) or name in notes:
                continue
            wall, peak, status, output = timed(make(str(path), str(outs[name])), work)
            if status is None:
                notes[name] = output
                continue
            if status != 0:
                notes[name] = "failed (exit %d)" % status
                continue
            walls[name].append(wall)
            peaks[name].append(peak)
    reference = outs[reference_name].read_bytes()
    result = {"size": size, "programs": {}}
    for name in programs:
        entry = {"runs": len(walls[name])}
        if walls[name]:
            entry["wall"] = statistics.median(walls[name])
            entry["peak"] = statistics.median(peaks[name])
            if name.startswith("copy") or name == "pbk-bench --copy":
                entry["faithful"] = None
            else:
                entry["faithful"] = outs[name].read_bytes() == reference
        entry["note"] = notes.get(name, "" if walls[name] else "not run (too slow)")
        result["programs"][name] = entry
    for out in outs.values():
        if out.exists():
            out.unlink()
    return result


def seconds(entry):
    if "wall" not in entry:
        return entry["note"] or "-"
    w = entry["wall"]
    text = "%.0f ms" % (w * 1e3) if w < 10 else "%.1f s" % w
    if entry.get("faithful") is False:
        text += " (not faithful)"
    return text


def mib(entry):
    return "%.0f" % (entry["peak"] / MIB) if "peak" in entry else "-"


def table(results, programs, title_first):
    names = list(programs)
    head = "| %s | entries | file MB | " % title_first + " | ".join(names) + \
        " | vs inih | vs copy | peak / file |"
    lines = [head, "|" + "---|" * (head.count("|") - 1)]
    for (label, entries), r in results:
        p = r["programs"]
        cells = ["%s / %s MiB" % (seconds(p[n]), mib(p[n])) if "wall" in p[n] else seconds(p[n])
                 for n in names]
        ours = p["pbk-bench"]
        vs_inih = "%.1fx" % (p["inih"]["wall"] / ours["wall"]) if "wall" in p["inih"] else "-"
        vs_copy = "%.2fx" % (ours["wall"] / p["pbk-bench --copy"]["wall"])
        per_file = "%.2fx" % (ours["peak"] / r["size"])
        lines.append("| %s | %s | %.1f | %s | %s | %s | %s |" % (
            label, "{:,}".format(entries) if entries else "-", r["size"] / MB,
            " | ".join(cells), vs_inih, vs_copy, per_file))
    return "\n".join(lines)


def real_phonebooks(programs, work):
    """The tool's work on the real samples as pbk-bench's own clock sees it (median of 21):
    the work, and apart from it the safe write, which mostly waits for the disk."""
    rows = []
    for name in ("six-vpn-entries.pbk", "broadband-utf8-name.pbk"):
        path = ROOT / "tests" / "data" / name
        work_ms, write_ms, whole = [], [], []
        for _ in range(21):
            wall, _, status, output = timed(programs["pbk-bench"](str(path), str(work / "real.out")),
                                            work)
            match = re.search(r"in ([0-9.]+) ms, of which ([0-9.]+) ms", output)
            if status == 0 and match:
                work_ms.append(float(match.group(1)) - float(match.group(2)))
                write_ms.append(float(match.group(2)))
                whole.append(wall)
        rows.append("| %s | %d | %.2f ms | %.2f ms | %.1f ms |" % (
            name, path.stat().st_size, statistics.median(work_ms), statistics.median(write_ms),
            statistics.median(whole) * 1e3))
    return "\n".join(["| phonebook | bytes | work | safe write | whole process |",
                      "|---|---|---|---|---|"] + rows)


def machine():
    cpu = "?"
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
    mem = Path("/proc/meminfo").read_text().splitlines()[0].split()[1]
    gcc = subprocess.run(["gcc", "-dumpfullversion"], capture_output=True, text=True).stdout.strip()
    return "%d cores (%s), %.0f GiB, Linux %s, GCC %s, Python %s" % (
        os.cpu_count(), cpu, int(mem) / 1024 / 1024, platform.release(), gcc,
        platform.python_version())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--before", metavar="REV")
    parser.add_argument("--work", default="/tmp/linkwright-compare")
    parser.add_argument("--no-write", action="store_true")
    args = parser.parse_args()
    check_packages()
    work = Path(args.work)
    work.mkdir(parents=True, exist_ok=True)
    programs = build(work, args.before)
    load_before = os.getloadavg()
    started = time.time()
    groups = {"phonebooks": [], "adversarial": []}
    for group, label, entries, make in datasets(args.quick):
        path = work / "data" / (re.sub(r"\W+", "_", "%s %s" % (label, entries or "")) + ".pbk")
        path.parent.mkdir(exist_ok=True)
        if not path.exists():
            path.write_bytes(make())
        print("%s, %s entries, %.1f MB ..." % (label, entries or "-", path.stat().st_size / MB),
              end=" ", flush=True)
        result = bench_one(programs, path, work)
        print(", ".join("%s %s" % (n, seconds(e)) for n, e in result["programs"].items()), flush=True)
        groups[group].append(((label, entries), result))
        if group == "adversarial" or (entries or 0) >= 100000:
            path.unlink()  # large; made again next time
    real = real_phonebooks(programs, work)
    minutes = (time.time() - started) / 60
    load_after = os.getloadavg()

    collide = {label: r for (label, _), r in groups["adversarial"]}
    notes = []
    a = collide.get("40,000 names of one rotate-xor hash")
    b = collide.get("40,000 ordinary names, same size")
    if a and b:
        notes.append("Equal rotate-xor names cost %.2fx the ordinary names (pbk-bench, wall)." %
                     (a["programs"]["pbk-bench"]["wall"] / b["programs"]["pbk-bench"]["wall"]))
    names = list(programs)
    text = "\n\n".join([
        BEGIN,
        "Machine: %s. Load average %.1f before and %.1f after; the whole comparison took %.0f "
        "minutes. Command: `python3 bench/compare.py%s`." % (
            machine(), load_before[0], load_after[0], minutes,
            " --before " + args.before if args.before else ""),
        "Each cell: median wall time of the whole process / median peak resident memory. "
        "\"vs inih\": how many times faster pbk-bench is than the inih program; \"vs copy\": "
        "pbk-bench's time over `pbk-bench --copy`'s; \"peak / file\": pbk-bench's peak memory "
        "over the file's size. \"not faithful\": the output is not the tool's bytes.",
        table(groups["phonebooks"], names, "phonebook"),
        table(groups["adversarial"], names, "input"),
        "\n".join(notes),
        "The tool's work on the real samples (pbk-bench's own clock, median of 21 runs; the safe "
        "write flushes the file and its folder to the disk):",
        real,
        END,
    ])
    print(text)
    if not args.no_write:
        doc = ROOT / "docs" / "performance.md"
        current = doc.read_text()
        if BEGIN in current:
            current = current[:current.index(BEGIN)] + text + current[current.index(END) + len(END):]
        else:
            current += "\n" + text + "\n"
        doc.write_text(current)


if __name__ == "__main__":
    main()
