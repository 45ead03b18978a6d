#!/usr/bin/python3
"""The service's HTTP side against the simulator (orn312-scheduler --http, run by hand):

 1. press to wire: POST /api/v1/switch to the frame's arrival at the simulator, N presses
    (default 50) alternating HDMI and VGA1, each after the previous switch's pause: median and
    worst, and the same for the API's answer (200 once the frame left);
 2. change to event: the simulator loses or regains a signal (its console); from its status
    answer that says so to the `state` event at a client of /api/v1/events, N/2 changes: median
    and worst;
 3. idle CPU: the service's CPU time over SECONDS (default 30) with 20 event streams open against
    none, RUNS times (default 3): each run and the medians, in % of one core;
 4. memory: the service's RSS with 200 idle event streams open against none, and a login's time
    while they are open.

    bench/http_api.py [--build DIR] [--presses N] [--seconds S] [--runs R] [--only WHICH]
"""

import argparse
import datetime
import http.client
import json
import os
import re
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

PIN = "2468"
FRAME = re.compile(r"^(\d\d):(\d\d):(\d\d)\.(\d\d\d) (\S+) (<-|->) ((?:[0-9a-f]{2} ?){13})")


def day_seconds(now=None):
    now = now or datetime.datetime.now()
    return now.hour * 3600 + now.minute * 60 + now.second + now.microsecond / 1e6


def log_frames(path, since=0):
    out = []
    with open(path, encoding="utf-8", errors="replace") as log:
        for i, line in enumerate(log):
            if i < since:
                continue
            m = FRAME.match(line)
            if m:
                h, mi, s, ms = (int(m.group(k)) for k in range(1, 5))
                out.append((i, h * 3600 + mi * 60 + s + ms / 1000.0, m.group(6),
                            [int(b, 16) for b in m.group(7).split()]))
    return out


def log_lines(path):
    with open(path, encoding="utf-8", errors="replace") as log:
        return sum(1 for _ in log)


def cpu_seconds(pid):
    """CPU time of every thread of pid, to the nanosecond (schedstat), in seconds."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as stat:
                total += int(stat.read().split()[0])
        except FileNotFoundError:
            pass  # a thread that ended meanwhile
    return total / 1e9


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


class Service:
    def __init__(self, build, work):
        self.work = work
        self.sim_log = os.path.join(work, "sim.log")
        self.sim = subprocess.Popen([os.path.join(build, "sim/orn312-sim"), "--tcp", "0", "--log",
                                     self.sim_log], stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, text=True, bufsize=1)
        port = int(re.search(r"tcp 127\.0\.0\.1:(\d+)", self.sim.stdout.readline()).group(1))
        with open(os.path.join(work, "Planinfo.ini"), "w") as ini:
            ini.write("[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=%d\nDeviceID=1\n" % port)
        scheduler = os.path.join(build, "tools/orn312-scheduler")
        auth = os.path.join(work, "auth")
        subprocess.run([scheduler, "--auth", auth, "--set-pin", "operator"], input=PIN + "\n",
                       text=True, check=True, capture_output=True)
        self.err = open(os.path.join(work, "service.err"), "w+")
        self.proc = subprocess.Popen([scheduler, "--http", "127.0.0.1:0", "--auth", auth,
                                      "Planinfo.ini"], cwd=work, stderr=self.err,
                                     stdout=subprocess.DEVNULL)
        self.port = 0
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline and not self.port:
            self.err.seek(0)
            found = re.search(r"serving HTTP on 127\.0\.0\.1:(\d+)", self.err.read())
            self.port = int(found.group(1)) if found else 0
            time.sleep(0.05)
        assert self.port, "the service does not serve HTTP"
        self.cookie = self.login()[0]
        deadline = time.monotonic() + 15
        while self.state()["main"] is None:  # connected, and its state read
            assert time.monotonic() < deadline, "the service does not connect"
            time.sleep(0.1)

    def request(self, method, path, body=None, cookie=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        headers = {"Content-Type": "application/json"}
        if cookie or getattr(self, "cookie", None):
            headers["Cookie"] = cookie or self.cookie
        conn.request(method, path, json.dumps(body) if body is not None else None, headers)
        response = conn.getresponse()
        data = response.read()
        conn.close()
        return response, data

    def login(self):
        start = time.monotonic()
        response, _ = self.request("POST", "/api/v1/login", {"pin": PIN}, cookie="-")
        took = time.monotonic() - start
        assert response.status == 200, response.status
        return response.getheader("Set-Cookie").split(";")[0], took

    def state(self):
        return json.loads(self.request("GET", "/api/v1/state")[1])

    def console(self, line):
        self.sim.stdin.write(line + "\n")
        self.sim.stdin.flush()

    def stream(self):
        """An open event stream: the socket, its headers read."""
        s = socket.create_connection(("127.0.0.1", self.port))
        s.sendall(("GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nCookie: %s\r\n"
                   "Accept: text/event-stream\r\n\r\n" % (self.port, self.cookie)).encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = s.recv(4096)
            assert chunk, "the event stream closed"
            head += chunk
        assert head.startswith(b"HTTP/1.1 200"), head[:80]
        return s

    def stop(self):
        for p in (self.proc, self.sim):
            p.terminate()
            p.wait(10)


def median_worst(values):
    return "median %.1f ms, worst %.1f ms" % (statistics.median(values) * 1000,
                                              max(values) * 1000)


def press_to_wire(svc, presses):
    wire, answer = [], []
    for n in range(presses):
        source = "HDMI" if n % 2 == 0 else "VGA1"
        code = 4 if source == "HDMI" else 2
        since = log_lines(svc.sim_log)
        start = day_seconds()
        t0 = time.monotonic()
        response, data = svc.request("POST", "/api/v1/switch",
                                     {"source": source, "transition": "cut"})
        answer.append(time.monotonic() - t0)
        assert response.status == 200, (response.status, data)
        arrived = None
        while arrived is None:
            for _, at, way, b in log_frames(svc.sim_log, since):
                if way == "<-" and b[2] == 0 and b[4] == code:
                    arrived = at
                    break
            else:
                time.sleep(0.01)
        wire.append(arrived - start)
        time.sleep(3.3)  # the switch's pause, so that the next press does not wait its turn
    print("press to wire (%d switches): %s" % (presses, median_worst(wire)))
    print("press to the API's answer: %s" % median_worst(answer))


def change_to_event(svc, changes):
    s = svc.stream()
    events = []  # (monotonic, day seconds, state)
    lock = threading.Lock()

    def read():
        buffer = b""
        while True:
            try:
                chunk = s.recv(65536)
            except OSError:
                return
            if not chunk:
                return
            buffer += chunk
            # Each event is one chunk of the chunked stream: whole once its blank line is in.
            end = 0
            for m in re.finditer(rb"event: state\ndata: (\{.*?\})\n\n", buffer):
                with lock:
                    events.append((day_seconds(), json.loads(m.group(1))))
                end = m.end()
            buffer = buffer[end:]

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    main = svc.state()["main"]  # the source on air: the state carries its signal
    delays = []
    for n in range(changes):
        on = n % 2 == 1
        since = log_lines(svc.sim_log)
        with lock:
            seen = len(events)
        svc.console("signal %s %s" % (main, "on" if on else "off"))
        answered = None
        deadline = time.monotonic() + 10
        while answered is None and time.monotonic() < deadline:
            for _, at, way, b in log_frames(svc.sim_log, since):
                if way == "->" and b[2] == 0xFE and (b[8] != 0) == on:
                    answered = at
                    break
            else:
                time.sleep(0.01)
        got = None
        while got is None and time.monotonic() < deadline:
            with lock:
                for at, state in events[seen:]:
                    if state.get("signals", {}).get(main) == on:
                        got = at
                        break
            time.sleep(0.005)
        assert answered is not None and got is not None, "no event for change %d" % n
        delays.append(got - answered)
    s.close()
    print("status answer to event (%d changes): %s" % (changes, median_worst(delays)))


def idle_cpu(svc, seconds, runs):
    rows = {0: [], 20: []}
    for run in range(runs):
        for clients in (0, 20):
            streams = [svc.stream() for _ in range(clients)]
            time.sleep(1)
            before = cpu_seconds(svc.proc.pid)
            time.sleep(seconds)
            pct = 100 * (cpu_seconds(svc.proc.pid) - before) / seconds
            rows[clients].append(pct)
            print("run %d: %d event streams: %.3f%% of a core over %d s" %
                  (run + 1, clients, pct, seconds), flush=True)
            for s in streams:
                s.close()
    print("idle CPU: median %.3f%% with 20 streams, %.3f%% with none" %
          (statistics.median(rows[20]), statistics.median(rows[0])))


def memory(svc):
    time.sleep(1)
    before = rss_kib(svc.proc.pid)
    streams = [svc.stream() for _ in range(200)]
    time.sleep(2)
    after = rss_kib(svc.proc.pid)
    logins = [svc.login()[1] for _ in range(3)]
    print("RSS: %d KiB with none, %d KiB with 200 idle event streams (%.1f KiB each)" %
          (before, after, (after - before) / 200))
    print("login with 200 streams open: median %.0f ms" % (statistics.median(logins) * 1000))
    for s in streams:
        s.close()


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(root, "build"))
    parser.add_argument("--presses", type=int, default=50)
    parser.add_argument("--seconds", type=int, default=30)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--only", choices=["press", "event", "cpu", "memory"])
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="orn312-http-bench-")
    svc = Service(args.build, work)
    try:
        if args.only in (None, "press"):
            press_to_wire(svc, args.presses)
        if args.only in (None, "event"):
            change_to_event(svc, max(args.presses // 2, 2))
        if args.only in (None, "cpu"):
            idle_cpu(svc, args.seconds, args.runs)
        if args.only in (None, "memory"):
            memory(svc)
    finally:
        svc.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
