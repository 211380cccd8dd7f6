#!/usr/bin/python3
"""An SMTP sink for the integration tests: aiosmtpd on loopback with AUTH LOGIN,
PLAIN and CRAM-MD5, storing every accepted message byte for byte.

Usage: smtp_sink.py DIRECTORY [USER PASSWORD]
Prints the port on the first line of standard output and runs until standard
input closes. Each message becomes DIRECTORY/N.eml with DIRECTORY/N.env
(sender and recipients, one per line).
"""
import asyncio
import base64
import hashlib
import hmac
import os
import secrets
import sys

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword, SMTP

directory = sys.argv[1]
credentials = (sys.argv[2], sys.argv[3]) if len(sys.argv) > 3 else None


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
        response = await server.challenge_auth(base64.b64encode(challenge.encode()).decode(), encode_to_b64=False)
        if response is None:
            return AuthResult(success=False, handled=False)
        try:
            user, digest = base64.b64decode(response).decode().split(" ", 1)
        except Exception:
            return AuthResult(success=False, handled=False)
        if credentials and user == credentials[0]:
            expected = hmac.new(credentials[1].encode(), challenge.encode(), hashlib.md5).hexdigest()
            if hmac.compare_digest(expected, digest):
                return AuthResult(success=True, auth_data=user)
        return AuthResult(success=False, handled=False)


def authenticator(server, session, envelope, mechanism, auth_data):
    if credentials and isinstance(auth_data, LoginPassword):
        ok = auth_data.login.decode() == credentials[0] and auth_data.password.decode() == credentials[1]
        return AuthResult(success=ok, handled=False)
    return AuthResult(success=False, handled=False)


class Sink(Controller):
    def factory(self):
        return SMTP(self.handler, authenticator=authenticator if credentials else None,
                    auth_require_tls=False, auth_required=bool(credentials), decode_data=False,
                    enable_SMTPUTF8=False)


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    port = free_port()
    controller = Sink(Handler(), hostname="127.0.0.1", port=port)
    controller.start()
    print(port, flush=True)
    try:
        sys.stdin.read()
    finally:
        controller.stop()


main()
