#!/usr/bin/env python3
"""Resident memory of the agent through bursts of connections that each send most of a
large message and then close: N OpenSSH connections (256 KiB messages) and N native ones
(1 MiB), three bursts. Prints the resident size idle, at each burst's peak and after.

usage: bench/burst_memory.py [build/bin] [N]"""
import os, shutil, socket, struct, subprocess, sys, tempfile, time

BIN = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/bin")
N = int(sys.argv[2]) if len(sys.argv) > 2 else 200


def rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) // 1024
    return 0


def half_sent(path, header, length):
    s = socket.socket(socket.AF_UNIX)
    s.connect(path)
    s.sendall(header + b"\0" * (length - 10))
    return s


home = tempfile.mkdtemp(prefix="kvburst.")
run = home + "/run/kvsshaa"
env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + "/config",
           XDG_RUNTIME_DIR=home + "/run", QT_QPA_PLATFORM="offscreen")
env.pop("DISPLAY", None)
env.pop("WAYLAND_DISPLAY", None)
agent = subprocess.Popen([BIN + "/kvsshaa"], env=env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
try:
    for _ in range(2000):
        if os.path.exists(run + "/ssh"):
            break
        time.sleep(0.01)
    time.sleep(1.0)
    print(f"idle: {rss_mib(agent.pid)} MiB")
    for burst in range(3):
        conns = []
        for _ in range(N):
            conns.append(half_sent(run + "/ssh", struct.pack(">I", 256 << 10), 256 << 10))
            conns.append(half_sent(run + "/agent", struct.pack("<III", 1, 1, 1 << 20), 1 << 20))
        time.sleep(1.0)
        peak = rss_mib(agent.pid)
        for s in conns:
            s.close()
        time.sleep(2.0)
        print(f"burst {burst + 1}: {peak} MiB with {2 * N} connections open, "
              f"{rss_mib(agent.pid)} MiB 2 s after they closed")
finally:
    agent.terminate()
    agent.wait()
    shutil.rmtree(home, ignore_errors=True)
