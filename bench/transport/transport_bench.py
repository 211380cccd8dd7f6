#!/usr/bin/python3
"""Transport benchmark: ours against Python's smtplib/poplib and curl, in one run.

Usage: transport_bench.py BUILD_DIR [--quick]
Prints one JSON object per line: {"case", "side", "seconds", "rate", "unit"}.
"""
import json
import os
import poplib
import shutil
import smtplib
import subprocess
import sys
import tempfile
import time
from email.message import EmailMessage

build = sys.argv[1]
quick = "--quick" in sys.argv
big_mb = 10 if quick else 50
many = 200 if quick else 1000
mailbox = 200 if quick else 1000
bench = os.path.join(build, "bench")


def emit(case, side, seconds, amount, unit):
    print(json.dumps({"case": case, "side": side, "seconds": round(seconds, 4),
                      "rate": round(amount / seconds, 2) if seconds > 0 else None, "unit": unit}), flush=True)


def timed(fn):
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


def ours(args):
    """Our client reports the seconds of its own work, process start-up left out."""
    r = subprocess.run([os.path.join(bench, "kv_bench_smtp_client")] + args, check=True, stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, text=True)
    return float(r.stdout.strip().splitlines()[-1])


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


def smtp_cases(work):
    sink = subprocess.Popen([os.path.join(bench, "kv_bench_smtp_sink")], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, text=True)
    port = int(sink.stdout.readline())
    try:
        data = os.path.join(work, "data.bin")
        with open(data, "wb") as f:
            f.write(os.urandom(big_mb << 20))
        case = "send one mail with a %d MB attachment" % big_mb
        mb = big_mb

        emit(case, "orkv14", ours(["big", str(port), data]), mb, "MB/s")

        def py_big():
            with smtplib.SMTP("127.0.0.1", port) as s:
                s.send_message(big_message(data))
        emit(case, "Python smtplib", timed(py_big), mb, "MB/s")

        rendered = os.path.join(work, "big.eml")
        with open(rendered, "wb") as f:
            f.write(big_message(data).as_bytes(policy=big_message(data).policy.clone(linesep="\r\n")))
        curl = ["curl", "-s", "--mail-from", "bench@example.org", "--mail-rcpt", "sink@example.org"]
        t = timed(lambda: subprocess.run(curl + ["-T", rendered, "smtp://127.0.0.1:%d" % port], check=True))
        emit(case + " (curl uploads a message rendered beforehand)", "curl", t, mb, "MB/s")

        case = "send %d small mails over one connection" % many
        emit(case, "orkv14", ours(["many", str(port), str(many)]), many, "mails/s")

        def py_many():
            with smtplib.SMTP("127.0.0.1", port) as s:
                for _ in range(many):
                    s.send_message(small_message())
        emit(case, "Python smtplib", timed(py_many), many, "mails/s")

        small = os.path.join(work, "small.eml")
        with open(small, "wb") as f:
            f.write(small_message().as_bytes())
        config = os.path.join(work, "curl.cfg")
        with open(config, "w") as f:
            for _ in range(many):
                f.write('url = "smtp://127.0.0.1:%d"\nupload-file = "%s"\n' % (port, small))
        t = timed(lambda: subprocess.run(curl + ["-K", config], check=True))
        emit(case + " (curl: one process, messages rendered beforehand)", "curl", t, many, "mails/s")
    finally:
        sink.stdin.close()
        sink.wait(timeout=10)


def pop3_case(work):
    if not os.path.exists("/usr/sbin/dovecot"):
        return
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    uid = 65534 if os.getuid() == 0 else os.getuid()
    gid = 65534 if os.getuid() == 0 else os.getgid()
    for d in ("run", "state", "mail/bench/new", "mail/bench/cur", "mail/bench/tmp", "home"):
        os.makedirs(os.path.join(work, d), exist_ok=True)
    text = small_message().as_bytes()
    for i in range(mailbox):
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
protocols = pop3
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
service pop3-login {{
  inet_listener pop3 {{
    port = {port}
  }}
  chroot =
}}
service anvil {{
  chroot =
}}
""")
    server = subprocess.Popen(["/usr/sbin/dovecot", "-F", "-c", os.path.join(work, "dovecot.conf")])
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), 0.2).close()
                break
            except OSError:
                time.sleep(0.1)
        case = "list and load a %d-message POP3 mailbox" % mailbox
        emit(case, "orkv14", ours(["pop3", str(port), "bench", "pw"]), mailbox, "mails/s")

        def py_pop():
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
        emit(case, "Python poplib", timed(py_pop), mailbox, "mails/s")
    finally:
        server.terminate()
        server.wait(timeout=10)


def main():
    work = tempfile.mkdtemp(prefix="kv-transport-bench-")
    os.chmod(work, 0o755)  # dovecot's own users must reach the files
    try:
        smtp_cases(work)
        pop3_case(os.path.join(work, "pop3"))
    finally:
        shutil.rmtree(work, ignore_errors=True)


main()
