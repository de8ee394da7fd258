#!/usr/bin/python3
"""A user-space delay line for measurements on a slow path: two network
namespaces joined by TUN devices, every packet held DELAY_MS in each
direction (round trip = 2 x DELAY_MS). NS_A gets 10.231.0.1, NS_B 10.231.0.2;
traffic never leaves the two namespaces. Writes READY_FILE once the line is
up, runs until killed and removes the namespaces. Needs root.
LOSS_PERCENT drops that share of packets at random, each direction alike;
RATE_MBIT sends each direction no faster than that: packets queue for it, and
a packet that would wait more than one round trip is dropped, as a router's
full buffer drops it (an endless queue would only grow the round trip).
Usage: delay-line.py NS_A NS_B DELAY_MS READY_FILE [LOSS_PERCENT [RATE_MBIT]]
"""
import ctypes
import fcntl
import heapq
import os
import random
import select
import signal
import struct
import subprocess
import sys
import time

CLONE_NEWNET = 0x40000000
TUNSETIFF = 0x400454CA
IFF_TUN, IFF_NO_PI = 0x0001, 0x1000
libc = ctypes.CDLL(None, use_errno=True)


def enter(path):
    fd = os.open(path, os.O_RDONLY)
    try:
        if libc.setns(fd, CLONE_NEWNET) != 0:
            raise OSError(ctypes.get_errno(), "setns " + path)
    finally:
        os.close(fd)


def tun(name):
    fd = os.open("/dev/net/tun", os.O_RDWR)
    fcntl.ioctl(fd, TUNSETIFF, struct.pack("16sH", name.encode(), IFF_TUN | IFF_NO_PI))
    return fd


def main():
    a, b, delay, ready = sys.argv[1], sys.argv[2], float(sys.argv[3]) / 1000.0, sys.argv[4]
    loss = float(sys.argv[5]) / 100.0 if len(sys.argv) > 5 else 0.0
    rate = float(sys.argv[6]) * 1e6 / 8 if len(sys.argv) > 6 else 0.0   # bytes per second
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    for ns in (a, b):
        subprocess.run(["ip", "netns", "add", ns], check=True)
    try:
        home = "/proc/%d/ns/net" % os.getpid()
        home_fd = os.open(home, os.O_RDONLY)
        enter("/var/run/netns/" + a)
        fa = tun("vdl0")
        enter("/var/run/netns/" + b)
        fb = tun("vdl0")
        libc.setns(home_fd, CLONE_NEWNET)
        for ns, address in ((a, "10.231.0.1/24"), (b, "10.231.0.2/24")):
            subprocess.run(["ip", "-n", ns, "addr", "add", address, "dev", "vdl0"], check=True)
            subprocess.run(["ip", "-n", ns, "link", "set", "vdl0", "up"], check=True)
            subprocess.run(["ip", "-n", ns, "link", "set", "lo", "up"], check=True)
        with open(ready, "w") as f:
            f.write("up\n")
        peer = {fa: fb, fb: fa}
        free = {fa: 0.0, fb: 0.0}   # when each direction's sender is next free
        queue, seq = [], 0
        while True:
            timeout = max(0.0, queue[0][0] - time.monotonic()) if queue else None
            readable, _, _ = select.select([fa, fb], [], [], timeout)
            now = time.monotonic()
            for fd in readable:
                packet = os.read(fd, 65536)
                if loss and random.random() < loss:
                    continue
                sent = now
                if rate:
                    start = max(now, free[fd])
                    if start - now > max(2 * delay, 0.005):
                        continue
                    sent = free[fd] = start + len(packet) / rate
                heapq.heappush(queue, (sent + delay, seq, peer[fd], packet))
                seq += 1
            while queue and queue[0][0] <= time.monotonic():
                _, _, out, packet = heapq.heappop(queue)
                try:
                    os.write(out, packet)
                except OSError:
                    pass   # a packet the other side cannot take is lost, as on a real path
    finally:
        for ns in (a, b):
            subprocess.run(["ip", "netns", "del", ns])


if __name__ == "__main__":
    main()
