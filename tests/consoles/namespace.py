"""Runs a suite inside a network namespace of its own (unshare -n), so that
no multicast, broadcast or console packet ever leaves the machine. Where
namespaces are not allowed the suite is skipped with the reason (status 77,
which ctest shows as skipped), except under CI, which must run it."""

import os
import subprocess
import sys
import time

SKIPPED = 77
MARK = "VANTREL_IN_NAMESPACE"


def why_not():
    """Why this machine cannot make a network namespace, or ""."""
    if os.geteuid() != 0:
        return "making network namespaces and veth pairs needs root"
    try:
        subprocess.run(["unshare", "-n", "true"], check=True, capture_output=True, timeout=10)
    except (OSError, subprocess.SubprocessError) as error:
        return "unshare -n is not allowed here: %s" % error
    return ""


def enter(loopback_multicast=True):
    """Re-runs this script inside a new network namespace, and exits with its
    status; inside it, brings the loopback up (with multicast routed to it
    when asked) and returns."""
    if os.environ.get(MARK):
        run(["ip", "link", "set", "lo", "up"])
        if loopback_multicast:
            run(["ip", "link", "set", "lo", "multicast", "on"])
            run(["ip", "route", "add", "239.0.0.0/8", "dev", "lo"])
        return
    reason = why_not()
    if reason:
        if os.environ.get("CI"):
            print("FAILED: CI must run this suite, but %s" % reason)
            sys.exit(1)
        print("SKIPPED: %s" % reason)
        sys.exit(SKIPPED)
    status = subprocess.run(["unshare", "-n", sys.executable] + sys.argv,
                            env=dict(os.environ, **{MARK: "1"})).returncode
    sys.exit(status)


def run(args):
    subprocess.run(args, check=True, timeout=30)


class Peer:
    """A second network namespace, held by a sleeping process, joined to this
    one by a veth pair: `here` (this side's interface) with `address`, and
    `there` in the peer with `peer_address`, both /24 and up."""

    def __init__(self, here, address, there, peer_address):
        self.here = here
        self.holder = subprocess.Popen(["unshare", "-n", "sleep", "600"])
        try:
            deadline = time.monotonic() + 10
            while (os.readlink("/proc/%d/ns/net" % self.holder.pid) == os.readlink("/proc/self/ns/net") and
                   time.monotonic() < deadline):
                time.sleep(0.02)
            run(["ip", "link", "add", here, "type", "veth", "peer", "name", there, "netns", str(self.holder.pid)])
            run(["ip", "addr", "add", address + "/24", "brd", "+", "dev", here])
            run(["ip", "link", "set", here, "up"])
            for command in (["ip", "link", "set", "lo", "up"],
                            ["ip", "addr", "add", peer_address + "/24", "brd", "+", "dev", there],
                            ["ip", "link", "set", there, "up"]):
                run(self.inside(command))
        except BaseException:
            self.stop()
            raise

    def inside(self, command):
        """`command` run in the peer's namespace."""
        return ["nsenter", "-t", str(self.holder.pid), "-n"] + command

    def stop(self):
        """Ends the pair and the peer."""
        subprocess.run(["ip", "link", "del", self.here], stderr=subprocess.DEVNULL, timeout=30)
        self.holder.kill()
        self.holder.wait(10)
