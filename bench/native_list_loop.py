#!/usr/bin/env python3
"""One connection to the agent's native socket asking for the key list N times, each request
sent once the previous reply is in. Meant to run under `perf stat -p <agent pid>`, which counts
what the agent spends per request; the rate is this loop's, not the agent's.

usage: bench/native_list_loop.py SOCKET N"""
import socket, struct, sys

LIST_KEYS, HAS_WINDOW, INT_TAG = 1037, 1, 0


def int_field(value):
    return struct.pack("<III", INT_TAG, 4, value)


def read_exactly(s, n):
    data = b""
    while len(data) < n:
        chunk = s.recv(n - len(data))
        if not chunk:
            sys.exit("native_list_loop: the agent closed the connection")
        data += chunk
    return data


def main():
    path, count = sys.argv[1], int(sys.argv[2])
    payload = int_field(1) + int_field(0)  # request id 1, no forwarded origins
    request = struct.pack("<III", LIST_KEYS, HAS_WINDOW, len(payload)) + payload
    with socket.socket(socket.AF_UNIX) as s:
        s.connect(path)
        for _ in range(count):
            s.sendall(request)
            _, _, length = struct.unpack("<III", read_exactly(s, 12))
            read_exactly(s, length)


if __name__ == "__main__":
    main()
