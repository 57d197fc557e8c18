"""examples/dask_watermark.py on a LocalCluster of two workers, as a user runs it.

scripts/setup.sh installs Debian's python3-dask and python3-distributed, so
on a native Linux build a missing Dask fails this test; only a stage that
says it has none (IMGTEXT_NO_DASK=1) skips it."""

import importlib.util
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLE = ROOT / "examples" / "dask_watermark.py"

from quendal_imgtext import Image  # noqa: E402


def photos(folder):
    """40 pictures of different sizes and formats; the two named bad-* are corrupt."""
    for i in range(38):
        image = Image.new(90 + 7 * i, 60 + 5 * (i % 9), (i * 6, 200 - i * 5, 90 + i * 3))
        image.draw_text((4, 4), f"photo {i}\nline two", size=14 + i % 11, fill="navy")
        name, format = (f"p{i:02}.png", "png") if i % 3 == 0 else (f"p{i:02}.jpg", "jpeg")
        (folder / name).write_bytes(image.encode(format))
    whole = (folder / "p01.jpg").read_bytes()
    (folder / "bad-cut.jpg").write_bytes(whole[:len(whole) // 2])
    (folder / "bad-noise.png").write_bytes(b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 4)


@unittest.skipIf(os.environ.get("IMGTEXT_NO_DASK") == "1", "this stage has no Dask (IMGTEXT_NO_DASK=1)")
class DaskJobTests(unittest.TestCase):
    def test_every_picture_comes_out_as_a_plain_loop_makes_it_or_is_reported(self):
        try:
            import distributed  # noqa: F401
        except ImportError as error:
            self.fail(f"{error}: scripts/setup.sh installs python3-dask and python3-distributed "
                      f"(IMGTEXT_NO_DASK=1 skips this test)")
        spec = importlib.util.spec_from_file_location("dask_watermark", EXAMPLE)
        example = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(example)
        with tempfile.TemporaryDirectory() as folder:
            folder = pathlib.Path(folder)
            inputs, outputs, looped = folder / "in", folder / "out", folder / "loop"
            for path in (inputs, outputs, looped):
                path.mkdir()
            photos(inputs)
            expected = {p.name: example.watermark_file(str(p), str(looped / p.name), "(c) Q", None)
                        for p in sorted(inputs.iterdir())}
            run = subprocess.run([sys.executable, str(EXAMPLE), str(inputs), str(outputs), "--text", "(c) Q",
                                  "--report", str(folder / "report.json")],
                                 capture_output=True, text=True, timeout=600)
            self.assertEqual(run.returncode, 1, run.stdout + run.stderr)  # 1: some failed
            self.assertIn("[40/40]", run.stdout)
            report = json.loads((folder / "report.json").read_text())
            self.assertEqual(report["failed"], {name: list(failure) for name, failure in expected.items() if failure})
            self.assertEqual(sorted(report["failed"]), ["bad-cut.jpg", "bad-noise.png"])
            self.assertTrue(all(status == "decode" for status, _ in report["failed"].values()))
            self.assertEqual(report["done"], sorted(name for name, failure in expected.items() if not failure))
            self.assertEqual(len(report["done"]), 38)
            self.assertEqual({p.name: p.read_bytes() for p in outputs.iterdir()},
                             {p.name: p.read_bytes() for p in looped.iterdir()})


if __name__ == "__main__":
    unittest.main()
