#!/usr/bin/python3
"""An SMTP server over implicit TLS that reads the whole mail text, then closes
TCP without a reply or a TLS close_notify.

Usage: tls_drop.py CERT KEY after-data
Prints the port on the first line and serves one client.
"""
import socket
import ssl
import sys

cert, key = sys.argv[1:3]
context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
context.load_cert_chain(cert, key)
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(1)
print(listener.getsockname()[1], flush=True)
listener.settimeout(10)
raw, _ = listener.accept()
raw.settimeout(10)
tls = context.wrap_socket(raw, server_side=True)
buffer = b""


def line():
    global buffer
    while b"\r\n" not in buffer:
        chunk = tls.recv(65536)
        if not chunk:
            sys.exit(0)
        buffer += chunk
    text, buffer = buffer.split(b"\r\n", 1)
    return text


tls.sendall(b"220 drop ESMTP\r\n")
while True:
    command = line().upper()
    if command.startswith(b"EHLO"):
        tls.sendall(b"250-drop\r\n250 8BITMIME\r\n")
    elif command == b"DATA":
        tls.sendall(b"354 go on\r\n")
        break
    else:
        tls.sendall(b"250 ok\r\n")
while not buffer.endswith(b"\r\n.\r\n"):
    chunk = tls.recv(65536)
    if not chunk:
        break
    buffer = (buffer + chunk)[-5:]
# Closing without unwrap(): no close_notify.
tls.close()
sys.stdin.read()
