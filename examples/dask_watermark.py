#!/usr/bin/env python3
"""Watermark every picture in a folder on a Dask cluster.

Usage: examples/dask_watermark.py IN_DIR OUT_DIR [--text TEXT] [--font FILE]
                                  [--workers 2] [--scheduler ADDRESS]
                                  [--report report.json]

Without --scheduler it starts a distributed.LocalCluster of --workers
worker processes (one thread each) on this machine, and stops it when the
job is done; with --scheduler tcp://host:8786 it sends the same tasks to a
running cluster instead (its workers need quendal_imgtext installed and the
folders at the same paths). Each task reads one file, calls
quendal_imgtext.batch.watermark on its bytes and writes OUT_DIR/<name>; a
picture the library cannot do comes back as a Failure, reported with its
message, and never stops the others. Progress is printed as tasks finish.

The exit status is 0 when every picture was done, 1 when some failed.
--report writes {"done": [names], "failed": {name: [status, message]}}.
"""

import argparse
import json
import os
import pathlib
import sys

EXTENSIONS = {".jpg", ".jpeg", ".png", ".bmp"}


def watermark_file(source, target, text, font):
    """One task: a file in, a file out; (status, message) for a failure, else None."""
    from quendal_imgtext import batch

    try:
        data = pathlib.Path(source).read_bytes()
    except OSError as error:  # gone or unreadable: this file's failure, not the job's
        return ("read", str(error))
    result = batch.watermark(data, text, font=font, font_size=28, fill="white",
                             stroke_width=1.5, opacity=0.8)
    if isinstance(result, batch.Failure):
        return (result.status, result.message)
    partial = pathlib.Path(target + ".part")
    partial.write_bytes(result)
    os.replace(partial, target)  # a task retried on another worker never leaves half a file
    return None


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("inputs", type=pathlib.Path)
    parser.add_argument("outputs", type=pathlib.Path)
    parser.add_argument("--text", default="(c) 2026 Quendal")
    parser.add_argument("--font", help="a font file (default: the library's built-in font)")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--scheduler", help="the address of a running Dask scheduler")
    parser.add_argument("--report", type=pathlib.Path)
    options = parser.parse_args(argv)

    from distributed import Client, LocalCluster, as_completed

    names = sorted(p.name for p in options.inputs.iterdir() if p.suffix.lower() in EXTENSIONS)
    options.outputs.mkdir(parents=True, exist_ok=True)
    cluster = None
    if options.scheduler:
        client = Client(options.scheduler)
    else:
        cluster = LocalCluster(n_workers=options.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    try:
        print(f"{len(names)} pictures on {len(client.scheduler_info()['workers'])} workers", flush=True)
        futures = {client.submit(watermark_file, str(options.inputs / name), str(options.outputs / name),
                                 options.text, options.font, key=f"watermark-{name}", pure=False): name
                   for name in names}
        done, failed = [], {}
        for count, future in enumerate(as_completed(futures), 1):
            name, failure = futures[future], future.result()
            if failure:
                failed[name] = list(failure)
                print(f"[{count}/{len(names)}] {name}: failed ({failure[0]}): {failure[1]}", flush=True)
            else:
                done.append(name)
                print(f"[{count}/{len(names)}] {name}", flush=True)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    print(f"done: {len(done)}, failed: {len(failed)}")
    if options.report:
        options.report.write_text(json.dumps({"done": sorted(done), "failed": failed}, indent=1))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
