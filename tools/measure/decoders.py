#!/usr/bin/python3
"""Half-decode SNR of third-party decoders through brackwell-rx, on a clean
band and among impulse noise, with the noise blanker off and on.

  decoders.py ft8  --snr=-22:-19.5 --step 0.5 --files 5 --out DIR
  decoders.py rtty --snr=-9:0 --files 3 --messages 24 --out DIR

Each trial is a 48 kHz float I/Q recording: the decoder's audio as the upper
sideband of a carrier TUNE Hz above the band centre, complex white noise over
the whole band at the given SNR (the signal's power over the noise's power in
2500 Hz), and for the impulse cases 100 impulses a second: one in every 10 ms,
at a random time in its first half, a random phase, 40 dB (--impulse-db)
above the signal's peak, shaped 0.08, 1, 0.3, 0.08 (a 10 us impulse with the
front end's ringing).
The same noise and impulses are used for every case of a trial, so the cases
differ only in what they are asked to differ in.

FT8: ten messages a slot (ft8sim, WSJT-X) at 600..2400 Hz, decoded by
`jt9 -8 -d 3`. "Signal's peak" is one message's peak (--impulse-ref message)
or the peak of the ten together (--impulse-ref composite).
RTTY: minimodem's 45.45 Bd Baudot, 170 Hz shift, one message at a time with
noise-only gaps between, decoded by `minimodem --rx rtty`; a message counts
when its whole text comes out. Each message starts with two figures, so that a
figures shift the decoder took from the noise before it cannot garble it.
Every trial sends the same messages in fresh noise and impulses.

Needs numpy, sox, brackwell-rx (--rx), ft8sim and jt9 (wsjtx) or minimodem.
Prints the decodes per SNR and case and the half-decode SNR (a logistic
fitted to the counts, and the linear crossing), and writes them as JSON.
"""
import argparse
import json
import math
import os
import subprocess
import sys
import tempfile
import wave

import numpy as np

RATE = 48000
CASES = {  # name: (impulses, blanker)
    "clean": (False, False),
    "clean+nb": (False, True),
    "impulses": (True, False),
    "impulses+nb": (True, True),
}


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, capture_output=True, text=True, **kw)


def read_wav_mono(path):
    with wave.open(path) as w:
        assert w.getsampwidth() == 2
        x = np.frombuffer(w.readframes(w.getnframes()), dtype=np.int16).astype(float)
        return x[:: w.getnchannels()], w.getframerate()


def write_float_iq(path, iq):
    data = np.empty(2 * len(iq), dtype="<f4")
    data[0::2], data[1::2] = iq.real, iq.imag
    raw = data.tobytes()
    fmt = (3).to_bytes(2, "little") + (2).to_bytes(2, "little") + RATE.to_bytes(4, "little")
    fmt += (RATE * 8).to_bytes(4, "little") + (8).to_bytes(2, "little") + (32).to_bytes(2, "little")
    body = b"WAVE" + b"fmt " + (16).to_bytes(4, "little") + fmt
    body += b"fact" + (4).to_bytes(4, "little") + len(iq).to_bytes(4, "little")
    body += b"data" + len(raw).to_bytes(4, "little") + raw
    with open(path, "wb") as f:
        f.write(b"RIFF" + len(body).to_bytes(4, "little") + body)


def upper_sideband(audio, rate, tune):
    """Real audio at `rate` -> 48 kHz analytic signal shifted up by `tune` Hz
    (a cosine of amplitude a becomes a phasor of magnitude a)."""
    n = len(audio)
    m = n * RATE // rate
    assert m * rate == n * RATE
    spectrum = np.fft.rfft(audio)
    full = np.zeros(m, dtype=complex)
    full[: len(spectrum)] = 2.0 * spectrum * (m / n)
    full[0] /= 2.0
    iq = np.fft.ifft(full)
    return iq * np.exp(2j * np.pi * tune / RATE * np.arange(m))


def impulses(length, peak, rng):
    out = np.zeros(length, dtype=complex)
    period = RATE // 100
    for k in range(0, length - period, period):
        at = k + int(rng.uniform() * period / 2)
        phase = np.exp(2j * np.pi * rng.uniform())
        out[at : at + 4] += np.array([0.08, 1.0, 0.3, 0.08]) * peak * phase
    return out


# ---- the decoders ----


class Ft8:
    messages = [f"K{n}ABC W{(n + 3) % 10}XYZ EN{31 + n}" for n in range(10)]
    audio_hz = [600 + 200 * n for n in range(10)]

    def __init__(self, work, args):
        self.args = args
        waves = []
        for msg in self.messages:
            d = tempfile.mkdtemp(dir=work)
            run(["ft8sim", msg, "1500", "0.0", "0", "0", "1", "99"], cwd=d)
            x, rate = read_wav_mono(os.path.join(d, "000000_000001.wav"))
            waves.append(x / np.abs(x).max())
        self.rate = rate
        self.waves = waves

    def build(self, trial, tune):
        iq = np.zeros(len(self.waves[0]) * RATE // self.rate, dtype=complex)
        for x, hz in zip(self.waves, self.audio_hz):
            iq += upper_sideband(x, self.rate, tune + hz - 1500.0)  # ft8sim's is at 1500 Hz
        return iq, list(self.messages)

    def decode(self, out_wav, work):
        x12 = os.path.join(work, "x12.wav")
        run(["sox", out_wav, "-D", "-b", "16", x12, "remix", "1", "rate", "12000"])
        r = run(["jt9", "-8", "-d", str(self.args.depth), x12], cwd=work)
        return [line[24:].strip() for line in r.stdout.splitlines() if line[:1].isdigit()]


class Rtty:
    def __init__(self, work, args):
        self.args = args
        words = ["ALPHA", "BRAVO", "DELTA", "ECHO", "GOLF", "HOTEL", "KILO", "LIMA",
                 "OSCAR", "PAPA", "ROMEO", "SIERRA", "TANGO", "VICTOR", "XRAY", "ZULU"]
        self.all_messages = []
        for n in range(args.messages):
            call = f"K{n % 10}{chr(65 + n % 26)}{chr(66 + (3 * n) % 24)}"
            self.all_messages.append(
                f"{(7 * n + 3) % 100:02d} {words[n % 16]} {words[(5 * n + 3) % 16]} {call}")
        self.audio = []
        for n, msg in enumerate(self.all_messages):
            path = os.path.join(work, f"m{n}.wav")
            subprocess.run(["minimodem", "--tx", "rtty", "-R", str(RATE), "-f", path],
                           input=f"\n{msg}\n", text=True, check=True)
            x, _ = read_wav_mono(path)
            self.audio.append(x / np.abs(x).max())

    def build(self, trial, tune):
        gap = np.zeros(RATE)
        pieces = [gap]
        for x in self.audio:
            pieces += [x, gap]
        audio = np.concatenate(pieces)
        audio = np.concatenate([audio, np.zeros(-len(audio) % RATE)])
        return upper_sideband(audio, RATE, tune), list(self.all_messages)

    def decode(self, out_wav, work):
        mono = os.path.join(work, "mono.wav")
        run(["sox", out_wav, "-D", "-b", "16", mono, "remix", "1"])
        r = run(["minimodem", "--rx", "rtty", "-q", "-f", mono])
        return [line.strip() for line in r.stdout.splitlines()]


# ---- the sweep ----


def half_point(snrs, fractions, trials):
    """SNR of 50 % decodes: the maximum-likelihood logistic through the
    counts (slope fitted too), and the linear crossing of the raw fractions."""
    s = np.array(snrs, dtype=float)
    k = np.array(fractions) * trials
    best = (-np.inf, None)
    for mid in np.arange(s.min() - 2, s.max() + 2, 0.02):
        for width in (0.2, 0.3, 0.4, 0.5, 0.6, 0.8, 1.0, 1.3, 1.6, 2.0):
            p = np.clip(1 / (1 + np.exp(-(s - mid) / width)), 1e-9, 1 - 1e-9)
            ll = np.sum(k * np.log(p) + (trials - k) * np.log(1 - p))
            if ll > best[0]:
                best = (ll, mid)
    linear = None
    for a in range(len(s) - 1):
        if fractions[a] < 0.5 <= fractions[a + 1]:
            rise = fractions[a + 1] - fractions[a]
            linear = s[a] + (0.5 - fractions[a]) / rise * (s[a + 1] - s[a])
    return best[1], linear


def sweep(args, work):
    """Decodes per case and SNR, summed over the trials."""
    decoder = (Ft8 if args.decoder == "ft8" else Rtty)(work, args)
    lo, hi = (float(v) for v in args.snr.split(":"))
    snrs = [round(v, 2) for v in np.arange(lo, hi + args.step / 2, args.step)]
    cases = args.cases.split(",")
    counts = {c: [0] * len(snrs) for c in cases}
    total = 0
    for trial in range(args.files):
        clean, messages = decoder.build(trial, args.tune)
        total += len(messages)
        rng = np.random.default_rng(1000 + trial)
        n = len(clean)
        unit_noise = (rng.standard_normal(n) + 1j * rng.standard_normal(n)) / math.sqrt(2)
        peak = 1.0 if args.impulse_ref == "message" else np.abs(clean).max()
        spikes = impulses(len(clean), 10 ** (args.impulse_db / 20) * peak, rng)
        over = args.impulse_db + 20 * math.log10(peak)
        print(f"trial {trial}: impulses {over:.1f} dB above one message's peak")
        for i, snr in enumerate(snrs):
            # Every message has power 1: noise power in 2500 Hz is 10^(-snr/10).
            noise = unit_noise * math.sqrt(10 ** (-snr / 10) * RATE / 2500)
            for case in cases:
                with_impulses, blanker = CASES[case]
                iq = clean + noise + (spikes if with_impulses else 0)
                iq *= 0.5 / max(np.abs(iq.real).max(), np.abs(iq.imag).max())
                src, dst = os.path.join(work, "in.wav"), os.path.join(work, "out.wav")
                write_float_iq(src, iq)
                nb = ["--nb"] if blanker else []
                run([args.rx, "--mode", "usb", "--tune", str(args.tune)] + nb + [src, dst])
                decoded = decoder.decode(dst, work)
                got = sum(1 for m in messages if any(m in d for d in decoded))
                counts[case][i] += got
                print(f"trial {trial} snr {snr:+.1f} {case:12s} {got}/{len(messages)}", flush=True)
    return snrs, counts, total


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("decoder", choices=["ft8", "rtty"])
    ap.add_argument("--snr", required=True, help="FROM:TO in dB")
    ap.add_argument("--step", type=float, default=1.0, help="SNR step in dB")
    ap.add_argument("--files", type=int, default=1, help="trials (recordings) per SNR")
    ap.add_argument("--messages", type=int, default=24, help="RTTY messages per trial")
    ap.add_argument("--cases", default=",".join(CASES))
    ap.add_argument("--impulse-ref", choices=["message", "composite"], default="message")
    ap.add_argument("--impulse-db", type=float, default=40.0, help="impulses over the peak, dB")
    ap.add_argument("--depth", type=int, default=3, help="jt9 decoding depth")
    ap.add_argument("--tune", type=int, default=6000)
    ap.add_argument("--rx", default="brackwell-rx")
    ap.add_argument("--out", required=True)
    args = ap.parse_args()

    os.makedirs(args.out, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="decoders-", dir=args.out) as work:
        snrs, counts, total = sweep(args, os.path.abspath(work))

    result = {"decoder": args.decoder, "impulse_ref": args.impulse_ref, "snrs": snrs,
              "messages": total, "counts": counts, "half": {}}
    print(f"\n{args.decoder}: {total} messages per SNR, SNR in 2500 Hz")
    print("case         " + " ".join(f"{s:+5.1f}" for s in snrs) + "   half (fit / linear)")
    for case in counts:
        fractions = [c / total for c in counts[case]]
        fit, linear = half_point(snrs, fractions, total)
        result["half"][case] = [fit, linear]
        lin = f"{linear:+.2f}" if linear is not None else "  -  "
        row = " ".join(f"{c:5d}" for c in counts[case])
        print(f"{case:12s}  {row}   {fit:+.2f} / {lin}")
    with open(os.path.join(args.out, f"{args.decoder}-{args.impulse_ref}.json"), "w") as f:
        json.dump(result, f, indent=1)


if __name__ == "__main__":
    sys.exit(main())
