#!/usr/bin/env python3
"""Times Python threads watermarking pictures: two threads against one.

Usage: bench/python_threads.py [--jobs 48] [--size 1200x900] [--runs 3]
                               [--library build/release/libquendal-imgtext.so]

Each job decodes a JPEG, draws a caption with an outline and a shadow, and
encodes a JPEG again, all through the bindings (Image.open, draw_text,
encode). One thread does all the jobs, then two threads each do half of
them; the script prints the median wall time of each and their ratio. Every
call into the library goes through ctypes.CDLL, which releases the GIL for
the call's length, so on an otherwise idle machine with two cores the two
threads should take at most 0.6 times as long as one. Python's own share of
a job (checking arguments, building the style) holds the GIL and is what
keeps the ratio above 0.5; the script measures that share too, with each
library function wrapped in a timer. Other load on the machine moves the
ratio, so run it when the machine is quiet; the script also times two
processes against one (no GIL shared at all), the best the machine allows
at that moment, to read the threads' ratio against. A benchmark, not a
test: nothing fails.
"""

import argparse
import multiprocessing
import os
import pathlib
import statistics
import sys
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
_photo = b""  # the JPEG every job starts from, made by main()


def job(_=None):
    from quendal_imgtext import Image

    image = Image.open(_photo)
    image.draw_text("© 2026 Quendal — harbour at dawn", gravity="bottom-right", margin=24, font_size=48,
                    stroke_width=2, shadow=(3, 3, 2), opacity=0.85)
    return image.encode("jpeg", quality=88)


def run_threads(count, jobs, expected):
    results, share = [], jobs // count

    def work():
        results.extend(job() for _ in range(share))

    workers = [threading.Thread(target=work) for _ in range(count)]
    started = time.perf_counter()
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    elapsed = time.perf_counter() - started
    assert len(results) == share * count and set(results) == {expected}, "threads drew different bytes"
    return elapsed


def run_processes(count, jobs):
    with multiprocessing.get_context("fork").Pool(count) as pool:
        pool.map(job, range(count))  # started and warm
        started = time.perf_counter()
        pool.map(job, range(jobs), chunksize=1)
        return time.perf_counter() - started


def gil_share(jobs):
    """The share of a job's time spent outside the library's calls, where the
    GIL is held: each ctypes function is wrapped in a timer. Unlike the
    ratios, other load on the machine hardly moves it."""
    from quendal_imgtext import _native

    inside, originals = [0.0], {}
    names = {name for name in dir(_native.lib) if name.startswith("imgtext_")}
    for name in names:
        originals[name] = function = getattr(_native.lib, name)

        def timed(*args, _function=function):
            started = time.perf_counter()
            try:
                return _function(*args)
            finally:
                inside[0] += time.perf_counter() - started

        setattr(_native.lib, name, timed)
    try:
        job()
        inside[0], started = 0.0, time.perf_counter()
        for _ in range(jobs):
            job()
        total = time.perf_counter() - started
    finally:
        for name, function in originals.items():
            setattr(_native.lib, name, function)
    return (total - inside[0]) / total


def main():
    global _photo
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--jobs", type=int, default=48)
    parser.add_argument("--size", default="1200x900")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--library", default=str(ROOT / "build/release/libquendal-imgtext.so"))
    options = parser.parse_args()
    os.environ.setdefault("QUENDAL_IMGTEXT_LIBRARY", options.library)
    sys.path.insert(0, str(ROOT / "bindings" / "python"))
    from quendal_imgtext import Image, _native

    width, height = (int(n) for n in options.size.split("x"))
    canvas = Image.new(width, height, "steelblue")
    canvas.draw_text((0, 0), "texture " * 40, size=18, max_width=width, fill="#ffffff40")
    _photo = canvas.encode("jpeg", quality=90)
    expected = job()

    print(f"library: {_native.library_path}")
    print(f"{options.jobs} jobs of {width}x{height}: decode, draw with outline and shadow, encode; "
          f"median of {options.runs} runs")
    one = statistics.median(run_threads(1, options.jobs, expected) for _ in range(options.runs))
    two = statistics.median(run_threads(2, options.jobs, expected) for _ in range(options.runs))
    print(f"1 thread:  {one:.3f} s ({one / options.jobs * 1000:.1f} ms a job)")
    print(f"2 threads: {two:.3f} s")
    print(f"ratio 2 threads / 1 thread: {two / one:.2f} (target <= 0.6 on two idle cores)")
    share = gil_share(options.jobs)
    print(f"time holding the GIL: {share * 100:.1f}% of a job (two threads at best {(1 + share) / 2:.2f})")
    if sys.platform.startswith("linux"):
        alone, pair = (statistics.median(run_processes(n, options.jobs) for _ in range(options.runs)) for n in (1, 2))
        print(f"ratio 2 processes / 1 process: {pair / alone:.2f} (what the machine allows just now)")


if __name__ == "__main__":
    main()
