#!/usr/bin/python3
"""Compares the reader's view of real-world messages with Python's view.

Usage: compare_corpus.py DIR

DIR holds, for every message, NAME.eml (the text as the reader keeps it: its
lines, each ended by CR LF) and NAME.json (what the reader made of it: sender,
subject, recipients, bodies and attachments with their decoded bytes). Python's
email package (policy default) parses the same .eml; Python's MIME tree is then
sorted into bodies and attachments by the reader's own rules, so what is
compared is how each side parsed and decoded the message.

Every difference the reader's rules prescribe is listed in EXPLAINED below,
with the reason; a difference of any other kind fails the run.
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
    "adjacent-encoded-words": "Blanks between two adjacent encoded words stay (RFC 2047 drops them): a subject "
                              "split into several encoded words reads with blanks at the splits.",
    "lowercase-q-b": "Only upper-case Q and B encoded words are decoded; \"=?utf-8?q?...?=\" stays as it is.",
    "unknown-transfer-encoding": "Only base64, quoted-printable (and UTF-8 for bodies) are decoded; Python also "
                                 "decodes x-uuencode and similar, the reader keeps such lines as they are.",
    "name-from-content-type": "An attachment's name is the \"name\" parameter of Content-Type only; Python's "
                              "get_filename() prefers Content-Disposition's \"filename\". Compared here: the "
                              "Content-Type name on both sides; an attachment without one has no name.",
    "message-part": "A message/rfc822 part is one part to the reader (its lines as they are); Python parses it "
                    "further, so only its presence is compared.",
    "field-tokens": "Header values pass the address tokenizer: backslash escapes are removed, a control character "
                    "ends the value, blank runs become one blank.",
    "error-empty-boundary": "A multipart without boundary stops the reader with \"unexpected empty boundary\" "
                            "(Python reads it as text with a defect).",
    "error-mime-version": "A MIME-Version other than 1.0 stops the reader (Python ignores it).",
    "closing-delimiter-suffix": "A closing delimiter followed by anything (blanks too) is not recognised; its "
                                "line and the epilogue become content of the last part.",
    "base64-line-groups": "Each base64 line is decoded by itself in groups of four; a line whose length is not "
                          "a multiple of four gives other bytes than Python's decoding of all lines as one text.",
    "invalid-base64": "Python hands back the undecoded text when base64 decoding fails; the reader decodes "
                      "what it can, skipping characters outside the alphabet.",
    "multipart-without-parts": "A multipart without any delimiter line has no parts for the reader; Python "
                               "keeps its text as one part (with a defect).",
    "empty-parts": "Two delimiter lines in a row enclose an empty part, which the reader reads as a part without "
                   "header fields (a text body or attachment); Python skips it.",
    "qp-invalid-escape": "\"=\" followed by two characters that are no hex digits still gives a byte by the "
                         "hex digit rule; Python keeps such text as it stands.",
    "sender-as-written": "The sender is the From value as written (encoded words decoded); Python picks the "
                         "first address of a malformed address list by its own rules.",
    "rfc2231-charset-period": "An RFC 2231 extended value must match ^([-\\w]*)'([-\\w]*)'(.*)$, so a charset "
                              "name with a period (ansi-x3.4-1968) leaves the value undecoded; a boundary given "
                              "so matches no delimiter line.",
    "unquoted-tspecials": "An unquoted parameter value runs to the next \";\" for the reader; Python cuts it at "
                          "the first special character (\"(\" starts a comment for it).",
    "qp-trailing-blanks": "Quoted-printable lines keep trailing blanks; Python's decoder removes them.",
    "default-media-type": "Python replaces a malformed Content-Type by text/plain (message/rfc822 in a "
                          "multipart/digest); the reader keeps the main value as written.",
    "boundary-quirks": "Python finds delimiters that are followed by blanks or that appear with a different "
                       "parameter spelling; the reader takes only exact delimiter lines, so parts are grouped "
                       "differently.",
    "8bit-header": "Raw 8-bit header bytes are taken in the message's charset (or the ANSI code page, UTF-8 here); "
                   "Python reads undecodable bytes as replacement characters.",
}


CURRENT = None


def unhex(text):
    return bytes.fromhex(text)


def collapse(text):
    return re.sub(r"\s+", " ", text or "").strip()


def addresses(values):
    return sorted(a.lower() for _, a in email.utils.getaddresses(values) if a)


def py_addresses(msg, name):
    """The addresses of the first field of that name, as Python reads it."""
    try:
        value = msg.get(name)
        if value is None:
            return []
        return sorted(a.addr_spec.lower() for a in value.addresses if a.addr_spec and a.addr_spec != "<>")
    except Exception:
        raw = [v for k, v in msg.raw_items() if k.lower() == name.lower()][:1]
        return addresses(raw)


def py_addresses_all(msg, name):
    out = []
    for k, v in msg.raw_items():
        if k.lower() == name.lower():
            try:
                out += [a.addr_spec.lower() for a in msg.policy.header_factory(k, v).addresses
                        if a.addr_spec and a.addr_spec != "<>"]
            except Exception:
                out += addresses([v])
    return sorted(out)


def param_name(part):
    try:
        name = part["content-type"].params.get("name") if part["content-type"] is not None else None
    except Exception:
        name = part.get_param("name")
    if isinstance(name, tuple):
        name = email.utils.collapse_rfc2231_value(name)
    return name or ""


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
        lines = [l for l in part.get_payload().splitlines() if l.strip()]
        import binascii
        try:
            binascii.a2b_base64("".join(lines).encode("utf-8", "replace"), strict_mode=True)
        except binascii.Error:
            if theirs == part.get_payload().encode("utf-8", "surrogateescape"):
                return "invalid-base64"
        if any(len(l.strip()) % 4 for l in lines):
            return "base64-line-groups"
    if cte == "quoted-printable" and re.search(rb"=(?![0-9A-Fa-f]{2}|\r?\n|$)", part.get_payload().encode("utf-8", "surrogateescape")):
        return "qp-invalid-escape"
    if cte == "quoted-printable":
        strip = lambda b: re.sub(rb"[ \t]+(\r\n|$)", rb"\1", b)
        if strip(ours) in (strip(theirs), strip(theirs) + b"\r\n"):
            return "qp-trailing-blanks"
    return f"bytes differ (ours {len(ours)}, python {len(theirs)}: {ours[:60]!r} / {theirs[:60]!r})"


def classify_text(ours, theirs):
    a, b = collapse(ours), collapse(theirs)
    if a == b:
        return None
    if re.sub(r"\s", "", a) == re.sub(r"\s", "", b):
        return "adjacent-encoded-words"
    if re.search(r"=\?[^?]+\?[qb]\?", a):
        return "lowercase-q-b"
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

    d = classify_text(ours["subject"], str(msg.get("Subject") or ""))
    if d:
        diffs.append("subject: " + d if d not in EXPLAINED else d)
    if addresses([ours["sender"]]) != py_addresses(msg, "From"):
        written = [v for k, v in msg.raw_items() if k.lower() == "from"][:1]
        if written and collapse(ours["sender"]) == collapse(str(email.header.make_header(email.header.decode_header(written[0])))):
            diffs.append("sender-as-written")
        else:
            diffs.append(f"sender: ours {ours['sender']!r} / python {str(msg.get('From'))!r}")
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
                diffs.append("closing-delimiter-suffix")
    if len(view.bodies) != len(ours["bodies"]) or len(view.attachments) != len(ours["attachments"]):
        text = open(CURRENT, "rb").read()
        if re.search(rb"boundary\*=\"?[-\w]*\.[-\w.]*''", text):
            diffs.append("rfc2231-charset-period")
            return diffs
        for p in msg.walk():
            boundary = p.get_boundary() if p.get_content_maintype() == "multipart" else None
            if not boundary:
                continue
            b = re.escape(("--" + boundary).encode("utf-8", "surrogateescape"))
            if re.search(rb"(?m)^" + b + rb"[ \t]+\r?$", text):
                diffs.append("boundary-quirks")
                return diffs
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


def main():
    directory = sys.argv[1]
    names = sorted(f[:-5] for f in os.listdir(directory) if f.endswith(".json"))
    unexplained = 0
    counts = {}
    exact = 0
    for name in names:
        ours = json.load(open(os.path.join(directory, name + ".json"), encoding="utf-8"))
        raw = open(os.path.join(directory, name + ".eml"), "rb").read()
        global CURRENT
        CURRENT = os.path.join(directory, name + ".eml")
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        diffs = sorted(set(compare(ours, msg)))
        if not diffs:
            exact += 1
        for d in diffs:
            if d in EXPLAINED:
                counts[d] = counts.get(d, 0) + 1
            else:
                unexplained += 1
                print(f"UNEXPLAINED {name}: {d}")
        if diffs:
            print(f"{name}: " + ", ".join(d if d in EXPLAINED else "UNEXPLAINED" for d in diffs))
    print(f"\n{len(names)} messages: {exact} identical, {len(names) - exact} with differences")
    for key, n in sorted(counts.items()):
        print(f"  {n:3d} x {key}: {EXPLAINED[key]}")
    print(f"{len(names)} compared, {unexplained} unexplained differences")
    return 1 if unexplained else 0


if __name__ == "__main__":
    sys.exit(main())
