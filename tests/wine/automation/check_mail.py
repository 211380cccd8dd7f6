#!/usr/bin/python3
"""Reads the mail send_mail.vbs sent with Python's email package and checks
its parts byte for byte against the files they came from.
  check_mail.py EML PICTURE ATTACHMENT FROM TO
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


eml, picture, attachment, sender, recipient = sys.argv[1:6]
message = email.message_from_bytes(read(eml), policy=email.policy.default)
problems += ["defect: %r" % defect for defect in message.defects]
leaves = [p for p in message.walk() if not p.is_multipart()]

expect("subject", message["Subject"], "Report for October")
expect("from", message["From"].addresses[0].addr_spec, sender)
expect("to", [a.addr_spec for a in message["To"].addresses], [recipient])
expect("own header", message["X-Report-Id"], "2024-10")
expect("parts", sorted(p.get_content_type() for p in leaves), sorted(["text/plain", "text/html", "image/gif", "text/plain"]))
# How the HTML refers to its picture is the writer's (mime_writer_test, mail_html_scan_test).
image = next(p for p in leaves if p.get_content_type() == "image/gif")
expect("picture bytes", image.get_payload(decode=True), read(picture))
files = [p for p in leaves if p.get_content_disposition() == "attachment"]
expect("attachment names", [p.get_filename() for p in files], [attachment.replace("\\", "/").split("/")[-1]])
if files:
    expect("attachment bytes", files[0].get_payload(decode=True), read(attachment))

for p in problems:
    print("FAILED:", p)
sys.exit(1 if problems else 0)
