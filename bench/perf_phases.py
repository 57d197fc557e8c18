#!/usr/bin/python3
"""Groups a perf profile of a whole JPEG-to-JPEG call into its phases:
start-up and library load, font set-up, file reading, the format check,
decode, text layout, drawing, encode, the atomic write, freeing and exit.

Usage (perf is Debian's linux-perf; a native build keeps its symbols):
    perf record -F 2999 --call-graph dwarf,32768 -o w2.perf -- \\
        sh -c 'for i in $(seq 15); do build/native/tools/imgtext/imgtext add ... -o out.jpg in.jpg; done'
    perf script -i w2.perf -F comm,tid,period,ip,sym,dso | bench/perf_phases.py [--leaves 5]
and for the Python call, bench/codec_limit.py --python-loop 150 under
perf record -D 900 (which skips making the picture).

Each sample goes to the phase of the innermost frame of its call chain that
names one, so the kernel's work (page faults on fresh pages, reads, the
rename) counts where the library asked for it. Samples of the shell that
runs the loop are left out. Printed: each phase's share of the samples,
how much of it is in the kernel, and its heaviest leaf functions (self
time). perf samples on-CPU time of every thread, so with a two-thread
decode the shares are of CPU time, not of wall time.
"""

import argparse
import collections
import re
import sys

# Innermost first: a frame matching an earlier phase decides before the
# frames that called it.
PHASES = [
    ("format check (count_jpeg_scans)", r"count_jpeg_scans"),
    # transform_block and transform_strip are the encoder's DCT kernels.
    ("encode", r"encode_jpeg|jpeg_row_encoder|block_coder|transform_block|transform_strip|encode_image|encode_png"),
    ("decode", r"jpeg::decoder|jpeg::bit_reader|jpeg_idct|jpeg_ycbcr|jpeg_upsample|"
               r"idct_queue|decode_jpeg_rgba|decode_jpeg_rows|stbi__"),
    ("font set-up", r"builtin_font|validate_font|make_text_face|harfbuzz_font|stbtt_InitFont|hb_face_create|"
                    r"hb_font_create|imgtext_font_"),
    ("text layout and shaping", r"hb_shape|hb_buffer|layout_text|text_layout|glyph_for_codepoint|glyph_kerning|"
                                r"bidi|line_break|grapheme"),
    ("drawing", r"draw_window|draw_|widen_coverage|box_pass|blur|composite|stbtt_|coverage|text_drawing::draw|imgtext_draw"),
    ("file reading", r"load_image_file|read_whole|read_file|imgtext_image_load"),
    ("atomic write (rename, writes outside the encoder)", r"save_image_file|file_output|imgtext_image_save"),
    ("freeing and exit", r"munmap|imgtext_image_free|^exit$|__run_exit_handlers|_dl_fini|do_exit"),
]
# Only where no frame above says more: what the process does around the call.
OUTER = [
    ("start-up and library load", r"_dl_|dl_main|_dl_start|load_elf_binary|execve|bprm|begin_new_exec|"
                                  r"init_cpu_features|handle_amd|__libc_early_init|call_init|^_start$"),
    ("the tool around the call (options, batch)", r"^main$|dispatch|run_batch|parse_|options"),
]
PYTHON = "Python interpreter, ctypes, bytes objects"
FRAME = re.compile(r"\s*[0-9a-f]+ (.*) \((.*)\)$")


def phase_of(frames):
    for rules in (PHASES, None, OUTER):
        if rules is None:
            if any(re.search(r"python|_ctypes|libffi", dso) for _, dso in frames):
                return PYTHON
            continue
        for symbol, _ in frames:
            for name, rule in rules:
                if re.search(rule, symbol):
                    return name
    return "other"


def samples(lines):
    """(command, period, [(symbol, dso)], innermost first) for each sample."""
    head, frames = None, []
    for line in lines:
        if not line.strip():
            continue
        if line[0] not in " \t":
            if head:
                yield head[0], head[1], frames
            parts = line.split()
            head, frames = (parts[0], int(parts[2]) if len(parts) > 2 and parts[2].isdigit() else 1), []
        else:
            match = FRAME.match(line.rstrip())
            if match:
                frames.append((match.group(1), match.group(2)))
    if head:
        yield head[0], head[1], frames


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("script", nargs="?", type=argparse.FileType("r", errors="replace"), default=sys.stdin,
                        help="perf script output (default: standard input)")
    parser.add_argument("--leaves", type=int, default=5, help="leaf functions shown for each phase")
    args = parser.parse_args()
    totals, kernel = collections.Counter(), collections.Counter()
    leaves = collections.defaultdict(collections.Counter)
    for command, period, frames in samples(args.script):
        if command in ("sh", "dash", "bash", "seq", "perf") or not frames:
            continue
        phase = phase_of(frames)
        totals[phase] += period
        leaves[phase][frames[0][0]] += period
        if "kernel" in frames[0][1]:
            kernel[phase] += period
    whole = sum(totals.values()) or 1
    for phase, weight in totals.most_common():
        print(f"{100 * weight / whole:6.2f}%  {phase} (in the kernel {100 * kernel[phase] / whole:.2f}%)")
        for leaf, share in leaves[phase].most_common(args.leaves):
            print(f"          {100 * share / whole:6.2f}%  {leaf[:100]}")


if __name__ == "__main__":
    main()
