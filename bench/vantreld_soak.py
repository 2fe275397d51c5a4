"""vantreld left to run under a mixed, bounded load; run by
bench/vantreld_soak.sh, which says what it does.
usage: vantreld_soak.py VANTRELD VANTREL_SIM WORK_DIR SECONDS"""

import base64
import os
import random
import re
import signal
import socket
import subprocess
import sys
import threading
import time

vantreld, simulator, work, seconds = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
UNITS, SILENT_UNITS = 64, 8  # the last SILENT_UNITS stop answering now and then
random.seed(24)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for(condition, limit):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline and not condition():
        time.sleep(0.05)
    return condition()


def simulator_ports(count):
    sim = subprocess.Popen([simulator, "--port", "0", "--units", str(count)], stdout=subprocess.PIPE, text=True)
    ports = [int(sim.stdout.readline()) for _ in range(count)]
    # What it prints of each exchange is not needed, but must be read.
    threading.Thread(target=lambda: sim.stdout.read(), daemon=True).start()
    return sim, ports


class Broker:
    def __init__(self):
        self.port = free_port()
        self.config = os.path.join(work, "mosquitto.conf")
        with open(self.config, "w") as out:
            out.write("listener %d 127.0.0.1\nallow_anonymous true\nset_tcp_nodelay true\n" % self.port)
        self.process = None
        self.start()

    def start(self):
        self.process = subprocess.Popen(["/usr/sbin/mosquitto", "-c", self.config],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def listening():
            with socket.socket() as probe:
                return probe.connect_ex(("127.0.0.1", self.port)) == 0
        if not wait_for(listening, 10):
            sys.exit("soak: mosquitto did not start")

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


class States:
    """Every state and status vantreld publishes, as mosquitto_sub sees it,
    again after each restart of the broker."""

    def __init__(self, broker):
        self.broker = broker
        self.seen = []  # (monotonic time, topic, payload)
        self.online = False
        self.lock = threading.Lock()
        self.process = None
        self.start()

    def start(self):
        self.process = subprocess.Popen(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(self.broker.port), "-v",
                                         "-t", "vantrel/unit/+/state", "-t", "vantrel/status"],
                                        stdout=subprocess.PIPE, text=True)
        threading.Thread(target=self.read, args=(self.process,), daemon=True).start()

    def read(self, process):
        for line in process.stdout:
            topic, _, payload = line.rstrip("\n").partition(" ")
            with self.lock:
                self.seen.append((time.monotonic(), topic, payload))
                if topic == "vantrel/status":
                    self.online = payload == "online"

    def stop(self):
        self.process.terminate()
        self.process.wait(10)
        with self.lock:
            self.online = False

    def is_online(self):
        with self.lock:
            return self.online


def figures(pid):
    rss = [line.split()[1] for line in open("/proc/%d/status" % pid) if line.startswith("VmRSS")][0]
    return int(rss), len(os.listdir("/proc/%d/fd" % pid))


# The units, the broker, the service.
steady, steady_ports = simulator_ports(UNITS - SILENT_UNITS)
silent, silent_ports = simulator_ports(SILENT_UNITS)
ports = steady_ports + silent_ports
broker = Broker()
web_port = free_port()
password = os.path.join(work, "page-password")
with open(password, "w") as out:
    out.write("soak-password\n")
os.chmod(password, 0o600)
config = os.path.join(work, "vantrel.toml")
with open(config, "w") as out:
    for i, port in enumerate(ports):
        out.write('[units.u%d]\naddress = "127.0.0.1"\nport = %d\ntype = 1\n' % (i, port))
    out.write("[groups]\nall8 = [%s]\n" % ", ".join('"u%d"' % i for i in range(8)))
    out.write('[mqtt]\nhost = "127.0.0.1"\nport = %d\n' % broker.port)
    out.write('[web]\nlisten = "127.0.0.1:%d"\npassword_file = "%s"\n' % (web_port, password))
log_path = os.path.join(work, "vantreld.log")
log = open(log_path, "w")
levels = os.path.join(work, "levels")
service = subprocess.Popen([vantreld, "--config", config], stdout=log, stderr=log,
                           env=dict(os.environ, VANTREL_STATE=levels,
                                    VANTREL_SOCKET=os.path.join(work, "vantreld.sock")))
states = States(broker)
if not wait_for(states.is_online, 20):
    sys.exit("soak: vantreld never said online")
time.sleep(2)
start_rss, start_fds = figures(service.pid)

# The load, each kind on a thread of its own, until the end.
ending = threading.Event()
commands = []  # (monotonic time sent, unit, level, transition)
commands_lock = threading.Lock()
paused = threading.Event()  # set while the broker restarts
counts = {"streams": 0, "streams refused": 0, "half-sent": 0, "wrong passwords": 0, "401": 0, "429": 0,
          "silences": 0, "broker restarts": 0, "publishes refused": 0}
GOOD = {"Authorization": "Basic " + base64.b64encode(b"soak:soak-password").decode()}


def mqtt_commands():
    while not ending.wait(0.5):
        if paused.is_set():
            continue
        unit, level = random.randrange(UNITS), random.randint(1, 255)
        transition = random.choice([0, 0, 0, 1, 2, 4])
        payload = '{"brightness":%d%s}' % (level, ',"transition":%d' % transition if transition else "")
        sent = time.monotonic()
        run = subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(broker.port),
                              "-t", "vantrel/unit/u%d/set" % unit, "-m", payload], capture_output=True)
        if run.returncode != 0:
            counts["publishes refused"] += 1
            continue
        with commands_lock:
            commands.append((sent, unit, level, transition))


def page_clients():
    while not ending.wait(2):
        client = socket.create_connection(("127.0.0.1", web_port), timeout=5)
        client.sendall(("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nAuthorization: %s\r\n\r\n"
                        % (web_port, GOOD["Authorization"])).encode())
        try:
            first = client.recv(4096)
            counts["streams" if first.startswith(b"HTTP/1.1 200") else "streams refused"] += 1
            end = time.monotonic() + random.uniform(1, 5)
            while time.monotonic() < end and client.recv(65536):
                pass
        except (socket.timeout, OSError):
            pass
        client.close()


def half_sent():
    while not ending.wait(3):
        client = socket.create_connection(("127.0.0.1", web_port), timeout=5)
        client.sendall(b"GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n")
        counts["half-sent"] += 1
        ending.wait(random.uniform(0.5, 3))
        client.close()


def wrong_passwords():
    # From another loopback address, whose lock-out leaves the page's
    # clients on 127.0.0.1 alone.
    wrong = base64.b64encode(b"soak:not-it").decode()
    while not ending.wait(3):
        client = socket.create_connection(("127.0.0.1", web_port), timeout=5, source_address=("127.0.0.2", 0))
        client.sendall(("GET /api/state HTTP/1.1\r\nHost: x\r\nAuthorization: Basic %s\r\nConnection: close\r\n\r\n"
                        % wrong).encode())
        answer = client.recv(4096)
        counts["wrong passwords"] += 1
        for status in ("401", "429"):
            if answer.startswith(b"HTTP/1.1 " + status.encode()):
                counts[status] += 1
        client.close()


def silences():
    while not ending.wait(90):
        silent.send_signal(signal.SIGSTOP)
        counts["silences"] += 1
        ending.wait(15)
        silent.send_signal(signal.SIGCONT)


threads = [threading.Thread(target=work_) for work_ in (mqtt_commands, page_clients, half_sent, wrong_passwords,
                                                          silences)]
for thread in threads:
    thread.start()
began = time.monotonic()
for share in (1 / 3, 2 / 3):
    # The broker restarted, with nothing in flight: QoS 0 to a client that
    # is away is dropped by the broker, not by the service.
    ending.wait(max(0, began + seconds * share - time.monotonic()))
    paused.set()
    time.sleep(3)
    states.stop()
    broker.stop()
    broker.start()
    counts["broker restarts"] += 1
    states.start()
    if not wait_for(states.is_online, 60):
        print("soak: vantreld did not come back after a restart of the broker")
    paused.clear()
ending.wait(max(0, began + seconds - time.monotonic()))
ending.set()
for thread in threads:
    thread.join()
silent.send_signal(signal.SIGCONT)
time.sleep(10)  # the last fades end, the last failures are told
end_rss, end_fds = figures(service.pid)
service.send_signal(signal.SIGTERM)
status = service.wait(10)
states.stop()
broker.stop()
for sim in (steady, silent):
    sim.terminate()
    sim.wait(10)
log.close()

# Every command's outcome.
told = open(log_path).read()
failed = {(int(m.group(1)), int(m.group(2))) for m in re.finditer(r"vantreld: u(\d+): level (\d+) not confirmed", told)}
published = {}  # unit -> [(time, level)]
for at, topic, payload in states.seen:
    found = re.match(r"vantrel/unit/u(\d+)/state", topic)
    level = re.search(r'"brightness":(\d+)', payload)
    if found and level:
        published.setdefault(int(found.group(1)), []).append((at, int(level.group(1))))
outcomes = {}
lost = []
for i, (sent, unit, level, transition) in enumerate(commands):
    later = [c[0] for c in commands[i + 1:] if c[1] == unit]
    if any(at > sent and seen == level for at, seen in published.get(unit, [])):
        outcome = "confirmed and published"
    elif (unit, level) in failed:
        outcome = "not confirmed, logged"
    elif later:
        outcome = "replaced by a later command"
    else:
        outcome = "LOST"
        lost.append((unit, level))
    outcomes[outcome] = outcomes.get(outcome, 0) + 1
    print("%8.1f s  u%-2d %3d%s  %s" % (sent - began, unit, level, " over %d s" % transition if transition else "",
                                         outcome))

# Every level the service confirmed (its levels file) against the last state it published.
unpublished = []
remembered = {}
for line in open(levels):
    fields = line.split()
    if len(fields) >= 4 and fields[0] == "127.0.0.1":
        remembered[int(fields[1])] = int(fields[3])
for unit, port in enumerate(ports):
    last = published.get(unit, [(0, None)])[-1][1]
    if port in remembered and remembered[port] != last:
        unpublished.append("u%d: confirmed %d, published %s" % (unit, remembered[port], last))

print()
print("%d s, %d units (%d fall silent for 15 s after each 90 s), mosquitto restarted %d times" % (
    seconds, UNITS, SILENT_UNITS, counts["broker restarts"]))
print("load: %d MQTT commands (%d publishes refused while the broker was away), %d event streams"
      " (%d refused), %d half-sent requests, %d wrong passwords (%d answered 401, %d 429), %d silences" % (
          len(commands), counts["publishes refused"], counts["streams"], counts["streams refused"],
          counts["half-sent"], counts["wrong passwords"], counts["401"], counts["429"], counts["silences"]))
print("outcomes: " + ", ".join("%s %d" % item for item in sorted(outcomes.items())))
print("resident memory: %.1f MB at the start, %.1f MB at the end: %+d kB  (target < 1024 kB)" % (
    start_rss / 1024, end_rss / 1024, end_rss - start_rss))
print("open descriptors: %d at the start, %d at the end  (target: the same)" % (start_fds, end_fds))
print("confirmed levels not published: %d%s" % (len(unpublished), "".join("\n  " + u for u in unpublished)))
print("commands lost without a logged reason: %d%s" % (len(lost), "".join("\n  u%d %d" % l for l in lost)))
print("vantreld's exit status: %d" % status)
met = end_rss - start_rss < 1024 and end_fds == start_fds and not unpublished and not lost and status == 0
print("all targets met" if met else "TARGETS MISSED")
sys.exit(0 if met else 1)
