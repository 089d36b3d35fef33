"""A build backend for the pure-Python package hyxuser, from the standard
library alone, so that `pip install ./python` works without an index.

It builds a wheel of hyxuser/ (the modules, py.typed and the status table)
and an sdist of this directory.
"""

from __future__ import annotations

import base64
import hashlib
import io
import tarfile
import tomllib
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PACKAGE = "hyxuser"


def _project() -> dict:
    with open(ROOT / "pyproject.toml", "rb") as f:
        return tomllib.load(f)["project"]


def _metadata() -> str:
    project = _project()
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {project['name']}",
        f"Version: {project['version']}",
        f"Summary: {project['description']}",
        f"Requires-Python: {project['requires-python']}",
    ]
    lines += [f"Classifier: {c}" for c in project.get("classifiers", [])]
    readme = (ROOT / project["readme"]).read_text()
    return "\n".join(lines) + "\nDescription-Content-Type: text/markdown\n\n" + readme


def _package_files() -> list[Path]:
    files = []
    for path in sorted((ROOT / PACKAGE).iterdir()):
        if path.suffix in (".py", ".def") or path.name == "py.typed":
            files.append(path)
    return files


def _dist_info() -> str:
    project = _project()
    return f"{project['name']}-{project['version']}.dist-info"


def _wheel_name() -> str:
    project = _project()
    return f"{project['name']}-{project['version']}-py3-none-any.whl"


def _record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    target = Path(metadata_directory) / _dist_info()
    target.mkdir(parents=True, exist_ok=True)
    (target / "METADATA").write_text(_metadata())
    return _dist_info()


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    name = _wheel_name()
    info = _dist_info()
    records = []
    with zipfile.ZipFile(Path(wheel_directory) / name, "w", zipfile.ZIP_DEFLATED) as wheel:
        def add(arcname: str, data: bytes) -> None:
            wheel.writestr(arcname, data)
            records.append(_record_line(arcname, data))

        for path in _package_files():
            add(f"{PACKAGE}/{path.name}", path.read_bytes())  # a link is stored as what it points to
        add(f"{info}/METADATA", _metadata().encode())
        add(f"{info}/WHEEL", b"Wheel-Version: 1.0\nGenerator: hyxuser_build\nRoot-Is-Purelib: true\nTag: py3-none-any\n")
        records.append(f"{info}/RECORD,,")
        wheel.writestr(f"{info}/RECORD", "\n".join(records) + "\n")
    return name


def build_sdist(sdist_directory, config_settings=None):
    project = _project()
    base = f"{project['name']}-{project['version']}"
    name = base + ".tar.gz"
    with tarfile.open(Path(sdist_directory) / name, "w:gz") as sdist:
        def add(relative: str, data: bytes) -> None:
            entry = tarfile.TarInfo(f"{base}/{relative}")
            entry.size = len(data)
            entry.mode = 0o644
            sdist.addfile(entry, io.BytesIO(data))

        for relative in ("pyproject.toml", "README.md", "build_backend/hyxuser_build.py"):
            add(relative, (ROOT / relative).read_bytes())
        for path in _package_files():
            add(f"{PACKAGE}/{path.name}", path.read_bytes())
        add("PKG-INFO", _metadata().encode())
    return name
