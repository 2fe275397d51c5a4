"""vantreld's console inputs against packets crafted here, byte by byte, as
consoles send them: sACN by multicast and unicast, Art-Net by unicast,
with simulated units and the real vantreld, inside a network namespace of
the suite's own where everything is on the loopback."""

import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "web"))
import namespace  # noqa: E402

namespace.enter()

from served import VANTRELD, Service, Units, wait_for  # noqa: E402


def sacn(universe, slots, cid=1, priority=100, sequence=0, options=0, start_code=0, name=b"desk"):
    size = 126 + len(slots)
    packet = struct.pack(">HH", 0x10, 0) + b"ASC-E1.17\0\0\0"
    packet += struct.pack(">HI", 0x7000 | (size - 16), 4) + bytes([cid]) * 16
    packet += struct.pack(">HI", 0x7000 | (size - 38), 2) + name.ljust(64, b"\0")
    packet += struct.pack(">BHBBH", priority, 0, sequence, options, universe)
    packet += struct.pack(">HBBHHH", 0x7000 | (size - 115), 2, 0xa1, 0, 1, len(slots) + 1)
    return packet + bytes([start_code]) + bytes(slots)


def artnet(op_code, version=14):
    return b"Art-Net\0" + struct.pack("<H", op_code) + struct.pack(">H", version)


def art_dmx(port_address, slots, sequence=0):
    return (artnet(0x5000) + bytes([sequence, 0, port_address & 0xff, port_address >> 8]) +
            struct.pack(">H", len(slots)) + bytes(slots))


ART_POLL = artnet(0x2000) + b"\0\0"

UNITS = ["a", "b", "c"]


class Consoles(unittest.TestCase):
    """Each test has a service of its own, with the units file's inputs as
    it asks."""

    def start(self, sacn="", artnet="", a=""):
        """vantreld with both inputs on, each table with the keys given, and
        unit a with `a`'s."""
        self.directory = tempfile.mkdtemp(prefix="vantrel-consoles-")
        self.units = Units(3)
        self.service = None
        self.sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sender.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
        self.addCleanup(self.stop)
        keys = {"a": 'sacn = "1/1"\nartnet = "0:0:3/1"\n' + a, "b": 'sacn = "1/2"\nartnet = "3/2"\n',
                "c": 'sacn = "2/1"\n'}
        text = "".join('[units.%s]\naddress = "127.0.0.1"\nport = %d\ntype = 1\n%s\n' % (name, port, keys[name])
                       for name, port in zip(UNITS, self.units.ports))
        text += "[scenes.safe]\na = 40\nb = 41\nc = 42\n\n[sacn]\n%s\n[artnet]\n%s" % (sacn, artnet)
        self.service = Service(self.directory, text)
        self.log = []
        threading.Thread(target=self._read_log, daemon=True).start()

    def _read_log(self):
        for line in self.service.process.stdout:
            self.log.append(line.rstrip("\n"))

    def stop(self):
        self.sender.close()
        self.units.stop()
        shutil.rmtree(self.directory, ignore_errors=True)
        if self.service:
            self.assertEqual(self.service.stop(), (0, ""))

    def sent(self):
        return [self.units.levels(port) for port in self.units.ports]

    def state(self):
        status, _, body = self.service.request("GET", "/api/state")
        self.assertEqual(status, 200)
        return json.loads(body)

    def multicast(self, universe, packet):
        self.sender.sendto(packet, ("239.255.%d.%d" % (universe >> 8, universe & 0xff), 5568))

    def logged(self, line):
        return wait_for(lambda: line in self.log)


class Sacn(Consoles):
    def test_levels_by_multicast_and_unicast_and_a_steady_stream_sends_nothing(self):
        self.start()
        for sequence in range(5):
            self.multicast(1, sacn(1, [10, 20], sequence=sequence))
        self.sender.sendto(sacn(2, [30]), ("127.0.0.1", 5568))
        self.assertTrue(wait_for(lambda: self.sent() == [[10], [20], [30]]), self.sent())
        # Another front end's command stands while the console repeats itself...
        self.assertEqual(self.service.command("units", "a", {"brightness": 99}), 202)
        self.assertTrue(wait_for(lambda: self.sent()[0] == [10, 99]), self.sent())
        for sequence in range(5, 10):
            self.multicast(1, sacn(1, [10, 20], sequence=sequence))
        # ...until the console's value changes.
        self.multicast(1, sacn(1, [10, 21], sequence=10))
        self.assertTrue(wait_for(lambda: self.sent()[1] == [20, 21]), self.sent())
        self.assertEqual(self.sent()[0], [10, 99])
        self.multicast(1, sacn(1, [11, 21], sequence=11))
        self.assertTrue(wait_for(lambda: self.sent()[0] == [10, 99, 11]), self.sent())

    def test_a_channel_is_a_level_through_the_units_curve(self):
        self.start(a="min = 100\nmax = 200\n")
        self.multicast(1, sacn(1, [128]))
        self.assertTrue(wait_for(lambda: self.sent()[0] == [150]), self.sent())
        unit = lambda: self.state()["units"][0]
        self.assertTrue(wait_for(lambda: (unit()["level"], unit()["sent"]) == (128, 150)), unit())

    def test_with_curve_raw_a_channel_is_the_byte_and_the_unit_at_its_lowest_level(self):
        self.start(sacn='curve = "raw"\n', a="min = 100\nmax = 200\n")
        self.multicast(1, sacn(1, [128]))
        self.assertTrue(wait_for(lambda: self.sent()[0] == [128]), self.sent())
        unit = lambda: self.state()["units"][0]
        self.assertTrue(wait_for(lambda: (unit()["level"], unit()["sent"]) == (71, 128)), unit())

    def test_priority_takes_over_and_gives_back_and_sources_show_in_the_state(self):
        self.start(sacn='loss_timeout = "500ms"\n')
        self.multicast(1, sacn(1, [10, 20], cid=1, priority=100))
        self.assertTrue(wait_for(lambda: self.sent()[:2] == [[10], [20]]), self.sent())
        self.multicast(1, sacn(1, [200], cid=2, priority=150, name=b"backup"))
        self.assertTrue(wait_for(lambda: self.sent()[0] == [10, 200]), self.sent())
        inputs = self.state()["inputs"]
        self.assertEqual(sorted((s["cid"][:2], s["priority"], s["name"]) for s in inputs["sacn"]["sources"]),
                         [("01", 100, "desk"), ("02", 150, "backup")])
        self.assertEqual(inputs["sacn"]["sources"][0]["address"], "127.0.0.1")
        # The higher one ends its stream; the lower one drives again.
        self.multicast(1, sacn(1, [0], cid=2, priority=150, sequence=1, options=0x40))
        self.assertTrue(wait_for(lambda: self.sent()[0] == [10, 200, 10]), self.sent())
        self.assertTrue(self.logged('vantreld: sacn: source lost (stream terminated): 127.0.0.1 cid '
                                    '02020202-0202-0202-0202-020202020202 "backup" priority 150 on universe 1'),
                        self.log)
        # Equal priorities: each channel at the higher level.
        self.multicast(1, sacn(1, [5, 90], cid=3, priority=100))
        self.assertTrue(wait_for(lambda: self.sent()[1] == [20, 90]), self.sent())
        self.assertEqual(self.sent()[0], [10, 200, 10])

    def test_preview_other_start_codes_late_and_malformed_packets_are_never_levels(self):
        self.start()
        self.multicast(1, sacn(1, [10], sequence=50))
        self.assertTrue(wait_for(lambda: self.sent()[0] == [10]), self.sent())
        self.multicast(1, sacn(1, [255], sequence=51, options=0x80))     # preview
        self.multicast(1, sacn(1, [255], sequence=52, start_code=0xdd))  # an ETC desk's priorities
        self.multicast(1, sacn(1, [255], sequence=40))                   # late
        broken = bytearray(sacn(1, [255], sequence=53))
        broken[118] = 0
        self.multicast(1, bytes(broken))
        self.multicast(1, b"\x00\x10 not sACN")
        self.multicast(1, sacn(1, [11], sequence=54))
        self.assertTrue(wait_for(lambda: self.sent()[0] == [10, 11]), self.sent())
        packets = self.state()["inputs"]["sacn"]["packets"]
        self.assertEqual(packets, {"taken": 2, "malformed": 2, "ignored": 2, "late": 1, "refused": 0})

    def test_loss_applies_on_loss_and_a_console_that_comes_back_drives_again(self):
        self.start(sacn='loss_timeout = "300ms"\non_loss = "off"\n')
        self.multicast(1, sacn(1, [10, 20]))
        self.multicast(2, sacn(2, [30]))
        self.assertTrue(wait_for(lambda: self.sent() == [[10], [20], [30]]), self.sent())
        self.assertTrue(wait_for(lambda: self.sent() == [[10, 0], [20, 0], [30, 0]]), self.sent())
        self.assertTrue(self.logged("vantreld: sacn: universe 1 has no source left: on_loss off: "
                                    "its units set to 0"), self.log)
        self.assertIn('vantreld: sacn: source found: 127.0.0.1 cid 01010101-0101-0101-0101-010101010101 '
                      '"desk" priority 100 on universe 2', self.log)
        self.multicast(1, sacn(1, [10, 20], sequence=1))
        self.assertTrue(wait_for(lambda: self.sent()[:2] == [[10, 0, 10], [20, 0, 20]]), self.sent())

    def test_a_source_name_cannot_steer_the_terminal_or_forge_a_line(self):
        self.start()
        self.multicast(1, sacn(1, [10], name=b"\x1b[31mdesk\nvantreld: sacn: universe 1 has no source left"))
        self.assertTrue(self.logged('vantreld: sacn: source found: 127.0.0.1 cid 01010101-0101-0101-0101-'
                                    '010101010101 "\\x1b[31mdesk\\nvantreld: sacn: universe 1 has no source '
                                    'left" priority 100 on universe 1'), self.log)
        self.assertFalse([line for line in self.log if line.startswith("vantreld: sacn: universe")], self.log)

    def test_stream_terminated_recalls_the_scene_and_sources_refuses_others(self):
        self.start(sacn='on_loss = "safe"\nsources = ["127.0.0.1"]\n')
        self.multicast(2, sacn(2, [30]))
        self.assertTrue(wait_for(lambda: self.sent()[2] == [30]), self.sent())
        self.multicast(2, sacn(2, [0], sequence=1, options=0x40))
        self.assertTrue(wait_for(lambda: self.sent() == [[40], [41], [30, 42]]), self.sent())
        self.assertTrue(self.logged('vantreld: sacn: universe 2 has no source left: on_loss scene "safe" recalled'),
                        self.log)
        other = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        other.bind(("127.0.0.2", 0))
        other.sendto(sacn(2, [99]), ("127.0.0.1", 5568))
        other.close()
        self.multicast(2, sacn(2, [31], sequence=2))
        self.assertTrue(wait_for(lambda: self.sent()[2] == [30, 42, 31]), self.sent())
        self.assertEqual(self.state()["inputs"]["sacn"]["packets"]["refused"], 1)


class ArtNet(Consoles):
    def senders(self, count):
        made = []
        for i in range(count):
            sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            sender.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            sender.bind(("127.0.0.%d" % (i + 2), 6454))
            sender.settimeout(5)
            self.addCleanup(sender.close)
            made.append(sender)
        return made

    def test_art_poll_is_answered_with_the_node_and_its_port_addresses(self):
        self.start()
        console, = self.senders(1)
        console.sendto(ART_POLL, ("127.0.0.1", 6454))
        reply, where = console.recvfrom(1024)
        self.assertEqual(where, ("127.0.0.1", 6454))
        self.assertEqual(len(reply), 239)
        self.assertEqual(reply[:10], b"Art-Net\0\x00\x21")
        self.assertEqual(reply[10:16], bytes([127, 0, 0, 1, 0x36, 0x19]))
        self.assertEqual((reply[18], reply[19]), (0, 0))            # net, subnet
        self.assertEqual(reply[26:44].rstrip(b"\0"), b"vantreld")
        self.assertTrue(reply[44:108].startswith(b"vantreld: 3 units from "))
        self.assertEqual(reply[172:174], b"\x00\x01")                # one port
        self.assertEqual(reply[174], 0x80)                           # it outputs DMX
        self.assertEqual(reply[190], 3)                              # port-address 0:0:3

    def test_two_sources_merge_highest_and_a_third_is_refused(self):
        self.start(artnet='on_loss = "hold"\n')
        first, second, third = self.senders(3)
        first.sendto(art_dmx(3, [10, 200]), ("127.0.0.1", 6454))
        self.assertTrue(wait_for(lambda: self.sent()[:2] == [[10], [200]]), self.sent())
        second.sendto(art_dmx(3, [50, 100]), ("127.0.0.1", 6454))
        self.assertTrue(wait_for(lambda: self.sent()[0] == [10, 50]), self.sent())
        third.sendto(art_dmx(3, [255, 255]), ("127.0.0.1", 6454))
        second.sendto(art_dmx(3, [60, 100]), ("127.0.0.1", 6454))
        self.assertTrue(wait_for(lambda: self.sent()[0] == [10, 50, 60]), self.sent())
        self.assertEqual(self.sent()[1], [200])
        inputs = self.state()["inputs"]["artnet"]
        self.assertEqual(sorted(s["address"] for s in inputs["sources"]), ["127.0.0.2", "127.0.0.3"])
        self.assertEqual(inputs["sources"][0]["universe"], 3)
        self.assertEqual(inputs["packets"]["refused"], 1)
        self.assertIn("vantreld: artnet: source found: 127.0.0.3 on port-address 3", self.log)
        first.sendto(artnet(0x5000, 13) + b"\0\0\3\0\0\2\1\1", ("127.0.0.1", 6454))  # version 13
        self.assertTrue(wait_for(lambda: self.state()["inputs"]["artnet"]["packets"]["malformed"] == 1))


class NoDefaultRoute(unittest.TestCase):
    """An isolated lighting network: no route for multicast, and no loopback
    that takes it; sACN with no listen address."""

    def setUp(self):
        namespace.run(["ip", "route", "del", "239.0.0.0/8", "dev", "lo"])
        namespace.run(["ip", "link", "set", "lo", "multicast", "off"])
        self.addCleanup(namespace.run, ["ip", "route", "add", "239.0.0.0/8", "dev", "lo"])
        self.addCleanup(namespace.run, ["ip", "link", "set", "lo", "multicast", "on"])
        self.directory = tempfile.mkdtemp(prefix="vantrel-consoles-")
        self.addCleanup(shutil.rmtree, self.directory, ignore_errors=True)
        self.units = Units(1)
        self.addCleanup(self.units.stop)
        self.text = '[units.a]\naddress = "127.0.0.1"\nport = %d\ntype = 1\nsacn = "1/1"\n\n[sacn]\n' % (
            self.units.ports[0])

    def test_the_groups_are_joined_on_the_interface_that_takes_multicast(self):
        desk = namespace.Peer("vt-lighting", "10.78.0.2", "vt-desk", "10.78.0.1")
        self.addCleanup(desk.stop)
        service = Service(self.directory, self.text)
        send = ("import socket, sys\n"
                "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
                "s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton('10.78.0.1'))\n"
                "s.sendto(bytes.fromhex(sys.argv[1]), ('239.255.0.1', 5568))\n")
        subprocess.run(desk.inside([sys.executable, "-c", send, sacn(1, [77]).hex()]), check=True, timeout=10)
        self.assertTrue(wait_for(lambda: self.units.levels(self.units.ports[0]) == [77]),
                        self.units.levels(self.units.ports[0]))
        self.assertEqual(service.stop(), (0, ""))

    def test_with_nowhere_to_join_the_line_says_what_to_set(self):
        config = os.path.join(self.directory, "vantrel.toml")
        with open(config, "w") as out:
            out.write(self.text)
        run = subprocess.run([VANTRELD, "--config", config], capture_output=True, text=True, timeout=20,
                             env=dict(os.environ, VANTREL_STATE=os.path.join(self.directory, "levels"),
                                      VANTREL_SOCKET=os.path.join(self.directory, "vantreld.sock")))
        self.assertEqual((run.returncode, run.stderr),
                         (1, "vantreld: sacn: cannot join universe 1 (239.255.0.1) on any interface: "
                             "No such device; set [sacn] listen to the lighting network's address\n"))


if __name__ == "__main__":
    unittest.main()
