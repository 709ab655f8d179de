"""Runs a pyftpdlib server for the tests (started by ftp_servers.cpp, not by hand).

The command line module of pyftpdlib cannot give a named user a password, so this launcher builds the
server from pyftpdlib's API. It listens on 127.0.0.1 (and ::1 with --ipv6) on a port the kernel picks,
prints "PORT <n>" on stdout once it accepts connections, then sends everything else to the log.
"""

import argparse
import logging
import os
import signal
import socket
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

FULL_PERMISSIONS = "elradfmwMT"
READ_PERMISSIONS = "elr"


def parse_arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--read-only", action="store_true")
    parser.add_argument("--anonymous", action="store_true")
    parser.add_argument("--ipv6", action="store_true")
    parser.add_argument("--no-mlsd", action="store_true")
    parser.add_argument("--passive-ports", default="")
    parser.add_argument("--idle-timeout", type=int, default=0)
    parser.add_argument("--banner", default="")
    parser.add_argument("--tls-certificate", default="")
    parser.add_argument("--port", type=int, default=0)
    return parser.parse_args()


def listening_socket(family, host, port):
    sock = socket.socket(family, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if family == socket.AF_INET6:
        sock.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
    sock.bind((host, port))
    sock.listen(64)
    return sock


def bind_both(want_ipv6, wanted=0):
    """The IPv4 socket on a port of the kernel's choosing (or on the one wanted, when started again),
    and ::1 on the same port when asked."""
    for _ in range(20):
        v4 = listening_socket(socket.AF_INET, "127.0.0.1", wanted)
        if not want_ipv6:
            return v4, None
        port = v4.getsockname()[1]
        try:
            return v4, listening_socket(socket.AF_INET6, "::1", port)
        except OSError:
            v4.close()  # someone holds that port on ::1; try another
    raise OSError("no port free on both 127.0.0.1 and ::1")


def main():
    args = parse_arguments()

    log_file = open(args.log, "a", buffering=1)
    logging.basicConfig(stream=log_file, level=logging.DEBUG,
                        format="%(asctime)s %(levelname)s %(message)s")

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root,
                        perm=READ_PERMISSIONS if args.read_only else FULL_PERMISSIONS)
    if args.anonymous:
        authorizer.add_anonymous(args.root, perm=READ_PERMISSIONS)
        incoming = os.path.join(args.root, "incoming")
        os.makedirs(incoming, exist_ok=True)
        authorizer.override_perm("anonymous", incoming, FULL_PERMISSIONS, recursive=True)

    if args.tls_certificate:
        from pyftpdlib.handlers import TLS_FTPHandler as Base  # needs python3-openssl
    else:
        Base = FTPHandler

    class Handler(Base):
        def _on_dtp_connection(self):
            # pyftpdlib 1.5.7 keeps the connector of an active data connection after it has connected;
            # a later QUIT closes it by its old descriptor number, which a new control connection may
            # hold by then, and that connection is never read again. Once connected it is done with.
            self._dtp_connector = None
            Base._on_dtp_connection(self)

    if args.tls_certificate:
        # Required both ways, as on servers that refuse logons in clear.
        Handler.certfile = args.tls_certificate
        Handler.tls_control_required = True
        Handler.tls_data_required = True

    Handler.authorizer = authorizer
    # A refused password answers at once: tests of wrong logons need not wait 3 s each.
    Handler.auth_failed_timeout = 0
    if args.banner:
        Handler.banner = args.banner
    if args.idle_timeout > 0:
        Handler.timeout = args.idle_timeout
    if args.passive_ports:
        low, high = (int(p) for p in args.passive_ports.split("-"))
        Handler.passive_ports = list(range(low, high + 1))
    if args.no_mlsd:
        # Without MLST/MLSD a client must fall back to parsing LIST, as with many real servers.
        Handler.proto_cmds = {k: v for k, v in Base.proto_cmds.items()
                              if k not in ("MLSD", "MLST")}

    v4, v6 = bind_both(args.ipv6, args.port)
    server = FTPServer(v4, Handler)
    if v6 is not None:
        FTPServer(v6, Handler, ioloop=server.ioloop)

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

    sys.stdout.write("PORT %d\n" % v4.getsockname()[1])
    sys.stdout.flush()
    # The test reads no further: anything printed later must not fill a pipe nobody drains.
    os.dup2(log_file.fileno(), sys.stdout.fileno())

    server.serve_forever(timeout=0.5, handle_exit=True)


if __name__ == "__main__":
    main()
