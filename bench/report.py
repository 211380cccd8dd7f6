#!/usr/bin/python3
"""Runs every benchmark of the project and writes docs/PERFORMANCE.md with the
ratios of ours against each peer measured in the same run, the machine, and a
chart (docs/performance-mime.svg) of MIME throughput by message size.

Usage: report.py BUILD_DIR [--quick]
"""
import datetime
import json
import os
import platform
import re
import subprocess
import sys

build = sys.argv[1]
quick = "--quick" in sys.argv
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
bench = os.path.join(build, "bench")
docs = os.path.join(root, "docs")
out = []


def run(cmd, **kw):
    print("$ " + " ".join(cmd), file=sys.stderr, flush=True)
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def machine():
    cpu = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem = int(f.readline().split()[1]) // 1024 // 1024
    return "%s, %d cores, %d GiB, %s %s" % (cpu, os.cpu_count(), mem, platform.system(), platform.release())


def codecs():
    r = run([os.path.join(bench, "kv_bench_encodings"), "--benchmark_min_time=0.1"])
    table = r.stdout[r.stdout.find("Best rates"):] if "Best rates" in r.stdout else "(no result)\n"
    table = re.sub(r"\x1b\[[0-9;]*m", "", table)
    out.append("## Transfer encodings: ours against GMime\n")
    out.append("Each codec over 1 MiB and 64 MiB, binary and 8-bit text; MB/s, and each figure's share of a "
               "plain memcpy of the same bytes (the physical limit).\n")
    out.append("```\n" + table.strip() + "\n```\n")


MIME_RUNS = 7


def mime():
    rows = []
    cases = ["b64-1", "b64-10", "qp-5", "parts-2000"] if quick else ["b64-1", "b64-10", "b64-50", "qp-5", "parts-2000"]
    work = run(["mktemp", "-d"]).stdout.strip()
    try:
        sides = (("ours", [os.path.join(bench, "kv_bench_mime"), "ours"]),
                 ("GMime", [os.path.join(bench, "kv_bench_mime"), "gmime"]),
                 ("Python", ["/usr/bin/python3", os.path.join(root, "bench", "python_mime_bench.py")]))
        for case in cases:
            for action in ("render", "read"):
                # Several runs, the sides taking turns; the run of the median rate counts.
                runs = {side: [] for side, _ in sides}
                for _ in range(MIME_RUNS):
                    for side, cmd in sides:
                        r = run(cmd + [action, case, work])
                        parts = r.stdout.split()
                        if r.returncode == 0 and len(parts) >= 8:
                            runs[side].append({"case": case, "action": action, "side": side, "mb": float(parts[3]),
                                               "rate": float(parts[4]), "peak": float(parts[5]),
                                               "added": float(parts[6]), "message": float(parts[7])})
                for got in runs.values():
                    if got:
                        rows.append(sorted(got, key=lambda row: row["rate"])[len(got) // 2])
    finally:
        subprocess.run(["rm", "-rf", work])
    out.append("## MIME: rendering and reading whole messages, ours against GMime and Python's email\n")
    out.append("One process per run; each side ran %d times, the sides taking turns, and the run of the median rate "
               "is shown: MB/s of message text. Memory: what the rendering or reading added to the process at its "
               "peak (the peak resident size is reset just before the work, so the process's own size and the input "
               "made ready beforehand do not count), that as a multiple of the message's size, and the whole "
               "process's peak. GMime reads from the file, the others from the message in memory.\n" % MIME_RUNS)
    out.append("| case | action | ours MB/s | GMime MB/s | Python MB/s | ours/GMime | ours/Python "
               "| added MB ours / GMime / Python | ours added / message | process peak MB ours / GMime / Python |")
    out.append("|---|---|---|---|---|---|---|---|---|---|")
    for case in cases:
        for action in ("render", "read"):
            got = {r["side"]: r for r in rows if r["case"] == case and r["action"] == action}
            if "ours" not in got:
                continue
            o = got["ours"]
            g, p = got.get("GMime"), got.get("Python")
            ratio = lambda x: "%.2fx" % (o["rate"] / x["rate"]) if x and x["rate"] else "-"
            field = lambda x, key, form: form % x[key] if x else "-"
            out.append("| %s | %s | %.1f | %s | %s | %s | %s | %.1f / %s / %s | %.2fx | %.0f / %s / %s |" % (
                case, action, o["rate"], field(g, "rate", "%.1f"), field(p, "rate", "%.1f"), ratio(g), ratio(p),
                o["added"], field(g, "added", "%.1f"), field(p, "added", "%.1f"), o["added"] / o["message"],
                o["peak"], field(g, "peak", "%.0f"), field(p, "peak", "%.0f")))
    out.append("\n![MIME throughput by message size](performance-mime.svg)\n")
    chart(rows)


def chart(rows):
    sizes = [c for c in ("b64-1", "b64-10", "b64-50") if any(r["case"] == c for r in rows)]
    sides = [("ours", "#2a6fdb"), ("GMime", "#7a7a7a"), ("Python", "#e08a1e")]
    groups = [(c, a) for a in ("render", "read") for c in sizes]
    top = max([r["rate"] for r in rows if r["case"] in sizes] + [1])
    w, h, left, bottom = 80 + 90 * len(groups), 320, 60, 260
    svg = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif" font-size="11">' % (w, h),
           '<text x="%d" y="16" font-size="13">MIME throughput (MB/s) by message size: base64 attachment of 1, 10, 50 MB</text>' % left]
    for i in range(5):
        y = bottom - (bottom - 30) * i / 4
        svg.append('<line x1="%d" x2="%d" y1="%.0f" y2="%.0f" stroke="#ddd"/>' % (left, w - 10, y, y))
        svg.append('<text x="%d" y="%.0f" text-anchor="end">%.0f</text>' % (left - 4, y + 4, top * i / 4))
    for gi, (case, action) in enumerate(groups):
        x0 = left + 10 + gi * 90
        for si, (side, color) in enumerate(sides):
            r = next((r for r in rows if r["case"] == case and r["action"] == action and r["side"] == side), None)
            if not r:
                continue
            bh = (bottom - 30) * r["rate"] / top
            svg.append('<rect x="%d" y="%.0f" width="22" height="%.0f" fill="%s"/>' % (x0 + si * 24, bottom - bh, bh, color))
        svg.append('<text x="%d" y="%d" text-anchor="middle">%s %s MB</text>' % (x0 + 36, bottom + 16, action, case.split("-")[1]))
    for si, (side, color) in enumerate(sides):
        svg.append('<rect x="%d" y="%d" width="10" height="10" fill="%s"/><text x="%d" y="%d">%s</text>' % (
            left + si * 90, h - 22, color, left + si * 90 + 14, h - 13, side))
    svg.append("</svg>")
    with open(os.path.join(docs, "performance-mime.svg"), "w") as f:
        f.write("\n".join(svg) + "\n")


def transport():
    r = run(["/usr/bin/python3", os.path.join(root, "bench", "transport", "transport_bench.py"), build, "--tmpfs"] +
            (["--quick"] if quick else []))
    rows = [json.loads(l) for l in r.stdout.splitlines() if l.startswith("{")]
    out.append("## Transports: ours against Python's smtplib/poplib/imaplib and curl\n")
    out.append("Loopback, a fast sink written for the benchmark (so the clients are measured; with STARTTLS through "
               "OpenSSL and a throw-away CA that every client checks), dovecot for POP3 and IMAP. curl only uploads messages "
               "rendered beforehand and is not charged for composing them; ours and Python compose each mail inside "
               "the timed run. Ours and the Python sides each run in a fresh process and time their own work (start-up "
               "left out); curl is timed as a whole process. Each side ran %s times, the sides taking turns: the rate "
               "is that of the median run, the spread the slowest and fastest run. Rendered and received texts stay "
               "in memory; the side \"TMPDIR on tmpfs\" shows ours with its hidden temporary files on /dev/shm "
               "instead of the disk.\n"
               % (rows[0]["runs"] if rows else "-"))
    out.append("| case | side | median seconds | rate | spread (slowest - fastest) | ours/side |")
    out.append("|---|---|---|---|---|---|")
    ours = {}
    for row in rows:
        key = row["case"].split(" (")[0]
        if row["side"] == "orkv14":
            ours[key] = row["rate"]
    for row in rows:
        if row.get("memory"):
            out.append("| %s | %s | %.1f MB | %.2f %s | %.2f - %.2f | |" % (
                row["case"], row["side"], row["seconds"], row["rate"], row["unit"],
                row["worst"] * row["rate"] / row["seconds"], row["best_rate"]))
            continue
        key = row["case"].split(" (")[0]
        mine = row["side"].startswith("orkv14")
        ratio = "%.2fx" % (ours[key] / row["rate"]) if not mine and key in ours and row["rate"] else ""
        spread = "%.1f - %.1f" % (row["rate"] * row["seconds"] / row["worst"], row["best_rate"]) if row["rate"] else ""
        out.append("| %s | %s | %.3f | %.1f %s | %s | %s |" % (row["case"], row["side"], row["seconds"],
                                                             row["rate"] or 0, row["unit"], spread, ratio))
    if r.returncode != 0:
        out.append("\n(transport benchmark ended early: %s)\n" % r.stderr.strip().splitlines()[-1:])
    out.append("")


def google(name, title, note):
    path = os.path.join(bench, name)
    if not os.path.exists(path):
        return
    r = run([path, "--benchmark_min_time=0.1", "--benchmark_format=json"])
    try:
        data = json.loads(r.stdout)
    except ValueError:
        return
    out.append("## %s\n" % title)
    out.append(note + "\n")
    out.append("| benchmark | time per iteration | throughput |")
    out.append("|---|---|---|")
    for b in data.get("benchmarks", []):
        rate = b.get("bytes_per_second")
        out.append("| %s | %.2f %s | %s |" % (b["name"], b["real_time"], b["time_unit"],
                                            "%.0f MB/s" % (rate / 1e6) if rate else ""))
    out.append("")


def main():
    os.makedirs(docs, exist_ok=True)
    out.append("# Performance\n")
    out.append("Written by `bench/run` on %s. Machine: %s. Every ratio compares figures measured in the same run; "
               "no timing is asserted by any test.\n" % (datetime.date.today().isoformat(), machine()))
    codecs()
    mime()
    transport()
    google("kv_bench_tls", "TLS", "Bulk sending in clear and over TLS through the socket layer, and a whole connection "
           "with its handshake (OpenSSL's s_server as the peer).")
    google("kv_bench_log", "Tracing with the log off", "Every interface method opens a trace scope; with the log off "
           "it must cost a comparison, not a formatted line.")
    with open(os.path.join(docs, "PERFORMANCE.md"), "w") as f:
        f.write("\n".join(out) + "\n")
    print("wrote docs/PERFORMANCE.md and docs/performance-mime.svg")


main()
