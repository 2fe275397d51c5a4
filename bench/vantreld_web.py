"""The control page's figures; run by bench/vantreld_web.sh, which says
what each one is. usage: vantreld_web.py VANTRELD UNITS_PEER WORK_DIR"""

import http.client
import os
import select
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time

vantreld, peer_program, work = sys.argv[1:4]
vantrel = os.path.join(os.path.dirname(vantreld), "vantrel")
UNITS, STREAMS, FADE_UNITS, COMMANDS, ROUNDS = 256, 32, 16, 200, 5


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


class Streams:
    """Event streams read on a thread of their own; `seen[i][level]` is when
    stream i first got a unit event with that level (ns since the epoch)."""

    def __init__(self, port, count):
        self.sockets = []
        for _ in range(count):
            client = socket.create_connection(("127.0.0.1", port))
            client.sendall(b"GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % port)
            self.sockets.append(client)
        self.seen = [dict() for _ in range(count)]
        self.texts = [b""] * count
        self.done = False
        self.thread = threading.Thread(target=self.read, daemon=True)
        self.thread.start()

    def read(self):
        index = {client.fileno(): i for i, client in enumerate(self.sockets)}
        while not self.done:
            ready, _, _ = select.select(self.sockets, [], [], 0.2)
            for client in ready:
                got = client.recv(65536)
                now = time.time_ns()
                i = index[client.fileno()]
                text = self.texts[i] + got
                while b'"level":' in text:
                    head, _, text = text.partition(b'"level":')
                    value = text.split(b",")[0]
                    if b'"name":"u' in head[-40:] and value.isdigit():
                        self.seen[i].setdefault(int(value), now)
                self.texts[i] = text[-64:]

    def close(self):
        self.done = True
        self.thread.join()
        for client in self.sockets:
            client.close()


def idle_figures(pid, seconds=10):
    def counts():
        ticks = sum(int(v) for v in open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()[11:13])
        switches = 0
        for task in os.listdir("/proc/%d/task" % pid):
            for line in open("/proc/%d/task/%s/status" % (pid, task)):
                if "ctxt_switches" in line:
                    switches += int(line.split()[1])
        return ticks, switches
    ticks0, switches0 = counts()
    time.sleep(seconds)
    ticks1, switches1 = counts()
    rss = [line.split()[1] for line in open("/proc/%d/status" % pid) if line.startswith("VmRSS")][0]
    cpu = (ticks1 - ticks0) / os.sysconf("SC_CLK_TCK") / seconds * 100
    return cpu, (switches1 - switches0) / seconds, int(rss) / 1024


peer = subprocess.Popen([peer_program, str(UNITS), "600"], stdout=subprocess.PIPE, text=True,
                        env=dict(os.environ, UNITS_PEER_EPOCH="1"))
ports = [int(peer.stdout.readline()) for _ in range(UNITS)]
port = free_port()
config = os.path.join(work, "vantrel.toml")
with open(config, "w") as out:
    for i, unit_port in enumerate(ports):
        out.write('[units.u%d]\naddress = "127.0.0.1"\nport = %d\ntype = 1\n' % (i, unit_port))
    out.write("[groups]\nfade = [%s]\n" % ", ".join('"u%d"' % i for i in range(FADE_UNITS)))
    out.write('[web]\nlisten = "127.0.0.1:%d"\n' % port)
service = subprocess.Popen([vantreld, "--config", config, "--verbose"], stdout=subprocess.PIPE, text=True,
                           env=dict(os.environ, VANTREL_STATE=os.path.join(work, "levels"),
                                    VANTREL_SOCKET=os.path.join(work, "vantreld.sock")))
service.stdout.readline()

streams = Streams(port, STREAMS)
time.sleep(2)
cpu, wakes, rss = idle_figures(service.pid)

# POST -> frame at the unit, and that unit's confirmed level -> event on every stream.
target = FADE_UNITS + 4
connection = http.client.HTTPConnection("127.0.0.1", port)
sent = []
for i in range(COMMANDS):
    body = '{"brightness": %d}' % (1 + i)
    sent.append(time.time_ns())
    connection.request("POST", "/api/units/u%d" % target, body, {"Content-Type": "application/json"})
    connection.getresponse().read()
    deadline = time.monotonic() + 2
    while time.monotonic() < deadline and not all(1 + i in seen for seen in streams.seen):
        time.sleep(0.001)
    time.sleep(0.005)

# GET / and all it loads, on one kept-alive connection.
page_ms, page_bytes, state_bytes = [], 0, 0
for _ in range(21):
    began = time.perf_counter()
    page_bytes = 0
    for path in ("/", "/page.css", "/page.js", "/favicon.svg", "/api/state"):
        connection.request("GET", path)
        size = len(connection.getresponse().read())
        page_bytes += size if path != "/api/state" else 0
        state_bytes = size
    page_ms.append((time.perf_counter() - began) * 1000)
connection.request("POST", "/api/groups/fade", '{"brightness": 0}', {"Content-Type": "application/json"})
connection.getresponse().read()
time.sleep(0.5)

# A 2 s fade of 16 units, the 32 streams read and one more that is never
# read, and the same fade by vantrel, alternately against the same units,
# so that both meet the same machine: its load moves the figures minute by
# minute more than either program does.
deaf = socket.create_connection(("127.0.0.1", port))
deaf.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
deaf.sendall(b"GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % port)
windows = []  # (who, first ns, last ns)
for _ in range(ROUNDS):
    began = time.time_ns()
    subprocess.run([vantrel, "--direct", "--quiet", "--config", config, "--over", "2s", "--steps", "80", "--from", "0",
                    "set", "fade", "200"], check=True,
                   env=dict(os.environ, VANTREL_STATE=os.path.join(work, "vantrel-levels")))
    windows.append(("vantrel", began, time.time_ns()))
    time.sleep(0.5)
    connection.request("POST", "/api/groups/fade", '{"brightness": 0}', {"Content-Type": "application/json"})
    connection.getresponse().read()
    time.sleep(0.5)
    began = time.time_ns()
    connection.request("POST", "/api/groups/fade", '{"brightness": 200, "transition": 2}',
                       {"Content-Type": "application/json"})
    connection.getresponse().read()
    time.sleep(3)
    windows.append(("vantreld", began, time.time_ns()))
    time.sleep(0.5)
connection.close()
streams.close()
deaf.close()
service.send_signal(signal.SIGTERM)
service.wait()
peer.send_signal(signal.SIGTERM)
notes = [line.split() for line in peer.communicate()[0].splitlines()]

arrivals = [int(float(at) * 1000) for unit, level, at, _ in notes if int(unit) == target]
post_us = [(arrived - sent_at) / 1000 for arrived, sent_at in zip(arrivals, sent)]
event_us = []
for i, arrived in enumerate(arrivals):
    for seen in streams.seen:
        if 1 + i in seen:
            event_us.append((seen[1 + i] - arrived) / 1000)
missing = COMMANDS * STREAMS - len(event_us)


def lateness(first_ns, last_ns):
    """Each command's lateness in the fade between two times: its arrival
    less its due time, from the least late command's."""
    fade = {}
    for unit, level, at, _ in notes:
        at_ns = float(at) * 1000
        if int(unit) < FADE_UNITS and first_ns <= at_ns <= last_ns:
            fade.setdefault(int(unit), []).append((int(level), float(at)))
    fade = list(fade.values())
    steps = len(fade[0]) - 1
    if len(fade) != FADE_UNITS or any(len(c) != steps + 1 or c[-1][0] != 200 for c in fade):
        sys.exit("bench: broken: the fade's units did not all get the same commands ending at 200")
    # From the least late command: a program that connects to its units
    # before the first step would otherwise look early for the rest.
    late = [at - 2e6 * k / steps for commands in fade for k, (_, at) in enumerate(commands)]
    return steps, [at - min(late) for at in late]


rounds = {"vantrel": [], "vantreld": []}
for who, first_ns, last_ns in windows:
    steps, late_us = lateness(first_ns, last_ns)
    rounds[who].append((percentile(late_us, .5) / 1000, percentile(late_us, .99) / 1000, steps))

print("POST /api/units/NAME -> frame at the unit, %d commands, kept-alive:" % len(post_us))
print("  p50 %.3f ms, p99 %.3f ms  (target p99 <= 5 ms)" % (percentile(post_us, .5) / 1000,
                                                            percentile(post_us, .99) / 1000))
print("confirmed level -> event, %d streams open (%d events, %d missing):" % (STREAMS, len(event_us), missing))
print("  p50 %.3f ms, p99 %.3f ms  (target p99 <= 10 ms)" % (percentile(event_us, .5) / 1000,
                                                             percentile(event_us, .99) / 1000))
print("GET / and all it loads: %d bytes (target <= 50 KB) and /api/state of %d units %d bytes;"
      " median %.3f ms (target <= 20 ms)" % (page_bytes, UNITS, state_bytes, statistics.median(page_ms)))
print("2 s fade of %d units, %d rounds each, alternately against the same units (medians; p99 target <= 1 ms):"
      % (FADE_UNITS, ROUNDS))
for who, label in (("vantrel", "vantrel set fade 200 --over 2s --steps 80"),
                   ("vantreld", "page, %d streams + 1 never read, %d steps" % (STREAMS, rounds["vantreld"][0][2]))):
    print("  %-52s lateness p50 %.3f ms, p99 %.3f ms  (p99 of each round: %s)" % (
        label, statistics.median(r[0] for r in rounds[who]), statistics.median(r[1] for r in rounds[who]),
        " ".join("%.3f" % r[1] for r in rounds[who])))
behind = statistics.median(r[1] for r in rounds["vantreld"]) - statistics.median(r[1] for r in rounds["vantrel"])
print("  the service's p99 less vantrel's: %.3f ms  (target <= 0.3 ms)" % behind)
print("idle, %d units, %d streams, 10 s: CPU %.2f %% of a core (target < 1 %%), %.1f wake-ups/s"
      " (target <= 10), RSS %.1f MB (target < 12 MB)" % (UNITS, STREAMS, cpu, wakes, rss))
