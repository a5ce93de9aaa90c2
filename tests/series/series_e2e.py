#!/usr/bin/env python3
"""pruvex-series end to end, inside a private X session (run-under-x.sh):
the real target full screen, the fake camera named gphoto2 first on PATH,
prompts answered here as a person would.

    series_e2e.py SCENARIO PRUVEX_SERIES CAMERA_DIR PRUVEX_DIR PRUVEX_MEASURE

With PRUVEX_WINE set (the build's wine-run.sh), the wine_* scenarios run
pruvex-series.exe and pruvex-measure.exe under Wine, from a folder with a
non-Latin name; PRUVEX_DIR is then the folder of the fake digiCamControl
program, and with --camera=folder:DIR this test plays the tethering program.
"""
import codecs
import csv
import filecmp
import math
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

import browser

SCENARIO, SERIES, CAMERA_DIR, PRUVEX_DIR, MEASURE = sys.argv[1:6]
HEADER = "file,kind,iso,exposure_s,level,shot_at"
WINE = os.environ.get("PRUVEX_WINE")
failures = []


def windows(path):
    """A Linux path as the Windows programs under Wine name it."""
    return "Z:" + path.replace("/", "\\") if WINE else path


def new_folder():
    return tempfile.TemporaryDirectory(prefix="Serie Jürgen 写真 " if WINE else None)


def targets_left():
    """The Windows targets still running on this test's display."""
    mine = f"DISPLAY={os.environ.get('DISPLAY')}\0".encode()
    left = 0
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if b"Pruvex.exe" in open(f"/proc/{pid}/cmdline", "rb").read() and \
                    mine in open(f"/proc/{pid}/environ", "rb").read():
                left += 1
        except OSError:
            pass
    return left


def check_target_gone(what):
    end = time.monotonic() + 30
    while targets_left() and time.monotonic() < end:
        time.sleep(0.1)
    check(targets_left() == 0, f"{what}: Pruvex.exe gone")


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


class Run:
    """pruvex-series with its output read as it comes."""

    def __init__(self, args, state, path=None):
        env = dict(os.environ)
        env["PRUVEX_FAKE_CAMERA"] = windows(state)
        env["PATH"] = path or f"{CAMERA_DIR}:{PRUVEX_DIR}:{os.environ['PATH']}"
        if WINE:
            # The handles as they are: the series' own process is this one's child.
            env["PRUVEX_WINE_DIRECT"] = "1"
        self.started = time.monotonic()
        self.process = subprocess.Popen(([WINE] if WINE else []) + [SERIES] + args,
                                        stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        env=env)
        self.out = ""
        self.err = ""
        self.seen = 0
        self.lock = threading.Lock()
        # (Wine's own processes may hold the pipes after the series ends.)
        self.readers = [threading.Thread(target=self.read, args=(self.process.stdout, "out"),
                                         daemon=True),
                        threading.Thread(target=self.read, args=(self.process.stderr, "err"),
                                         daemon=True)]
        for reader in self.readers:
            reader.start()

    def read(self, stream, name):
        decoder = codecs.getincrementaldecoder("utf-8")()
        while True:
            chunk = stream.read1(4096)
            if not chunk:
                return
            with self.lock:
                setattr(self, name, getattr(self, name) + decoder.decode(chunk))

    def wait_for(self, text, timeout=120):
        """The output up to `text`, after what was waited for before."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            with self.lock:
                at = self.out.find(text, self.seen)
                if at >= 0:
                    part = self.out[self.seen:at + len(text)]
                    self.seen = at + len(text)
                    return part
            if self.process.poll() is not None:
                time.sleep(0.2)
                with self.lock:
                    if self.out.find(text, self.seen) < 0:
                        break
            time.sleep(0.02)
        check(False, f"{text!r} in the output (got {self.out[self.seen:]!r}, {self.err!r})")
        return ""

    def answer(self, line):
        self.process.stdin.write((line + "\n").encode())
        self.process.stdin.flush()

    def finish(self, timeout=240):
        try:
            status = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            status = self.process.wait()
        for reader in self.readers:
            reader.join(10 if WINE else None)
        self.wall = time.monotonic() - self.started
        return status


def manifest(folder):
    with open(os.path.join(folder, "series.csv"), newline="") as f:
        lines = f.read().splitlines()
    return lines[0] if lines else "", list(csv.DictReader(lines))


def camera_log(state):
    """What the fake camera saw and used at each capture, by file name."""
    seen = {}
    path = os.path.join(state, "log")
    if os.path.exists(path):
        for line in open(path).read().splitlines():
            name, shown, iso, shutter, capped, gain, noise, range_ = line.split(",")
            seen[name] = dict(shown=shown, iso=iso, shutter=shutter, capped=capped == "1",
                              gain=float(gain), noise=float(noise), range=float(range_))
    return seen


def check_manifest(folder, state, rows_expected=None):
    """Every row a file that exists, shot at its ISO and time, and showing
    exactly what the row says was on the screen."""
    header, rows = manifest(folder)
    check(header == HEADER, f"manifest header {header!r}")
    if rows_expected is not None:
        check(len(rows) == rows_expected, f"{rows_expected} rows in the manifest (got {len(rows)})")
    seen = camera_log(state)
    for row in rows:
        name = row["file"]
        check(os.path.isfile(os.path.join(folder, name)), f"{name} kept")
        check(re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z", row["shot_at"]) is not None,
              f"{name}: shot_at {row['shot_at']}")
        shot = seen.get(name)
        if shot is None:
            check(False, f"{name} in the camera's log")
            continue
        check(shot["iso"] == row["iso"], f"{name}: ISO {row['iso']}")
        shutter = shot["shutter"].split("/")
        seconds = float(shutter[0]) / (float(shutter[1]) if len(shutter) > 1 else 1)
        check(abs(seconds - float(row["exposure_s"])) < 1e-5 * seconds,
              f"{name}: exposure {row['exposure_s']}")
        if row["kind"] == "dark":
            check(shot["capped"], f"{name}: the lens capped")
        else:
            shown = "flat" if row["kind"] == "brightness" else row["kind"]
            want = f"{shown} {row['level']}"
            check(shot["shown"] == want and not shot["capped"],
                  f"{name}: the screen showed exactly {want} (saw {shot['shown']})")
    return rows


def captures(state):
    """How many times the camera wrote each file."""
    path = os.path.join(state, "log")
    names = [line.split(",")[0] for line in open(path).read().splitlines()] \
        if os.path.exists(path) else []
    return {name: names.count(name) for name in names}


def touch(state, name, text=""):
    with open(os.path.join(state, name), "w") as f:
        f.write(text)


def figures(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def check_flats(out, flats, must_clip=True):
    """After the brightness, pairs of flat frames at longer and longer times
    from about 2 % of the raw range up to where every channel clips (or, for
    a camera whose longest time comes first, up to that time)."""
    times = [float(r["exposure_s"]) for r in flats]
    check(0 < len(flats) <= 40 and times[0::2] == times[1::2] and times == sorted(times) and
          len(set(times)) == len(times) // 2, f"flat pairs at rising times: {times}")
    lines = re.findall(r"^(?:1/)?[\d.]+ s: full (.*)$", out, re.M)
    fullest = [max(float(p) for p in re.findall(r"([\d.]+) %", line)) for line in lines]
    check(len(lines) == len(flats) // 2 and 1 <= fullest[0] <= 4.5,
          f"the first pair's fullest channel about 2 %: {lines[:1]}")
    clips = [line.endswith("every channel clips") for line in lines]
    check(clips[:-1] == [False] * (len(lines) - 1) and (clips[-1] or not must_clip),
          "the last pair, and only it, clips in every channel")


def check_report(path, tmp):
    """The report in a real browser: nothing asked for beyond the file, no
    error, its plots drawn, A4 pages. Its screenshot is docs/report.png; to
    renew it, run this with PRUVEX_PICTURE_DIR=$PWD/docs."""
    if shutil.which("chromium") is None:
        print("skip the report in a browser: no chromium (scripts/lib.sh installs it)")
        return
    shot = os.path.join(os.environ.get("PRUVEX_PICTURE_DIR", tmp), "report.png")
    problems, plots, pages = browser.open_page(path, shot)
    check(problems == [], f"the report loads nothing from elsewhere, without error: {problems}")
    check(len(plots) == 5 and all(p["width"] > 300 and p["height"] > 150 and p["lines"] > 0
                                  for p in plots), f"its plots drawn: {plots}")
    check(1 <= pages <= 12, f"it prints on A4 ({pages} pages)")


def adopt(state, folder, sources):
    """The camera's log lines under the names the series gave the files it
    took from `sources` (known by their bytes)."""
    lines = {line.split(",")[0]: line for line in open(os.path.join(state, "log")).read().splitlines()}
    for row in manifest(folder)[1]:
        kept = os.path.join(folder, row["file"])
        same = [n for n in os.listdir(sources) if n in lines and
                filecmp.cmp(kept, os.path.join(sources, n), shallow=False)]
        check(len(same) == 1, f"{row['file']} is {same} of the camera's files")
        if same:
            with open(os.path.join(state, "log"), "a") as log:
                log.write(row["file"] + lines[same[0]][len(same[0]):] + "\n")


def measure(*args):
    """pruvex-measure (under Wine: pruvex-measure.exe), its status and error text."""
    with tempfile.TemporaryFile() as err:
        env = dict(os.environ, PRUVEX_WINE_DIRECT="1")
        status = subprocess.run(([WINE] if WINE else []) + [MEASURE] + [windows(a) if a.startswith("/") else a for a in args],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err,
                                env=env).returncode
        err.seek(0)
        return status, err.read().decode(errors="replace")


def tethering(state, drops):
    """The test as a camera maker's tethering program: each time the series
    asks for shots, they are shot at the settings it names, of what the
    screen shows then, and saved into DIR in pieces."""
    asked = re.compile(r"ISO (\d+), (\S+) s: take (\d+) shots?")

    def play(run):
        at, count = 0, 0
        while run.process.poll() is None:
            with run.lock:
                wanted = asked.search(run.out, at)
            if wanted is None:
                time.sleep(0.05)
                continue
            at = wanted.end()
            set_config(state, wanted[1], wanted[2])
            for _ in range(int(wanted[3])):
                count += 1
                drop(state, drops, f"IMG_{count:04d}", pieces=4, wait_shown=True)
    return lambda run: threading.Thread(target=play, args=(run,), daemon=True).start()


def wine_camera(kind, tmp, state):
    """Under Wine: the camera's arguments, the folder where the files it
    wrote can be found again, and what plays the camera's program."""
    if kind == "folder":
        drops = os.path.join(tmp, "Aufnahmen ÄÖÜ")
        os.mkdir(drops)
        return [f"--camera=folder:{windows(drops)}"], drops, tethering(state, drops)
    program = windows(os.path.join(PRUVEX_DIR, "CameraControlCmd.exe"))
    return [f"--camera=digicamcontrol:{program}"], os.path.join(state or "", "shots"), None


def check_figures(folder, state, rows):
    """The figures within the measurement's tolerances of the fake sensor's truth."""
    seen = camera_log(state)
    truth = {shot["iso"]: shot for shot in seen.values()}
    table = figures(os.path.join(folder, "sensor.csv"))
    check(len(table) == rows, f"{rows} figures: ISOs times channels (got {len(table)})")
    for row in table:
        t = dict(truth[row["iso"]])
        # The noise as the sensor's values carry it, rounding to DN included.
        t["noise"] = math.sqrt(t["noise"] ** 2 + 1 / 12)
        gain = float(row["gain_e_per_dn"])
        noise = float(row["read_noise_dn"])
        dr = float(row["dr_ev"])
        true_dr = math.log2(t["range"] / t["noise"])
        print(f"ISO {row['iso']} {row['channel']}: gain {gain:.4f} (true {t['gain']:.4f}, "
              f"{100 * (gain / t['gain'] - 1):+.1f} %), read noise {noise:.3f} DN (true "
              f"{t['noise']:.3f}, {100 * (noise / t['noise'] - 1):+.1f} %), {dr:.3f} EV "
              f"(true {true_dr:.3f}), {row['squares']} squares, {row['read_noise_from']}, "
              f"linearity error {row['linearity_error_pct'] or '-'} %")
        check(abs(gain / t["gain"] - 1) < 0.03, f"ISO {row['iso']} {row['channel']}: gain")
        check(abs(noise / t["noise"] - 1) < 0.03,
              f"ISO {row['iso']} {row['channel']}: read noise")
        check(abs(dr - true_dr) < 0.1, f"ISO {row['iso']} {row['channel']}: dynamic range")


def whole(camera=None):
    """A whole series at three ISOs; the highest needs shorter exposures."""
    with new_folder() as tmp:
        state, folder = os.path.join(tmp, "camera"), os.path.join(tmp, "series")
        os.mkdir(state)
        touch(state, "brightness", "0.5")
        args, sources, player = wine_camera(camera, tmp, state) if camera else ([], None, None)
        run = Run(args + ["--iso=100,800,6400", "--settle=0", windows(folder)], state)
        if player:
            player(run)
        part = run.wait_for("r to shoot again, Enter to go on, q to stop: ")
        check("too dark" in part, "a dim monitor is too dark: " + part.strip().splitlines()[-2])
        touch(state, "brightness", "1")
        run.answer("r")
        part = run.wait_for("r to shoot again, Enter to go on, q to stop: ")
        check("a proper exposure" in part, "then properly exposed: " + part.strip().splitlines()[-2])
        run.answer("")
        part = run.wait_for("cap the lens")
        check("Fewer than 20: two more at 1/500 s" in part, "shorter exposures where clipped")
        touch(state, "capped")
        run.answer("")
        status = run.finish()
        print(run.out)
        check(status == 0, f"exit status 0 (got {status}, {run.err!r})")
        if sources:
            adopt(state, folder, sources)
            check_target_gone("a whole series")
        rows = check_manifest(folder, state)
        # The folder's and digiCamControl's whole stops end at 1/15 s.
        check([r["kind"] for r in rows[:2]] == ["brightness"] * 2,
              "the two brightness frames first, not measured as flat frames")
        check_flats(run.out, [r for r in rows if r["kind"] == "flat"], must_clip=camera is None)
        grids = [(r["iso"], r["exposure_s"]) for r in rows if r["kind"] == "grid"]
        darks = [(r["iso"], r["exposure_s"]) for r in rows if r["kind"] == "dark"]
        check(sorted(grids) == sorted(darks), "two dark frames at each ISO and time of the mosaic")
        check(any(iso == "6400" and float(t) < 0.004 for iso, t in grids),
              "ISO 6400 shot shorter than 1/250 s")
        for name in ("sensor.csv", "squares.csv", "sensor.svg", "report.html"):
            check(os.path.isfile(os.path.join(folder, name)), f"{name} written")
        check_report(os.path.join(folder, "report.html"), tmp)
        check_figures(folder, state, 9)
        # pruvex-measure gives the same figures from the manifest.
        again = os.path.join(tmp, "again.csv")
        status, err = measure("--csv", again, os.path.join(folder, "series.csv"))
        check(status == 0, f"pruvex-measure series.csv: {err}")
        check(open(again).read() == open(os.path.join(folder, "sensor.csv")).read(),
              "pruvex-measure FOLDER/series.csv gives the same figures")
        match = re.search(r"Series done in [\d.]+ s: the camera's calls [\d.]+ s, the target's "
                          r"replies [\d.]+ s, the prompts [\d.]+ s, the program's own work "
                          r"[\d.]+ s \((\d+) shots\)", run.out)
        check(match is not None, "the wall time split")


def drop(state, folder_dir, name, pieces=1, jpeg_first=False, wait_shown=False):
    """The test as a tethering program: a shot saved into the folder, in
    pieces with pauses, its JPEG first when asked (once the screen shows a
    picture it knows, with wait_shown); the raw file's path."""
    env = dict(os.environ, PRUVEX_FAKE_CAMERA=state)
    if wait_shown:
        env["PRUVEX_FAKE_WAIT_SHOWN"] = "1"
    os.makedirs(folder_dir, exist_ok=True)
    with tempfile.TemporaryDirectory() as spool:
        subprocess.run([os.path.join(CAMERA_DIR, "gphoto2"), "--capture-image-and-download",
                        "--filename", os.path.join(spool, name + ".%C")], env=env, check=True,
                       capture_output=True)
        data = open(os.path.join(spool, name + ".DNG"), "rb").read()
    if jpeg_first:
        touch(folder_dir, name + ".JPG", "\xff\xd8\xff JPEG")
    path = os.path.join(folder_dir, name + ".DNG")
    with open(path, "wb") as f:
        for i in range(pieces):
            f.write(data[i * len(data) // pieces:(i + 1) * len(data) // pieces])
            f.flush()
            if i + 1 < pieces:
                time.sleep(0.4)  # the writer's pause, shorter than the second that settles a file
    return path


def set_config(state, iso, shutter):
    env = dict(os.environ, PRUVEX_FAKE_CAMERA=state)
    subprocess.run([os.path.join(CAMERA_DIR, "gphoto2"), "--set-config", f"iso={iso}",
                    "--set-config", f"shutterspeed={shutter}"], env=env, check=True)


def folder_camera():
    """--camera=folder:DIR with the files dropped by the test: in dated
    subfolders, in pieces, with JPEGs beside them and a JPEG alone."""
    with tempfile.TemporaryDirectory() as tmp:
        state, folder, drops = (os.path.join(tmp, n) for n in ("camera", "series", "drops"))
        os.mkdir(state)
        drop(state, drops, "OLD_0001")  # there before: never taken
        run = Run([f"--camera=folder:{drops}", "--iso=100", "--no-brightness", folder], state)
        set_config(state, "100", "1/250")
        run.wait_for("ISO 100, 1/250 s: take 2 shots")
        day = os.path.join(drops, "2026", "12-09")
        touch(drops, "IMG_0001.JPG", "\xff\xd8\xff JPEG")
        run.wait_for("a JPEG arrived, IMG_0001.JPG: set the camera to save raw files")
        dropped = [drop(state, day, "IMG_0002", pieces=4)]
        run.wait_for("grid-iso100-1_250-a.DNG")
        dropped.append(drop(state, day, "IMG_0003", pieces=3, jpeg_first=True))
        run.wait_for("cap the lens")
        touch(state, "capped")
        run.answer("")
        run.wait_for("ISO 100, 1/250 s: take 2 shots")
        dropped.append(drop(state, drops, "IMG_0004", jpeg_first=True))
        run.wait_for("dark-iso100-1_250-a.DNG")
        dropped.append(drop(state, day, "IMG_0005", pieces=2))
        status = run.finish()
        print(run.out)
        check(status == 0, f"exit status 0 (got {status}, {run.err!r})")
        check(run.out.count("a JPEG arrived") == 1, "only the JPEG alone named")
        rows = manifest(folder)[1]
        check([r["file"] for r in rows] == ["grid-iso100-1_250-a.DNG", "grid-iso100-1_250-b.DNG",
                                            "dark-iso100-1_250-a.DNG", "dark-iso100-1_250-b.DNG"],
              "the dropped files, named by what they are")
        log = camera_log(state)
        for row, path in zip(rows, dropped):
            same = open(os.path.join(folder, row["file"]), "rb").read() == open(path, "rb").read()
            check(same, f"{row['file']} is {path}")
            log[row["file"]] = log[os.path.basename(path)]
        check(len(figures(os.path.join(folder, "sensor.csv"))) == 3, "ISO 100 measured")


def failure(name, args, prepare, act, status, line, rows, path=None):
    """One way of failing: the line, the exit status, the files and the
    manifest kept."""
    with new_folder() as tmp:
        state, folder = os.path.join(tmp, "camera"), os.path.join(tmp, "series")
        os.mkdir(state)
        prepare(state, folder)
        before = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
        run = Run(args + [windows(folder)], state, path)
        failed = len(failures)
        act(run, state)
        got = run.finish(120)
        print(f"--- {name}:\n{run.out}{run.err}")
        check(got == status, f"{name}: exit status {status} (got {got})")
        check(line in run.err, f"{name}: says {line!r}")
        if WINE:
            check_target_gone(name)
            if rows:
                adopt(state, folder, os.path.join(state, "shots"))
        if rows is None:
            check(not os.path.exists(os.path.join(folder, "series.csv")) or
                  sorted(os.listdir(folder)) == before, f"{name}: nothing written")
        else:
            check_manifest(folder, state, rows)
        if len(failures) > failed:
            # What the camera saw at each capture tells a frame shot too
            # early from one measured wrongly.
            print(f"{name}: the camera's log: {camera_log(state)}")


def nothing(*_):
    pass


def failures_all():
    short = ["--iso=100", "--no-brightness", "--settle=0"]
    if WINE:
        failure("no --camera", short, nothing, nothing, 2, "no camera: give --camera=folder:DIR "
                "or --camera=digicamcontrol[:PATH]", None)
        short = wine_camera("digicamcontrol", None, None)[0] + short

    def stop_at_cap(answer):
        def act(run, state):
            run.wait_for("cap the lens")
            answer(run, state)
        return act

    if not WINE:
        failure("no gphoto2", short, nothing, nothing, 2, "no gphoto2 program", None,
                path=PRUVEX_DIR)
    failure("no camera", short, lambda s, f: touch(s, "no-camera"), nothing, 2,
            "close digiCamControl's own window" if WINE else
            "a desktop's automounter may hold the camera", None)
    failure("JPEG", short, lambda s, f: touch(s, "jpeg"), nothing, 2,
            "set it to save raw files", 0)
    failure("capture failing twice", short, lambda s, f: touch(s, "fail-from", "3"),
            stop_at_cap(lambda run, state: run.answer("")), 1, "failed twice in a row", 2)
    failure("q midway", short, nothing, stop_at_cap(lambda run, state: run.answer("q")), 1,
            "stopped on request", 2)
    failure("Ctrl-C", short, nothing,
            stop_at_cap(lambda run, state: run.process.send_signal(signal.SIGINT)), 130,
            "interrupted", 2)

    def uncapped(run, state):
        run.wait_for("cap the lens")
        run.answer("")
        run.wait_for("the lens is not capped")
        run.wait_for("Cap the lens")
        touch(state, "capped")
        run.answer("")
    failure("lens not capped", short, nothing, uncapped, 0, "", 4)

    def reframe(run, state):
        run.wait_for("no mosaic found")
        run.wait_for("Frame the mosaic")
        os.remove(os.path.join(state, "covered"))
        run.answer("")
        run.wait_for("cap the lens")
        touch(state, "capped")
        run.answer("")
    failure("mosaic not in the frame", short, lambda s, f: touch(s, "covered"), reframe, 0, "", 4)

    def occupied(state, folder):
        os.mkdir(folder)
        with open(os.path.join(folder, "series.csv"), "w") as f:
            f.write(HEADER + "\ngrid-iso100-1_250-a.DNG,grid,100,0.004,25,"
                    "2026-12-08T19:00:00.000Z\n")
    failure("occupied FOLDER", short, occupied, nothing, 2, "go on with it with --resume", None)
    if WINE:
        # Killed: the job object ends the target with it.
        failure("killed", short, nothing, stop_at_cap(lambda run, state: run.process.kill()),
                -9, "", 2)


SHORT = ["--iso=100", "--no-brightness", "--settle=0"]


def camera_case(name, state_files, line, args=SHORT, extra=None):
    """A short series with the camera behaving as a real one may: it still
    ends with figures true to the sensor and a manifest true to its files."""
    with tempfile.TemporaryDirectory() as tmp:
        state, folder = os.path.join(tmp, "camera"), os.path.join(tmp, "series")
        os.mkdir(state)
        for file, text in state_files.items():
            touch(state, file, text)
        run = Run(args + [folder], state)
        run.wait_for("cap the lens", 180)
        touch(state, "capped")
        run.answer("")
        status = run.finish()
        print(f"--- {name}:\n{run.out}{run.err}")
        check(status == 0, f"{name}: exit status 0 (got {status})")
        check(line in run.out, f"{name}: says {line!r}")
        check_manifest(folder, state, 4)
        check_figures(folder, state, 3)
        if extra:
            extra(folder, state, run)


def rejected_kept(folder, state, run):
    check(len(os.listdir(os.path.join(folder, "rejected"))) == 1, "the rejected file kept aside")


def jpegs_unlisted(folder, state, run):
    jpegs = [f for f in os.listdir(folder) if f.endswith(".JPG")]
    check(len(jpegs) == 4, f"the JPEGs stay in FOLDER, unlisted (got {jpegs})")


def measured_by_rows(folder, state, run):
    """pruvex-measure takes a row's ISO and time for a file without them;
    dark rows may leave level empty; a row its file disagrees with is left out."""
    check(run.out.count("gives no ISO or exposure time") == 1, "said once")
    path = os.path.join(folder, "series.csv")
    lines = open(path).read().splitlines()
    dark = [re.sub(r",0,([^,]*)$", r",,\1", l) if ",dark," in l else l for l in lines]
    open(path, "w").write("\n".join(dark) + "\n")
    again = os.path.join(folder, "again.csv")
    got = subprocess.run([MEASURE, "--csv", again, path], capture_output=True, text=True)
    check(got.returncode == 0, f"pruvex-measure: rows' settings, empty levels ({got.stderr})")
    check(open(again).read() == open(os.path.join(folder, "sensor.csv")).read(), "same figures")


def wrong_row(folder, state, run):
    path = os.path.join(folder, "series.csv")
    text = open(path).read().replace("grid-iso100-1_250-b.DNG,grid,100,", "grid-iso100-1_250-b.DNG,grid,200,")
    open(path, "w").write(text)
    got = subprocess.run([MEASURE, path], capture_output=True, text=True)
    check(got.returncode == 1 and "grid-iso100-1_250-b.DNG: shot at ISO 100, 1/250 s where its "
          "row says ISO 200, 1/250 s: left out" in got.stderr, f"a wrong row named ({got.stderr})")


def cameras():
    camera_case("auto ISO at the first shot", {"auto-iso": "800 first"}, "moved to rejected/",
                extra=rejected_kept)
    camera_case("RAW+JPEG", {"raw-jpeg": ""}, "", extra=jpegs_unlisted)
    camera_case("no metadata", {"no-metadata": ""}, "gives no ISO or exposure time",
                extra=measured_by_rows)
    camera_case("capture failing once", {"fail-once": "2"}, "failed once", extra=wrong_row)
    failure("auto ISO always", SHORT, lambda s, f: touch(s, "auto-iso", "800"), nothing, 1,
            "the camera shot ISO 800, 1/250 s where ISO 100, 1/250 s was asked, twice: turn auto "
            "ISO off and set the mode dial to M", 0)
    failure("the mode dial's time", SHORT, lambda s, f: touch(s, "dial", "1/60"), nothing, 1,
            "the camera chose its own exposure time", 0)


def busy():
    for call in ("detect", "get", "set", "capture"):
        camera_case(f"busy at {call}", {"busy": f"{call} 3"}, "")
    camera_case("camera away and back", {"away": "3 4"}, "")
    camera_case("slow capture", {"slow": "4"}, "")


def resumed(folder, state, before, act, line):
    """The series gone on with: nothing accepted shot again."""
    run = Run(["--resume"] + act + [folder], state)
    part = run.wait_for("cap the lens", 180)
    check("r to shoot again" not in part, "the brightness not asked again")
    touch(state, "capped")
    run.answer("")
    status = run.finish()
    print(f"--- resumed:\n{run.out}{run.err}")
    check(status == 0, f"resumed: exit status 0 (got {status})")
    check(line in run.out, f"resumed: says {line!r}")
    count = captures(state)
    for row in before:
        check(count.get(row["file"]) == 1, f"{row['file']}: shot once (got {count.get(row['file'])})")
    return check_manifest(folder, state), run.out


def killed(run, state):
    """The series killed; the capture it began goes on in the camera and lands."""
    run.process.send_signal(signal.SIGKILL)
    run.finish()
    end = time.monotonic() + 60
    while sum(captures(state).values()) < int(open(os.path.join(state, "count")).read()) \
            and time.monotonic() < end:
        time.sleep(0.05)


def resume():
    with tempfile.TemporaryDirectory() as tmp:
        state, folder = os.path.join(tmp, "camera"), os.path.join(tmp, "series")
        os.mkdir(state)
        run = Run(["--iso=100", "--settle=0", folder], state)
        run.wait_for("r to shoot again, Enter to go on, q to stop: ")
        run.answer("")
        run.wait_for("cap the lens")
        run.answer("q")
        check(run.finish() == 1, "q at the dark frames: status 1")
        before = manifest(folder)[1]
        kinds = [r["kind"] for r in before]
        check(kinds[-2:] == ["grid", "grid"] and kinds[0] == "brightness" and
              set(kinds[1:-2]) == {"flat"}, "the brightness, the flat frames and a pair kept")
        rows, _ = resumed(folder, state, before, [], f"Resumed: {len(before)} shots kept")
        check(len(rows) == len(before) + 2 and rows[:len(before)] == before,
              "the kept rows, then the dark frames")
    with tempfile.TemporaryDirectory() as tmp:
        state, folder = os.path.join(tmp, "camera"), os.path.join(tmp, "series")
        os.mkdir(state)
        touch(state, "slow", "3")
        run = Run(SHORT + [folder], state)
        run.wait_for("grid-iso100-1_250-a.DNG")
        end = time.monotonic() + 60
        while open(os.path.join(state, "count")).read().strip() != "2" and time.monotonic() < end:
            time.sleep(0.05)
        killed(run, state)
        os.remove(os.path.join(state, "slow"))
        before = manifest(folder)[1]
        check([r["file"] for r in before] == ["grid-iso100-1_250-a.DNG"], "one shot kept")
        with open(os.path.join(folder, "series.csv"), "a") as f:
            f.write("grid-iso100-1_250-z.DNG,grid,100,0.004,25,2026-12-08T19:00:00.000Z\n")
        rows, _ = resumed(folder, state, before, ["--camera=gphoto2"],
                       "grid-iso100-1_250-z.DNG: No such file or directory: shot again")
        check([r["file"] for r in rows] == ["grid-iso100-1_250-a.DNG", "grid-iso100-1_250-b.DNG",
                                            "dark-iso100-1_250-a.DNG", "dark-iso100-1_250-b.DNG"],
              "the missing row dropped, the rest shot")
    with tempfile.TemporaryDirectory() as tmp:
        # Killed in the flat frames: they go on from where they stopped.
        state, folder = os.path.join(tmp, "camera"), os.path.join(tmp, "series")
        os.mkdir(state)
        run = Run(["--iso=100", "--settle=0", folder], state)
        run.wait_for("r to shoot again, Enter to go on, q to stop: ")
        run.answer("")
        run.wait_for(": full ")
        killed(run, state)
        before = manifest(folder)[1]
        check(2 <= len([r for r in before if r["kind"] == "flat"]) < 8, "some flat frames kept")
        rows, out = resumed(folder, state, before, [], f"Resumed: {len(before)} shots kept")
        check_flats(out, [r for r in rows if r["kind"] == "flat"])


{"whole": whole, "folder": folder_camera, "failures": failures_all, "cameras": cameras,
 "busy": busy, "resume": resume, "wine_whole": lambda: whole("folder"),
 "wine_digicamcontrol": lambda: whole("digicamcontrol"), "wine_failures": failures_all}[SCENARIO]()
print(f"{len(failures)} failed" if failures else "all passed")
sys.exit(1 if failures else 0)
