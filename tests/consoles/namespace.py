"""Runs a suite inside a network namespace of its own (unshare -n), so that
no multicast, broadcast or console packet ever leaves the machine. Where
namespaces are not allowed the suite is skipped with the reason (status 77,
which ctest shows as skipped), except under CI, which must run it."""

import os
import subprocess
import sys

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
