#!/usr/bin/env python3
"""Hostile inputs against pictavo-cli: time, peak memory and the time a stop takes.

Makes each file at run time under a scratch folder (never beside the shared test
data) and runs pictavo-cli on it as a user would, under /usr/bin/time -v:

  ztxt      a PNG with many zTXt chunks that each inflate to ~7.9 MB
  itxt      the same with compressed iTXt chunks
  idat      a 1x1 PNG whose IDAT inflates to tens of GiB
  tifftags  8 TIFFs of 64x64 px with 200 private tags of 1 MB each, -j 8 --memory 300
  tiffstrip a single-strip 11585x11585 RGB TIFF, --memory 1100
  heifispe  8 HEICs whose ispe says 64x64 for an 8192x8192 stream, -j 8 --memory 300
            (needs heif-enc; skipped without it)
  dogflip   the shared dog photo with one bit flipped in its scan (must be refused)
  sigterm   SIGTERM one second into a 132-MP progressive JPEG: seconds until the process ends

Usage: bench/hostile_inputs.py [--cli PATH] [--scratch DIR] [--only a,b] [--chunks N]
"""

import argparse
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TESTDATA = os.path.join(os.path.dirname(ROOT), "shared", "testdata")


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png_with(ancillary, width=64, height=64, idat=None):
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    if idat is None:
        rows = b"".join(b"\0" + b"".join(bytes([(x * 4) & 255, (y * 4) & 255, 128])
                                         for x in range(width)) for y in range(height))
        idat = zlib.compress(rows)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + b"".join(ancillary)
            + png_chunk(b"IDAT", idat) + png_chunk(b"IEND", b""))


def inflating_text(count, kind):
    payload = zlib.compress(b"A" * 7_900_000, 9)
    chunks = []
    for index in range(count):
        keyword = b"Comment%d" % index
        if kind == b"zTXt":
            chunks.append(png_chunk(b"zTXt", keyword + b"\0\0" + payload))
        else:
            chunks.append(png_chunk(b"iTXt", keyword + b"\0\1\0\0\0" + payload))
    return chunks


def idat_bomb(gibibytes):
    # Deflate blocks of zeros repeat: one 64 MiB run, sync-flushed, copied.
    compressor = zlib.compressobj(9)
    run = compressor.compress(b"\0" * (64 << 20)) + compressor.flush(zlib.Z_SYNC_FLUSH)
    copies = gibibytes * 16
    # The first copy keeps the zlib header; the stream ends with an empty final
    # block and a checksum that does not match (a reader never gets that far).
    return run + run[2:] * (copies - 1) + b"\x03\x00" + b"\0\0\0\0"


def write_ifd(out, entries):
    """A little-endian directory: SHORT values of count 1 inline, the rest as LONGs."""
    out.write(struct.pack("<H", len(entries)))
    for tag, kind, count, value in entries:
        if kind == 3 and count == 1:
            out.write(struct.pack("<HHIHH", tag, kind, count, value, 0))
        else:
            out.write(struct.pack("<HHII", tag, kind, count, value))
    out.write(struct.pack("<I", 0))


def tiff_with_tags(path, private_tags, blob_bytes):
    width = height = 64
    pixels = bytes((x * 4) & 255 for y in range(height) for x in range(width * 3))
    blob = b"\x55" * blob_bytes
    entries = []
    data_offset = 8
    pixel_offset = data_offset
    blob_offset = pixel_offset + len(pixels)
    bits_offset = blob_offset + len(blob)
    ifd_offset = bits_offset + 6
    entries.append((256, 3, 1, width))
    entries.append((257, 3, 1, height))
    entries.append((258, 3, 3, bits_offset))
    entries.append((259, 3, 1, 1))
    entries.append((262, 3, 1, 2))
    entries.append((273, 4, 1, pixel_offset))
    entries.append((277, 3, 1, 3))
    entries.append((278, 3, 1, height))
    entries.append((279, 4, 1, len(pixels)))
    for index in range(private_tags):
        entries.append((40000 + index, 7, blob_bytes, blob_offset))
    entries.sort()
    with open(path, "wb") as out:
        out.write(b"II*\0" + struct.pack("<I", ifd_offset))
        out.write(pixels + blob + struct.pack("<HHH", 8, 8, 8))
        write_ifd(out, entries)


def single_strip_tiff(path, side):
    strip = side * side * 3
    entries = [(256, 4, 1, side), (257, 4, 1, side), (258, 3, 3, 8 + strip), (259, 3, 1, 1),
               (262, 3, 1, 2), (273, 4, 1, 8), (277, 3, 1, 3), (278, 4, 1, side),
               (279, 4, 1, strip)]
    with open(path, "wb") as out:
        out.write(b"II*\0" + struct.pack("<I", 8 + strip + 6))
        row = bytes((x * 7) & 255 for x in range(side * 3))
        for _ in range(side):
            out.write(row)
        out.write(struct.pack("<HHH", 8, 8, 8))
        write_ifd(out, entries)


def lying_heics(folder, count):
    if shutil.which("heif-enc") is None:
        return []
    big = os.path.join(folder, "big.png")
    side = 8192
    rows = b"".join(b"\0" + bytes(((x >> 5) ^ (y >> 5)) & 255 for x in range(side))
                    for y in range(side))
    with open(big, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", side, side,
                                                                           8, 0, 0, 0, 0))
                  + png_chunk(b"IDAT", zlib.compress(rows, 1)) + png_chunk(b"IEND", b""))
    heic = os.path.join(folder, "big.heic")
    subprocess.run(["heif-enc", "-q", "30", "--no-alpha", "-o", heic, big], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    data = bytearray(open(heic, "rb").read())
    at = data.find(b"ispe")
    while at >= 0:
        struct.pack_into(">II", data, at + 8, 64, 64)
        at = data.find(b"ispe", at + 4)
    paths = []
    for index in range(count):
        path = os.path.join(folder, "lying%d.heic" % index)
        open(path, "wb").write(data)
        paths.append(path)
    return paths


def slow_jpeg(path, width=11000, height=12000):
    # Progressive noise near the pixel limit: every scan is decoded whole before
    # the first row comes out (seconds) - a picture under way when the stop comes.
    header = b"P6\n%d %d\n255\n" % (width, height)
    with open(path, "wb") as out:
        encoder = subprocess.Popen(["cjpeg", "-progressive", "-quality", "95"],
                                   stdin=subprocess.PIPE, stdout=out)
        encoder.stdin.write(header)
        for _ in range(height // 500):
            encoder.stdin.write(os.urandom(width * 3 * 500))
        encoder.stdin.close()
        encoder.wait()


def run_measured(cli, arguments, destination):
    shutil.rmtree(destination, ignore_errors=True)
    os.makedirs(destination)
    command = ["/usr/bin/time", "-f", "%e %M", cli, "-d", destination] + arguments
    started = time.monotonic()
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    wall = time.monotonic() - started
    last = done.stderr.strip().splitlines()[-1].split()
    outputs = len(os.listdir(destination))
    return wall, int(last[1]) / 1024, done.returncode, outputs


def stop_time(cli, picture, destination):
    shutil.rmtree(destination, ignore_errors=True)
    os.makedirs(destination)
    process = subprocess.Popen([cli, "-d", destination, picture], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    time.sleep(1.0)
    if process.poll() is not None:
        return None, process.returncode, len(os.listdir(destination))
    sent = time.monotonic()
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(timeout=60)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return float("inf"), process.returncode, len(os.listdir(destination))
    return time.monotonic() - sent, process.returncode, len(os.listdir(destination))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "bin", "pictavo-cli"))
    parser.add_argument("--scratch", default=None)
    parser.add_argument("--only", default="")
    parser.add_argument("--chunks", type=int, default=1000)
    options = parser.parse_args()
    only = set(filter(None, options.only.split(",")))
    scratch = options.scratch or tempfile.mkdtemp(prefix="pictavo-hostile-")
    os.makedirs(scratch, exist_ok=True)
    wanted = lambda name: not only or name in only

    rows = []

    def measure(name, arguments, note=""):
        wall, rss, code, outputs = run_measured(options.cli, arguments,
                                                os.path.join(scratch, "out-" + name))
        rows.append((name, "%.2f s" % wall, "%.0f MB" % rss, str(code), str(outputs), note))
        print("%-10s %9s %9s exit %s outputs %s %s" % rows[-1], flush=True)

    if wanted("ztxt"):
        ztxt = os.path.join(scratch, "ztxt.png")
        open(ztxt, "wb").write(png_with(inflating_text(options.chunks, b"zTXt")))
    if wanted("ztxt"):
        measure("ztxt", [ztxt], "%d chunks" % options.chunks)
    if wanted("itxt"):
        itxt = os.path.join(scratch, "itxt.png")
        open(itxt, "wb").write(png_with(inflating_text(options.chunks, b"iTXt")))
        measure("itxt", [itxt], "%d chunks" % options.chunks)
    if wanted("idat"):
        idat = os.path.join(scratch, "idat.png")
        open(idat, "wb").write(png_with([], 1, 1, idat_bomb(40)))
        measure("idat", [idat], "40 GiB inflated")
    if wanted("tifftags"):
        folder = os.path.join(scratch, "tifftags")
        os.makedirs(folder, exist_ok=True)
        for index in range(8):
            tiff_with_tags(os.path.join(folder, "tags%d.tif" % index), 200, 1 << 20)
        measure("tifftags", ["-j", "8", "--memory", "300", folder], "8 files")
    if wanted("tiffstrip"):
        strip = os.path.join(scratch, "strip.tif")
        single_strip_tiff(strip, 11585)
        measure("tiffstrip", ["--memory", "1100", strip])
        os.remove(strip)
    if wanted("heifispe"):
        folder = os.path.join(scratch, "heif")
        os.makedirs(folder, exist_ok=True)
        files = lying_heics(folder, 8)
        if files:
            measure("heifispe", ["-j", "8", "--memory", "300"] + files, "8 files")
    if wanted("dogflip"):
        source = os.path.join(TESTDATA, "photos", "cameratrap_domestic_dog.jpg")
        data = bytearray(open(source, "rb").read())
        data[418548] ^= 0x01  # bit 0: the scan goes out of step
        flipped = os.path.join(scratch, "dog_flipped.jpg")
        open(flipped, "wb").write(data)
        measure("dogflip", [flipped], "byte 418548")
    if wanted("sigterm"):
        slow = os.path.join(scratch, "progressive.jpg")
        if not os.path.exists(slow):
            slow_jpeg(slow)
        seconds, code, outputs = stop_time(options.cli, slow, os.path.join(scratch, "out-stop"))
        if seconds is None:
            print("sigterm    finished before the signal (exit %s)" % code)
        else:
            print("sigterm    %.2f s from SIGTERM to exit, exit %s, outputs %s"
                  % (seconds, code, outputs))
    print("scratch folder:", scratch)


if __name__ == "__main__":
    sys.exit(main())
