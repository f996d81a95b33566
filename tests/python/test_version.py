"""tessel.__version__: the one version of pyproject.toml, outside __all__."""
import os
import re
import shutil
import subprocess

import pytest

import tessel

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
READER = os.path.join(ROOT, "cmake", "pyproject_version.cmake")


def test_version_is_pyprojects():
    tomllib = pytest.importorskip("tomllib")
    with open(os.path.join(ROOT, "pyproject.toml"), "rb") as f:
        expected = tomllib.load(f)["project"]["version"]
    assert type(tessel.__version__) is str
    assert tessel.__version__ == expected


def test_version_stays_out_of_the_public_names():
    assert "__version__" not in tessel.__all__
    assert [n for n in dir(tessel) if not n.startswith("_")] == sorted(tessel.__all__)


def read_with_cmake(tmp_path, text):
    cmake = shutil.which("cmake")
    if cmake is None:
        pytest.skip("no cmake on PATH")
    path = tmp_path / "pyproject.toml"
    path.write_text(text, encoding="utf-8")
    out = subprocess.run([cmake, f"-DPYPROJECT={path}", "-P", READER], capture_output=True, text=True, timeout=60)
    return out.returncode, out.stderr.strip()


# What the plain CMake build takes as the version: only [project]'s, in the
# forms TOML allows around a basic string.
@pytest.mark.parametrize("text,version", [
    ('[project]\nname = "x"\nversion = "1.2.3"\n', "1.2.3"),
    ('[build-system]\nversion = "9"\n[tool.x]\nminimum-version = "8"\nversion = "7"\n'
     '[project]\nname = "x"\nversion = "2.0rc1"\n', "2.0rc1"),
    ('[project]\nname = "x"\n  version  =  "3.0.post1"   # released\n[tool.y]\nversion = "6"\n', "3.0.post1"),
    ('[[tool.scikit-build.generate]]\nversion = "5"\n[ project ]\nversion="4.5"\n', "4.5"),
])
def test_cmake_reads_the_project_version(tmp_path, text, version):
    assert read_with_cmake(tmp_path, text) == (0, version)


@pytest.mark.parametrize("text", [
    '[project]\nname = "x"\n',
    '[tool.x]\nversion = "1.0"\n[project]\nname = "x"\n',
    '[project]\nname = "x"\ndynamic = ["version"]\n[tool.x]\nversion = "1.0"\n',
])
def test_cmake_refuses_a_missing_project_version(tmp_path, text):
    code, err = read_with_cmake(tmp_path, text)
    assert code != 0
    assert re.search(r'no version = "\.\.\." in \[project\]', err), err
