"""The C boundary in one place: every function the public header declares is
defined in src/api/, its body runs through one of export_guard.h's guards
(so no exception can leave it), and no file outside src/api/ declares an
extern "C" function.

Usage: check_boundary.py <repository root>
"""

import os
import re
import sys

GUARDS = ("api_call(", "api_value(", "api_value<", "api_void(", "seven_call(")


def main():
    root = sys.argv[1]
    with open(os.path.join(root, "include", "quendal_imgtext.h"), encoding="utf-8") as f:
        exported = set(re.findall(r"QUENDAL_IMGTEXT_API\s+[^;(]*?\b(imgtext_\w+)\s*\(", f.read()))
    problems, defined = [], set()
    for folder, _, files in os.walk(os.path.join(root, "src")):
        for name in files:
            if not name.endswith((".cpp", ".h")):
                continue
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, root)
            with open(path, encoding="utf-8") as f:
                text = f.read()
            in_api = relative.startswith(os.path.join("src", "api") + os.sep)
            if 'extern "C"' in text and not in_api:
                problems.append(f"{relative} declares extern \"C\" functions outside src/api/")
            if not in_api:
                continue
            for match in re.finditer(r"^[^\n;{}()]*?\b(imgtext_\w+)\(([^;{}]*?)\)\s*\{\n([^\n]*)", text, re.M):
                function, first = match.group(1), match.group(3).strip()
                if function not in exported:
                    continue
                defined.add(function)
                if not any(guard in first for guard in GUARDS):
                    problems.append(f"{relative}: {function} does not start with a guard: {first}")
    for function in sorted(exported - defined):
        problems.append(f"{function} is declared in the header but not defined in src/api/")
    for problem in problems:
        print(problem)
    if problems:
        sys.exit(1)
    print(f"{len(defined)} exports, each guarded, all in src/api/")


if __name__ == "__main__":
    main()
