#!/usr/bin/python3
"""An HTTP proxy that only tunnels (CONNECT), on 127.0.0.1, for the tests.
Writes its port to --port-file and one line per tunnel to --log. With
--refuse it answers every CONNECT with 403, as proxies that tunnel only to
ports 443 and 80 do."""
import argparse, os, socket, sys, threading


def pipe(a, b):
    try:
        while True:
            data = a.recv(65536)
            if not data:
                break
            b.sendall(data)
    except OSError:
        pass
    finally:
        for s in (a, b):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def serve(client, log, refuse):
    head = b""
    while b"\r\n\r\n" not in head:
        data = client.recv(4096)
        if not data:
            client.close()
            return
        head += data
    request = head.split(b"\r\n", 1)[0].decode("latin-1").split()
    if len(request) < 2 or request[0] != "CONNECT":
        client.sendall(b"HTTP/1.1 405 Only CONNECT\r\nContent-Length: 0\r\n\r\n")
        client.close()
        return
    host, _, port = request[1].rpartition(":")
    with open(log, "a") as f:
        f.write("%s %s:%s\n" % ("REFUSED" if refuse else "CONNECT", host, port))
    if refuse:
        client.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
        client.close()
        return
    try:
        upstream = socket.create_connection((host, int(port)), timeout=10)
    except OSError:
        client.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
        client.close()
        return
    client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
    threading.Thread(target=pipe, args=(upstream, client), daemon=True).start()
    pipe(client, upstream)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port-file", required=True)
    p.add_argument("--log", required=True)
    p.add_argument("--refuse", action="store_true")
    args = p.parse_args()
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    with open(args.port_file + ".tmp", "w") as f:
        f.write("%d\n" % listener.getsockname()[1])
    os.rename(args.port_file + ".tmp", args.port_file)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client, args.log, args.refuse), daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
