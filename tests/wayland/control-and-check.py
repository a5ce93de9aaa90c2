#!/usr/bin/env python3
"""The control channel and --check of the program on a Wayland compositor.

    control-and-check.py PRUVEX

Run under run-under-weston.sh --scale=2: every reply comes (the round trip
to the compositor returns), full screen covers the 2048 x 1280 output in
device pixels (pitch 156), --check says what it cannot verify there and
passes the whole output scale."""
import json
import os
import subprocess
import sys

program = sys.argv[1]
environment = dict(os.environ, QT_QPA_PLATFORM="wayland")
failures = 0


def check(ok, what):
    global failures
    print(("ok: " if ok else "FAIL: ") + what, flush=True)
    failures += 0 if ok else 1


pruvex = subprocess.Popen([program, "--control"], stdin=subprocess.PIPE,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          text=True, env=environment)


def command(line):
    pruvex.stdin.write(line + "\n")
    pruvex.stdin.flush()
    return json.loads(pruvex.stdout.readline())


reply = command("grid")
check(reply["ok"] and reply["pitch"] == 126, "grid at 776 x 520 logical, pitch 126: %s" % reply)
reply = command("fullscreen")
check(reply["ok"] and reply["fullscreen"] and reply["pitch"] == 156,
      "full screen on 2048 x 1280 device pixels, pitch 156: %s" % reply)
reply = command("window")
check(reply["ok"] and not reply["fullscreen"] and reply["pitch"] == 126,
      "back in the window, pitch 126: %s" % reply)
reply = command("level 100")
check(reply["ok"] and abs(reply["refresh_hz"] - 60) < 0.5 and reply["settle_ms"] == 20
      and 0 < reply["shown_ms"] <= reply["ms"] - 19.5,
      "the reply waits for the compositor's frame and the settle time: %s" % reply)
reply = command("check")
results = {c["name"]: c["result"] for c in reply["checks"]}
check(reply["verdict"] == "UNVERIFIED" and results.get("platform") == "UNVERIFIED"
      and results.get("output scale") == "PASS" and results.get("frame timing") == "PASS",
      "check on Wayland, frame timing from the presentation feedback: %s" % results)
reply = command("quit")
check(reply["ok"] and pruvex.wait(timeout=10) == 0, "quit ends with status 0")

report = subprocess.run([program, "--check"], capture_output=True, text=True,
                        env=environment, timeout=60)
check(report.returncode == 2 and "\nverdict: UNVERIFIED" in report.stdout,
      "--check exits 2 with the verdict last:\n" + report.stdout)
print("%d failed" % failures)
sys.exit(1 if failures else 0)
