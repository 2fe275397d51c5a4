"""The control page's API and its safety rules, as plain HTTP against
vantreld and simulated units on 127.0.0.1."""

import base64
import http.client
import json
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from served import VANTRELD, Service, Units, free_port, units_table, wait_for

SCENE = '\n[groups]\nshelves = ["a", "b"]\n\n[scenes.open]\na = 255\nb = 10\n'


def basic(user, password):
    return {"Authorization": "Basic " + base64.b64encode(("%s:%s" % (user, password)).encode()).decode()}


def raw(port, text, timeout=5.0, source="127.0.0.1"):
    """A connection from the loopback address `source` that has sent `text`."""
    client = socket.create_connection(("127.0.0.1", port), timeout=timeout, source_address=(source, 0))
    client.sendall(text.encode())
    return client


def source(index):
    """The address of the index-th of many connections: one address holds 16 places at most."""
    return "127.0.0.%d" % (10 + index // 16)


def ends(client, seconds):
    """Whether the server ends the connection within `seconds`, whatever it sent before."""
    client.settimeout(seconds)
    try:
        while client.recv(4096):
            pass
    except socket.timeout:
        return False
    except ConnectionResetError:
        pass
    return True


def status_line(client):
    """The first line of the answer, or "" when the server closed or said nothing."""
    got = b""
    try:
        while b"\r\n" not in got:
            piece = client.recv(4096)
            if not piece:
                break
            got += piece
    except (socket.timeout, ConnectionResetError):
        pass
    return got.split(b"\r\n")[0].decode()


class Fixture(unittest.TestCase):
    web = ""
    trims = ""  # unit a's curve and trims

    @classmethod
    def setUpClass(cls):
        cls.directory = tempfile.mkdtemp(prefix="vantrel-http-")
        cls.units = Units(2)
        cls.text = units_table(zip(["a", "b"], cls.units.ports)).replace("type = 1\n", "type = 1\n" + cls.trims, 1) + SCENE
        cls.service = Service(cls.directory, cls.text, cls.prepare())

    @classmethod
    def prepare(cls):
        return cls.web

    @classmethod
    def tearDownClass(cls):
        status, error = cls.service.stop()
        cls.units.stop()
        shutil.rmtree(cls.directory, ignore_errors=True)
        assert status == 0, error


    def sent(self):
        return [self.units.levels(port) for port in self.units.ports]


class Api(Fixture):
    def test_api_state_commands_and_events(self):
        get = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % self.service.port
        stream = raw(self.service.port, get)
        status, headers, body = self.service.request("GET", "/api/state")
        self.assertEqual(status, 200)
        self.assertEqual(headers["Cache-Control"], "no-store")
        self.assertEqual(json.loads(body), {
            "units": [{"name": "a", "type": 1, "level": None, "sent": None, "last_on": None, "problem": None},
                      {"name": "b", "type": 1, "level": None, "sent": None, "last_on": None, "problem": None}],
            "groups": [{"name": "shelves", "members": ["a", "b"], "level": None}],
            "scenes": ["open"],
            "saved_scenes": [],
            "levels_file": {"remembered": True}})
        status, _, body = self.service.request("POST", "/api/units/a", '{"brightness": 7}')
        self.assertEqual((status, json.loads(body)), (202, {"accepted": True}))
        self.assertEqual(self.service.command("scenes", "open", {"transition": 0}), 202)
        self.assertTrue(wait_for(lambda: self.sent() == [[7, 255], [10]]), self.sent())
        # Saved scenes: the answers, and the state that lists them beside the file's.
        save = lambda body: self.service.request("POST", "/api/scenes", body)
        status, _, body = save('{"save": "calm", "units": ["shelves"]}')
        self.assertEqual((status, json.loads(body)), (200, {"saved": "calm", "units": 2, "left_out": []}))
        status, _, body = save('{"save": "open"}')
        self.assertEqual(status, 409)
        self.assertRegex(json.loads(body)["error"], r"^/\S+\.toml:\d+: scene 'open' is written in the units file")
        for bad in ('{"save": "x", "remove": "y"}', '{"save": "Bad Name"}', '{"remove": "nothing"}', "[]"):
            status, _, body = save(bad)
            self.assertEqual(status, 400, bad)
            self.assertEqual(list(json.loads(body)), ["error"])
        _, _, body = self.service.request("GET", "/api/state")
        self.assertEqual((json.loads(body)["scenes"], json.loads(body)["saved_scenes"]), (["open", "calm"], ["calm"]))
        status, _, body = save('{"remove": "calm"}')
        self.assertEqual((status, json.loads(body)), (200, {"removed": "calm"}))
        self.assertEqual(self.sent(), [[7, 255], [10]])
        got = b""
        while got.count(b"event: group") < 2:
            got += stream.recv(65536)
        stream.close()
        self.assertIn(b"HTTP/1.1 200 OK\r\n", got)
        self.assertIn(b"Content-Type: text/event-stream\r\n", got)
        self.assertIn(b'event: state\ndata: {"units":[{"name":"a","type":1,"level":null,', got.replace(b"\r\n", b"\n"))
        # The scene may replace a's command before it ends: its level, not its end, is sure to come.
        self.assertIn(b'event: unit\ndata: {"name":"a","type":1,"level":7,"sent":7,', got.replace(b"\r\n", b"\n"))

    def test_refusals_send_nothing(self):
        before = self.sent()
        cases = [
            ("POST", "/api/units/a", '{"brightness": 256}', {},
             400, {"error": "brightness must be a whole number from 0 to 255"}),
            ("POST", "/api/units/a", "not json", {}, 400, {"error": "not valid JSON"}),
            ("POST", "/api/units/nobody", "{}", {}, 404, None),
            ("POST", "/api/groups/nobody", "{}", {}, 404, None),
            ("POST", "/api/scenes/nobody", "{}", {}, 404, None),
            ("GET", "/api/units/a", None, {}, 405, None),
            ("PUT", "/api/state", None, {}, 405, None),
            ("POST", "/api/units/a", '{"brightness": 1}', {"Content-Type": "text/plain"}, 415, None),
            ("POST", "/api/units/a", '{"brightness": 1}', {"Origin": "http://example.com"}, 403, None),
            ("POST", "/api/units/a", '{"brightness": 1}', {"Origin": "null"}, 403, None),
            ("POST", "/api/units/a", '{"brightness": 1}' + " " * 4096, {}, 413, None),
            ("GET", "/api/state?" + "x" * 2048, None, {}, 414, None),
            ("GET", "/nothing", None, {}, 404, None),
        ]
        for method, path, body, headers, status, error in cases:
            got, answer_headers, text = self.service.request(method, path, body, headers)
            self.assertEqual(got, status, (method, path[:40], headers))
            if error:
                self.assertEqual(json.loads(text), error)
            self.assertNotIn("Access-Control-Allow-Origin", answer_headers)
        own = {"Origin": self.service.url()}
        self.assertEqual(self.service.request("POST", "/api/units/b", '{"brightness": 3}', own)[0], 202)
        self.assertTrue(wait_for(lambda: self.sent() == [before[0], before[1] + [3]]), self.sent())

    def test_the_page_and_its_headers(self):
        total = 0
        for path, kind in (("/", "text/html"), ("/page.css", "text/css"), ("/page.js", "text/javascript"),
                           ("/favicon.svg", "image/svg+xml")):
            status, headers, body = self.service.request("GET", path)
            self.assertEqual(status, 200)
            self.assertTrue(headers["Content-Type"].startswith(kind))
            policy = headers["Content-Security-Policy"]
            self.assertIn("default-src 'self'", policy)
            self.assertIn("frame-ancestors 'none'", policy)
            self.assertNotIn("unsafe-inline", policy)
            self.assertEqual(headers["X-Content-Type-Options"], "nosniff")
            self.assertEqual(headers["Referrer-Policy"], "no-referrer")
            total += len(body.encode())
        self.assertLess(total, 50 * 1024)

    def test_only_loopback_names_without_a_password(self):
        port = self.service.port
        for host, status in (("localhost:%d" % port, 200), ("127.0.0.1:%d" % port, 200),
                             ("[::1]:%d" % port, 200), ("localhost", 200), ("evil.example:%d" % port, 421),
                             ("127.0.0.1:%d" % (port + 1), 421), ("localhost.evil.example", 421)):
            self.assertEqual(self.service.request("GET", "/api/state", headers={"Host": host})[0], status, host)
        before = self.sent()
        self.assertEqual(self.service.request("POST", "/api/units/a", '{"brightness": 1}',
                                              {"Host": "evil.example:%d" % port})[0], 421)
        self.assertEqual(self.sent(), before)



class Curve(Fixture):
    """A unit's level and the byte it was sent as, side by side."""
    trims = "curve = 2.2\n"

    def test_the_state_and_events_give_the_level_and_its_byte(self):
        get = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % self.service.port
        stream = raw(self.service.port, get)
        self.assertEqual(self.service.command("units", "a", {"brightness": 128}), 202)
        self.assertTrue(wait_for(lambda: self.sent()[0] == [56]), self.sent())
        got = b""
        while b'"sent":56' not in got:
            got += stream.recv(65536)
        stream.close()
        self.assertIn(b'event: unit\ndata: {"name":"a","type":1,"level":128,"sent":56,', got.replace(b"\r\n", b"\n"))
        _, _, body = self.service.request("GET", "/api/state")
        unit = json.loads(body)["units"][0]
        self.assertEqual((unit["level"], unit["sent"], unit["last_on"]), (128, 56, 128))

class Title(Fixture):
    web = 'title = "Tom\'s <b>&amp; \\"lights\\""\n'

    def test_the_page_comes_with_the_title_as_text(self):
        _, _, body = self.service.request("GET", "/")
        escaped = "Tom&#39;s &lt;b&gt;&amp;amp; &quot;lights&quot;"
        self.assertIn("<title>%s</title>" % escaped, body)
        self.assertIn('<h1 id="title">%s</h1>' % escaped, body)
        self.assertNotIn("Vantrel lights", body)


class Limits(Fixture):
    # A service for each case: the places a case leaves are freed only in time.
    def setUp(self):
        self.directory = tempfile.mkdtemp(prefix="vantrel-http-")
        self.service = Service(self.directory, self.text)

    def tearDown(self):
        status, error = self.service.stop()
        shutil.rmtree(self.directory, ignore_errors=True)
        self.assertEqual((status, error), (0, ""))

    def request_line(self, path="/api/state"):
        return "GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n" % (path, self.service.port)

    def test_half_sent_requests_delay_no_other_client(self):
        half = [raw(self.service.port, self.request_line(), source=source(i)) for i in range(63)]
        began = time.monotonic()
        self.assertEqual(self.service.request("GET", "/api/state")[0], 200)
        self.assertLess(time.monotonic() - began, 2.0)
        for client in half:
            client.close()

    def test_64_connections_and_32_streams(self):
        streams = [raw(self.service.port, self.request_line("/api/events") + "\r\n", source=source(i))
                   for i in range(32)]
        self.assertEqual({status_line(stream) for stream in streams}, {"HTTP/1.1 200 OK"})
        extra = raw(self.service.port, self.request_line("/api/events") + "\r\n", source=source(32))
        self.assertEqual(status_line(extra), "HTTP/1.1 503 Service Unavailable")
        # Full, it gives the place back rather than keep the connection alive.
        self.assertTrue(ends(extra, 2.0))
        extra.close()
        idle = [raw(self.service.port, "", source=source(32 + i)) for i in range(32)]
        time.sleep(0.2)
        over = raw(self.service.port, self.request_line() + "\r\n", timeout=1.0)
        self.assertEqual(status_line(over), "")
        over.close()
        for client in idle + streams:
            client.close()
        self.assertTrue(wait_for(lambda: self.service.request("GET", "/api/state")[0] == 200, 5))

    def test_half_sent_and_trickling_requests_are_dropped_and_a_lost_stream_frees_its_place(self):
        half = raw(self.service.port, self.request_line(), timeout=40)
        # A header line every 2 s: never silent for the server's time-out.
        trickler = raw(self.service.port, self.request_line(), timeout=40, source="127.0.0.2")
        began = time.monotonic()
        dropped = []

        def trickle():
            try:
                for line in range(25):
                    trickler.sendall(b"X-Line: %d\r\n" % line)
                    time.sleep(2)
            except OSError:
                pass

        def wait_end():
            if ends(trickler, 45):
                dropped.append(time.monotonic() - began)
        threads = [threading.Thread(target=trickle, daemon=True), threading.Thread(target=wait_end, daemon=True)]
        for thread in threads:
            thread.start()
        streams = [raw(self.service.port, self.request_line("/api/events") + "\r\n", source=source(i))
                   for i in range(32)]
        self.assertEqual({status_line(stream) for stream in streams}, {"HTTP/1.1 200 OK"})
        streams.pop().close()
        self.assertEqual(half.recv(100), b"")
        self.assertLess(time.monotonic() - began, 35)
        threads[1].join(15)
        trickler.close()
        self.assertEqual(len(dropped), 1, "the trickling request was never dropped")
        self.assertGreater(dropped[0], 28)
        self.assertLess(dropped[0], 33)

        def place_free():
            client = raw(self.service.port, self.request_line("/api/events") + "\r\n", source=source(31))
            streams.append(client)
            return status_line(client) == "HTTP/1.1 200 OK"
        self.assertTrue(wait_for(place_free, 35, 1.0))
        for client in streams:
            client.close()

    def test_one_address_holds_16_places_and_another_gets_in_at_once(self):
        before = self.sockets()
        port = self.service.port
        streams = [raw(port, self.request_line("/api/events") + "\r\n", source="127.0.0.2") for _ in range(32)]
        half = [raw(port, self.request_line(), source="127.0.0.2") for _ in range(48)]
        answered = [status_line(stream) for stream in streams]
        self.assertEqual(answered.count("HTTP/1.1 200 OK"), 16)
        self.assertTrue(wait_for(lambda: self.sockets() == before + 16, 5), self.sockets() - before)
        began = time.monotonic()
        self.assertEqual(self.service.request("GET", "/api/state")[0], 200)
        self.assertLess(time.monotonic() - began, 2.0)
        own = raw(port, self.request_line("/api/events") + "\r\n")
        self.assertEqual(status_line(own), "HTTP/1.1 200 OK")
        for client in streams + half + [own]:
            client.close()


    def sockets(self):
        """How many sockets vantreld holds."""
        folder = "/proc/%d/fd" % self.service.process.pid
        count = 0
        for entry in os.listdir(folder):
            try:
                count += os.readlink(os.path.join(folder, entry)).startswith("socket:")
            except OSError:
                pass
        return count

    def test_a_flood_that_ends_frees_its_places_at_once(self):
        # More clients than places: the service holds 64, the rest wait in
        # the listen queue, where each sends half a request and its end
        # before the service accepts it.
        before = self.sockets()
        flood = []
        for index in range(123):
            client = socket.socket()
            client.bind((source(index), 0))
            client.setblocking(False)
            client.connect_ex(("127.0.0.1", self.service.port))
            flood.append(client)
        self.assertTrue(wait_for(lambda: self.sockets() == before + 64, 5), self.sockets() - before)
        for client in flood:
            try:
                client.send(self.request_line().encode())
            except OSError:
                pass  # not yet through the queue
            client.close()
        self.assertTrue(wait_for(lambda: self.sockets() == before, 1.0), self.sockets() - before)
        streams = [raw(self.service.port, self.request_line("/api/events") + "\r\n", source=source(i))
                   for i in range(32)]
        self.assertEqual([status_line(stream) for stream in streams], ["HTTP/1.1 200 OK"] * 32)
        for client in streams:
            client.close()


class Password(Fixture):
    @classmethod
    def prepare(cls):
        path = os.path.join(cls.directory, "password")
        with open(path, "w") as out:
            out.write("s3cret:word\n")
        os.chmod(path, 0o600)
        return 'password_file = "%s"\n' % path

    def test_password_then_429_after_ten_wrong_ones(self):
        def status(headers):
            return self.service.request("GET", "/api/state", headers=headers)[0]
        _, headers, _ = self.service.request("GET", "/")
        self.assertEqual(headers["WWW-Authenticate"], 'Basic realm="vantreld"')
        for _ in range(20):
            self.assertEqual(status({}), 401)  # how a browser asks: not counted
        self.assertEqual(status(basic("anyone", "s3cret:word")), 200)
        # Any Host, as the password guards it.
        self.assertEqual(status(dict(basic("ann", "s3cret:word"), Host="lights.example")), 200)
        for _ in range(9):
            self.assertEqual(status(basic("ann", "wrong")), 401)
        self.assertEqual(status(basic("ann", "s3cret:wor")), 401)  # the tenth
        self.assertEqual(status(basic("ann", "wrong")), 429)
        self.assertEqual(status(basic("ann", "s3cret:word")), 429)
        self.assertEqual(status({}), 429)
        exit_status, error = self.service.stop()
        self.service.start()
        self.assertEqual(exit_status, 0)
        self.assertEqual(error.count("wrong password from 127.0.0.1\n"), 10)
        self.assertIn("127.0.0.1 refused for a minute", error)
        self.assertNotIn("wrong\n", error.replace("wrong password", ""))
        self.assertNotIn("s3cret", error)


class Tls(Fixture):
    @classmethod
    def prepare(cls):
        cls.certificate = os.path.join(cls.directory, "web.crt")
        key = os.path.join(cls.directory, "web.key")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                        "-out", cls.certificate, "-days", "1", "-subj", "/CN=localhost",
                        "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"],
                       check=True, capture_output=True)
        return 'tls_cert_file = "%s"\ntls_key_file = "%s"\n' % (cls.certificate, key)

    def test_https_with_the_certificate(self):
        context = ssl.create_default_context(cafile=self.certificate)
        connection = http.client.HTTPSConnection("127.0.0.1", self.service.port, context=context, timeout=10)
        origin = {"Origin": "https://127.0.0.1:%d" % self.service.port, "Content-Type": "application/json"}
        connection.request("POST", "/api/units/b", body='{"brightness": 9}', headers=origin)
        self.assertEqual(connection.getresponse().status, 202)
        connection.close()
        self.assertTrue(wait_for(lambda: self.units.levels(self.units.ports[1]) == [9]))
        # Plain HTTP on the TLS port gets no answer.
        plain = raw(self.service.port, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        self.assertFalse(status_line(plain).startswith("HTTP/1.1 200"))
        plain.close()


class Start(unittest.TestCase):
    def test_a_port_taken_is_one_line_and_status_1_and_sends_nothing(self):
        directory = tempfile.mkdtemp(prefix="vantrel-http-")
        units = Units(1)
        holder = socket.socket()
        holder.bind(("127.0.0.1", 0))
        holder.listen(1)
        port = holder.getsockname()[1]
        config = os.path.join(directory, "vantrel.toml")
        with open(config, "w") as out:
            out.write(units_table([("a", units.ports[0])]) + '[web]\nlisten = "127.0.0.1:%d"\n' % port)
        run = subprocess.run([VANTRELD, "--config", config], capture_output=True, text=True, timeout=10,
                             env=dict(os.environ, VANTREL_STATE=os.path.join(directory, "levels"),
                                      VANTREL_SOCKET=os.path.join(directory, "vantreld.sock")))
        holder.close()
        units.stop()
        shutil.rmtree(directory, ignore_errors=True)
        self.assertEqual((run.returncode, run.stdout), (1, ""))
        self.assertEqual(run.stderr, "vantreld: cannot listen on 127.0.0.1:%d: Address already in use\n" % port)
        self.assertEqual(units.levels(units.ports[0]), [])


class LevelsFile(unittest.TestCase):
    def test_levels_confirmed_while_the_file_fails_are_written_once_it_can_be(self):
        # A regular file where the levels' directory should be stops root too.
        directory = tempfile.mkdtemp(prefix="vantrel-http-")
        blocked = os.path.join(directory, "state")
        levels = os.path.join(blocked, "levels")
        with open(blocked, "w") as out:
            out.write("not a directory\n")
        units = Units(2)
        service = Service(directory, units_table(zip(["a", "b"], units.ports)), levels=levels)
        try:
            stream = raw(service.port, "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            self.assertEqual(service.command("units", "a", {"brightness": 80}), 202)
            self.assertEqual(service.command("units", "b", {"brightness": 90}), 202)
            self.assertTrue(wait_for(lambda: [units.levels(p) for p in units.ports] == [[80], [90]]))
            problem = "cannot lock %s.lock: Not a directory" % levels
            state = lambda: json.loads(service.request("GET", "/api/state")[2])["levels_file"]
            self.assertTrue(wait_for(lambda: state() == {"remembered": False, "problem": problem}), state())
            os.remove(blocked)
            os.mkdir(blocked)
            # No new command: the writer's own next try writes both.
            self.assertTrue(wait_for(lambda: state() == {"remembered": True}), state())
            with open(levels) as written:
                lines = [line.split() for line in written if not line.startswith("#")]
            self.assertEqual(sorted((int(port), int(level)) for _, port, _, level, _, _ in lines),
                             sorted(zip(units.ports, [80, 90])))
            got = b""
            while got.count(b"event: levels_file") < 2:
                got += stream.recv(65536)
            stream.close()
            got = got.replace(b"\r\n", b"\n")
            self.assertIn(('event: levels_file\ndata: {"remembered":false,"problem":"%s"}\n' % problem).encode(), got)
            self.assertIn(b'event: levels_file\ndata: {"remembered":true}\n', got)
        finally:
            status, error = service.stop()
            units.stop()
            shutil.rmtree(directory, ignore_errors=True)
        self.assertEqual(status, 0)
        self.assertEqual(error, "vantreld: %s: cannot read: Not a directory\n"  # at the start
                                "vantreld: %s.boot.new: cannot create: Not a directory: the next start counts as a boot\n"
                                "vantreld: cannot remember the levels in %s: %s\n"
                                "vantreld: the levels are remembered in %s again\n" % (levels, levels, levels, problem, levels))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
