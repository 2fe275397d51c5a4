"""vantreld driven by the real sender OLA (Debian's olad, ola_patch and
ola_streaming_client) by sACN and Art-Net. OLA ignores the loopback and
refuses to run as root, so the suite makes a network namespace for the
service and another for OLA, a veth pair between them (10.77.0.1 for OLA,
10.77.0.2 for the service) with multicast routed to it, and a user of its
own for olad. No packet leaves the two namespaces."""

import os
import pwd
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "web"))
import namespace  # noqa: E402

namespace.enter(loopback_multicast=False)

from served import Service, Units, wait_for  # noqa: E402

USER = "vantrel-ola"
CONSOLE_ADDRESS = "10.77.0.1"
SERVICE_ADDRESS = "10.77.0.2"
# Every plugin but the two under test stays off: no serial port or USB
# device is probed.
OTHER_PLUGINS = ["dummy", "espnet", "ftdidmx", "gpio", "karate", "kinet", "milinst", "opendmx",
                 "openpixelcontrol", "osc", "pathport", "renard", "sandnet", "shownet", "spi",
                 "stageprofi", "uartdmx", "usbdmx", "usbserial", "dmx4linux", "nanoleaf"]


class Console:
    """olad as USER in a namespace of its own, joined to this one by a veth pair."""

    def __init__(self, directory):
        self.made_user = False
        self.peer = self.olad = None
        try:
            self._start(directory)
        except BaseException:
            self.stop()
            raise

    def _start(self, directory):
        try:
            pwd.getpwnam(USER)
        except KeyError:
            subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", USER],
                           check=True, timeout=30)
            self.made_user = True
        self.peer = namespace.Peer("vt-service", SERVICE_ADDRESS, "vt-console", CONSOLE_ADDRESS)
        namespace.run(["ip", "route", "add", "239.0.0.0/8", "dev", "vt-service"])
        namespace.run(self.inside(["ip", "route", "add", "239.0.0.0/8", "dev", "vt-console"]))
        config = os.path.join(directory, "ola")
        os.mkdir(config)
        for plugin in OTHER_PLUGINS:
            with open(os.path.join(config, "ola-%s.conf" % plugin), "w") as out:
                out.write("enabled = false\n")
        for plugin in ("e131", "artnet"):
            with open(os.path.join(config, "ola-%s.conf" % plugin), "w") as out:
                out.write("enabled = true\nip = %s\n" % CONSOLE_ADDRESS)
        user = pwd.getpwnam(USER)
        for path in (directory, config):
            os.chmod(path, 0o755)
        for name in os.listdir(config):
            os.chown(os.path.join(config, name), user.pw_uid, user.pw_gid)
        os.chown(config, user.pw_uid, user.pw_gid)
        self.olad = subprocess.Popen(self.inside(
            ["setpriv", "--reuid=%d" % user.pw_uid, "--regid=%d" % user.pw_gid, "--clear-groups",
             "olad", "-c", config, "--no-http", "--no-register-with-dns-sd", "-l", "2"]),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.devices = {}
        if not wait_for(self._found_devices, 20, 0.2):
            raise RuntimeError("olad did not show its E1.31 and Art-Net devices")

    def inside(self, command):
        return self.peer.inside(command)

    def _found_devices(self):
        answer = subprocess.run(self.inside(["ola_dev_info"]), capture_output=True, text=True, timeout=10)
        for line in answer.stdout.splitlines():
            if line.startswith("Device ") and ":" in line:
                number, name = line[len("Device "):].split(": ", 1)
                self.devices[name.split(" ")[0]] = int(number)
        return "E1.31" in self.devices and "ArtNet" in self.devices

    def patch(self, device, universe):
        subprocess.run(self.inside(["ola_patch", "-d", str(self.devices[device]), "-p", "0", "-u", str(universe)]),
                       check=True, timeout=10)

    def stream(self, universe):
        """ola_streaming_client for `universe`: each line written is a frame."""
        return subprocess.Popen(self.inside(["ola_streaming_client", "-u", str(universe)]),
                                stdin=subprocess.PIPE, text=True)

    def stop(self):
        """Ends what was started, however far the start got."""
        if self.olad:
            self.olad.send_signal(signal.SIGTERM)
            self.olad.wait(10)
        if self.peer:
            self.peer.stop()
        if self.made_user:
            subprocess.run(["userdel", USER], timeout=30)


class Ola(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Cleanups run even when a step here fails, so that nothing started
        # outlives the suite.
        cls.directory = tempfile.mkdtemp(prefix="vantrel-ola-")
        cls.addClassCleanup(shutil.rmtree, cls.directory, ignore_errors=True)
        cls.console = Console(cls.directory)
        cls.addClassCleanup(cls.console.stop)
        cls.units = Units(2)
        cls.addClassCleanup(cls.units.stop)
        text = "".join('[units.%s]\naddress = "127.0.0.1"\nport = %d\ntype = 1\n%s\n' % (name, port, key)
                       for name, port, key in zip(["a", "b"], cls.units.ports,
                                                  ['sacn = "1/1"', 'artnet = "0:0:3/2"']))
        text += '[sacn]\nlisten = "%s"\non_loss = "off"\n\n[artnet]\n' % SERVICE_ADDRESS
        cls.service = Service(cls.directory, text)
        cls.log = []
        threading.Thread(target=lambda: cls.log.extend(line.rstrip("\n") for line in cls.service.process.stdout),
                         daemon=True).start()
        # Patched once the service listens: OLA polls for Art-Net nodes as it
        # patches a port.
        cls.console.patch("E1.31", 1)
        cls.console.patch("ArtNet", 3)

    @classmethod
    def tearDownClass(cls):
        status = cls.service.stop()
        assert status == (0, ""), status

    def sent(self):
        return [self.units.levels(port) for port in self.units.ports]

    def test_sacn_levels_then_the_loss_of_the_console_turns_its_units_off(self):
        stream = self.console.stream(1)
        stream.stdin.write("10,20\n")
        stream.stdin.flush()
        self.assertTrue(wait_for(lambda: self.sent()[0][:1] == [10], 10), self.sent())
        # OLA sends on a change only: 2.5 s later the source is lost.
        self.assertTrue(wait_for(lambda: self.sent()[0] == [10, 0], 10), self.sent())
        self.assertTrue(any(line.startswith("vantreld: sacn: source found: %s cid " % CONSOLE_ADDRESS) and
                            line.endswith(" priority 100 on universe 1") for line in self.log), self.log)
        self.assertIn("vantreld: sacn: universe 1 has no source left: on_loss off: its units set to 0", self.log)
        stream.stdin.write("30,20\n")
        stream.stdin.flush()
        self.assertTrue(wait_for(lambda: self.sent()[0][:3] == [10, 0, 30], 10), self.sent())
        stream.stdin.close()
        stream.wait(10)

    def test_artnet_finds_the_node_by_art_poll_and_sends_it_levels(self):
        stream = self.console.stream(3)
        # OLA sends ArtDmx only to the nodes that answered its ArtPoll with
        # the port-address: a level that arrives shows that the reply did.
        def frame_arrived():
            stream.stdin.write("0,77\n")
            stream.stdin.flush()
            return self.sent()[1] == [77]
        self.assertTrue(wait_for(frame_arrived, 30, 0.5), self.sent())
        self.assertIn("vantreld: artnet: source found: %s on port-address 3" % CONSOLE_ADDRESS, self.log)
        stream.stdin.close()
        stream.wait(10)


if __name__ == "__main__":
    unittest.main()
