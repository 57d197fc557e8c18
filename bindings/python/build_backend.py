"""A minimal PEP 517 backend for this pure-Python package.

It needs nothing from a package index. When the shared library can be found
at build time (QUENDAL_IMGTEXT_LIBRARY, or the project's own release build),
it is bundled beside the package under the name its platform loads, and the
wheel is tagged for the platform the library is built for, read from the
file itself: a Windows DLL cross-built on Linux makes a win_amd64 wheel.
Otherwise the wheel is pure Python and finds the library at run time.
"""

import base64
import hashlib
import io
import os
import re
import struct
import tarfile
import zipfile

NAME = "quendal_imgtext"
HERE = os.path.dirname(os.path.abspath(__file__))
REPOSITORY = os.path.join(HERE, "..", "..")
# The licence and the notices of what the bundled library contains: beside
# this file in a source distribution, at the repository's top otherwise.
NOTICES = ("LICENSE", "THIRD-PARTY-NOTICES.md")


def _version():
    """The library's version: from its header in the repository, or from the
    metadata a source distribution carries."""
    header = os.path.join(REPOSITORY, "include", "quendal_imgtext.h")
    if os.path.exists(header):
        with open(header, encoding="utf-8") as f:
            found = dict(re.findall(r"^#define QUENDAL_IMGTEXT_VERSION_(MAJOR|MINOR|PATCH) (\d+)$", f.read(), re.M))
        return f"{found['MAJOR']}.{found['MINOR']}.{found['PATCH']}"
    with open(os.path.join(HERE, "PKG-INFO"), encoding="utf-8") as f:
        return re.search(r"^Version: (\S+)$", f.read(), re.M).group(1)


VERSION = _version()
METADATA = f"""Metadata-Version: 2.1
Name: quendal-imgtext
Version: {VERSION}
Summary: Write text onto raster images (ctypes bindings for the quendal-imgtext library)
License: MIT
Requires-Python: >=3.8
"""


def _notice(name):
    for folder in (HERE, REPOSITORY):
        if os.path.exists(os.path.join(folder, name)):
            with open(os.path.join(folder, name), "rb") as f:
                return f.read()
    raise FileNotFoundError(f"{name} is neither beside the backend nor at the repository's top")


def _built_library():
    override = os.environ.get("QUENDAL_IMGTEXT_LIBRARY")
    if override:
        return override if os.path.exists(override) else None
    for folder in ("release", "debug"):
        candidate = os.path.join(HERE, "..", "..", "build", folder, "libquendal-imgtext.so")
        if os.path.exists(candidate):
            return os.path.realpath(candidate)
    return None


# ELF e_machine and PE Machine values, with the wheel platform of each.
_ELF_PLATFORMS = {0x3E: "linux_x86_64", 0xB7: "linux_aarch64", 0x03: "linux_i686"}
_PE_PLATFORMS = {0x8664: "win_amd64", 0xAA64: "win_arm64", 0x14C: "win32"}


def _library_platform(data):
    """The wheel platform tag and the file name a library loads under, from
    the library's own headers: the build machine says nothing about a
    cross-built library."""
    if data[:4] == b"\x7fELF" and len(data) >= 20:
        machine = struct.unpack_from("<H" if data[5] == 1 else ">H", data, 18)[0]
        if machine in _ELF_PLATFORMS:
            return _ELF_PLATFORMS[machine], "libquendal-imgtext.so"
    elif data[:2] == b"MZ" and len(data) >= 64:
        pe = struct.unpack_from("<I", data, 60)[0]
        if data[pe:pe + 4] == b"PE\0\0" and len(data) >= pe + 6:
            machine = struct.unpack_from("<H", data, pe + 4)[0]
            if machine in _PE_PLATFORMS:
                return _PE_PLATFORMS[machine], "quendal-imgtext.dll"
    raise ValueError("the library to bundle is neither an ELF shared object nor a PE DLL of a known machine")


def _record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{path},sha256={digest},{len(data)}"


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    files = {}
    package = os.path.join(HERE, NAME)
    for name in sorted(os.listdir(package)):
        if name.endswith(".py") or name == "py.typed":
            with open(os.path.join(package, name), "rb") as f:
                files[f"{NAME}/{name}"] = f.read()
    library = _built_library()
    tag = "py3-none-any"
    if library:
        with open(library, "rb") as f:
            data = f.read()
        platform, name = _library_platform(data)
        files[f"{NAME}/{name}"] = data
        tag = "py3-none-" + platform
    dist_info = f"{NAME}-{VERSION}.dist-info"
    files[f"{dist_info}/METADATA"] = METADATA.encode()
    for notice in NOTICES:
        files[f"{dist_info}/licenses/{notice}"] = _notice(notice)
    files[f"{dist_info}/WHEEL"] = (f"Wheel-Version: 1.0\nGenerator: build_backend\n"
                                   f"Root-Is-Purelib: {'false' if library else 'true'}\nTag: {tag}\n").encode()
    record = [_record_line(path, data) for path, data in files.items()] + [f"{dist_info}/RECORD,,"]
    files[f"{dist_info}/RECORD"] = ("\n".join(record) + "\n").encode()

    wheel_name = f"{NAME}-{VERSION}-{tag}.whl"
    with zipfile.ZipFile(os.path.join(wheel_directory, wheel_name), "w", zipfile.ZIP_DEFLATED) as wheel:
        for path, data in files.items():
            info = zipfile.ZipInfo(path, date_time=(2026, 1, 1, 0, 0, 0))
            info.external_attr = (0o755 if path.endswith((".so", ".dll")) else 0o644) << 16
            wheel.writestr(info, data)
    return wheel_name


def build_sdist(sdist_directory, config_settings=None):
    base = f"quendal-imgtext-{VERSION}"
    name = f"{base}.tar.gz"
    with tarfile.open(os.path.join(sdist_directory, name), "w:gz") as tar:
        for item in ("pyproject.toml", "build_backend.py", NAME):
            tar.add(os.path.join(HERE, item), arcname=f"{base}/{item}",
                    filter=lambda t: None if "__pycache__" in t.name else t)
        for notice in NOTICES:
            data = _notice(notice)
            info = tarfile.TarInfo(f"{base}/{notice}")
            info.size = len(data)
            tar.addfile(info, io.BytesIO(data))
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        data = METADATA.encode()
        info.size = len(data)
        tar.addfile(info, io.BytesIO(data))
    return name
