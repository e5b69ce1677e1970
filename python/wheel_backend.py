"""A build backend for the package tabulon that needs only the standard
library, so that `pip install ./python` works without a network.

The wheel holds the module's .py files and, when one is found at build time,
tabulon.so beside them: $TABULON_LIBRARY if set, else the source tree's
build/tabulon.so. With a library inside, the wheel is tagged for this
platform; without one it is pure Python and the module finds the library at
run time ($TABULON_LIBRARY, or a copy placed beside the module).
"""

import base64
import hashlib
import io
import os
import sys
import sysconfig
import tarfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
NAME = "tabulon"
LIBRARY = "tabulon.so"


def _version():
    with open(os.path.join(HERE, "pyproject.toml"), encoding="utf-8") as f:
        for line in f:
            if line.startswith("version = "):
                return line.split('"')[1]
    raise RuntimeError("pyproject.toml has no version")


def _bundled_library():
    chosen = os.environ.get("TABULON_LIBRARY")
    if chosen:
        if not os.path.isfile(chosen):
            raise RuntimeError("TABULON_LIBRARY=%s is not a file" % chosen)
        return chosen
    built = os.path.join(HERE, os.pardir, "build", LIBRARY)
    return built if os.path.isfile(built) else None


def _metadata(version):
    with open(os.path.join(HERE, "README.txt"), encoding="utf-8") as f:
        description = f.read()
    return ("Metadata-Version: 2.1\nName: %s\nVersion: %s\n"
            "Summary: Reads worksheets of .xlsx workbooks through tabulon.so\n"
            "Requires-Python: >=3.8\nProvides-Extra: frames\n"
            "Requires-Dist: pandas; extra == \"frames\"\nRequires-Dist: numpy; extra == \"frames\"\n"
            "Description-Content-Type: text/plain\n\n%s" % (NAME, version, description))


def _tag(platform_specific):
    if not platform_specific:
        return "py3-none-any"
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    # The library does not use Python's C interface: any Python 3 of this platform.
    return "py3-none-%s" % platform


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d" % (name, digest, len(data))


def _module_files():
    folder = os.path.join(HERE, NAME)
    return sorted(n for n in os.listdir(folder) if n.endswith(".py"))


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    info = "%s-%s.dist-info" % (NAME, _version())
    os.makedirs(os.path.join(metadata_directory, info), exist_ok=True)
    with open(os.path.join(metadata_directory, info, "METADATA"), "w", encoding="utf-8") as f:
        f.write(_metadata(_version()))
    return info


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    version = _version()
    library = _bundled_library()
    tag = _tag(library is not None)
    info = "%s-%s.dist-info" % (NAME, version)
    wheel_name = "%s-%s-%s.whl" % (NAME, version, tag)
    entries = []
    for name in _module_files():
        with open(os.path.join(HERE, NAME, name), "rb") as f:
            entries.append(("%s/%s" % (NAME, name), f.read(), 0o644))
    if library is not None:
        with open(library, "rb") as f:
            entries.append(("%s/%s" % (NAME, LIBRARY), f.read(), 0o755))
    entries.append(("%s/METADATA" % info, _metadata(version).encode("utf-8"), 0o644))
    wheel = ("Wheel-Version: 1.0\nGenerator: tabulon wheel_backend\nRoot-Is-Purelib: %s\nTag: %s\n"
             % ("false" if library else "true", tag))
    entries.append(("%s/WHEEL" % info, wheel.encode(), 0o644))
    records = [_record_line(name, data) for name, data, _ in entries]
    records.append("%s/RECORD,," % info)
    entries.append(("%s/RECORD" % info, ("\n".join(records) + "\n").encode(), 0o644))
    path = os.path.join(wheel_directory, wheel_name)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data, mode in entries:
            item = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
            item.external_attr = (0o100000 | mode) << 16
            item.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(item, data)
    return wheel_name


def build_sdist(sdist_directory, config_settings=None):
    version = _version()
    base = "%s-%s" % (NAME, version)
    path = os.path.join(sdist_directory, base + ".tar.gz")
    with tarfile.open(path, "w:gz") as archive:
        for name in ("pyproject.toml", "wheel_backend.py", "README.txt"):
            archive.add(os.path.join(HERE, name), "%s/%s" % (base, name))
        for name in _module_files():
            archive.add(os.path.join(HERE, NAME, name), "%s/%s/%s" % (base, NAME, name))
        info = tarfile.TarInfo("%s/PKG-INFO" % base)
        data = _metadata(version).encode("utf-8")
        info.size = len(data)
        archive.addfile(info, io.BytesIO(data))
    return base + ".tar.gz"


if __name__ == "__main__":
    sys.exit("a build backend: run `python3 -m pip install %s`" % HERE)
