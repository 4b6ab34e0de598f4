"""Installs the varnel package: ``pip install ./python`` (offline: only
setuptools, which Debian's python3-setuptools provides, is needed, and no
build backend is downloaded because the package declares none).

The version is the library's, read from include/varnel.h beside this
folder, so that the package and the library it wraps never disagree."""
import os
import re

from setuptools import setup

HERE = os.path.dirname(os.path.abspath(__file__))


def library_version():
    header = os.path.join(HERE, os.pardir, "include", "varnel.h")
    try:
        with open(header, encoding="utf-8") as text:
            found = re.search(r'#define VARNEL_VERSION_STRING "([^"]+)"', text.read())
    except OSError as failure:
        raise SystemExit(f"setup.py: cannot read the library's version from {header}: {failure}")
    if not found:
        raise SystemExit(f"setup.py: {header} holds no VARNEL_VERSION_STRING")
    return found.group(1)


setup(
    name="varnel",
    version=library_version(),
    description="Read, write, convert and decode classic Macintosh files through libvarnel",
    long_description=open(os.path.join(HERE, "README.md"), encoding="utf-8").read(),
    long_description_content_type="text/markdown",
    packages=["varnel"],
    package_data={"varnel": ["py.typed"]},
    python_requires=">=3.9",
    extras_require={"pillow": ["Pillow"]},
    classifiers=["Programming Language :: Python :: 3", "Operating System :: POSIX"],
)
