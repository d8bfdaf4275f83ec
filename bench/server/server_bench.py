#!/usr/bin/env python3
"""The server program as a user runs it, on the offscreen platform with simulated cards.

    bench/server/server_bench.py BUILD startup   exec to four running camera windows, three times
    bench/server/server_bench.py BUILD preview   sixteen cameras recording with their windows
                                                 shown, then minimised: CPU share of one core
                                                 and what the preview adds

BUILD is a build folder (build-release from scripts/run-demo.sh). Everything goes to a scratch
folder; the user's settings and archive are never touched."""
import os
import shutil
import subprocess
import sys
import tempfile
import time


def main():
    build, mode = sys.argv[1], sys.argv[2]
    base = tempfile.mkdtemp(prefix="halvard-server-bench-")
    env = dict(os.environ, HALVARD_REGISTRY=base + "/registry.db", HALVARD_DATA=base + "/data/",
               XDG_CONFIG_HOME=base + "/config", HALVARD_SYSTEM_CHANGES="off", QT_QPA_PLATFORM="offscreen",
               ASAN_OPTIONS="detect_leaks=0")
    subprocess.run([build + "/bin/halvard-regsvr"] +
                   [build + "/lib/lib%s.so" % n for n in ("ZelSplitter", "ZelMotion", "ZelHDSimulation")],
                   env=env, stdout=subprocess.DEVNULL, check=True)
    reg = build + "/bin/halvard-reg"

    def run(cards, seconds, minimise):
        env["HALVARD_SIMULATED_CARDS"] = str(cards)
        if minimise is not None:
            for c in range(cards):
                for i in range(4):
                    key = ("HKLM\\Software\\Tesmark\\Halvard Surveillance Server\\Camera Group\\"
                           "BT878 Capture %d\\Input %d" % (c, i))
                    subprocess.run([reg, "set", key, "Privacy Minimize Window", "dword", str(minimise)], env=env,
                                   stdout=subprocess.DEVNULL)
        t0 = time.monotonic()
        p = subprocess.Popen([build + "/bin/Halvard"], env=env, stderr=subprocess.PIPE, text=True)
        started = None
        for line in p.stderr:
            if "started;" in line:  # the start-up's last step, after every group started
                started = time.monotonic() - t0
                break

        def cpu():
            fields = open("/proc/%d/stat" % p.pid).read().rsplit(")", 1)[1].split()
            return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

        time.sleep(3)
        c0, w0 = cpu(), time.monotonic()
        time.sleep(seconds)
        c1, w1 = cpu(), time.monotonic()
        p.terminate()
        p.wait()
        return started, (c1 - c0) / (w1 - w0)

    try:
        if mode == "startup":
            for _ in range(3):
                started, _ = run(1, 0, None)
                print("start-up to four running camera windows: %.3f s" % started)
        else:
            run(4, 0, 0)  # the first start writes the groups
            _, shown = run(4, 20, 0)
            _, minimised = run(4, 20, 1)
            print("16 cameras shown: %.1f%% of one core; minimised: %.1f%%; preview adds %.1f%% of one core"
                  % (shown * 100, minimised * 100, (shown - minimised) * 100))
    finally:
        shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    main()
