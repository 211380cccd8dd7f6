#!/usr/bin/python3
"""Usage: compare_corpus.py DIR PIN [--write-pin]

DIR holds NAME.eml (the text as the reader keeps it) and NAME.json (what the
reader made of it) per message. Python's email package parses the .eml, its MIME
tree sorted by the reader's rules; each difference is named by a rule of
EXPLAINED or described. Any result other than the one pinned in PIN fails.
"""
import email
import email.policy
import email.utils
import email.header
import json
import os
import re
import sys
import types

# The one place where the prescribed differences are listed and explained.
EXPLAINED = {
    "part-line-end": "A body part keeps its last line end (RFC 2046 gives it to the delimiter); attachments do not.",
    "name-from-content-type": "The name is Content-Type's \"name\" before the disposition's \"filename\".",
    "message-part": "A message/rfc822 part stays one part; Python parses it, so only its presence is compared.",
    "error-empty-boundary": "A multipart without boundary is an error to the reader, text with a defect to Python.",
    "closing-delimiter-missing": "Closing delimiter missing or followed by more than blanks: both take the rest.",
    "invalid-base64": "Failed base64: Python hands back the text, the reader decodes what it can.",
    "base64-after-padding": "Base64 decoding goes on after padding (Python stops): text after it gives bytes.",
    "multipart-without-parts": "A multipart without delimiter lines has no parts; Python keeps its text as one.",
    "empty-parts": "Two delimiter lines in a row enclose an empty part for the reader; Python skips it.",
    "sender-as-written": "The sender is the From value as written; Python picks from a malformed list.",
    "unquoted-tspecials": "An unquoted parameter value runs to the next \";\"; Python cuts it at a special.",
    "default-media-type": "Python replaces a malformed Content-Type by a default; the reader keeps the value.",
}


def collapse(text):
    return re.sub(r"\s+", " ", text or "").strip()


def address_key(address):
    # Quotes around a local part are spelling, not content.
    return address.replace('"', "").lower()


def addresses(values):
    return sorted(address_key(a) for _, a in email.utils.getaddresses(values) if a)


def py_addresses(msg, name, fields=None):
    """The addresses of the fields of that name (the first `fields`), as Python reads them."""
    out = []
    for k, v in [(k, v) for k, v in msg.raw_items() if k.lower() == name.lower()][:fields]:
        try:
            out += [address_key(a.addr_spec) for a in msg.policy.header_fetch_parse(k, v).addresses
                    if a.addr_spec and a.addr_spec != "<>"]
        except Exception:
            out += addresses([v])
    return sorted(out)


def py_param(part, field, param):
    return (part[field].params.get(param) if part[field] is not None else None) or ""


def payload(part):
    return None if part.get_content_maintype() == "message" else (part.get_payload(decode=True) or b"")


def read(part, flags, index, view):
    main = (part.get("Content-Type") or "").split(";")[0].strip().lower()
    if main.startswith("multipart/") and isinstance(part.get_payload(), list):
        child = flags | (4 if main == "multipart/related" else 2 if main == "multipart/alternative" else 0)
        for i, sub in enumerate(part.get_payload()):
            read(sub, child, i, view)
        return
    attachment_or_inline = (part.get("Content-Disposition") or "").split(";")[0].strip().lower() in ("attachment", "inline")
    if flags & 4:  # related: the first part is the body, the others its attachments
        is_body, target = index == 0 or not view.bodies, view.bodies[-1][2] if view.bodies else None
    elif flags & 2:  # alternative
        is_body, target = not attachment_or_inline, view.bodies[-1][2] if view.bodies else view.attachments
    else:
        is_body, target = not view.bodies and not attachment_or_inline, view.attachments
    if is_body:
        view.bodies.append([part.get_content_type(), payload(part), [], part])
    else:
        target.append([part.get_filename() or "", payload(part), part])


def classify_bytes(ours, theirs, part):
    """None when equal, else the reason (a key of EXPLAINED or an unexplained text)."""
    if theirs is None:
        return None if part.get_content_maintype() == "message" else "python gave no payload"
    if ours == theirs:
        return None
    if ours == theirs + b"\r\n":
        return "part-line-end"
    if (part.get("Content-Transfer-Encoding") or "").strip().lower() == "base64":
        text = part.get_payload().encode("utf-8", "surrogateescape")
        if theirs == b"".join(text.splitlines()):
            return "invalid-base64"
        if ours.startswith(theirs) and re.search(rb"=[^=]*[A-Za-z0-9+/]", text):
            return "base64-after-padding"
    return f"bytes differ (ours {len(ours)}, python {len(theirs)}: {ours[:60]!r} / {theirs[:60]!r})"


def compare(ours, msg, text):
    if ours["hr"] != 0:
        error = ours["error"]
        return ["error-empty-boundary" if "unexpected empty boundary" in error else "reader failed: " + error.strip()]

    diffs = []
    subject = str(msg.get("Subject") or "")
    if collapse(ours["subject"]) != collapse(subject):
        diffs.append(f"subject: ours {ours['subject']!r} / python {subject!r}")
    if addresses([ours["sender"]]) != py_addresses(msg, "From", 1):
        written = [v for k, v in msg.raw_items() if k.lower() == "from"][:1]
        if written and collapse(ours["sender"]) == collapse(str(email.header.make_header(email.header.decode_header(written[0])))):
            diffs.append("sender-as-written")
        else:
            diffs.append(f"sender: ours {ours['sender']!r} / python {str(msg.get('From') or '')!r}")
    for key, name in (("to", "To"), ("cc", "Cc")):
        # The reader takes the addresses of every field of that name.
        mine = addresses([bytes.fromhex(x).decode("utf-8", "replace") for x in ours[key]])
        if mine != py_addresses(msg, name):
            diffs.append(f"{name}: ours {mine} / python {py_addresses(msg, name)}")

    view = types.SimpleNamespace(bodies=[], attachments=[])  # [type, bytes, attachments, part], [name, bytes, part]
    read(msg, 0, 0, view)
    for p in msg.walk():
        for defect in p.defects:
            if type(defect).__name__ == "StartBoundaryNotFoundDefect":
                diffs.append("multipart-without-parts")
                return diffs
            if type(defect).__name__ == "CloseBoundaryNotFoundDefect":
                diffs.append("closing-delimiter-missing")
    if len(view.bodies) != len(ours["bodies"]) or len(view.attachments) != len(ours["attachments"]):
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
            my_name = bytes.fromhex(a["name"]).decode("utf-8", "replace")
            if collapse(my_name) != collapse(name):
                why = None
                if my_name == py_param(part, "content-type", "name") and name == py_param(part, "content-disposition", "filename"):
                    why = "name-from-content-type"
                if name and my_name.startswith(name) and re.search(r'[()<>@,;:\\"/\[\]?=]', my_name[len(name):len(name) + 1]):
                    why = "unquoted-tspecials"
                diffs.append(why if why in EXPLAINED else f"{where} attachment {i} name: ours {my_name!r} / python {name!r}")
            why = classify_bytes(bytes.fromhex(a["hex"]), data, part)
            if why:
                diffs.append(why if why in EXPLAINED else f"{where} attachment {i}: {why}")
            if data is None and part.get_content_maintype() == "message":
                diffs.append("message-part")

    for i, (b, (ptype, data, patts, part)) in enumerate(zip(ours["bodies"], view.bodies)):
        written = (part.get("Content-Type") or "").split(";")[0].strip().lower() or "text/plain"
        if b["type"].lower() != ptype:
            diffs.append("default-media-type" if written != ptype else f"body {i} type: ours {b['type']} / python {ptype}")
        why = classify_bytes(bytes.fromhex(b["hex"]), data, part)
        if why:
            diffs.append(why if why in EXPLAINED else f"body {i}: {why}")
        attachments(b["attachments"], patts, f"body {i}")
    attachments(ours["attachments"], view.attachments, "mail")
    return diffs


def main():
    directory, pin_path = sys.argv[1], sys.argv[2]
    results, unexplained = {}, 0
    for name in sorted(f[:-5] for f in os.listdir(directory) if f.endswith(".json")):
        ours = json.load(open(os.path.join(directory, name + ".json"), encoding="utf-8"))
        raw = open(os.path.join(directory, name + ".eml"), "rb").read()
        diffs = sorted(set(compare(ours, email.message_from_bytes(raw, policy=email.policy.default), raw)))
        for d in diffs:
            if d not in EXPLAINED:
                unexplained += 1
                print(f"UNEXPLAINED {name}: {d}")
        results[name] = ", ".join(diffs) or "identical"
    exact = sum(1 for r in results.values() if r == "identical")
    print(f"{len(results)} messages: {exact} identical, {len(results) - exact} with differences, "
          f"{unexplained} unexplained")
    if "--write-pin" in sys.argv[3:]:
        if not unexplained:
            open(pin_path, "w", encoding="utf-8").write(PIN_HEAD + "".join(f"{n} = {r}\n" for n, r in results.items()))
        return 1 if unexplained else 0
    pinned = dict(l.strip().partition(" = ")[::2] for l in open(pin_path, encoding="utf-8")
                  if l.strip() and not l.startswith("#"))
    changed = [n for n in sorted(set(pinned) | set(results)) if pinned.get(n) != results.get(n)]
    for n in changed:
        print(f"CHANGED {n}: pinned {pinned.get(n, '(not pinned)')}, now {results.get(n, '(missing)')}")
    print(f"{len(changed)} messages differ from {os.path.basename(pin_path)}")
    return 1 if changed else 0


PIN_HEAD = """\
# The reader's result per message of gather_corpus.sh's corpus: "identical" to Python's view, or the
# rules of compare_corpus.py that explain the differences. After a meant change: KV_WRITE_PIN=1.
"""


if __name__ == "__main__":
    sys.exit(main())
