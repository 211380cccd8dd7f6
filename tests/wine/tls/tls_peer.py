#!/usr/bin/python3
"""A TLS server that shapes its records and TCP segments as servers may.

Usage: tls_peer.py CERT KEY. Prints the port on the first line and serves one
client after another until standard input closes. Each client first sends
"SCENARIO <name>\\n" in clear; serve() says what each scenario does.
"""
import socket
import ssl
import sys
import threading
import time

context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
context.load_cert_chain(*sys.argv[1:3])


class Peer:
    def __init__(self, sock):
        self.sock = sock
        self.incoming, self.outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        self.tls = context.wrap_bio(self.incoming, self.outgoing, server_side=True)

    def flush(self, split=False):
        data = self.outgoing.read()
        at, first = 0, True
        while split and at < len(data):
            # Each record in pieces with pauses between, so that the client
            # sees it incomplete; the first one byte by byte, its header too.
            end = min(len(data), at + 5 + int.from_bytes(data[at + 3:at + 5], "big"))
            cuts = list(range(at + 1, end)) if first else [at + 3, (at + end) // 2]
            for start, cut in zip([at] + cuts, cuts + [end]):
                self.sock.sendall(data[start:cut])
                time.sleep(0.002 if first else 0.02)
            at, first = end, False
        if not split:
            self.sock.sendall(data)

    def feed(self):
        data = self.sock.recv(65536)
        if not data:
            raise EOFError
        self.incoming.write(data)

    def handshake(self):
        while True:
            try:
                self.tls.do_handshake()
                return self.flush()
            except ssl.SSLWantReadError:
                self.flush()
                self.feed()

    # Up to size bytes; fewer once the client's close_notify came.
    def read(self, size):
        got = b""
        while len(got) < size:
            try:
                chunk = self.tls.read(size - len(got))
            except ssl.SSLWantReadError:
                self.feed()
                continue
            if not chunk:
                break
            got += chunk
        return got

    def close_notify(self, split=False):
        try:
            self.tls.unwrap()
        except ssl.SSLWantReadError:
            pass
        self.flush(split)

    # The data in records of sizes 1, then each from the one before.
    def write_records(self, data, grow):
        at, size = 0, 1
        while at < len(data):
            self.tls.write(data[at:at + size])
            at, size = at + size, grow(size)


def wait_for_close(sock):
    # Until the client closes, or 10 s pass without a byte (the socket's timeout).
    try:
        while sock.recv(65536):
            pass
    except OSError:
        pass


def serve(sock):
    sock.settimeout(10)
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    line = b""
    while not line.endswith(b"\n"):
        c = sock.recv(1)
        if not c:
            return
        line += c
    scenario = line.decode().split()[1]
    if scenario == "plain":  # not TLS: a line of text
        sock.sendall(b"220 no TLS here\r\n")
    if scenario in ("plain", "silent"):  # silent: never answers
        return wait_for_close(sock)
    peer = Peer(sock)
    peer.handshake()
    if scenario == "echo":  # 1,048,583 bytes back in records of varying sizes, written to TCP at once
        peer.write_records(peer.read(1048583), lambda size: size * 3 % 16411 + 1)
        peer.flush()
        peer.close_notify()
    elif scenario == "trickle":  # 3,000 bytes in small records that arrive in pieces
        peer.write_records(bytes((i * 13 + i // 251) % 256 for i in range(3000)), lambda size: size + 37)
        peer.flush(split=True)
        peer.close_notify(split=True)
    elif scenario == "close":  # answers the client's close_notify, then closes TCP
        while peer.read(1):
            pass
        peer.close_notify()
        return sock.shutdown(socket.SHUT_RDWR)
    elif scenario == "drop":  # closes TCP without close_notify
        peer.tls.write(b"partial")
        peer.flush()
        return sock.shutdown(socket.SHUT_RDWR)
    elif scenario == "corrupt":  # a record whose authentication tag (its last byte) is flipped
        peer.flush()
        peer.tls.write(b"hello")
        record = bytearray(peer.outgoing.read())
        record[-1] ^= 0x55
        sock.sendall(bytes(record))
    wait_for_close(sock)


def accept(listener):
    while True:
        try:
            sock, _ = listener.accept()
        except OSError:
            return
        try:
            serve(sock)
        except (OSError, EOFError, ssl.SSLError):
            pass
        finally:
            sock.close()


listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(8)
print(listener.getsockname()[1], flush=True)
threading.Thread(target=accept, args=(listener,), daemon=True).start()
sys.stdin.read()
