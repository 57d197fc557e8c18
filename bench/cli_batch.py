#!/usr/bin/env python3
"""Times an imgtext batch of photos with -j 2 against -j 1.

Usage: bench/cli_batch.py [--photos 200] [--size 1600x1200] [--runs 3]
                          [--tool build/release/tools/imgtext/imgtext]

Makes photo-like JPEGs (smooth light, texture and noise, drawn with numpy
and encoded by the library through the Python bindings, which this script
finds beside it and loads from the tool's build folder), then stamps a
caption on all of them with each -j setting in turn, and prints the median
wall time of each and their ratio. Workers share nothing but the font, so
on an otherwise idle machine with two cores -j 2 should take at most 0.6
times as long as -j 1; other load on the machine moves the ratio, so run it
when the machine is quiet. A benchmark, not a test: nothing fails.
"""

import argparse
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent


def make_photos(folder, count, width, height, library):
    os.environ.setdefault("QUENDAL_IMGTEXT_LIBRARY", str(library))
    sys.path.insert(0, str(ROOT / "bindings" / "python"))
    import numpy
    from quendal_imgtext import Image

    rng = numpy.random.default_rng(2026)
    y, x = numpy.mgrid[0:height, 0:width].astype(numpy.float32)
    distinct = []
    for i in range(8):  # eight different pictures, copied under 200 names
        light = 0.5 + 0.5 * numpy.sin(x / (90 + 20 * i) + i) * numpy.cos(y / (70 + 10 * i))
        texture = numpy.sin((x * (1 + i % 3) + y * 2) / 9.0) * 20
        rgb = numpy.stack([light * 200 + texture, light * 150 + 40, (1 - light) * 180 + texture], axis=-1)
        rgb += rng.normal(0, 8, rgb.shape)
        pixels = numpy.clip(rgb, 0, 255).astype(numpy.uint8)
        distinct.append(Image.from_array(pixels, copy=True).encode("jpeg", quality=90))
    paths = []
    for n in range(count):
        path = folder / f"photo{n:03d}.jpg"
        path.write_bytes(distinct[n % len(distinct)])
        paths.append(str(path))
    return paths


def timed_batch(tool, jobs, photos, out):
    shutil.rmtree(out, ignore_errors=True)
    start = time.perf_counter()
    subprocess.run([tool, "add", "--text", "© 2026 Quendal", "--size", "48", "--gravity", "bottom-right",
                    "--margin", "16", "-q", "-j", str(jobs), "-o", f"{out}/", *photos], check=True)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--photos", type=int, default=200)
    parser.add_argument("--size", default="1600x1200")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--tool", default=str(ROOT / "build" / "release" / "tools" / "imgtext" / "imgtext"))
    args = parser.parse_args()
    width, height = map(int, args.size.split("x"))
    tool = pathlib.Path(args.tool).resolve()
    library = tool.parent.parent.parent / "libquendal-imgtext.so"

    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        photos = make_photos(work, args.photos, width, height, library)
        timed_batch(tool, 2, photos[:8], work / "warm")  # page the tool and library in
        times = {1: [], 2: []}
        for _ in range(args.runs):  # alternate, so drifting load hits both alike
            for jobs in (1, 2):
                times[jobs].append(timed_batch(tool, jobs, photos, work / f"out{jobs}"))
        identical = all((work / "out1" / name).read_bytes() == (work / "out2" / name).read_bytes()
                        for name in os.listdir(work / "out1"))
    one, two = statistics.median(times[1]), statistics.median(times[2])
    load = os.getloadavg()[0] if hasattr(os, "getloadavg") else float("nan")
    print(f"{args.photos} photos of {width}x{height}, median of {args.runs} runs on {os.cpu_count()} processors "
          f"(load average {load:.1f} at the end: above 0.5 or so, other work shares the cores)")
    print(f"  -j 1: {one:.2f} s   -j 2: {two:.2f} s   ratio {two / one:.2f} (target at most 0.6)")
    print(f"  outputs of -j 1 and -j 2 identical: {identical}")


if __name__ == "__main__":
    main()
