#!/usr/bin/python3
"""Reads the mail send_mail.vbs sent with Python's email package and checks
its parts byte for byte against the files they came from.
  check_mail.py EML PICTURE ATTACHMENT TO
Subject, sender and attachment name are list_mailbox.vbs's, which reads it back.
Prints what is wrong and exits 1, or exits 0.
"""
import email
import email.policy
import sys

problems = []


def expect(what, got, wanted):
    if got != wanted:
        problems.append("%s: %r, expected %r" % (what, got, wanted))


def read(path):
    with open(path, "rb") as f:
        return f.read()


eml, picture, attachment, recipient = sys.argv[1:5]
message = email.message_from_bytes(read(eml), policy=email.policy.default)
problems += ["defect: %r" % defect for defect in message.defects]
leaves = [p for p in message.walk() if not p.is_multipart()]

expect("to", [a.addr_spec for a in message["To"].addresses], [recipient])
expect("own header", message["X-Report-Id"], "2024-10")
expect("parts", sorted(p.get_content_type() for p in leaves), sorted(["text/plain", "text/html", "image/gif", "text/plain"]))
# How the HTML refers to its picture is the writer's (mime_writer_test, mail_html_scan_test).
image = next(p for p in leaves if p.get_content_type() == "image/gif")
expect("picture bytes", image.get_payload(decode=True), read(picture))
files = [p.get_payload(decode=True) for p in leaves if p.get_content_disposition() == "attachment"]
expect("attachment bytes", files, [read(attachment)])

for p in problems:
    print("FAILED:", p)
sys.exit(1 if problems else 0)
