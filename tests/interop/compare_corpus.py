#!/usr/bin/python3
"""Compares the reader's view of real-world messages with Python's view.

Usage: compare_corpus.py DIR PIN [--write-pin]

DIR holds, for every message, NAME.eml (the text as the reader keeps it: its
lines, each ended by CR LF) and NAME.json (what the reader made of it: sender,
subject, recipients, bodies and attachments with their decoded bytes). Python's
email package (policy default) parses the same .eml; Python's MIME tree is then
sorted into bodies and attachments by the reader's own rules, so what is
compared is how each side parsed and decoded the message.

Every difference the reader's rules prescribe is listed in EXPLAINED below,
with the reason; a difference of any other kind fails the run. PIN holds the
result of every message ("identical", or the rules that explain its
differences); a message whose result is not the pinned one, a message that
is not pinned and a pinned message that is missing fail the run too.
--write-pin writes PIN anew from this run (when nothing is unexplained).
"""
import email
import email.policy
import email.utils
import email.header
import json
import os
import re
import sys

# The one place where the prescribed differences are listed and explained.
EXPLAINED = {
    "part-line-end": "A part inside a multipart keeps every line up to the delimiter, each with CR LF; RFC 2046 "
                     "(and Python) give the line end before the delimiter to the delimiter. The reader's 7bit, 8bit "
                     "and quoted-printable bodies therefore end in one CR LF more; attachments do not, since a "
                     "file must come back with the bytes it was sent with.",
    "unknown-transfer-encoding": "Only base64, quoted-printable (and UTF-8 for bodies) are decoded; Python also "
                                 "decodes x-uuencode and similar, the reader keeps such lines as they are.",
    "name-from-content-type": "An attachment's name is the \"name\" parameter of Content-Type, and only without "
                              "one the \"filename\" of Content-Disposition; Python's get_filename() prefers the "
                              "filename.",
    "message-part": "A message/rfc822 part is one part to the reader (its lines as they are); Python parses it "
                    "further, so only its presence is compared.",
    "field-tokens": "Structured fields (addresses, Content-Type and its parameters) pass the address tokenizer: "
                    "backslash escapes outside quoted strings are removed, a control character ends the value, "
                    "blank runs become one blank.",
    "error-empty-boundary": "A multipart without boundary stops the reader with \"unexpected empty boundary\" "
                            "(Python reads it as text with a defect).",
    "error-mime-version": "A MIME-Version other than 1.0 stops the reader (Python ignores it).",
    "closing-delimiter-missing": "A multipart whose closing delimiter is missing, or has more than blanks after "
                                 "it: Python notes a defect; both take the rest of the text as the last part.",
    "invalid-base64": "Python hands back the undecoded text when base64 decoding fails; the reader decodes "
                      "what it can, skipping characters outside the alphabet.",
    "base64-after-padding": "Base64 decoding goes on after padding (several padded pieces all count); Python "
                            "stops at the first, so text after it (an epilogue that a missing closing delimiter "
                            "left in the part, a list footer) gives bytes on the reader's side only.",
    "multipart-without-parts": "A multipart without any delimiter line has no parts for the reader; Python "
                               "keeps its text as one part (with a defect).",
    "empty-parts": "Two delimiter lines in a row enclose an empty part, which the reader reads as a part without "
                   "header fields (a text body or attachment); Python skips it.",
    "qp-padded-soft-break": "Quoted-printable \"=\" with one blank before the line end is a soft line break "
                            "(RFC 2045 transport padding), and \"==\" is two characters; Python keeps the first "
                            "as it stands and reads \"==\" as one \"=\".",
    "sender-as-written": "The sender is the From value as written (encoded words decoded); Python picks the "
                         "first address of a malformed address list by its own rules.",
    "unquoted-tspecials": "An unquoted parameter value runs to the next \";\" for the reader; Python cuts it at "
                          "the first special character (\"(\" starts a comment for it).",
    "default-media-type": "Python replaces a malformed Content-Type by text/plain (message/rfc822 in a "
                          "multipart/digest); the reader keeps the main value as written.",
    "8bit-header": "Raw 8-bit header bytes are taken in the message's charset (or the ANSI code page, UTF-8 here); "
                   "Python reads undecodable bytes as replacement characters.",
}


CURRENT = None


def unhex(text):
    return bytes.fromhex(text)


def collapse(text):
    return re.sub(r"\s+", " ", text or "").strip()


def address_key(address):
    # Quotes around a local part are spelling, not content.
    return address.replace('"', "").lower()


def addresses(values):
    return sorted(address_key(a) for _, a in email.utils.getaddresses(values) if a)


def py_addresses(msg, name):
    """The addresses of the first field of that name, as Python reads it."""
    try:
        value = msg.get(name)
        if value is None:
            return []
        return sorted(address_key(a.addr_spec) for a in value.addresses if a.addr_spec and a.addr_spec != "<>")
    except Exception:
        raw = [v for k, v in msg.raw_items() if k.lower() == name.lower()][:1]
        return addresses(raw)


def py_addresses_all(msg, name):
    out = []
    for k, v in msg.raw_items():
        if k.lower() == name.lower():
            try:
                out += [address_key(a.addr_spec) for a in msg.policy.header_factory(k, v).addresses
                        if a.addr_spec and a.addr_spec != "<>"]
            except Exception:
                out += addresses([v])
    return sorted(out)


def py_text(msg, name):
    """The field as Python reads it; its encoded words decoded when Python refuses it."""
    try:
        return str(msg.get(name) or "")
    except Exception:
        raw = [v for k, v in msg.raw_items() if k.lower() == name.lower()][:1]
        return str(email.header.make_header(email.header.decode_header(raw[0]))) if raw else ""


def py_param(part, field, param):
    try:
        value = part[field].params.get(param) if part[field] is not None else None
    except Exception:
        value = part.get_param(param, header=field)
    if isinstance(value, tuple):
        value = email.utils.collapse_rfc2231_value(value)
    return value or ""


def param_name(part):
    try:
        return part.get_filename() or ""
    except Exception:
        return py_param(part, "content-disposition", "filename") or py_param(part, "content-type", "name")


def payload(part):
    if part.get_content_maintype() == "message":
        return None
    data = part.get_payload(decode=True)
    return data if data is not None else b""


class View:
    def __init__(self):
        self.bodies = []  # [type, bytes, attachments, part]
        self.attachments = []  # [name, bytes, part]


def read(part, flags, index, view):
    ctype = (part.get("Content-Type") or "")
    main = ctype.split(";")[0].strip().lower()
    if main.startswith("multipart/") and isinstance(part.get_payload(), list):
        child = flags | (4 if main == "multipart/related" else 2 if main == "multipart/alternative" else 0)
        for i, sub in enumerate(part.get_payload()):
            read(sub, child, i, view)
        return
    disposition = (part.get("Content-Disposition") or "").split(";")[0].strip().lower()
    attachment_or_inline = disposition in ("attachment", "inline")

    def body():
        view.bodies.append([part.get_content_type(), payload(part), [], part])

    def attach(target):
        target.append([param_name(part), payload(part), part])

    if flags & 4:
        if index == 0 or not view.bodies:
            body()
        else:
            attach(view.bodies[-1][2])
    elif flags & 2:
        if not attachment_or_inline:
            body()
        else:
            attach(view.bodies[-1][2] if view.bodies else view.attachments)
    else:
        if not view.bodies and not attachment_or_inline:
            body()
        else:
            attach(view.attachments)


def classify_bytes(ours, theirs, part):
    """None when equal, else the reason (a key of EXPLAINED or an unexplained text)."""
    if theirs is None:
        return None if part.get_content_maintype() == "message" else "python gave no payload"
    if ours == theirs:
        return None
    if ours == theirs + b"\r\n":
        return "part-line-end"
    cte = (part.get("Content-Transfer-Encoding") or "").strip().lower()
    if cte and cte not in ("7bit", "8bit", "binary", "base64", "quoted-printable", "utf-8"):
        return "unknown-transfer-encoding"
    if cte == "base64":
        text = part.get_payload().encode("utf-8", "surrogateescape")
        if theirs == b"".join(text.splitlines()):
            return "invalid-base64"
        if ours.startswith(theirs) and re.search(rb"=[^=]*[A-Za-z0-9+/]", text):
            return "base64-after-padding"
    if cte == "quoted-printable" and re.search(rb"(=[ \t]\r?\n|==)", part.get_payload().encode("utf-8", "surrogateescape")):
        return "qp-padded-soft-break"
    return f"bytes differ (ours {len(ours)}, python {len(theirs)}: {ours[:60]!r} / {theirs[:60]!r})"


def classify_text(ours, theirs):
    a, b = collapse(ours), collapse(theirs)
    if a == b:
        return None
    if "\ufffd" in a or "\ufffd" in b:
        return "8bit-header"
    if re.sub(r"[\\\s\"]", "", a) == re.sub(r"[\\\s\"]", "", b):
        return "field-tokens"
    return f"differs: ours {a!r} / python {b!r}"


def compare(ours, msg):
    diffs = []
    if ours["hr"] != 0:
        error = ours["error"]
        if "unexpected empty boundary" in error:
            diffs.append("error-empty-boundary")
        elif "unexpected MIME version" in error:
            diffs.append("error-mime-version")
        else:
            diffs.append("reader failed: " + error.strip())
        return diffs

    d = classify_text(ours["subject"], py_text(msg, "Subject"))
    if d:
        diffs.append("subject: " + d if d not in EXPLAINED else d)
    if addresses([ours["sender"]]) != py_addresses(msg, "From"):
        written = [v for k, v in msg.raw_items() if k.lower() == "from"][:1]
        if written and collapse(ours["sender"]) == collapse(str(email.header.make_header(email.header.decode_header(written[0])))):
            diffs.append("sender-as-written")
        else:
            diffs.append(f"sender: ours {ours['sender']!r} / python {py_text(msg, 'From')!r}")
    for key, name in (("to", "To"), ("cc", "Cc")):
        # The reader takes the addresses of every field of that name.
        mine = addresses([unhex(x).decode("utf-8", "replace") for x in ours[key]])
        if mine != py_addresses_all(msg, name):
            diffs.append(f"{name}: ours {mine} / python {py_addresses_all(msg, name)}")

    view = View()
    read(msg, 0, 0, view)
    for p in msg.walk():
        for defect in p.defects:
            if type(defect).__name__ == "StartBoundaryNotFoundDefect":
                diffs.append("multipart-without-parts")
                return diffs
            if type(defect).__name__ == "CloseBoundaryNotFoundDefect":
                diffs.append("closing-delimiter-missing")
    if len(view.bodies) != len(ours["bodies"]) or len(view.attachments) != len(ours["attachments"]):
        text = open(CURRENT, "rb").read()
        for p in msg.walk():
            boundary = p.get_boundary() if p.get_content_maintype() == "multipart" else None
            if not boundary:
                continue
            b = re.escape(("--" + boundary).encode("utf-8", "surrogateescape"))
            if re.search(rb"(?m)^" + b + rb"\r?\n" + b + rb"(--)?\r?$", text):
                diffs.append("empty-parts")
                return diffs
        diffs.append(f"structure: ours {len(ours['bodies'])} bodies/{len(ours['attachments'])} attachments, "
                     f"python {len(view.bodies)}/{len(view.attachments)}")
        return diffs

    def attachments(mine, theirs, where):
        if len(mine) != len(theirs):
            diffs.append(f"{where}: ours {len(mine)} attachments, python {len(theirs)}")
            return
        for i, (a, (name, data, part)) in enumerate(zip(mine, theirs)):
            my_name = unhex(a["name"]).decode("utf-8", "replace")
            if collapse(my_name) != collapse(name):
                why = classify_text(my_name, name)
                if my_name == py_param(part, "content-type", "name") and name == py_param(part, "content-disposition", "filename"):
                    why = "name-from-content-type"
                if name and my_name.startswith(name) and re.search(r'[()<>@,;:\\"/\[\]?=]', my_name[len(name):len(name) + 1]):
                    why = "unquoted-tspecials"
                diffs.append(why if why in EXPLAINED else f"{where} attachment {i} name: ours {my_name!r} / python {name!r}")
            why = classify_bytes(unhex(a["hex"]), data, part)
            if why:
                diffs.append(why if why in EXPLAINED else f"{where} attachment {i}: {why}")
            if data is None and part.get_content_maintype() == "message":
                diffs.append("message-part")

    for i, (b, (ptype, data, patts, part)) in enumerate(zip(ours["bodies"], view.bodies)):
        written = (part.get("Content-Type") or "").split(";")[0].strip().lower() or "text/plain"
        if b["type"].lower() != ptype:
            diffs.append("default-media-type" if written != ptype else f"body {i} type: ours {b['type']} / python {ptype}")
        why = classify_bytes(unhex(b["hex"]), data, part)
        if why:
            diffs.append(why if why in EXPLAINED else f"body {i}: {why}")
        attachments(b["attachments"], patts, f"body {i}")
    attachments(ours["attachments"], view.attachments, "mail")
    return diffs


def read_pin(path):
    pinned = {}
    for line in open(path, encoding="utf-8"):
        line = line.strip()
        if line and not line.startswith("#"):
            name, _, result = line.partition(" = ")
            pinned[name] = result
    return pinned


def main():
    directory, pin_path = sys.argv[1], sys.argv[2]
    names = sorted(f[:-5] for f in os.listdir(directory) if f.endswith(".json"))
    unexplained = 0
    counts = {}
    results = {}
    for name in names:
        ours = json.load(open(os.path.join(directory, name + ".json"), encoding="utf-8"))
        raw = open(os.path.join(directory, name + ".eml"), "rb").read()
        global CURRENT
        CURRENT = os.path.join(directory, name + ".eml")
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        diffs = sorted(set(compare(ours, msg)))
        for d in diffs:
            if d in EXPLAINED:
                counts[d] = counts.get(d, 0) + 1
            else:
                unexplained += 1
                print(f"UNEXPLAINED {name}: {d}")
        results[name] = ", ".join(diffs) or "identical"
    exact = sum(1 for r in results.values() if r == "identical")
    print(f"\n{len(names)} messages: {exact} identical, {len(names) - exact} with differences")
    for key, n in sorted(counts.items()):
        print(f"  {n:3d} x {key}: {EXPLAINED[key]}")
    print(f"{len(names)} compared, {unexplained} unexplained differences")
    if unexplained:
        return 1

    if "--write-pin" in sys.argv[3:]:
        with open(pin_path, "w", encoding="utf-8") as f:
            f.write(PIN_HEAD)
            for name in names:
                f.write(f"{name} = {results[name]}\n")
        print(f"wrote {pin_path}")
        return 0
    pinned = read_pin(pin_path)
    changed = 0
    for name in names:
        if name not in pinned:
            print(f"NOT PINNED {name} = {results[name]}")
        elif pinned[name] != results[name]:
            print(f"CHANGED {name}: pinned {pinned[name]}, now {results[name]}")
        else:
            continue
        changed += 1
    for name in sorted(set(pinned) - set(results)):
        print(f"MISSING {name}: pinned, but not in the corpus")
        changed += 1
    print(f"{changed} messages differ from {os.path.basename(pin_path)}")
    return 1 if changed else 0


PIN_HEAD = """\
# The reader's result for every message of the interop corpus (gather_corpus.sh):
# "identical" to Python's view, or the rules of compare_corpus.py that explain
# its differences. A change of any line fails the interop-corpus test; after a
# change that is meant, write the file anew with KV_WRITE_PIN=1 set for that test.
"""


if __name__ == "__main__":
    sys.exit(main())
