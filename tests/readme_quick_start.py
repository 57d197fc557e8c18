"""Runs the README's C quick start exactly as a reader would copy it.

Usage: readme_quick_start.py README.md INCLUDE_DIR LIBRARY_DIR WORK_DIR

The C block that follows the marker comment is saved as hello.c and the
shell block after it is run, unchanged, in a folder laid out like the
repository's top (include/ and build/release/ point at this build), so the
test breaks when the README's commands do."""

import pathlib
import re
import shutil
import subprocess
import sys

readme, include, library, work = map(pathlib.Path, sys.argv[1:5])
text = readme.read_text(encoding="utf-8")
section = text[text.index("<!-- tests/readme_quick_start.py"):]
source = re.search(r"```c\n(.*?)```", section, re.S).group(1)
commands = re.search(r"```sh\n(.*?)```", section, re.S).group(1)

shutil.rmtree(work, ignore_errors=True)
(work / "build").mkdir(parents=True)
(work / "include").symlink_to(include.resolve())
(work / "build" / "release").symlink_to(library.resolve())
(work / "hello.c").write_text(source, encoding="utf-8")
done = subprocess.run(["sh", "-e", "-c", commands], cwd=work, capture_output=True, text=True, timeout=120,
                      env={"PATH": "/usr/local/bin:/usr/bin:/bin"})  # no LD_LIBRARY_PATH
print(done.stdout, done.stderr, sep="")
if done.returncode != 0:
    sys.exit(f"the README's quick start failed with status {done.returncode}")
for name in ("card.png", "stamped.png"):
    if (work / name).read_bytes()[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{name} is not a PNG")
