"""Shared helpers: peer programs (skipped with a reason when missing, a
failure when CI=true), and the library's own tool when the build has one."""
from __future__ import annotations

import os
import shutil
import subprocess
from typing import List

import pytest


def peer(program: str, package: str) -> str:
    """The path of a peer program; skips the test when it is missing, or
    fails it when CI is true (CI installs every peer)."""
    found = shutil.which(program)
    if found:
        return found
    reason = f"{program} is not installed (Debian package {package})"
    if os.environ.get("CI") == "true":
        pytest.fail(reason + ", and CI=true requires it")
    pytest.skip(reason)


def pillow():
    """Pillow's Image module; skips (fails under CI=true) when it is missing."""
    try:
        from PIL import Image
    except ImportError:
        reason = "Pillow is not installed (Debian package python3-pil)"
        if os.environ.get("CI") == "true":
            pytest.fail(reason + ", and CI=true requires it")
        pytest.skip(reason)
    return Image


def run(command: List[str], cwd: str) -> str:
    done = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=120)
    output = done.stdout.decode("utf-8", "replace")
    assert done.returncode == 0, f"{' '.join(command)} failed: {output}"
    return output


def child_environment(**extra):
    """The environment of a child Python that imports this very package and
    library, whatever its working directory."""
    import varnel
    from varnel import _library
    package_parent = os.path.dirname(os.path.dirname(os.path.abspath(varnel.__file__)))
    library = _library.lib._name
    if os.path.exists(library):
        library = os.path.abspath(library)
    return {**os.environ, "PYTHONPATH": package_parent, "VARNEL_LIBRARY": library, **extra}
