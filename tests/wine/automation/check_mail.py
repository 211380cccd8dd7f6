#!/usr/bin/python3
"""Reads a mail that the automation samples produced with Python's email
package and checks its parts byte for byte against the files they came from.

  check_mail.py sent EML PICTURE ATTACHMENT FROM TO   (send_mail.vbs through SMTP)
  check_mail.py saved EML ATTACHMENT                  (walk_mail.js, SaveAs)
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


def parts(message):
    return [p for p in message.walk() if not p.is_multipart()]


mode, eml = sys.argv[1], sys.argv[2]
message = email.message_from_bytes(read(eml), policy=email.policy.default)
for defect in message.defects:
    problems.append("defect: %r" % defect)
leaves = parts(message)
types = [p.get_content_type() for p in leaves]

if mode == "sent":
    picture, attachment, sender, recipient = sys.argv[3:7]
    expect("subject", message["Subject"], "Report for October")
    expect("from", message["From"].addresses[0].addr_spec, sender)
    expect("to", [a.addr_spec for a in message["To"].addresses], [recipient])
    expect("own header", message["X-Report-Id"], "2024-10")
    expect("parts", sorted(types), sorted(["text/plain", "text/html", "image/gif", "text/plain"]))
    html = next(p for p in leaves if p.get_content_type() == "text/html")
    image = next(p for p in leaves if p.get_content_type() == "image/gif")
    cid = (image["Content-ID"] or "").strip("<> ")
    if not cid or ('src="cid:%s"' % cid) not in html.get_content():
        problems.append("the HTML does not refer to the picture's Content-ID %r" % cid)
    expect("picture bytes", image.get_payload(decode=True), read(picture))
    related = next((p for p in message.walk() if p.get_content_type() == "multipart/related"), None)
    if related is None or image not in parts(related) or html not in parts(related):
        problems.append("the picture and the HTML are not in one multipart/related part")
    files = [p for p in leaves if p.get_content_disposition() == "attachment"]
    expect("attachment names", [p.get_filename() for p in files], [attachment.replace("\\", "/").split("/")[-1]])
    if files:
        expect("attachment bytes", files[0].get_payload(decode=True), read(attachment))
elif mode == "saved":
    attachment = sys.argv[3]
    # The file holds the mail's text (its parts, as read back, are walk_mail.js's output).
    expect("subject", message["Subject"], "Notes on the engine")
    files = [p for p in leaves if p.get_content_disposition() == "attachment"]
    expect("attachment bytes", [p.get_payload(decode=True) for p in files], [read(attachment)])
else:
    sys.exit("unknown mode " + mode)

for p in problems:
    print("FAILED:", p)
sys.exit(1 if problems else 0)
