#!/usr/bin/python3
"""aiosmtpd on loopback with AUTH LOGIN, PLAIN, CRAM-MD5 and, with a token,
OAUTHBEARER; AUTH only after STARTTLS when that is offered.

Usage: smtp_sink.py DIRECTORY [USER PASSWORD] [--tls starttls|implicit CERT KEY] [--token TOKEN]
Prints the port once listening and runs until standard input closes. Message N
is stored byte for byte as DIRECTORY/N.eml, its sender and recipients as N.env;
DIRECTORY/auth holds the mechanism of the last logon.
"""
import base64
import hashlib
import hmac
import os
import secrets
import socket
import ssl
import sys

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword, SMTP

args = sys.argv[1:]
options = {}
for flag, count in (("--tls", 3), ("--token", 1)):
    if flag in args:
        at = args.index(flag)
        options[flag] = args[at + 1:at + 1 + count]
        del args[at:at + 1 + count]
directory = args[0]
credentials = (args[1], args[2]) if len(args) > 2 else None
tls_mode, tls_context = None, None
if "--tls" in options:
    tls_mode, cert, key = options["--tls"]
    tls_context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    tls_context.load_cert_chain(cert, key)
token = options["--token"][0] if "--token" in options else None


def note_auth(mechanism):
    with open(os.path.join(directory, "auth"), "w") as f:
        f.write(mechanism)


class Handler:
    def __init__(self):
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("refuse"):
            return "550 no such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(directory, str(self.count))
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        with open(base + ".env", "w") as f:
            f.write(envelope.mail_from + "\n" + "\n".join(envelope.rcpt_tos) + "\n")
        return "250 Message accepted for delivery"

    async def auth_CRAM__MD5(self, server, args):
        challenge = "<%s@orkv14.test>" % secrets.token_hex(8)
        # challenge_auth wants bytes and answers the decoded response (or MISSING).
        response = await server.challenge_auth(challenge.encode())
        if not isinstance(response, bytes):
            return AuthResult(success=False, handled=False)
        user, _, digest = response.decode("utf-8", "replace").partition(" ")
        if credentials and user == credentials[0] and hmac.compare_digest(
                hmac.new(credentials[1].encode(), challenge.encode(), hashlib.md5).hexdigest(), digest):
            note_auth("CRAM-MD5")
            return AuthResult(success=True, auth_data=user)
        return AuthResult(success=False, handled=False)

    async def auth_OAUTHBEARER(self, server, args):
        user = credentials[0] if credentials else ""
        expected = "n,a=%s,\x01host=127.0.0.1\x01port=%d\x01auth=Bearer %s\x01\x01" % (user, port, token)
        if token is not None and len(args) > 1 and args[1] == base64.b64encode(expected.encode()).decode():
            note_auth("OAUTHBEARER")
            return AuthResult(success=True, auth_data=user)
        return AuthResult(success=False, handled=False)


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = isinstance(auth_data, LoginPassword) and (auth_data.login.decode(), auth_data.password.decode()) == credentials
    if ok:
        note_auth(mechanism)
    return AuthResult(success=ok, handled=False)


class Sink(Controller):
    def factory(self):
        starttls = tls_mode == "starttls"
        return SMTP(self.handler, authenticator=authenticator if credentials else None,
                    auth_require_tls=starttls, auth_required=bool(credentials), decode_data=False,
                    enable_SMTPUTF8=False, tls_context=tls_context if starttls else None,
                    require_starttls=starttls)


with socket.socket() as s:
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]


def main():
    controller = Sink(Handler(), hostname="127.0.0.1", port=port,
                      ssl_context=tls_context if tls_mode == "implicit" else None)
    controller.start()
    print(port, flush=True)
    try:
        sys.stdin.read()
    finally:
        controller.stop()


main()
