#!/usr/bin/python3
"""Usage: check_written.py MESSAGE EXPECTED_JSON. Prints what differs; exits 1 if anything does.

The SMTP dot-stuffing is removed first, as a receiving server does; no part may carry a parse defect.
"""
import email
import email.policy
import json
import sys


def unstuff(raw: bytes) -> bytes:
    return b"\r\n".join(l[1:] if l.startswith(b".") else l for l in raw.split(b"\r\n"))


def tree(part) -> str:
    inner = "(" + ",".join(tree(p) for p in part.iter_parts()) + ")" if part.is_multipart() else ""
    return part.get_content_type() + inner


def main() -> int:
    raw = open(sys.argv[1], "rb").read()
    want = json.load(open(sys.argv[2], encoding="utf-8"))
    errors = []
    if b"\n" in raw.replace(b"\r\n", b"") or b"\r" in raw.replace(b"\r\n", b""):
        errors.append("a line end other than CR LF")
    msg = email.message_from_bytes(unstuff(raw), policy=email.policy.default)

    def same(what, got, expected):
        if got != expected:
            errors.append(f"{what}: got {got!r}, expected {expected!r}")

    same("Subject", str(msg.get("Subject", "")), want["subject"])
    for field in ("From", "To", "Cc"):
        header = msg.get(field)
        got = [[a.display_name, a.addr_spec] for a in header.addresses] if header is not None else []
        same(field, got, want[field.lower()])
    same("MIME-Version", str(msg.get("MIME-Version")), "1.0")
    if not str(msg.get("Message-ID", "")).startswith("<"):
        errors.append("no Message-ID")
    same("tree", tree(msg), want["tree"])

    leaves = [p for p in msg.walk() if not p.is_multipart()]
    same("number of leaf parts", len(leaves), len(want["parts"]))
    for i, (part, exp) in enumerate(zip(leaves, want["parts"])):
        same(f"part {i} type", part.get_content_type(), exp["type"])
        same(f"part {i} bytes", part.get_payload(decode=True).hex(), exp["hex"])
        same(f"part {i} file name", part.get_filename(), exp.get("filename"))
        if "charset" in exp:
            same(f"part {i} charset", part.get_content_charset(), exp["charset"])
        same(f"part {i} Content-ID", part.get("Content-ID"), exp.get("cid"))
        if part.defects:
            errors.append(f"part {i} defects: {part.defects}")
        if exp.get("text") is not None:
            same(f"part {i} text", part.get_content(), exp["text"])
    for p in msg.walk():
        if p.defects and p.is_multipart():
            errors.append(f"{p.get_content_type()} defects: {p.defects}")

    for e in errors:
        print(e)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
