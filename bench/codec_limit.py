#!/usr/bin/python3
"""Times JPEG to JPEG with a caption against the codec limit: TurboJPEG
decoding and encoding the same file with no text.

Usage: /usr/bin/python3 bench/codec_limit.py [--build build/native] [--rounds 11] [--calls 30]
                                              [--noise 8] [--skip-processes] [--skip-python]
       /usr/bin/python3 bench/codec_limit.py --python-loop N   (for perf record)

Run with Debian's Python (its numpy and Pillow). It makes its own
photo-like pictures (smooth light, texture and noise, drawn with numpy and
encoded by the library through the Python bindings, which it loads from
the build folder), nothing committed:

- w2: 1920 x 1080 at quality 92 (the library's encoder keeps full chroma
  above 90, so 4:4:4);
- w2-420: the same picture at quality 92 with 4:2:0 chroma, re-encoded by
  bench/turbojpeg_reference (as a camera writes it; the library's output
  stays 4:4:4);
- w3: 4032 x 3024 at quality 90 (4:2:0).

Whole processes, in interleaved rounds (each round runs every command once,
in turn): the imgtext tool stamping a watermark caption (outline and
shadow, bottom right) and writing a JPEG at the input's quality, with its
default jobs (one file: a JPEG decoded on two threads) and with -j 1; and
bench/turbojpeg_reference decoding and encoding the same file at the same
quality and the chroma sampling the tool's output has. It prints the median
wall time of each, the ratio of the medians and the median of the
round-by-round ratios, then the peak memory of each on w3
(/usr/bin/time -v: maximum resident set size).

Per call in Python (w10), bytes in and bytes out at 1920 x 1080, in
interleaved rounds in this process: the library (Image.open, draw_text,
encode at quality 90) with threads=1 and threads=2, Pillow doing the same
(Image.open, ImageDraw.text with the same font, save at quality 90, which
is 4:2:0 in both), each also with no text, and TurboJPEG through ctypes
(decode to RGB, encode at quality 90 4:2:0), and batch.watermark, the
same caption in one call that streams the picture through in bands of rows
(and must give the same bytes). The threads rows are repeated
at 4032 x 3024 to judge a two-thread default for large pictures.

Other load on the machine moves the times; the same-run ratios are what
hold, so run it when the machine is quiet. A benchmark, not a test:
nothing fails.
"""

import argparse
import ctypes
import io
import os
import pathlib
import re
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
CAPTION = "© 2026 Quendal — harbour at dawn"
FONT = ROOT / ".deps" / "font" / "Caladea-Regular.ttf"  # the built-in font's file, for Pillow


def load_bindings(build):
    os.environ.setdefault("QUENDAL_IMGTEXT_LIBRARY", str(build / "libquendal-imgtext.so"))
    sys.path.insert(0, str(ROOT / "bindings" / "python"))
    import quendal_imgtext

    return quendal_imgtext


def photo(width, height, quality, seed=2026, noise=8.0):
    """A photo-like JPEG made by the library: smooth light, texture, noise."""
    import numpy
    from quendal_imgtext import Image

    rng = numpy.random.default_rng(seed)
    y, x = numpy.mgrid[0:height, 0:width].astype(numpy.float32)
    light = 0.5 + 0.5 * numpy.sin(x / (width / 21.0)) * numpy.cos(y / (height / 15.0))
    texture = numpy.sin((x + y * 2) / 9.0) * 20
    rgb = numpy.stack([light * 200 + texture, light * 150 + 40, (1 - light) * 180 + texture], axis=-1)
    rgb += rng.normal(0, noise, rgb.shape).astype(numpy.float32)
    pixels = numpy.clip(rgb, 0, 255).astype(numpy.uint8)
    return Image.from_array(pixels, copy=True).encode("jpeg", quality=quality)


def sampling(reference, path):
    return subprocess.run([reference, "--info", str(path)], check=True, capture_output=True,
                          text=True).stdout.split()[2]


def tool_command(tool, quality, source, target, jobs=None):
    command = [tool, "add", "--text", CAPTION, "--size", "4%", "--gravity", "bottom-right", "--margin", "24",
               "--stroke-width", "2", "--shadow", "3,3,2", "--opacity", "0.85", "--quality", str(quality), "-q"]
    return command + (["-j", str(jobs)] if jobs else []) + ["-o", str(target), str(source)]


def interleaved(commands, rounds):
    """Median wall seconds of each command, run in turn round by round,
    and every round's times."""
    times = {name: [] for name in commands}
    for name, command in commands.items():  # one warm-up each: page cache, dynamic loader
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    for _ in range(rounds):
        for name, command in commands.items():
            start = time.perf_counter()
            subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
            times[name].append(time.perf_counter() - start)
    return times


def peak_rss_mb(command):
    result = subprocess.run(["/usr/bin/time", "-v", *command], check=True, capture_output=True, text=True)
    kilobytes = re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr)
    return int(kilobytes.group(1)) / 1024


def processes(args, folder):
    tool = str(args.build / "tools" / "imgtext" / "imgtext")
    reference = str(args.build / "bench" / "turbojpeg_reference")
    cases = {"w2": (folder / "w2.jpg", 92), "w2-420": (folder / "w2-420.jpg", 92), "w3": (folder / "w3.jpg", 90)}
    cases["w2"][0].write_bytes(photo(1920, 1080, 92, noise=args.noise))
    subprocess.run([reference, "-s", "420", "92", str(cases["w2"][0]), str(cases["w2-420"][0])], check=True)
    cases["w3"][0].write_bytes(photo(4032, 3024, 90, noise=args.noise))
    print(f"whole processes, {args.rounds} interleaved rounds; medians (min-max)")
    for case, (source, quality) in cases.items():
        out = folder / f"{case}-out.jpg"
        subprocess.run(tool_command(tool, quality, source, out), check=True)
        chroma = sampling(reference, out)
        commands = {
            "imgtext": tool_command(tool, quality, source, out),
            "imgtext -j 1": tool_command(tool, quality, source, out, jobs=1),
            "turbojpeg": [reference, "-s", chroma, str(quality), str(source), str(folder / f"{case}-tj.jpg")],
        }
        times = interleaved(commands, args.rounds)
        limit = times["turbojpeg"]
        print(f"{case}: {sampling(reference, source)} in, q{quality} {chroma} out, "
              f"{source.stat().st_size / 1e6:.2f} MB in")
        for name, runs in times.items():
            line = (f"  {name:13} {statistics.median(runs) * 1000:8.1f} ms "
                    f"({min(runs) * 1000:.1f}-{max(runs) * 1000:.1f})")
            if name != "turbojpeg":
                paired = statistics.median(a / b for a, b in zip(runs, limit))
                line += (f"  {statistics.median(runs) / statistics.median(limit):.2f}x turbojpeg "
                         f"(round by round {paired:.2f}x)")
            print(line)
        if case == "w3":
            sizes = source.stat().st_size + out.stat().st_size
            print(f"  peak RSS (compressed input + output {sizes / 2**20:.1f} MB):")
            for name, command in commands.items():
                peak = peak_rss_mb(command)
                print(f"  {name:13} {peak:8.1f} MB ({peak - sizes / 2**20:.1f} MB beyond them)")


class TurboJpeg:
    """Bytes to bytes through libturbojpeg with ctypes (which releases the GIL)."""

    def __init__(self):
        self.lib = lib = ctypes.CDLL("libturbojpeg.so.0")
        lib.tjInitDecompress.restype = lib.tjInitCompress.restype = ctypes.c_void_p
        lib.tjDecompressHeader3.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_ulong] + [
            ctypes.POINTER(ctypes.c_int)] * 4
        lib.tjDecompress2.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_ulong, ctypes.c_void_p] + [
            ctypes.c_int] * 5
        lib.tjCompress2.argtypes = [ctypes.c_void_p, ctypes.c_void_p] + [ctypes.c_int] * 4 + [
            ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(ctypes.c_ulong)] + [ctypes.c_int] * 3
        lib.tjFree.argtypes = [ctypes.c_void_p]
        self.decoder, self.encoder = lib.tjInitDecompress(), lib.tjInitCompress()

    def __call__(self, data, quality):
        lib, w, h, samp, space = self.lib, ctypes.c_int(), ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
        assert lib.tjDecompressHeader3(self.decoder, data, len(data), w, h, samp, space) == 0
        pixels = ctypes.create_string_buffer(w.value * h.value * 3)
        assert lib.tjDecompress2(self.decoder, data, len(data), pixels, w.value, 0, h.value, 0, 0) == 0
        out, size = ctypes.c_void_p(), ctypes.c_ulong()
        assert lib.tjCompress2(self.encoder, pixels, w.value, 0, h.value, 0, out, size, 2, quality, 0) == 0
        try:
            return ctypes.string_at(out.value, size.value)
        finally:
            lib.tjFree(out)


def library_call(data, threads=1, text=True):
    from quendal_imgtext import Image

    image = Image.open(data, threads=threads)
    if text:
        image.draw_text(CAPTION, gravity="bottom-right", margin=24, font_size=48, stroke_width=2)
    return image.encode("jpeg", quality=90)


def watermark_call(data):
    """The one-call form, batch.watermark, which streams a JPEG to JPEG."""
    from quendal_imgtext import batch

    return batch.watermark(data, CAPTION, gravity="bottom-right", margin=24, font_size=48, stroke_width=2,
                           quality=90)


def python_calls(args):
    from PIL import Image as PilImage, ImageDraw, ImageFont

    font = ImageFont.truetype(str(FONT), 48)

    def pillow_call(data, text=True):
        picture = PilImage.open(io.BytesIO(data))
        if text:
            draw = ImageDraw.Draw(picture)
            width, height = picture.size
            draw.text((width - 24, height - 24), CAPTION, fill=(255, 255, 255), font=font, anchor="rd",
                      stroke_width=2, stroke_fill=(0, 0, 0))
        out = io.BytesIO()
        picture.save(out, "JPEG", quality=90)
        return out.getvalue()

    turbo = TurboJpeg()
    for width, height in ((1920, 1080), (4032, 3024)):
        data = photo(width, height, 90, noise=args.noise)
        calls = {
            "library, threads=1": lambda: library_call(data),
            "library, threads=2": lambda: library_call(data, threads=2),
            "batch.watermark": lambda: watermark_call(data),
        }
        if width == 1920:
            calls.update({
                "Pillow": lambda: pillow_call(data),
                "library, no text": lambda: library_call(data, text=False),
                "Pillow, no text": lambda: pillow_call(data, text=False),
                "turbojpeg, no text": lambda: turbo(data, 90),
            })
        times = {name: [] for name in calls}
        for call in calls.values():
            call()
        for _ in range(args.calls if width == 1920 else max(args.calls // 3, 5)):
            for name, call in calls.items():
                start = time.perf_counter()
                call()
                times[name].append(time.perf_counter() - start)
        medians = {name: statistics.median(runs) for name, runs in times.items()}
        base = medians["Pillow"] if "Pillow" in medians else medians["library, threads=1"]
        print(f"Python per call, {width} x {height} q90 bytes to bytes ({len(data) / 1e6:.2f} MB in), "
              f"{len(times['library, threads=1'])} "
              f"interleaved rounds; medians, against {'Pillow' if 'Pillow' in medians else 'threads=1'}")
        for name, median in medians.items():
            print(f"  {name:20} {median * 1000:8.2f} ms  {median / base:.2f}x")
        if width == 1920:
            assert watermark_call(data) == library_call(data), "batch.watermark must equal the calls one by one"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", type=pathlib.Path, default=ROOT / "build" / "native")
    parser.add_argument("--rounds", type=int, default=11)
    parser.add_argument("--calls", type=int, default=30)
    parser.add_argument("--noise", type=float, default=8.0,
                        help="standard deviation of the pictures' noise, which sets how much the entropy coding does")
    parser.add_argument("--skip-processes", action="store_true")
    parser.add_argument("--skip-python", action="store_true")
    parser.add_argument("--python-loop", type=int, metavar="N",
                        help="only run the library's 1920 x 1080 call N times (to profile it)")
    args = parser.parse_args()
    args.build = args.build.resolve()
    load_bindings(args.build)
    if args.python_loop:
        data = photo(1920, 1080, 90, noise=args.noise)
        for _ in range(args.python_loop):
            library_call(data)
        return
    with tempfile.TemporaryDirectory(prefix="codec-limit-") as folder:
        if not args.skip_processes:
            processes(args, pathlib.Path(folder))
    if not args.skip_python:
        python_calls(args)


if __name__ == "__main__":
    main()
