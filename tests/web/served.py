"""vantrel-sim and vantreld as child processes on free loopback ports, for
the control page's suites (run by /usr/bin/python3, which has selenium)."""

import http.client
import json
import os
import signal
import socket
import subprocess
import threading
import time

VANTRELD = os.environ.get("VANTRELD", "vantreld")
VANTREL_SIM = os.environ.get("VANTREL_SIM", "vantrel-sim")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for(condition, seconds=10.0, step=0.05):
    """Whether condition() came true within `seconds`."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


class Units:
    """vantrel-sim serving `count` units; `levels(port)` are the levels each
    unit was sent, in order."""

    def __init__(self, count=1, reply=None):
        args = [VANTREL_SIM, "--port", "0", "--units", str(count)]
        if reply:
            args += ["--reply", reply]
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
        self.ports = [int(self.process.stdout.readline()) for _ in range(count)]
        self.lines = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.append(line)

    def levels(self, port):
        prefix = "%d: " % port if len(self.ports) > 1 else ""
        found = []
        for line in list(self.lines):
            if line.startswith(prefix) and ", level " in line:
                found.append(int(line.split(", level ")[1].split(")")[0]))
        return found

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(10)
            self.reader.join(10)
            self.process.stdout.close()


class Broker:
    """Debian's mosquitto on a free loopback port, and its command-line
    clients to talk through it."""

    def __init__(self, directory):
        self.port = free_port()
        config = os.path.join(directory, "mosquitto.conf")
        with open(config, "w") as out:
            out.write("listener %d 127.0.0.1\nallow_anonymous true\nset_tcp_nodelay true\n" % self.port)
        self.process = subprocess.Popen(["/usr/sbin/mosquitto", "-c", config],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def listening():
            with socket.socket() as probe:
                return probe.connect_ex(("127.0.0.1", self.port)) == 0
        if not wait_for(listening):
            raise RuntimeError("mosquitto did not start")

    def table(self):
        return '\n[mqtt]\nhost = "127.0.0.1"\nport = %d\ndiscovery_prefix = ""\n' % self.port

    def retained(self, topic):
        """The message retained on `topic`, or "" when none came within 10 s."""
        answer = subprocess.run(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(self.port), "-t", topic,
                                 "-C", "1", "-W", "10", "--retained-only"],
                                stdout=subprocess.PIPE, text=True, timeout=20)
        return answer.stdout.strip()

    def publish(self, topic, payload):
        subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(self.port), "-t", topic, "-m", payload],
                       check=True, timeout=10)

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


def units_table(names_and_ports):
    return "".join('[units.%s]\naddress = "127.0.0.1"\nport = %d\ntype = 1\n\n' % item
                   for item in names_and_ports)


class Service:
    """vantreld with the units file `text` plus a [web] table listening on a
    free port; start() waits until it serves."""

    def __init__(self, directory, text, web="", port=None, levels=None, boot_id=None):
        self.port = port or free_port()
        # The file the service reads this boot's id from, rather than the machine's.
        self.boot_id = boot_id
        self.config = os.path.join(directory, "vantrel.toml")
        self.levels = levels or os.path.join(directory, "levels")
        with open(self.config, "w") as out:
            out.write(text + '\n[web]\nlisten = "127.0.0.1:%d"\n%s' % (self.port, web))
        self.process = None
        self.start()

    def start(self):
        self.process = subprocess.Popen([VANTRELD, "--config", self.config, "--verbose"],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                        env=self.environment())
        # The MQTT front end's thread may say that it connected before main
        # says that it serves; nothing but the end of the output comes when
        # vantreld exits, and only then is its standard error whole.
        line = self.process.stdout.readline()
        while line and not line.startswith("vantreld: serving"):
            line = self.process.stdout.readline()
        if not line:
            raise RuntimeError("vantreld did not start: " + self.process.stderr.read())

    def environment(self):
        environment = dict(os.environ, VANTREL_STATE=self.levels,
                           VANTREL_SOCKET=os.path.join(os.path.dirname(self.config), "vantreld.sock"))
        if self.boot_id:
            environment["VANTREL_BOOT_ID_FILE"] = self.boot_id
        return environment

    def stop(self):
        """Stops it with SIGTERM; its exit status and standard error."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        status = self.process.wait(10)
        error = self.process.stderr.read()
        self.process.stdout.close()
        self.process.stderr.close()
        return status, error

    def url(self, path=""):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def request(self, method, path, body=None, headers=None):
        """(status, headers, body as text) of one request on a connection of its own."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        try:
            all_headers = {"Content-Type": "application/json"} if body is not None else {}
            all_headers.update(headers or {})
            connection.request(method, path, body=body, headers=all_headers)
            answer = connection.getresponse()
            return answer.status, answer.headers, answer.read().decode()
        finally:
            connection.close()

    def state(self):
        """/api/state, read."""
        return json.loads(self.request("GET", "/api/state")[2])

    def command(self, kind, name, fields):
        return self.request("POST", "/api/%s/%s" % (kind, name), json.dumps(fields))[0]
