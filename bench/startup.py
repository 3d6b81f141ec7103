#!/usr/bin/env python3
"""Start-up time (exec to socket accepting) and idle memory of the agent, medians of five
runs, next to Debian's ssh-agent measured the same way in the same run.

usage: bench/startup.py [build/bin]"""
import os, shutil, socket, statistics, subprocess, sys, tempfile, time

BIN = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/bin")
RUNS = 5


def wait_for_socket(path, proc, limit=20.0):
    start = time.monotonic()
    while time.monotonic() - start < limit:
        if proc.poll() is not None:
            raise RuntimeError("process ended early")
        try:
            with socket.socket(socket.AF_UNIX) as s:
                s.connect(path)
                return
        except OSError:
            time.sleep(0.002)
    raise RuntimeError("socket never appeared: " + path)


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def measure(command, socket_path, env):
    t0 = time.monotonic()
    proc = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_for_socket(socket_path, proc)
        ready = time.monotonic() - t0
        time.sleep(1.0)  # idle
        return ready, rss_kib(proc.pid)
    finally:
        proc.terminate()
        proc.wait()


def run(name, make):
    ready, rss = [], []
    for _ in range(RUNS):
        home = tempfile.mkdtemp(prefix="kvbench.")
        try:
            command, sock, env = make(home)
            r, m = measure(command, sock, env)
            ready.append(r)
            rss.append(m)
        finally:
            shutil.rmtree(home, ignore_errors=True)
    return statistics.median(ready) * 1000, statistics.median(rss)


def agent(home):
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + "/config",
               XDG_RUNTIME_DIR=home + "/run", QT_QPA_PLATFORM="offscreen")
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return [BIN + "/kvsshaa"], home + "/run/kvsshaa/agent", env


def ssh_agent(home):
    sock = home + "/ssh-agent.sock"
    return ["ssh-agent", "-D", "-a", sock], sock, dict(os.environ)


a_ready, a_rss = run("kvsshaa", agent)
s_ready, s_rss = run("ssh-agent", ssh_agent)
print(f"{'':12} {'ready (ms)':>12} {'idle RSS (KiB)':>16}   medians of {RUNS} runs")
print(f"{'kvsshaa':12} {a_ready:12.1f} {a_rss:16.0f}")
print(f"{'ssh-agent':12} {s_ready:12.1f} {s_rss:16.0f}")
print(f"{'ratio':12} {a_ready / s_ready:12.1f} {a_rss / s_rss:16.1f}")
