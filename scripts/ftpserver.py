#!/usr/bin/python3
"""A real FTP server for the tests and the demo (pyftpdlib, loopback only).

Serves --root to the user "vornpublic" and writes the port it listens on to
--port-file once it is ready. Faults for the tests:
  --listing dos            answer LIST in Windows (DOS) style instead of Unix style
  --refuse-login           every login fails
  --drop-after N           close the data connection after N bytes of a RETR
  --stall-after N          stop sending (but keep the connection) after N bytes
  --fake-size NAME=SIZE    list NAME with SIZE bytes whatever its real size
  --chunk N / --pause S    send RETR data in N-byte pieces with S seconds between
  --rate MBPS              send each transfer at most MBPS MB/s (benchmarks; the
                           server is one thread, so a wait holds all transfers)
  --log FILE               one line per command received; FILE-sent gets the
                           bytes of each data transfer, one line each
  --style NAME             reply to transfers as vsftpd, proftpd or pure-ftpd do
  --sendfile               serve with sendfile(2), for benchmarks (no faults then)
  --tls-cert FILE          offer explicit TLS (AUTH TLS) with this certificate and key
  --tls-required           refuse logins and transfers without TLS (with --tls-cert)
  --require-reuse          refuse data connections that do not resume the control
                           connection's TLS session, as vsftpd's require_ssl_reuse
  --bind ADDRESS           listen there (default 127.0.0.1; ::1 for IPv6)
  --no-rest                refuse REST, as servers that cannot restart a transfer do
  --max-connections N      answer 421 to a control connection beyond N at once
  --congestion NAME        send data with this TCP congestion control (benchmarks)
"""
import argparse
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import DTPHandler, FTPHandler, TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer

args = None


class RefusingAuthorizer(DummyAuthorizer):
    def validate_authentication(self, username, password, handler):
        from pyftpdlib.authorizers import AuthenticationFailed
        raise AuthenticationFailed("login refused")


class FaultFS(AbstractedFS):
    def _listed_size(self, name, real):
        return args.fake_sizes.get(name, real)

    def format_list(self, basedir, listing, ignore_err=True):
        if args.raw_listing:
            with open(args.raw_listing, "rb") as f:
                yield f.read()
            return
        if args.listing == "dos":
            for name in listing:
                st = os.lstat(os.path.join(basedir, name))
                stamp = time.strftime("%m-%d-%y  %I:%M%p", time.localtime(st.st_mtime))
                if os.path.isdir(os.path.join(basedir, name)):
                    line = "%s       <DIR>          %s\r\n" % (stamp, name)
                else:
                    line = "%s %20d %s\r\n" % (stamp, self._listed_size(name, st.st_size), name)
                yield line.encode("utf8", self.cmd_channel.unicode_errors)
            return
        for line in AbstractedFS.format_list(self, basedir, listing, ignore_err):
            text = line.decode("utf8", "surrogateescape")
            parts = text.split(None, 8)
            if len(parts) == 9:
                name = parts[8].rstrip("\r\n")
                if name in args.fake_sizes:
                    parts[4] = str(args.fake_sizes[name])
                    text = "%s %3s %-8s %-8s %8s %s %s %s %s\r\n" % tuple(parts[:8] + [name])
            yield text.encode("utf8", "surrogateescape")


class FaultDTP(DTPHandler):
    sent = 0

    def __init__(self, sock, cmd_channel):
        if args.congestion:
            import socket
            # Needs CAP_NET_ADMIN for algorithms a namespace does not allow by default.
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_CONGESTION, args.congestion.encode())
        super().__init__(sock, cmd_channel)

    def send(self, data):
        limit = args.drop_after if args.drop_after >= 0 else args.stall_after
        if limit >= 0 and self.sent + len(data) > limit and self.receive is False:
            data = data[: max(0, limit - self.sent)]
            if data:
                n = DTPHandler.send(self, data)
                self.sent += n
                return n
            if args.drop_after >= 0:
                self.close()
            else:
                # Keep the socket open and never write again.
                self.del_channel()
            return 0
        if args.chunk > 0:
            data = data[: args.chunk]
            if args.pause > 0:
                time.sleep(args.pause)
        if args.rate > 0:
            # What this transfer may have sent by now; a wait of at most 10 ms
            # when it is ahead, so a late wake-up never lowers the rate.
            if not hasattr(self, "_began"):
                self._began = time.monotonic()
            ahead = self.sent - (time.monotonic() - self._began) * args.rate * 1e6
            if ahead > 0:
                time.sleep(min(0.01, ahead / (args.rate * 1e6)))
        n = DTPHandler.send(self, data)
        self.sent += n
        return n

    def close(self):
        if args.log and self.sent and not getattr(self, "_sent_logged", False):
            self._sent_logged = True
            with open(args.log + "-sent", "a") as f:
                f.write("%d\n" % self.sent)
        return super().close()


# How other servers word the start and the end of a transfer: pure-ftpd ends
# with a multi-line 226, vsftpd and proftpd name the size in their 150.
STYLES = {
    "vsftpd": {"150": "150 Opening BINARY mode data connection for file (%d bytes).",
               "226": "226 Transfer complete."},
    "proftpd": {"150": "150 Opening BINARY mode data connection for file (%d bytes)",
                "226": "226 Transfer complete"},
    "pure-ftpd": {"150": "150 Accepted data connection",
                  "226": "226-File successfully transferred\r\n226 0.001 seconds (measured here), 1.00 Mbytes per second"},
}


class TLSDataHandler(TLS_DTPHandler):
    def readable(self):
        # Clients like curl begin the handshake before they send the command;
        # pyftpdlib would take that for a hang-up and close the channel.
        if self._ssl_accepting:
            return True
        if not self.receive and not self._initialized:
            return False
        return super().readable()

    def handle_ssl_established(self):
        from OpenSSL._util import lib
        if args.require_reuse and not lib.SSL_session_reused(self.socket._ssl):
            self.cmd_channel.respond("522 SSL connection failed: session reuse required")
            self.close()


class LoggingHandler(FTPHandler):
    retr_size = 0
    open_sessions = 0

    def handle(self):
        if args.max_connections > 0 and LoggingHandler.open_sessions >= args.max_connections:
            self.respond("421 Too many connections.")
            self.close_when_done()
            self._counted = False
            return
        LoggingHandler.open_sessions += 1
        self._counted = True
        return super().handle()

    def close(self):
        if getattr(self, "_counted", False):
            LoggingHandler.open_sessions -= 1
            self._counted = False
        return super().close()

    def ftp_REST(self, line):
        if args.no_rest:
            self.respond("502 Command not implemented.")
            return
        return super().ftp_REST(line)

    def ftp_RETR(self, file):
        try:
            self.retr_size = os.path.getsize(self.fs.ftp2fs(file))
        except OSError:
            self.retr_size = 0
        return super().ftp_RETR(file)

    def respond(self, resp, logfun=None):
        style = STYLES.get(args.style)
        if style and resp[:3] in style:
            text = style[resp[:3]]
            resp = text % self.retr_size if "%d" in text else text
        return super().respond(resp) if logfun is None else super().respond(resp, logfun)

    def pre_process_command(self, line, cmd, arg):
        if args.log:
            with open(args.log, "a") as f:
                f.write("%s %s\n" % (cmd, arg or ""))
        return super().pre_process_command(line, cmd, arg)


class TLSLoggingHandler(LoggingHandler, TLS_FTPHandler):
    pass


def main():
    global args
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--port-file")
    p.add_argument("--password", default="Public12345")
    p.add_argument("--listing", choices=["unix", "dos"], default="unix")
    p.add_argument("--raw-listing", help="send this file's bytes as every LIST reply")
    p.add_argument("--refuse-login", action="store_true")
    p.add_argument("--drop-after", type=int, default=-1)
    p.add_argument("--stall-after", type=int, default=-1)
    p.add_argument("--fake-size", action="append", default=[])
    p.add_argument("--chunk", type=int, default=0)
    p.add_argument("--pause", type=float, default=0.0)
    p.add_argument("--rate", type=float, default=0.0)
    p.add_argument("--log")
    p.add_argument("--style", choices=sorted(STYLES))
    p.add_argument("--sendfile", action="store_true", help="serve files with sendfile (benchmarks)")
    p.add_argument("--tls-cert")
    p.add_argument("--tls-required", action="store_true")
    p.add_argument("--require-reuse", action="store_true")
    p.add_argument("--bind", default="127.0.0.1")
    p.add_argument("--no-rest", action="store_true")
    p.add_argument("--max-connections", type=int, default=0)
    p.add_argument("--congestion")
    args = p.parse_args()
    args.fake_sizes = {}
    for item in args.fake_size:
        name, _, size = item.rpartition("=")
        args.fake_sizes[name] = int(size)

    authorizer = RefusingAuthorizer() if args.refuse_login else DummyAuthorizer()
    authorizer.add_user("vornpublic", args.password, args.root, perm="elr")
    handler = LoggingHandler
    handler.dtp_handler = FaultDTP
    if args.tls_cert:
        from OpenSSL import SSL
        handler = TLSLoggingHandler
        handler.certfile = args.tls_cert
        handler.tls_control_required = handler.tls_data_required = args.tls_required
        handler.dtp_handler = TLSDataHandler
        context = handler.get_ssl_context()
        # Sessions are kept, so data connections can resume them.
        context.set_session_id(b"vorn-test")
        context.set_session_cache_mode(SSL.SESS_CACHE_SERVER)
    handler.authorizer = authorizer
    handler.abstracted_fs = FaultFS
    handler.banner = "VORN test server"
    handler.auth_failed_timeout = 0.1
    handler.passive_ports = None
    handler.permit_foreign_addresses = False
    handler.use_sendfile = args.sendfile
    if args.chunk > 0 or args.drop_after >= 0 or args.stall_after >= 0:
        handler.dtp_handler.ac_out_buffer_size = 8192

    import logging
    logging.basicConfig(level=logging.ERROR)
    server = FTPServer((args.bind, args.port), handler)
    server.max_cons = 32
    port = server.socket.getsockname()[1]
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % port)
        os.rename(tmp, args.port_file)
    else:
        print(port, flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    sys.exit(main())
