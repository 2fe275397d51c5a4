"""The console inputs' figures; run by bench/vantreld_consoles.sh (inside a
network namespace), which says what each one is.
usage: vantreld_consoles.py VANTRELD UNITS_PEER WORK_DIR"""

import os
import signal
import socket
import struct
import subprocess
import sys
import time

vantreld, peer_program, work = sys.argv[1:4]
UNIVERSES, PER_UNIVERSE, FADE_UNITS, PACKETS, RATE = 4, 64, 16, 200, 44
UNITS = UNIVERSES * PER_UNIVERSE


def sacn(universe, slots, sequence):
    size = 126 + len(slots)
    packet = struct.pack(">HH", 0x10, 0) + b"ASC-E1.17\0\0\0"
    packet += struct.pack(">HI", 0x7000 | (size - 16), 4) + b"\x42" * 16
    packet += struct.pack(">HI", 0x7000 | (size - 38), 2) + b"bench".ljust(64, b"\0")
    packet += struct.pack(">BHBBH", 100, 0, sequence & 0xff, 0, universe)
    packet += struct.pack(">HBBHHH", 0x7000 | (size - 115), 2, 0xa1, 0, 1, len(slots) + 1)
    return packet + b"\0" + bytes(slots)


def art_dmx(port_address, slots):
    return (b"Art-Net\0" + struct.pack("<H", 0x5000) + struct.pack(">H", 14) +
            bytes([0, 0, port_address & 0xff, port_address >> 8]) + struct.pack(">H", len(slots)) + bytes(slots))


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def cpu_ticks(pid):
    return sum(int(v) for v in open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()[11:13])


peer = subprocess.Popen([peer_program, str(UNITS), "600"], stdout=subprocess.PIPE, text=True,
                        env=dict(os.environ, UNITS_PEER_EPOCH="1"))
ports = [int(peer.stdout.readline()) for _ in range(UNITS)]
config = os.path.join(work, "vantrel.toml")
with open(config, "w") as out:
    for i, unit_port in enumerate(ports):
        universe, channel = 1 + i // PER_UNIVERSE, 1 + i % PER_UNIVERSE
        out.write('[units.u%d]\naddress = "127.0.0.1"\nport = %d\ntype = 1\nsacn = "%d/%d"\n' %
                  (i, unit_port, universe, channel))
        if i == 0:
            out.write('artnet = "0:0:1/1"\n')
    out.write("[sacn]\n[artnet]\n")
service = subprocess.Popen([vantreld, "--config", config], stderr=subprocess.PIPE, text=True,
                           env=dict(os.environ, VANTREL_STATE=os.path.join(work, "levels"),
                                    VANTREL_SOCKET=os.path.join(work, "vantreld.sock")))
time.sleep(1)
sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sender.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
sequence = [0] * (UNIVERSES + 1)


def send_sacn(universe, slots):
    sequence[universe] += 1
    sender.sendto(sacn(universe, slots, sequence[universe]), ("239.255.0.%d" % universe, 5568))


def paced(count, send):
    """send(k) for k in 0..count-1 at RATE a second; when the last one went."""
    began = time.monotonic()
    for k in range(count):
        delay = began + k / RATE - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        last = time.time_ns()
        send(k)
    return last


# A packet in -> the frame at the unit: one channel changed at a time.
sent = []
for i in range(PACKETS):
    sent.append(("sacn", 1 + i % 250, time.time_ns()))
    send_sacn(1, [1 + i % 250])
    time.sleep(0.02)
artnet = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for i in range(PACKETS):
    sent.append(("artnet", 251 - i % 250, time.time_ns()))
    artnet.sendto(art_dmx(1, [251 - i % 250]), ("127.0.0.1", 6454))
    time.sleep(0.02)
time.sleep(0.5)

# A fade of 16 units at 44 packets a second for 2 s.
steps = 2 * RATE
ticks0 = cpu_ticks(service.pid)
fade_began = time.monotonic()
fade_last = paced(steps, lambda k: send_sacn(1, [round(255 * (k + 1) / steps)] * FADE_UNITS))
fade_cpu = (cpu_ticks(service.pid) - ticks0) / os.sysconf("SC_CLK_TCK") / (time.monotonic() - fade_began) * 100
time.sleep(1)

# Four full universes, steady, for 10 s, after a first frame of each.
frames = [[(7 * u + c) % 256 for c in range(512)] for u in range(UNIVERSES)]
for u in range(UNIVERSES):
    send_sacn(1 + u, frames[u])
time.sleep(1)
steady_from = time.time_ns()
ticks0 = cpu_ticks(service.pid)
steady_began = time.monotonic()
paced(10 * RATE, lambda k: [send_sacn(1 + u, frames[u]) for u in range(UNIVERSES)])
steady_cpu = (cpu_ticks(service.pid) - ticks0) / os.sysconf("SC_CLK_TCK") / (time.monotonic() - steady_began) * 100
steady_to = time.time_ns()
time.sleep(0.5)

service.send_signal(signal.SIGTERM)
service.wait()
peer.send_signal(signal.SIGTERM)
notes = [(int(unit), int(level), float(at) * 1000) for unit, level, at, _ in
         (line.split() for line in peer.communicate()[0].splitlines())]

# Each packet's level, matched with its first arrival at u0 after it was sent.
u0 = [(level, at) for unit, level, at in notes if unit == 0]
latency = {"sacn": [], "artnet": []}
for protocol, level, at_sent in sent:
    arrived = next((at for got, at in u0 if got == level and at >= at_sent), None)
    if arrived is not None:
        latency[protocol].append((arrived - at_sent) / 1e6)
last_levels = {}
for unit, level, at in notes:
    if unit < FADE_UNITS and level == 255:
        last_levels[unit] = at
fade_after = [(at - fade_last) / 1e6 for at in last_levels.values()]
steady_commands = sum(1 for _, _, at in notes if steady_from <= at <= steady_to)

for protocol in ("sacn", "artnet"):
    values = latency[protocol]
    print("%s packet -> frame at the unit, %d of %d packets: p50 %.3f ms, p99 %.3f ms (target p99 <= 5 ms)"
          % (protocol, len(values), PACKETS, percentile(values, .5), percentile(values, .99)))
print("fade of %d units at %d packets/s for 2 s: last value at every unit %s after the last packet"
      " (worst %.1f ms, target <= 50 ms); CPU %.1f %% of a core (target < 20 %%)"
      % (FADE_UNITS, RATE, "%d/%d units" % (len(fade_after), FADE_UNITS), max(fade_after), fade_cpu))
print("steady stream of %d full universes at %d packets/s each for 10 s: %d commands sent (target 0);"
      " CPU %.2f %% of a core (target < 2 %%)" % (UNIVERSES, RATE, steady_commands, steady_cpu))
err = service.stderr.read()
if err:
    print("vantreld said: " + err.strip())
