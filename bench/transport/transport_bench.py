#!/usr/bin/python3
"""Transport benchmark: ours against Python's smtplib/poplib/imaplib and curl, in one run.

Usage: transport_bench.py BUILD_DIR [--quick] [--repeat N] [--only CASE,...] [--tmpfs] [--baseline BUILD_DIR]
Cases: big, many, pop3, imap, imap-memory, kvmail-memory, tls-big, tls-many (all by default). Each side of a case
runs N times (default 7), the sides taking turns, so that a busy machine
disturbs them alike. Ours and the Python sides run in a fresh process each and
time their own work; curl is timed as a whole process. Prints one JSON object per line: {"case", "side",
"seconds" (median), "best", "worst", "runs", "rate" (of the median),
"best_rate", "unit"}.
"""
import imaplib
import json
import os
import poplib
import shutil
import smtplib
import ssl
import statistics
import subprocess
import sys
import tempfile
import time
from email.message import EmailMessage

build = sys.argv[1]  # "--peer" in a Python side's own process, where it is not used
quick = "--quick" in sys.argv
repeat = int(sys.argv[sys.argv.index("--repeat") + 1]) if "--repeat" in sys.argv else 7
only = set(sys.argv[sys.argv.index("--only") + 1].split(",")) if "--only" in sys.argv else None
big_mb = 10 if quick else 50
many = 200 if quick else 1000
mailbox = 200 if quick else 1000
bench = os.path.join(build, "bench")


def wanted(case):
    return only is None or case in only


def emit(case, side, runs, amount, unit):
    median = statistics.median(runs)
    rate = lambda t: round(amount / t, 2) if t > 0 else None
    print(json.dumps({"case": case, "side": side, "seconds": round(median, 4), "best": round(min(runs), 4),
                      "worst": round(max(runs), 4), "runs": len(runs), "rate": rate(median),
                      "best_rate": rate(min(runs)), "unit": unit}), flush=True)


def compare(case, sides, amount, unit):
    """sides: (name, case text or None, function giving seconds); the sides take turns."""
    runs = {name: [] for name, _, _ in sides}
    for _ in range(repeat):
        for name, _, fn in sides:
            runs[name].append(fn())
    for name, text, _ in sides:
        emit(text or case, name, runs[name], amount, unit)


def timed(fn):
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


# The Python sides run in a fresh interpreter each, timing their own work like
# our client: inside the long-lived benchmark process poplib's round trips got
# faster run by run, which measured the process's age rather than the library.
def py_side(*args):
    r = subprocess.run([sys.executable, os.path.abspath(__file__), "--peer"] + [str(a) for a in args], check=True,
                       stdout=subprocess.PIPE, text=True)
    return float(r.stdout.strip().splitlines()[-1])


def smtp_connection(port, context):
    s = smtplib.SMTP("127.0.0.1", port)
    if context:
        s.starttls(context=context)
    return s


def peer(args):
    """--peer KIND ...: one Python side; prints the seconds of its work."""
    kind, port = args[0], int(args[1])
    if kind == "imap":
        def work():
            m = imaplib.IMAP4("127.0.0.1", port)
            m.login("bench", "pw")
            m.select("INBOX")
            _, flags = m.uid("FETCH", "1:*", "(UID FLAGS RFC822.SIZE)")
            uids = [line.split(b"UID ")[1].split()[0].rstrip(b")") for line in flags if line]
            m.uid("FETCH", b",".join(uids), "(UID BODY.PEEK[HEADER])")
            for uid in uids:
                m.uid("FETCH", uid, "(UID BODY.PEEK[])")
            m.logout()
    elif kind == "pop3":
        def work():
            p = poplib.POP3("127.0.0.1", port)
            p.user("bench")
            p.pass_("pw")
            count, _ = p.stat()
            for n in range(1, count + 1):
                p.uidl(n)
                p.top(n, 1)
            for n in range(1, count + 1):
                p.retr(n)
            p.quit()
    else:
        context = ssl.create_default_context(cafile=args[2]) if args[2] != "-" else None
        if kind == "big":
            def work():
                with smtp_connection(port, context) as s:
                    s.send_message(big_message(args[3]))
        else:
            def work():
                with smtp_connection(port, context) as s:
                    for _ in range(int(args[3])):
                        s.send_message(small_message())
    print(timed(work))


# Our mails keep their text in hidden temporary files; where TMPDIR (default
# /tmp) is a disk, creating them costs more than the dialogue. With --tmpfs the
# cases that create one per mail also run ours with TMPDIR on /dev/shm, as a
# separate side.
tmpfs = "/dev/shm" if "--tmpfs" in sys.argv and os.path.isdir("/dev/shm") else None
TMPFS_SIDE = "orkv14 (TMPDIR on tmpfs)"


def on_tmpfs():
    env = dict(os.environ)
    env["TMPDIR"] = tmpfs
    return env


# --baseline BUILD_DIR: also runs the client of another build (an earlier
# version) as a side of its own, for before/after figures from one run.
baseline = sys.argv[sys.argv.index("--baseline") + 1] if "--baseline" in sys.argv else None
BASELINE_SIDE = "orkv14 (baseline build)"


def ours(args, env=None, build_dir=None):
    """Our client reports the seconds of its own work, process start-up left out."""
    client = os.path.join(build_dir or build, "bench", "kv_bench_smtp_client")
    r = subprocess.run([client] + args, check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                       env=env)
    return float(r.stdout.strip().splitlines()[-1])


def ours_sides(args):
    """Ours, and where asked ours with TMPDIR on tmpfs and the baseline build."""
    sides = [("orkv14", None, lambda: ours(args))]
    if tmpfs:
        sides.append((TMPFS_SIDE, None, lambda: ours(args, on_tmpfs())))
    if baseline:
        sides.append((BASELINE_SIDE, None, lambda: ours(args, None, baseline)))
    return sides


def small_message():
    m = EmailMessage()
    m["From"], m["To"], m["Subject"] = "bench@example.org", "sink@example.org", "benchmark"
    m.set_content("A short benchmark mail.\nIt has two lines.\n")
    return m


def big_message(path):
    m = small_message()
    with open(path, "rb") as f:
        m.add_attachment(f.read(), maintype="application", subtype="octet-stream", filename="data.bin")
    return m


def make_certificates(work):
    """A throw-away CA and a certificate for 127.0.0.1 signed by it."""
    ca_key, ca, key, csr, cert = (os.path.join(work, n) for n in ("ca.key", "ca.pem", "sink.key", "sink.csr", "sink.pem"))
    ext = os.path.join(work, "san.cnf")
    with open(ext, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n")
    quiet = {"check": True, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key, "-out", ca,
                    "-days", "2", "-subj", "/CN=kv bench CA"], **quiet)
    subprocess.run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
                    "-subj", "/CN=127.0.0.1"], **quiet)
    subprocess.run(["openssl", "x509", "-req", "-in", csr, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial",
                    "-out", cert, "-days", "2", "-extfile", ext], **quiet)
    return ca, cert, key


def start_sink(*args):
    sink = subprocess.Popen([os.path.join(bench, "kv_bench_smtp_sink")] + list(args), stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, text=True)
    return sink, int(sink.stdout.readline())


def stop_sink(sink):
    sink.stdin.close()
    sink.wait(timeout=10)


def smtp_cases(work, tls):
    """tls: None for the clear cases, else the CA file; the sink then offers STARTTLS."""
    if tls:
        ca, cert, key = make_certificates(work)
        sink, port = start_sink(cert, key)
    else:
        ca, sink, port = None, *start_sink()
    prefix = "STARTTLS: " if tls else ""
    ca_arg = ca or "-"

    ours_tls = ["tls=" + ca] if tls else []
    curl = ["curl", "-s", "--mail-from", "bench@example.org", "--mail-rcpt", "sink@example.org"]
    if tls:
        curl += ["--ssl-reqd", "--cacert", ca]
    try:
        if wanted("tls-big" if tls else "big"):
            data = os.path.join(work, "data.bin")
            with open(data, "wb") as f:
                f.write(os.urandom(big_mb << 20))
            rendered = os.path.join(work, "big.eml")
            with open(rendered, "wb") as f:
                f.write(big_message(data).as_bytes(policy=big_message(data).policy.clone(linesep="\r\n")))

            case = prefix + "send one mail with a %d MB attachment" % big_mb
            compare(case, ours_sides(["big", str(port), data] + ours_tls) + [
                ("Python smtplib", None, lambda: py_side("big", port, ca_arg, data)),
                ("curl", case + " (curl uploads a message rendered beforehand)",
                 lambda: timed(lambda: subprocess.run(curl + ["-T", rendered, "smtp://127.0.0.1:%d" % port],
                                                      check=True))),
            ], big_mb, "MB/s")

        if wanted("tls-many" if tls else "many"):
            small = os.path.join(work, "small.eml")
            with open(small, "wb") as f:
                f.write(small_message().as_bytes())
            config = os.path.join(work, "curl.cfg")
            with open(config, "w") as f:
                for _ in range(many):
                    f.write('url = "smtp://127.0.0.1:%d"\nupload-file = "%s"\n' % (port, small))

            case = prefix + "send %d small mails over one connection" % many
            compare(case, ours_sides(["many", str(port), str(many)] + ours_tls) + [
                ("Python smtplib", None, lambda: py_side("many", port, ca_arg, many)),
                ("curl", case + " (curl: one process, messages rendered beforehand)",
                 lambda: timed(lambda: subprocess.run(curl + ["-K", config], check=True))),
            ], many, "mails/s")
    finally:
        stop_sink(sink)


def start_dovecot(work, protocol, messages):
    """dovecot serving `protocol` over the maildir of user "bench" (password "pw")
    holding the messages; returns the server and its port."""
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    uid = 65534 if os.getuid() == 0 else os.getuid()
    gid = 65534 if os.getuid() == 0 else os.getgid()
    for d in ("run", "state", "mail/bench/new", "mail/bench/cur", "mail/bench/tmp", "home"):
        os.makedirs(os.path.join(work, d), exist_ok=True)
    for i, text in enumerate(messages):
        with open(os.path.join(work, "mail/bench/new/%d.M%dP1.bench" % (1000000000 + i, i)), "wb") as f:
            f.write(text)
    for root, dirs, files in os.walk(os.path.join(work, "mail")):
        for n in dirs + files:
            os.chown(os.path.join(root, n), uid, gid)
    os.chown(os.path.join(work, "mail"), uid, gid)
    with open(os.path.join(work, "users"), "w") as f:
        f.write("bench:{PLAIN}pw::::::\n")
    login = "dovenull" if os.getuid() == 0 else os.environ.get("USER", "nobody")
    with open(os.path.join(work, "dovecot.conf"), "w") as f:
        f.write(f"""base_dir = {work}/run
state_dir = {work}/state
log_path = {work}/dovecot.log
protocols = {protocol}
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
mail_location = maildir:{work}/mail/%u
first_valid_uid = 0
default_login_user = {login}
default_internal_user = {login}
passdb {{
  driver = passwd-file
  args = scheme=PLAIN {work}/users
}}
userdb {{
  driver = static
  args = uid={uid} gid={gid} home={work}/home/%u
}}
service {protocol}-login {{
  inet_listener {protocol} {{
    port = {port}
  }}
  chroot =
}}
service anvil {{
  chroot =
}}
""")
    server = subprocess.Popen(["/usr/sbin/dovecot", "-F", "-c", os.path.join(work, "dovecot.conf")])
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            break
        except OSError:
            time.sleep(0.1)
    return server, port


def stop_dovecot(server):
    server.terminate()
    server.wait(timeout=10)


def pop3_case(work):
    if not os.path.exists("/usr/sbin/dovecot"):
        return
    server, port = start_dovecot(work, "pop3", [small_message().as_bytes()] * mailbox)
    try:
        compare("list and load a %d-message POP3 mailbox" % mailbox, ours_sides(["pop3", str(port), "bench", "pw"]) + [
            ("Python poplib", None, lambda: py_side("pop3", port)),
        ], mailbox, "mails/s")
    finally:
        stop_dovecot(server)


def imap_case(work):
    if not os.path.exists("/usr/lib/dovecot/imap"):
        return
    server, port = start_dovecot(work, "imap", [small_message().as_bytes()] * mailbox)
    try:
        compare("list and load a %d-message IMAP folder" % mailbox, ours_sides(["imap", str(port), "bench", "pw"]) + [
            ("Python imaplib", None, lambda: py_side("imap", port)),
        ], mailbox, "mails/s")
    finally:
        stop_dovecot(server)


def imap_memory_case(work):
    """What loading one big message over IMAP adds to our peak resident size."""
    if not os.path.exists("/usr/lib/dovecot/imap"):
        return
    os.makedirs(work)
    data = os.path.join(work, "data.bin")
    with open(data, "wb") as f:
        f.write(os.urandom((big_mb << 20) * 3 // 4))  # base64 makes it the message's size
    message = big_message(data).as_bytes(policy=big_message(data).policy.clone(linesep="\r\n"))
    server, port = start_dovecot(work, "imap", [message])
    try:
        client = os.path.join(build, "bench", "kv_bench_smtp_client")
        runs = []
        for _ in range(repeat):
            r = subprocess.run([client, "imap-memory", str(port), "bench", "pw"], check=True, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
            runs.append(float(r.stdout.split()[0]))
        size = len(message) / (1 << 20)
        median = statistics.median(runs)
        print(json.dumps({"case": "memory loading one %.0f MB message over IMAP (added to the peak resident size)"
                          % size, "side": "orkv14", "seconds": round(median, 1), "best": min(runs),
                          "worst": max(runs), "runs": len(runs), "rate": round(median / size, 2),
                          "best_rate": round(min(runs) / size, 2), "unit": "x the message", "memory": True}),
              flush=True)
    finally:
        stop_dovecot(server)


def peak_rss(command):
    """Seconds and peak resident size in MB of one run of a command, by /usr/bin/time."""
    start = time.perf_counter()
    r = subprocess.run(["/usr/bin/time", "-v"] + command, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, text=True)
    seconds = time.perf_counter() - start
    kb = next(int(line.split(":")[1]) for line in r.stderr.splitlines() if "Maximum resident set size" in line)
    return seconds, kb / 1024


def emit_memory(case, runs, size):
    """runs: (seconds, MB) pairs; the rate is the peak over the message's size."""
    peaks = sorted(mb for _, mb in runs)
    median = statistics.median(peaks)
    print(json.dumps({"case": case, "side": "orkv14 (kvmail)", "seconds": round(median, 1), "best": round(peaks[0], 1),
                      "worst": round(peaks[-1], 1), "runs": len(runs), "rate": round(median / size, 2),
                      "best_rate": round(peaks[0] / size, 2), "unit": "x the message (peak resident size)",
                      "memory": True, "wall": round(statistics.median(s for s, _ in runs), 2)}), flush=True)


def kvmail_memory_case(work):
    """What a user of kvmail meets: the peak resident size of `show` of a big
    message file and of `fetch` of a big message over POP3, against the message."""
    kvmail = os.path.join(build, "tools", "kvmail", "kvmail")
    if not os.path.exists(kvmail):
        return
    os.makedirs(work)
    show_mb, fetch_mb = (10, 5) if quick else (72, 20)
    for mb, name in ((show_mb, "show.eml"), (fetch_mb, "fetch.eml")):
        data = os.path.join(work, name + ".bin")
        with open(data, "wb") as f:
            f.write(os.urandom((mb << 20) * 3 // 4))  # base64 makes it the message's size
        m = big_message(data)
        with open(os.path.join(work, name), "wb") as f:
            f.write(m.as_bytes(policy=m.policy.clone(linesep="\r\n")))
    size = os.path.getsize(os.path.join(work, "show.eml")) / (1 << 20)
    runs = [peak_rss([kvmail, "show", os.path.join(work, "show.eml")]) for _ in range(min(repeat, 3))]
    emit_memory("kvmail show of a %.0f MB message" % size, runs, size)
    if not os.path.exists("/usr/sbin/dovecot"):
        return
    with open(os.path.join(work, "fetch.eml"), "rb") as f:
        message = f.read()
    server, port = start_dovecot(os.path.join(work, "pop3"), "pop3", [message])
    try:
        runs = []
        for i in range(min(repeat, 3)):
            out = os.path.join(work, "out%d" % i)
            env_run = ["env", "KVMAIL_PASSWORD=pw", kvmail, "fetch", "1", "--server", "127.0.0.1", "--port", str(port),
                       "--user", "bench", "--out", out]
            runs.append(peak_rss(env_run))
            shutil.rmtree(out, ignore_errors=True)
        emit_memory("kvmail fetch of a %.0f MB message over POP3" % (len(message) / (1 << 20)), runs,
                    len(message) / (1 << 20))
    finally:
        stop_dovecot(server)


def main():
    work = tempfile.mkdtemp(prefix="kv-transport-bench-")
    os.chmod(work, 0o755)  # dovecot's own users must reach the files
    try:
        if wanted("big") or wanted("many"):
            smtp_cases(work, False)
        if wanted("pop3"):
            pop3_case(os.path.join(work, "pop3"))
        if wanted("imap"):
            imap_case(os.path.join(work, "imap"))
        if wanted("imap-memory"):
            imap_memory_case(os.path.join(work, "imap-memory"))
        if wanted("kvmail-memory"):
            kvmail_memory_case(os.path.join(work, "kvmail-memory"))
        if wanted("tls-big") or wanted("tls-many"):
            os.makedirs(os.path.join(work, "tls"))
            smtp_cases(os.path.join(work, "tls"), True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if len(sys.argv) > 1 and sys.argv[1] == "--peer":
    peer(sys.argv[2:])
else:
    main()
