#!/usr/bin/env python3
"""Runs a Windows test under Wine and starts Linux programs on its behalf.

Wine starts a Unix program given by its path, but the process handle it
returns can be neither waited on nor ended, and system() goes through cmd.exe,
which knows no Unix programs. So the test asks this helper, on 127.0.0.1 at the
address and with the token in VORN_TEST_HELPER, one request a connection:
  RUN <shell command>    runs it to its end; answers its exit status
  START <shell command>  starts it (a server); answers a number for STOP
  STOP <number>          ends it and waits for it; answers 0
What the test started ends with the test, also when the helper is killed.
usage: wine-test-helper.py <emulator> <test.exe> [arguments...]
"""
import ctypes
import os
import queue
import secrets
import signal
import socketserver
import subprocess
import sys
import threading

PR_SET_PDEATHSIG = 1
libc = ctypes.CDLL(None, use_errno=True)


def dies_with_helper():
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


token = secrets.token_hex(16)
started = {}
lock = threading.Lock()


def stop(proc):
    if proc.poll() is None:
        os.killpg(proc.pid, signal.SIGTERM)
    proc.wait()


# A child's death signal follows the thread that started it, so servers are
# started by one thread that lives as long as the helper.
launches = queue.Queue()


def launcher():
    while True:
        argument, done = launches.get()
        done.put(subprocess.Popen(["/bin/sh", "-c", "exec " + argument], stdin=subprocess.DEVNULL,
                                  start_new_session=True, preexec_fn=dies_with_helper))


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        line = self.rfile.readline().decode("utf-8", "surrogateescape").rstrip("\r\n")
        given, _, rest = line.partition(" ")
        if not secrets.compare_digest(given, token):
            return
        verb, _, argument = rest.partition(" ")
        if verb == "RUN":
            answer = subprocess.run(["/bin/sh", "-c", argument], stdin=subprocess.DEVNULL,
                                    preexec_fn=dies_with_helper).returncode
        elif verb == "START":
            done = queue.Queue()
            launches.put((argument, done))
            proc = done.get()
            with lock:
                started[proc.pid] = proc
            answer = proc.pid
        elif verb == "STOP":
            with lock:
                proc = started.pop(int(argument), None)
            if proc:
                stop(proc)
            answer = 0
        else:
            answer = -1
        self.wfile.write(b"%d\n" % answer)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True


def main():
    server = Server(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    threading.Thread(target=launcher, daemon=True).start()
    env = dict(os.environ, VORN_TEST_HELPER="%d %s" % (server.server_address[1], token))
    code = subprocess.run(sys.argv[1:], env=env, preexec_fn=dies_with_helper).returncode
    with lock:
        left = list(started.values())
    for proc in left:
        stop(proc)
    sys.exit(code if code >= 0 else 128 - code)


if __name__ == "__main__":
    main()
