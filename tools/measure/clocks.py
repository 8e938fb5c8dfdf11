#!/usr/bin/python3
"""A live run of brackwell-live between two sound devices on different clocks.

  clocks.py --ppm 1000 --seconds 300 [--clocks auto|one|two] [--skewed capture]
            [--out DIR]
  clocks.py --ppm 1000 --check-sink 40

A private PulseAudio server (its own folder, stopped by PID) carries a null
sink "iqband", into which an I/Q tone plays on the server's clock, and a
pipe sink "pipe", whose FIFO a reader process drains at 48000 x (1 + ppm/1e6)
frames a second on its own steady clock, as a card whose crystal runs that
far off would. brackwell-live captures iqband's monitor and plays into the
pipe. The reader keeps what it drained.

With --skewed capture the capture card is the one off instead, and no pipe
sink is on the path: a pipe source "iqpipe", which a writer process fills
with the I/Q tone at 48000 / (1 + ppm/1e6) frames a second of its steady
clock, is the capture device, and brackwell-live plays into a null sink
"out", whose monitor a recorder keeps. The null sink is not a 48000 Hz
card on the steady clock: it advances its clock by each chunk's duration
in whole microseconds, cut short, and so plays fast by the part of a
microsecond it loses a chunk (measured: 48006.7 frames a second beside the
receiver's stream, +140 ppm). Its true rate is fitted from when the
recorder's frames arrive, and the ratio the matcher has to find is the
writer's rate over it. From what was kept come:

  - the latency of the path over time, from the phase of the received tone:
    a tone of f Hz that arrives d seconds later is 2 pi f d behind, and the
    reader's clock is known, so every 10 ms window gives the latency to
    within microseconds (up to a constant: shown relative to its value when
    the rate matcher settled its level, 4 s after the start);
  - the rate ratio in use (input frames a played frame) from the tone's
    frequency over the last minute, beside the true one: 1 / (1 + ppm/1e6),
    or with --skewed capture the writer's rate over the null sink's;
  - gaps (10 ms windows without the tone: silence put in) and jumps of the
    latency of half a millisecond or more (audio dropped or put in; past
    one, the latency is known only to within the tone's period, 1 ms);
  - the tone's SINAD over one-second windows of the last minute, twice:
    against one steady sinusoid fitted to the window (a notch a fraction of
    a hertz wide: the slow wander of a rate the loop is still setting
    counts as distortion), and as a meter with a notch of +-10 Hz reads it
    (that wander counts as the tone).
Beside them: the engine's lines on standard error, the reader's short reads
(the sink did not keep up) and the machine's load.

--table DIR prints the results a run saved with --out DIR, one line each.

--check-sink N instead records the pipe sink's monitor for N seconds while
the reader drains it and the tone plays into it, and prints the rate at which the sink renders: the
reader's rate when its clock is the sink's.

Needs pulseaudio (with module-pipe-sink), pactl, pacat, parec, numpy and
brackwell-live (--live, default the build tree's).
"""
import argparse
import fcntl
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time

import numpy as np

RATE = 48000
FRAME = 4  # s16le stereo
TONE = 1000.0  # Hz above the band's centre: the upper sideband's 1 kHz
LATCHED = 4.0  # s after the start: the matcher's level is settled by then
WINDOW = 480  # frames of one phase measurement (10 ms)
F_SETPIPE_SZ = 1031  # fcntl.F_SETPIPE_SZ, which Python has from 3.10
PIPE_BYTES = 32768  # the playback device's buffer: 8192 frames, 171 ms
HERE = os.path.dirname(os.path.abspath(__file__))
LIVE = os.path.join(HERE, "..", "..", "build", "normal", "tools", "brackwell-live",
                    "brackwell-live")


class Server:
    """A private PulseAudio in `folder`, with the two sinks."""

    def __init__(self, folder, skewed="playback"):
        self.folder = folder
        with open(os.path.join(folder, "client.conf"), "w") as f:
            f.write("autospawn = no\n")
        self.env = dict(os.environ, XDG_RUNTIME_DIR=folder, HOME=folder,
                        PULSE_RUNTIME_PATH=os.path.join(folder, "pulse"),
                        PULSE_SERVER="unix:" + os.path.join(folder, "pulse", "native"),
                        PULSE_CLIENTCONFIG=os.path.join(folder, "client.conf"))
        self.env.pop("BW_CLOCKS", None)
        self.children = []
        log = open(os.path.join(folder, "daemon.log"), "w")
        self.daemon = self.spawn(["pulseaudio", "--daemonize=no", "--exit-idle-time=-1",
                                  "-n", "--realtime=yes", "--high-priority=yes",
                                  "--log-target=stderr",
                                  "--load=module-native-protocol-unix"], realtime=30,
                                 stderr=log)
        for _ in range(500):
            if subprocess.run(["pactl", "info"], env=self.env,
                              capture_output=True).returncode == 0:
                break
            time.sleep(0.02)
        else:
            raise RuntimeError("the server did not come up; see " + log.name)
        self.fifo = os.path.join(folder, "pipe")
        if skewed == "capture":
            self.pactl("load-module", "module-pipe-source", "source_name=iqpipe",
                       "file=" + self.fifo, "rate=48000", "channels=2", "format=s16le")
            self.pactl("load-module", "module-null-sink", "sink_name=out", "rate=48000",
                       "channels=2")
            self.pactl("set-default-source", "iqpipe")
            self.pactl("set-default-sink", "out")
            return
        self.pactl("load-module", "module-null-sink", "sink_name=iqband", "rate=48000",
                   "channels=2")
        self.pactl("load-module", "module-pipe-sink", "sink_name=pipe", "file=" + self.fifo,
                   "rate=48000", "channels=2", "format=s16le")
        # The server makes its null sink's thread real-time, not the pipe
        # sink's: that one is the playback card here, and a card does not
        # wait for the scheduler. Nor its main thread, which passes the
        # clients' audio on: left to the scheduler at a load of 3, it asked
        # the receiver for nothing for tens of milliseconds at a time (36
        # of 3400 writes saw no request since the one before; 2 of 3468
        # once real-time), the sink played silence for the stream meanwhile
        # and the receiver's queue took steps of 60-80 ms. A card's stream
        # has no such hop.
        tasks = os.path.join("/proc", str(self.daemon.pid), "task")
        for tid in os.listdir(tasks):
            with open(os.path.join(tasks, tid, "comm")) as f:
                name = f.read().strip()
            if name in ("pipe-sink", "pulseaudio"):
                priority = 25 if name == "pipe-sink" else 20
                os.sched_setscheduler(int(tid), os.SCHED_FIFO, os.sched_param(priority))
        self.pactl("set-default-source", "iqband.monitor")
        self.pactl("set-default-sink", "pipe")

    def pactl(self, *args):
        subprocess.run(["pactl", *args], env=self.env, check=True, capture_output=True)

    def spawn(self, cmd, realtime=0, **kw):
        """Starts cmd; at FIFO priority `realtime` when not 0 (as a desktop's
        sound server and its clients get: other programs' load must not
        stand for a clock)."""
        if realtime:
            cmd = ["chrt", "-f", str(realtime), *cmd]
        p = subprocess.Popen(cmd, env=self.env, **kw)
        self.children.append(p)
        return p

    def stop(self):
        """Ends every process it started, last first, by PID."""
        for p in reversed(self.children):
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()


def reader(fifo, rate, out, seconds, pipe_bytes=PIPE_BYTES):
    """Drains `fifo` at `rate` frames a second of the steady clock into `out`,
    for `seconds` from the first frame the sink wrote (a card starts with its
    stream); frames the pipe did not have are written as silence (a card
    plays on). Prints its counts as JSON, with the times of short reads."""
    # A card's clock does not stop when the machine is busy: the reader runs
    # real-time when it may (as the sound server does).
    try:
        os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(20))
        realtime = True
    except OSError:
        realtime = False
    fd = os.open(fifo, os.O_RDONLY)  # the sink holds its end open
    # Smaller than a pipe's 64 KiB (341 ms), though the sink writes in
    # steps of a page (4 KiB, 1024 frames) whenever one of the pipe's pages
    # is free, whatever its size. Not two pages (8 KiB): the sink then has
    # less than a page's 21 ms to write the next, misses it on a loaded
    # machine, and the reader plays silence: --check-sink measured the sink
    # 3300 ppm slower than the reader there, at +100 ppm asked (166 short
    # reads in 40 s), and at +123 ppm with 32 KiB (none). Set before the
    # receiver plays (the caller waits for the line).
    fcntl.fcntl(fd, F_SETPIPE_SZ, pipe_bytes)
    print("ready", flush=True)
    first = os.read(fd, FRAME)
    os.set_blocking(fd, False)
    drained, shorts = 1, []
    start = time.monotonic()
    with open(out, "wb") as f:
        f.write(first)
        while True:
            elapsed = time.monotonic() - start
            if elapsed >= seconds:
                break
            want = (int(elapsed * rate) - drained) * FRAME
            got = bytearray()
            while len(got) < want:
                try:
                    chunk = os.read(fd, want - len(got))
                except BlockingIOError:
                    break
                if not chunk:
                    break
                got += chunk
            if len(got) < want:
                shorts.append((round(elapsed, 3), (want - len(got)) // FRAME))
                got += bytes(want - len(got))
            f.write(got)
            drained += want // FRAME
            time.sleep(0.005)
    print(json.dumps({"realtime": realtime, "drained": drained, "seconds": time.monotonic() - start,
                      "short_reads": len(shorts), "short_frames": sum(n for _, n in shorts),
                      "first_short_reads": shorts[:200]}))


def writer(fifo, rate, seconds):
    """Fills `fifo` with the I/Q tone at `rate` frames a second of the steady
    clock for `seconds`, as a capture card whose crystal runs at that rate
    would (a card does not wait: frames the pipe cannot take are counted and
    dropped). Prints its counts as JSON."""
    try:
        os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(20))
        realtime = True
    except OSError:
        realtime = False
    fd = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
    two = tone_bytes() * 2
    written, dropped, fills = 0, 0, []
    size = bytearray(4)
    print("ready", flush=True)
    start = time.monotonic()
    stop = []
    signal.signal(signal.SIGINT, lambda *_: stop.append(1))
    while not stop:
        elapsed = time.monotonic() - start
        if elapsed >= seconds:
            break
        due = int(elapsed * rate) - written
        if due > 0:
            a = written % RATE
            chunk = two[a * FRAME:(a + min(due, RATE)) * FRAME]
            try:
                n = os.write(fd, chunk) // FRAME
            except BlockingIOError:
                n = 0
            dropped += due - n
            written += due
        if int(elapsed) >= len(fills):
            fcntl.ioctl(fd, termios.FIONREAD, size)
            fills.append(int.from_bytes(size, "little") // FRAME)
        time.sleep(0.005)
    print(json.dumps({"realtime": realtime, "written": written, "dropped_frames": dropped,
                      "seconds": time.monotonic() - start, "pipe_frames_each_second": fills}))


def tone_bytes():
    """One second of the I/Q tone (a whole number of cycles: it repeats
    seamlessly), at -12 dB."""
    n = np.arange(RATE)
    iq = np.empty(2 * RATE, dtype="<i2")
    iq[0::2] = np.round(8000 * np.cos(2 * np.pi * TONE * n / RATE))
    iq[1::2] = np.round(8000 * np.sin(2 * np.pi * TONE * n / RATE))
    return iq.tobytes()


def start_reader(server, args, path):
    rate = RATE * (1 + args.ppm * 1e-6)
    return server.spawn([sys.executable, os.path.abspath(__file__), "--reader", server.fifo,
                         repr(rate), path, repr(args.seconds), str(args.pipe_bytes)],
                        stdout=subprocess.PIPE, text=True)


def play_tone(server, seconds, device="iqband"):
    """Plays the tone into `device` for `seconds`, from a file (nothing of
    this script's own scheduling stands between)."""
    path = os.path.join(server.folder, "tone.raw")
    with open(path, "wb") as f:
        second = tone_bytes()
        for _ in range(int(seconds) + 1):
            f.write(second)
    server.spawn(["pacat", "--playback", "--device=" + device, "--raw", "--rate=48000",
                  "--channels=2", "--format=s16le", "--latency-msec=50", path], realtime=20)


def check_sink(args, work):
    """The rate at which the pipe sink renders, from its monitor."""
    server = Server(work)
    try:
        # The sink renders only while something plays into it.
        drain = start_reader(server, args, os.devnull)
        drain.stdout.readline()
        play_tone(server, args.seconds + 5, "pipe")
        # Real-time, as the reader: a recorder that falls behind loses frames.
        os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(15))
        rec = server.spawn(["parec", "--device=pipe.monitor", "--raw", "--rate=48000",
                            "--channels=2", "--format=s16le", "--latency-msec=20"],
                           realtime=15, stdout=subprocess.PIPE)
        stamps, total = [], 0
        begin = time.monotonic()
        while time.monotonic() - begin < args.seconds:
            total += len(rec.stdout.read1(65536)) // FRAME
            stamps.append((time.monotonic(), total))
        slope = sink_rate(stamps)
        counts = json.loads(drain.communicate()[0])
        return {"ppm_asked": args.ppm, "sink_frames_per_s": slope,
                "sink_ppm": (slope / RATE - 1) * 1e6, "seconds": args.seconds,
                "reader_short_reads": counts["short_reads"],
                "reader_short_frames": counts["short_frames"]}
    finally:
        server.stop()


def tone_phase(y, f):
    """Phase (rad, unwrapped) and amplitude of the f-cycles-a-sample tone
    in each WINDOW-frame window of y."""
    n = len(y) // WINDOW * WINDOW
    step = WINDOW * 1000
    z = np.concatenate([
        (y[a:min(a + step, n)] * np.exp(-2j * np.pi * f * np.arange(a, min(a + step, n))))
        .reshape(-1, WINDOW).sum(axis=1) for a in range(0, n, step)])
    return np.unwrap(np.angle(z)), 2 * np.abs(z) / WINDOW


def sinad(y):
    """SINAD (dB) of the strongest tone in y: the tone fitted at its best
    frequency, the rest counted as noise and distortion."""
    m = np.arange(len(y))
    spectrum = np.abs(np.fft.rfft(y * np.blackman(len(y)), 4 * len(y)))
    f = np.argmax(spectrum) / (4 * len(y))  # cycles a sample, to a quarter bin

    def residual(w):
        basis = np.stack([np.cos(2 * np.pi * w * m), np.sin(2 * np.pi * w * m)], axis=1)
        coef, res, _, _ = np.linalg.lstsq(basis, y, rcond=None)
        return float(res[0]) / ((coef @ coef) / 2 * len(y))
    lo, hi = f - 0.5 / len(y), f + 0.5 / len(y)
    for _ in range(60):
        a, b = hi - (hi - lo) * 0.618, lo + (hi - lo) * 0.618
        if residual(a) < residual(b):
            hi = b
        else:
            lo = a
    return -10 * np.log10(residual((lo + hi) / 2))


def notched_sinad(y):
    """SINAD (dB) of the strongest tone in y (a second of it) as a meter
    with a notch of +-10 Hz reads it: the power within 10 Hz of the tone
    over the rest of the audio band (20 Hz to 20 kHz). Kaiser window,
    sidelobes far below the 90 dB sought."""
    spectrum = np.abs(np.fft.rfft(y * np.kaiser(len(y), 20.0))) ** 2
    hz = len(y) / RATE  # bins a hertz
    peak = int(np.argmax(spectrum))
    tone = spectrum[peak - int(10 * hz):peak + int(10 * hz) + 1].sum()
    band = spectrum[int(20 * hz):int(20000 * hz)].sum()
    return 10 * np.log10(tone / (band - tone))


def analyse(path, true_ratio, seconds, played):
    """The figures of a recording made at `played` frames a second, over its
    first `seconds` (the receiver stops before the recording does), where
    the matcher should read `true_ratio` input frames a played frame."""
    raw = np.fromfile(path, dtype="<i2").astype(float)
    y = raw[0:2 * int(seconds * played):2]
    # Nominal frequency in the reader's samples at the true ratio.
    f = TONE / RATE * true_ratio
    phase, amp = tone_phase(y, f)
    t = (np.arange(len(phase)) + 0.5) * WINDOW / played
    on = amp > 0.5 * np.median(amp[len(amp) // 2:])
    first = np.argmax(on)
    # Silence put in: windows without the tone after it first came.
    gaps = int(np.sum(np.diff(on[first:].astype(int)) == -1))
    # Latency (ms) from phase: behind by 2 pi TONE d.
    latency = -phase / (2 * np.pi * TONE) * 1e3
    ref_at = np.searchsorted(t, t[first] + LATCHED)
    rel = latency - latency[ref_at]
    later = slice(ref_at, None)
    good = on[later]
    jumps = int(np.sum(np.abs(np.diff(rel[later][good])) > 0.5))
    minute = t > t[-1] - 60
    k = np.nonzero(minute & on)[0]
    # Phase per sample over the last minute: the tone's frequency there.
    slope = np.polyfit(k * WINDOW, phase[k], 1)[0] if len(k) > 10 else np.nan
    ratio = (f + slope / (2 * np.pi)) * RATE / TONE
    sin, notched = [], []
    for s in range(int(t[-1]) - 60, int(t[-1]) - 1, 6):
        a = int(s * played)
        seg = y[a:a + RATE]
        if len(seg) == RATE and np.all(on[a // WINDOW:(a + RATE) // WINDOW]):
            sin.append(sinad(seg))
            notched.append(notched_sinad(seg))
    series = [(round(float(t[i]), 1), round(float(rel[i]), 3))
              for i in range(ref_at, len(t), int(10 * RATE / WINDOW))]
    return {
        "gaps": gaps,
        "latency_jumps": jumps,
        "latency_ms_rel_min": float(np.min(rel[later][good])) if good.any() else None,
        "latency_ms_rel_max": float(np.max(rel[later][good])) if good.any() else None,
        "latency_ms_rel_last_minute": float(np.mean(rel[minute & on])) if (minute & on).any() else None,
        "ratio_last_minute": float(ratio),
        "ratio_true": true_ratio,
        "ratio_error_ppm": float((ratio / true_ratio - 1) * 1e6),
        "sinad_db": [round(float(v), 1) for v in sin],
        "sinad_notch_db": [round(float(v), 1) for v in notched],
        "latency_every_10s": series,
    }


def start_capture_card(server, args, recording):
    """--skewed capture: the writer that plays the capture card, and a
    recorder of what the receiver plays (on the server's clock)."""
    rate = RATE / (1 + args.ppm * 1e-6)
    card = server.spawn([sys.executable, os.path.abspath(__file__), "--writer", server.fifo,
                         repr(rate), repr(args.seconds + 5)],
                        stdout=subprocess.PIPE, text=True)
    if card.stdout.readline().strip() != "ready":
        raise RuntimeError("the writer did not start")
    rec = server.spawn(["parec", "--device=out.monitor", "--raw", "--rate=48000",
                        "--channels=2", "--format=s16le", "--latency-msec=20"],
                       realtime=15, stdout=subprocess.PIPE)
    stamps = []

    def keep():
        with open(recording, "wb") as out:
            total = 0
            while chunk := rec.stdout.read1(65536):
                out.write(chunk)
                total += len(chunk) // FRAME
                stamps.append((time.monotonic(), total))
    thread = threading.Thread(target=keep)
    thread.start()
    return card, (thread, stamps)


def sink_rate(stamps):
    """Frames a second of the steady clock at which the recorder's frames
    came, past the first three seconds (the sink's start)."""
    t, n = np.array(stamps).T
    keep = t > t[0] + 3
    return float(np.polyfit(t[keep] - t[0], n[keep], 1)[0])


def live_run(args, work):
    server = Server(work, args.skewed)
    loads, recorder = [], None
    try:
        recording = os.path.join(work, "drained.raw")
        if args.skewed == "capture":
            drain, recorder = start_capture_card(server, args, recording)
        else:
            play_tone(server, args.seconds + 5)
            time.sleep(1)
            drain = start_reader(server, args, recording)
            if drain.stdout.readline().strip() != "ready":
                raise RuntimeError("the reader did not start")
        cmd = [args.live, "--in", "1", "--out", "1", "--seconds", str(args.seconds - 2)]
        if args.clocks:
            cmd += ["--clocks", args.clocks]
        with open(os.path.join(work, "live.out"), "w") as out, \
                open(os.path.join(work, "live.err"), "w") as err:
            live = server.spawn(cmd, realtime=10, stdout=out, stderr=err)
            while live.poll() is None:
                loads.append(os.getloadavg()[0])
                time.sleep(5)
        if args.skewed == "capture":
            drain.send_signal(signal.SIGINT)
            counts = {"short_reads": 0, "first_short_reads": []}
            try:
                counts["writer"] = json.loads(drain.communicate(timeout=10)[0])
            except (subprocess.TimeoutExpired, ValueError):
                pass
        else:
            counts = json.loads(drain.communicate()[0])
    finally:
        server.stop()
        if recorder is not None:
            recorder[0].join()
    with open(os.path.join(work, "live.err")) as f:
        lines = [l.rstrip() for l in f if l.strip()]
    with open(os.path.join(work, "live.out")) as f:
        devices = f.readline().rstrip()
    result = {"ppm": args.ppm, "clocks": args.clocks or "auto", "skewed": args.skewed,
              "seconds": args.seconds,
              "live_status": live.returncode, "devices": devices,
              "load_mean": round(float(np.mean(loads)), 2) if loads else None,
              "load_max": round(float(np.max(loads)), 2) if loads else None,
              "reader": counts, "stderr": lines}
    until = args.seconds - 3
    counts["short_reads_while_live"] = sum(1 for t, _ in counts["first_short_reads"] if t < until)
    if args.skewed == "capture":
        played = sink_rate(recorder[1])
        true_ratio = RATE / (1 + args.ppm * 1e-6) / played
        result["sink_frames_per_s"] = round(played, 2)
    else:
        played = RATE * (1 + args.ppm * 1e-6)
        true_ratio = 1 / (1 + args.ppm * 1e-6)
    result.update(analyse(recording, true_ratio, until, played))
    if args.keep and args.out:
        os.makedirs(args.out, exist_ok=True)
        shutil.move(recording, os.path.join(args.out, f"drained_{args.clocks or 'auto'}_"
                                           f"{args.ppm:+g}ppm.raw"))
    return result


def table(folder):
    print("clocks    ppm  load  dropped gaps  drops/gaps seen  latency ms (min..max, "
          "last min)  ratio error ppm  SINAD dB (min, median; +-10 Hz notch)")
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".json") or name.startswith("check"):
            continue
        with open(os.path.join(folder, name)) as f:
            r = json.load(f)
        said = [l for l in r["stderr"] if l.startswith("Brackwell:")]
        last = said[-1].split("since the start ")[1].split(")")[0] if said else "0 and 0"
        dropped, gaps = last.split(" and ")
        s = r["sinad_db"] or [float("nan")]
        notched = r.get("sinad_notch_db") or [float("nan")]
        print(f"{r['clocks']:5} {r['ppm']:+6g} {r['load_mean']:5.1f} {dropped:>8} {gaps:>4}"
              f"  {r['latency_jumps']:5} {r['gaps']:5}      "
              f"{r['latency_ms_rel_min']:+7.2f}..{r['latency_ms_rel_max']:+6.2f} "
              f"({r['latency_ms_rel_last_minute']:+6.2f})  {r['ratio_error_ppm']:+9.1f}"
              f"        {min(s):6.1f} {float(np.median(s)):6.1f}; "
              f"{min(notched):5.1f} {float(np.median(notched)):5.1f}")


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--writer":
        writer(sys.argv[2], float(sys.argv[3]), float(sys.argv[4]))
        return
    if len(sys.argv) > 1 and sys.argv[1] == "--reader":
        reader(sys.argv[2], float(sys.argv[3]), sys.argv[4], float(sys.argv[5]),
               int(sys.argv[6]))
        return
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--ppm", type=float,
                    help="how fast the playback device runs (parts per million)")
    ap.add_argument("--seconds", type=int, default=300)
    ap.add_argument("--clocks", choices=["auto", "one", "two"],
                    help="passed to brackwell-live (default: its own)")
    ap.add_argument("--skewed", choices=["playback", "capture"], default="playback",
                    help="which card's clock is off (capture: no pipe sink on the path)")
    ap.add_argument("--check-sink", type=int, metavar="N",
                    help="only measure the sink's rate over N seconds")
    ap.add_argument("--pipe-bytes", type=int, default=PIPE_BYTES,
                    help="the playback device's buffer (the pipe's size, bytes)")
    ap.add_argument("--live", default=LIVE)
    ap.add_argument("--out", help="folder for the JSON result and the recording")
    ap.add_argument("--keep", action="store_true", help="keep the recording in --out")
    ap.add_argument("--table", metavar="DIR", help="only print the results saved in DIR")
    args = ap.parse_args()
    if args.table:
        table(args.table)
        return
    if args.ppm is None:
        ap.error("--ppm is needed")
    with tempfile.TemporaryDirectory(prefix="bw-clocks-") as work:
        if args.check_sink:
            args.seconds = args.check_sink
            result = check_sink(args, work)
        else:
            result = live_run(args, work)
        if args.out:
            os.makedirs(args.out, exist_ok=True)
            name = "check" if args.check_sink else f"{args.clocks or 'auto'}_{args.skewed}"
            with open(os.path.join(args.out, f"{name}_{args.ppm:+g}ppm.json"), "w") as f:
                json.dump(result, f, indent=1)
    print(json.dumps(result))


if __name__ == "__main__":
    main()
