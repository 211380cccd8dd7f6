#!/usr/bin/python3
"""Python's email package on the cases of kv_bench_mime, one case per process.
Usage: python_mime_bench.py render|read CASE DIR
Prints: python ACTION CASE MB MB/s peak-RSS-MB added-MB message-MB (as kv_bench_mime does)."""
import email
import email.policy
import os
import random
import resource
import sys
import time
from email.message import EmailMessage


def shape(name):
    return {"b64-1": (1 << 20, 0, 0), "b64-10": (10 << 20, 0, 0), "b64-50": (50 << 20, 0, 0),
            "qp-5": (0, 5 << 20, 0), "parts-2000": (0, 0, 2000)}[name]


def status_mb(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field):
                return int(line.split()[1]) / 1024
    return 0


def reset_peak():
    """The resident size now, with the peak reset to it (Linux 4.0 and later)."""
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    return status_mb("VmRSS:")


def long_text(n):
    line = "Grüße an alle, dies ist eine lange Zeile ohne Umbruch = 100% Text. "
    return (line * (n // len(line.encode()) + 1)).encode()[:n].decode("utf-8", "ignore")


def main():
    action, name, directory = sys.argv[1:4]
    attachment, qp, parts = shape(name)
    if action == "render":
        rng = random.Random(1)
        blobs = ([rng.randbytes(attachment)] if attachment else []) + [rng.randbytes(2000) for _ in range(parts)]
        body = long_text(qp) if qp else "Hello\r\n"
        before = reset_peak()
        start = time.perf_counter()
        msg = EmailMessage()
        msg["Subject"] = "Benchmark"
        msg.set_content(body, cte="quoted-printable" if qp else "7bit")
        for b in blobs:
            msg.add_attachment(b, maintype="application", subtype="octet-stream", filename="data.bin")
        data = msg.as_bytes()
        seconds = time.perf_counter() - start
        added = status_mb("VmHWM:") - before
        open(f"{directory}/{name}.python.eml", "wb").write(data)
        mb = (sum(map(len, blobs)) + qp) / 1048576
        message = len(data) / 1048576
    else:
        data = open(f"{directory}/{name}.ours.eml", "rb").read()
        before = reset_peak()
        start = time.perf_counter()
        msg = email.message_from_bytes(data, policy=email.policy.default)
        for part in msg.walk():
            if not part.is_multipart():
                part.get_payload(decode=True)
        seconds = time.perf_counter() - start
        added = status_mb("VmHWM:") - before
        mb = message = len(data) / 1048576
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(f"python {action} {name} {mb:.1f} {mb / seconds:.1f} {peak:.0f} {added:.1f} {message:.1f}")


main()
