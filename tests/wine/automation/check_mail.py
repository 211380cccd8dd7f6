#!/usr/bin/python3
"""check_mail.py EML PICTURE ATTACHMENT TO: the mail send_mail.vbs sent, read with Python's email package, its
parts byte for byte against the files they came from (subject, sender and file name are list_mailbox.vbs's).
Prints what is wrong and exits 1, or exits 0."""
import email.policy
import sys

eml, picture, attachment, recipient = sys.argv[1:5]
read = lambda path: open(path, "rb").read()
message = email.message_from_bytes(read(eml), policy=email.policy.default)
leaves = [p for p in message.walk() if not p.is_multipart()]
checks = {
    "defects": (message.defects, []),
    "to": ([a.addr_spec for a in message["To"].addresses], [recipient]),
    "own header": (message["X-Report-Id"], "2024-10"),
    "parts": (sorted(p.get_content_type() for p in leaves), ["image/gif", "text/html", "text/plain", "text/plain"]),
    "picture bytes": ([p.get_payload(decode=True) for p in leaves if p.get_content_type() == "image/gif"], [read(picture)]),
    "attachment bytes": ([p.get_payload(decode=True) for p in leaves if p.get_content_disposition() == "attachment"],
                         [read(attachment)]),
}
problems = ["FAILED: %s: %r, expected %r" % (what, got, wanted) for what, (got, wanted) in checks.items() if got != wanted]
for p in problems:
    print(p)
sys.exit(1 if problems else 0)
