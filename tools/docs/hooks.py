"""Build-time work of the documentation site (mkdocs hooks, see mkdocs.yml).

- lays stubs/tessel.pyi out as the stub package ``tessel-stubs`` under
  build-docs/api, where the API renderer finds it (a link, not a copy: the
  stub stays the one source of API text);
- runs tools/docs/figures.py and the examples against the built module
  (build/), for the pictures and the printed output the guides show
  (build-docs/gen);
- ships the KaTeX renderer from Debian's libjs-katex with the site, so
  formulas render without any other host;
- replaces ``<!-- source: FILE NAME -->`` lines by the source of the function,
  class or assignment NAME in FILE (with the comments right above it), so
  guides quote the examples instead of copying them.
"""
from __future__ import annotations

import ast
import os
import re
import subprocess
import sys
from pathlib import Path

from mkdocs.exceptions import PluginError
from mkdocs.structure.files import File

ROOT = Path(__file__).resolve().parents[2]
MODULE_DIR = ROOT / "build"
WORK = ROOT / "build-docs"
GEN = WORK / "gen"
KATEX = Path("/usr/share/javascript/katex")
KATEX_FILES = ("katex.min.js", "katex.min.css")
# The examples the guides show with their output (fit_smile also draws its picture).
EXAMPLES = {
    "price_options": [],
    "fit_smile": ["--png", str(GEN / "fit_smile.png")],
    "price_book": ["--workers", "2"],
    "book_arrays": [],
}
SOURCE = re.compile(r"^<!-- source: (\S+) (\w+) -->$", re.M)


def on_startup(command: str, dirty: bool) -> None:
    # Before any plugin looks for the module: the API renderer lists its
    # search path once.
    stub = WORK / "api" / "tessel-stubs" / "__init__.pyi"
    stub.parent.mkdir(parents=True, exist_ok=True)
    if stub.is_symlink() or stub.exists():
        stub.unlink()
    stub.symlink_to(ROOT / "stubs" / "tessel.pyi")


def on_pre_build(config) -> None:
    if not any(MODULE_DIR.glob("tessel*.so")):
        raise PluginError(f"no built module in {MODULE_DIR}: build it first (./dev.sh docs does)")
    GEN.mkdir(parents=True, exist_ok=True)
    env = dict(os.environ, PYTHONPATH=str(MODULE_DIR), MPLBACKEND="Agg")
    run([sys.executable, str(ROOT / "tools" / "docs" / "figures.py"), str(GEN)], env)
    for script, args in EXAMPLES.items():
        out = run([sys.executable, str(ROOT / "examples" / f"{script}.py"), *args], env)
        # What the example printed, for the guides, without the line naming the PNG's path.
        report = [line for line in out.splitlines() if not line.startswith("wrote ")]
        (GEN / f"{script}.txt").write_text("\n".join(report).rstrip() + "\n")


def run(cmd: list[str], env: dict[str, str]) -> str:
    done = subprocess.run(cmd, env=env, cwd=ROOT, capture_output=True, text=True)
    if done.returncode != 0:
        raise PluginError(f"{' '.join(cmd)} failed:\n{done.stdout}{done.stderr}")
    return done.stdout


def on_files(files, config):
    if not (KATEX / KATEX_FILES[0]).is_file():
        raise PluginError(f"KaTeX not found in {KATEX}: install Debian's libjs-katex (./dev.sh docs does)")
    assets = [(f"assets/katex/{name}", KATEX / name) for name in KATEX_FILES]
    assets += [(f"assets/katex/fonts/{font.name}", font) for font in sorted((KATEX / "fonts").iterdir())]
    assets += [(f"img/{png.name}", png) for png in sorted(GEN.glob("*.png"))]
    for uri, path in assets:
        files.append(File.generated(config, uri, abs_src_path=str(path)))
    return files


def on_page_markdown(markdown: str, page, config, files) -> str:
    return SOURCE.sub(lambda m: quote_source(m.group(1), m.group(2)), markdown)


def quote_source(relpath: str, name: str) -> str:
    """The function, class or assigned name NAME of a file, with the comment lines right above it."""
    path = ROOT / relpath
    text = path.read_text()
    lines = text.splitlines()
    for node in ast.parse(text).body:
        if defines(node, name):
            first = min([node.lineno] + [d.lineno for d in getattr(node, "decorator_list", [])])
            while first > 1 and lines[first - 2].lstrip().startswith("#"):
                first -= 1
            return f'```python title="{relpath}"\n' + "\n".join(lines[first - 1:node.end_lineno]) + "\n```"
    raise PluginError(f"{relpath} has no top-level function, class or assignment {name}")


def defines(node: ast.stmt, name: str) -> bool:
    if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
        return node.name == name
    if isinstance(node, ast.Assign):
        return any(isinstance(t, ast.Name) and t.id == name for t in node.targets)
    if isinstance(node, ast.AnnAssign):
        return isinstance(node.target, ast.Name) and node.target.id == name
    return False
