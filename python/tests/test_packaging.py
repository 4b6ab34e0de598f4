"""The package installs with pip offline (no build backend to download) and
its version is the library's."""
from __future__ import annotations

import os
import shutil
import subprocess
import sys

import pytest

import varnel
from conftest import child_environment

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir)


def test_pip_installs_offline(tmp_path):
    import importlib.util
    if importlib.util.find_spec("pip") is None:
        if os.environ.get("CI") == "true":
            pytest.fail("pip is not installed (Debian package python3-pip), and CI=true requires it")
        pytest.skip("pip is not installed (Debian package python3-pip)")
    # A copy of the package and the header its version comes from, so that
    # the build leaves nothing in the source tree.
    tree = tmp_path / "tree"
    shutil.copytree(os.path.join(SOURCE, "python"), tree / "python",
                    ignore=shutil.ignore_patterns("tests", "build", "*.egg-info", "__pycache__"))
    (tree / "include").mkdir()
    shutil.copy(os.path.join(SOURCE, "include", "varnel.h"), tree / "include")
    target = tmp_path / "site"
    done = subprocess.run(
        [sys.executable, "-m", "pip", "install", "--no-index", "--no-cache-dir",
         "--disable-pip-version-check", "--target", str(target), str(tree / "python")],
        capture_output=True, timeout=300)
    assert done.returncode == 0, done.stdout.decode() + done.stderr.decode()
    installed = sorted(os.listdir(target / "varnel"))
    assert {"__init__.py", "py.typed", "reader.py", "writer.py"} <= set(installed)
    info = [name for name in os.listdir(target) if name.endswith(".dist-info")]
    assert info == [f"varnel-{varnel.__version__}.dist-info"]
    check = subprocess.run(
        [sys.executable, "-c", "import varnel, sys; print(varnel.__version__, varnel.__file__)"],
        capture_output=True, cwd=tmp_path, timeout=60,
        env=child_environment(PYTHONPATH=str(target)))
    assert check.returncode == 0, check.stderr.decode()
    version, where = check.stdout.decode().split()
    assert version == varnel.__version__ and where.startswith(str(target))
