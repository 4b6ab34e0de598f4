"""The README's Python examples run as written and do what their comments say."""
from __future__ import annotations

import os
import re
import shutil
import warnings


import varnel
from conftest import pillow
from oracle import VECTOR_PICTURE

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir)


def readme_python():
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as text:
        readme = text.read()
    section = readme.split("\n## Python\n", 1)[1].split("\n## ", 1)[0]
    blocks = re.findall(r"```python\n(.*?)```", section, re.S)
    assert blocks, "the README's Python section has no example"
    return "\n".join(blocks)


def test_readme_examples(tmp_path, monkeypatch, capsys):
    pillow()
    shutil.copytree(os.path.join(SOURCE, "examples", "sample"), tmp_path / "examples" / "sample")
    (tmp_path / "vector.pict").write_bytes(bytes(512) + VECTOR_PICTURE)
    monkeypatch.chdir(tmp_path)
    with warnings.catch_warnings(record=True) as given:
        warnings.simplefilter("always")
        exec(compile(readme_python(), "README.md", "exec"), {"__name__": "readme"})
    assert [str(w.message) for w in given if w.category is varnel.VarnelWarning] == [
        "Sample.hqx: BinHex holds no dates: the creation and modification dates are lost"]
    printed = capsys.readouterr().out.splitlines()
    assert printed[0].startswith("macbinary True Sample b'TEXT' b'VARN' ")
    assert printed[0].endswith(" 0x2100")  # hasBundle, hasBeenInited
    with varnel.open("Sample.bin") as written:
        fork_length = written.resource_fork_length
    assert printed[1] == f"{os.path.getsize('examples/sample/document.txt')} {fork_length} 13"
    assert "b'vers' 1 39 32 None version 1.0 (final), region 0, short \"1.0\", long " \
        "\"Sample 1.0 written by varnel\"" in printed
    assert open("document.out", "rb").read() == \
        open("examples/sample/document.txt", "rb").read()
    assert open("readme.out", "rb").read() == open("examples/sample/readme.txt", "rb").read()
    from PIL import Image
    assert Image.open("ICN#.128.png").size == (32, 32)
    assert Image.open("vector.png").size == (60, 16)
