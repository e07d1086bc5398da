#!/usr/bin/env python3
"""How many damaged JPEGs pictavo-cli takes for whole pictures.

Makes COUNT mutants of a few shared photographs (one bit flipped, a run of bytes
overwritten with noise, zeros or 0xFF, bytes inserted, the file cut; each in the
headers or in the scan data), converts every mutant with its own pictavo-cli
process and compares each accepted result with the result of the intact file:
the PSNR of the two decoded outputs (djpeg, from libjpeg-turbo-progs). An
accepted mutant below 20 dB, or of another size, is garbage that got through.
Refused mutants are counted by the reason pictavo-cli gives.

Usage: bench/jpeg_mutants.py [--cli PATH] [--count N] [--seed S] [--out DIR]
                             [PHOTO.jpg ...]
Defaults: build/bin/pictavo-cli, 260 mutants, seed 1, a fresh folder under /tmp
(kept: the mutants that got through as garbage stay there with a list.tsv of
every mutant), five photographs of ../shared/testdata (baseline 4:2:2 and 4:4:4,
JFIF, progressive, restart markers).
"""

import argparse
import math
import os
import random
import subprocess
import sys
import tempfile
from collections import Counter

GARBAGE_DB = 20.0
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TESTDATA = os.environ.get("PICTAVO_TESTDATA_DIR",
                          os.path.join(os.path.dirname(ROOT), "shared", "testdata"))
PHOTOS = [
    "photos/cameratrap_domestic_dog.jpg",
    "photos/Sumo_Museum.jpg",
    "photos/libjxl_flower.jpg",
    "formats/jpeg/libjxl/flower_q85_420_progr.jpg",
    "formats/jpeg/libjxl/bicycles_restarts.jpg",
]


def scan_bounds(data):
    """Offsets of the first scan's coded data and of the last end marker."""
    sos = data.find(b"\xff\xda")
    if sos < 0:
        raise ValueError("no start of scan")
    length = (data[sos + 2] << 8) | data[sos + 3]
    eoi = data.rfind(b"\xff\xd9")
    return sos + 2 + length, eoi if eoi > sos else len(data)


def mutate(data, rng):
    """One mutant of `data`: (bytes, description)."""
    scan_start, scan_end = scan_bounds(data)
    region = rng.choice(["header", "scan", "scan"])
    lo, hi = (2, scan_start) if region == "header" else (scan_start, scan_end)
    at = rng.randrange(lo, hi)
    kind = rng.choice(["flip", "flip", "noise", "zeros", "ones", "insert", "cut"])
    out = bytearray(data)
    if kind == "flip":
        bit = rng.randrange(8)
        out[at] ^= 1 << bit
        return bytes(out), f"{region} flip bit {bit} of byte {at}"
    if kind in ("noise", "zeros", "ones"):
        count = min(rng.choice([1, 2, 4, 16, 64, 256]), hi - at)
        fill = {"noise": lambda: rng.randrange(256), "zeros": lambda: 0,
                "ones": lambda: 0xFF}[kind]
        for i in range(at, at + count):
            out[i] = fill()
        return bytes(out), f"{region} {count} bytes of {kind} at {at}"
    if kind == "insert":
        count = rng.choice([1, 2, 3, 8, 32])
        noise = bytes(rng.randrange(256) for _ in range(count))
        return bytes(out[:at]) + noise + bytes(out[at:]), f"{region} {count} bytes inserted at {at}"
    return bytes(out[:at]), f"{region} cut at {at}"


def decoded(path):
    """(width, height, RGB bytes) of a JPEG, through djpeg."""
    ppm = subprocess.run(["djpeg", "-pnm", path], capture_output=True, check=True).stdout
    fields, i = [], 0
    while len(fields) < 4:
        while ppm[i:i + 1].isspace():
            i += 1
        start = i
        while not ppm[i:i + 1].isspace():
            i += 1
        fields.append(ppm[start:i])
    return int(fields[1]), int(fields[2]), ppm[i + 1:]


def psnr(reference, result):
    if reference[:2] != result[:2]:
        return None
    squares = sum((a - b) * (a - b) for a, b in zip(reference[2], result[2]))
    if squares == 0:
        return math.inf
    return 10 * math.log10(255 * 255 * len(reference[2]) / squares)


def convert(cli, source, target):
    """pictavo-cli's verdict: None when converted, else its reason."""
    if os.path.exists(target):
        os.remove(target)
    try:
        run = subprocess.run([cli, "-o", target, source], capture_output=True, text=True,
                             timeout=120)
    except subprocess.TimeoutExpired:
        return "timeout"
    if run.returncode == 0 and os.path.exists(target):
        return None
    for line in run.stderr.splitlines():
        named = line.find(source + ": ")
        if named >= 0:
            return line[named + len(source) + 2:].removesuffix("; skipped")
    return f"exit {run.returncode}"


def first_warning(path):
    run = subprocess.run(["djpeg", "-outfile", os.devnull, path], capture_output=True,
                         text=True)
    lines = [line.split(": ", 1)[-1] for line in run.stderr.splitlines() if line.strip()]
    return lines[0] if lines else "-"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "bin", "pictavo-cli"))
    parser.add_argument("--count", type=int, default=260)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--out")
    parser.add_argument("photos", nargs="*")
    args = parser.parse_args()
    photos = args.photos or [os.path.join(TESTDATA, p) for p in PHOTOS]
    out = args.out or tempfile.mkdtemp(prefix="pictavo-mutants.")
    os.makedirs(out, exist_ok=True)
    rng = random.Random(args.seed)

    references = {}
    for photo in photos:
        target = os.path.join(out, "intact-" + os.path.basename(photo))
        reason = convert(args.cli, photo, target)
        if reason is not None:
            sys.exit(f"the intact {photo} is refused: {reason}")
        references[photo] = decoded(target)

    verdicts = Counter()
    garbage = []
    with open(os.path.join(out, "list.tsv"), "w") as table:
        table.write("mutant\tphoto\tedit\tverdict\tpsnr\tlibjpeg\n")
        for number in range(args.count):
            photo = photos[number % len(photos)]
            with open(photo, "rb") as file:
                data, edit = mutate(file.read(), rng)
            source = os.path.join(out, f"m{number:04d}.jpg")
            target = os.path.join(out, f"m{number:04d}-out.jpg")
            with open(source, "wb") as file:
                file.write(data)
            reason = convert(args.cli, source, target)
            quality = None
            if reason is None:
                quality = psnr(references[photo], decoded(target))
                bad = quality is None or quality < GARBAGE_DB
                verdict = "accepted, garbage" if bad else "accepted"
                if bad:
                    garbage.append((number, os.path.basename(photo), edit, quality))
            else:
                verdict = "refused: " + reason
            verdicts[verdict] += 1
            shown = "other size" if reason is None and quality is None else (
                "-" if quality is None else f"{quality:.1f}")
            table.write(f"m{number:04d}\t{os.path.basename(photo)}\t{edit}\t{verdict}\t{shown}"
                        f"\t{first_warning(source)}\n")
            keep = reason is None and (quality is None or quality < GARBAGE_DB)
            if not keep:
                os.remove(source)
            if os.path.exists(target) and not keep:
                os.remove(target)

    accepted = sum(n for v, n in verdicts.items() if v.startswith("accepted"))
    print(f"{args.count} mutants of {len(photos)} photographs with {args.cli}")
    print(f"accepted: {accepted}, of them garbage (< {GARBAGE_DB:.0f} dB or another size): "
          f"{len(garbage)}")
    for verdict, n in sorted(verdicts.items(), key=lambda item: -item[1]):
        print(f"  {n:4d}  {verdict}")
    for number, photo, edit, quality in garbage:
        shown = "other size" if quality is None else f"{quality:.1f} dB"
        print(f"  garbage m{number:04d} {photo}: {edit}: {shown}")
    print(f"details: {out}/list.tsv")


if __name__ == "__main__":
    main()
