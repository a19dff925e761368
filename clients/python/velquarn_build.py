"""A PEP 517 build backend for the velquarn package, standard library only.

It builds a pure-Python wheel of the velquarn folder and a source archive,
so that installing needs no package index. Only what pip asks of a backend
is here: the wheel, the source archive and empty build requirements.
"""

import base64
import hashlib
import io
import os
import tarfile
import zipfile

NAME = "velquarn"
VERSION = "2.1.0"
HERE = os.path.dirname(os.path.abspath(__file__))
TAG = "py3-none-any"


def _metadata():
    with open(os.path.join(HERE, "README.md"), encoding="utf-8") as readme:
        description = readme.read()
    return (
        "Metadata-Version: 2.1\n"
        f"Name: {NAME}\n"
        f"Version: {VERSION}\n"
        "Summary: DB-API 2.0 (PEP 249) client of the Velquarn ODBC gateway\n"
        "Requires-Python: >=3.9\n"
        "License: MIT\n"
        "Description-Content-Type: text/markdown\n"
        "\n" + description
    )


def _package_files():
    folder = os.path.join(HERE, NAME)
    for name in sorted(os.listdir(folder)):
        if name.endswith(".py"):
            yield f"{NAME}/{name}", os.path.join(folder, name)


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    dist_info = f"{NAME}-{VERSION}.dist-info"
    wheel_name = f"{NAME}-{VERSION}-{TAG}.whl"
    records = []

    def add(archive, name, data):
        archive.writestr(zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0)), data)
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
        records.append(f"{name},sha256={digest.decode()},{len(data)}")

    with zipfile.ZipFile(os.path.join(wheel_directory, wheel_name), "w",
                         zipfile.ZIP_DEFLATED) as archive:
        for name, path in _package_files():
            with open(path, "rb") as source:
                add(archive, name, source.read())
        add(archive, f"{dist_info}/METADATA", _metadata().encode("utf-8"))
        add(archive, f"{dist_info}/WHEEL",
            ("Wheel-Version: 1.0\nGenerator: velquarn_build\n"
             f"Root-Is-Purelib: true\nTag: {TAG}\n").encode())
        records.append(f"{dist_info}/RECORD,,")
        archive.writestr(zipfile.ZipInfo(f"{dist_info}/RECORD", date_time=(2020, 1, 1, 0, 0, 0)),
                         "\n".join(records) + "\n")
    return wheel_name


def build_sdist(sdist_directory, config_settings=None):
    base = f"{NAME}-{VERSION}"
    sdist_name = f"{base}.tar.gz"
    with tarfile.open(os.path.join(sdist_directory, sdist_name), "w:gz") as archive:
        for name in ("pyproject.toml", "README.md", "velquarn_build.py"):
            archive.add(os.path.join(HERE, name), f"{base}/{name}")
        for name, path in _package_files():
            archive.add(path, f"{base}/{name}")
        info = _metadata().encode("utf-8")
        entry = tarfile.TarInfo(f"{base}/PKG-INFO")
        entry.size = len(info)
        archive.addfile(entry, io.BytesIO(info))
    return sdist_name
