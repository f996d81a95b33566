"""What the documentation shows, run against the module.

- Stubs (STUBS): the Python blocks of every docstring run, then its ``>>>``
  examples as doctests, with the module's names in scope as doctest runs a
  module's own docstrings; the examples of a class's methods continue the
  class's.
- Pages (PAGES): the Python blocks of a page run in order in one namespace.
  A block with ``>>>`` prompts is a doctest; any other block runs as a script,
  and what it prints must equal the ``text`` block that follows it. Blocks that
  include a file (``--8<--``) show the examples, which test_examples.py runs.
  The fragments on the pages under docs/ continue the home page's example and
  examples/price_options.py: their namespace starts from PREAMBLE, the names
  they take from there. README.md starts empty: its blocks are meant to be
  copied as they are.
- Worked numbers: a number with three or more decimals and as many significant
  digits in the prose of a docstring or page (tables and formulas included)
  must be one that an example of the same docstring or page prints. A stale
  number then fails either its example (the module changed) or this check
  (the text changed).
"""
import ast
import contextlib
import doctest
import importlib
import io
import re
import sys
import textwrap
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]

# Module name -> its stub. A companion module adds its own line.
STUBS = {"tessel": ROOT / "stubs" / "tessel.pyi", "tessel_array": ROOT / "stubs" / "tessel_array.pyi"}

# The benchmark page shows measurements, not examples.
PAGES = sorted(p for p in (ROOT / "docs").rglob("*.md") if p.name != "performance.md") + [ROOT / "README.md"]

PREAMBLE = """\
import copy, math, pickle
from datetime import datetime, timezone
import tessel
now = datetime(2025, 3, 14, 15, 30, tzinfo=timezone.utc)
expiry = datetime(2025, 3, 28, 8, tzinfo=timezone.utc)
spot = fwd = 84_000.0
strikes = [70_000.0, 77_000.0, 84_000.0, 91_000.0, 98_000.0]
ttx = tessel.Calendar("BTCUSDT").get_bus_ttx(now, expiry)
"""

# Functions whose name promises a textbook quantity they do not return: their
# docstrings open with the warning, the line an editor shows on hover.
NOT_TEXTBOOK = ["b76_delta", "b76_gamma", "binary_fairvalue", "binary_delta", "binary_gamma", "binary_speed",
                "binary_vega", "binary_theta"]

WORKED_NUMBER = re.compile(r"(?<![\w.])\d+\.\d{3,}(?!\w)")
FENCE = re.compile(r"^(?P<indent>[ \t]*)```(?P<lang>[\w-]*)[^\n]*\n(?P<body>.*?)^(?P=indent)```[ \t]*$",
                   re.M | re.S)
PARSER = doctest.DocTestParser()
FLAGS = doctest.ELLIPSIS


def run_doctest(text, globs, name, path, lineno=0):
    """Run the examples in ``text`` with ``globs`` (updated in place); fail with doctest's report."""
    test = PARSER.get_doctest(text, globs, name, str(path), lineno)
    runner = doctest.DocTestRunner(optionflags=FLAGS)
    report = []
    runner.run(test, out=report.append, clear_globs=False)
    assert runner.failures == 0, "".join(report)
    globs.update(test.globs)  # the test ran on a copy
    return test.examples


def blocks(text):
    """(language, body, line) of every fenced block, bodies dedented."""
    for m in FENCE.finditer(text):
        body = textwrap.dedent(m.group("indent") + m.group("body")) if m.group("indent") else m.group("body")
        yield m.group("lang"), body, text.count("\n", 0, m.start()) + 1


def is_include(body):
    return body.lstrip().startswith("--8<--")


def docstrings(module, path):
    """(unit, qualified name, docstring, line) of the module and of every class and function in its stub.

    A class and its methods make one unit: the methods' examples continue the class's.
    """
    tree = ast.parse(path.read_text(encoding="utf-8"))

    def walk(node, prefix, unit):
        for child in node.body:
            if isinstance(child, (ast.ClassDef, ast.FunctionDef)):
                name = f"{prefix}.{child.name}"
                doc = ast.get_docstring(child)
                if doc:
                    yield unit or name, name, doc, child.body[0].lineno
                if isinstance(child, ast.ClassDef):
                    yield from walk(child, name, unit or name)

    yield module, module, ast.get_docstring(tree), 1
    yield from walk(tree, module, None)


STUB_DOCS = [(module, *entry) for module, path in STUBS.items() for entry in docstrings(module, path)]
UNITS = {}
for module, unit, name, doc, line in STUB_DOCS:
    if ">>>" in doc or "```python" in doc:
        UNITS.setdefault(unit, (module, []))[1].append((name, doc, line))


def prose_of_docstring(text, keep_blocks=False):
    """The docstring without its examples, and without its code blocks unless asked."""
    prose = "".join(part for part in PARSER.parse(text) if isinstance(part, str))
    return prose if keep_blocks else FENCE.sub("", prose)


def worked_numbers(text):
    """Numbers with three decimals and three significant digits or more: 0.291, not 0.001."""
    return {n for n in WORKED_NUMBER.findall(text) if len(n.replace(".", "").lstrip("0")) >= 3}


def unchecked_numbers(prose, shown):
    printed = {n for text in shown for n in WORKED_NUMBER.findall(text)}
    return sorted(worked_numbers(prose) - printed)


# ---------------------------------------------------------------------------
# Stubs
# ---------------------------------------------------------------------------

@pytest.mark.parametrize("unit", UNITS)
def test_stub_examples(unit):
    module, docs = UNITS[unit]
    globs = dict(vars(importlib.import_module(module)))
    for name, doc, line in docs:
        for lang, body, offset in blocks(prose_of_docstring(doc, keep_blocks=True)):
            if lang == "python":
                exec(compile(body, f"{name} (block {offset})", "exec"), globs)
        run_doctest(doc, globs, name, STUBS[module], line)


@pytest.mark.parametrize("module,unit,name,doc,line", STUB_DOCS, ids=[d[2] for d in STUB_DOCS])
def test_stub_numbers_are_printed_by_examples(module, unit, name, doc, line):
    shown = [e.want for e in PARSER.get_examples(doc)]
    assert unchecked_numbers(prose_of_docstring(doc), shown) == [], f"{name}: no example prints these"


@pytest.mark.parametrize("name", NOT_TEXTBOOK)
def test_stub_warns_first_where_the_name_is_not_the_textbook_quantity(name):
    doc = {n: d for _, _, n, d, _ in STUB_DOCS}[f"tessel.{name}"]
    first = doc.splitlines()[0]
    assert first.startswith("Warning: ") and "textbook" in first, first


# ---------------------------------------------------------------------------
# Pages
# ---------------------------------------------------------------------------

# A block that opens with "# ... Python 3.14 and later ..." runs on those releases only.
NEEDS_PYTHON = re.compile(r"#[^\n]*\bPython (\d+)\.(\d+) and later")


def runs_here(body):
    needs = NEEDS_PYTHON.match(body)
    return not needs or sys.version_info[:2] >= (int(needs[1]), int(needs[2]))


def run_page(path):
    """Run the page's Python blocks; return its namespace and every output it shows."""
    text = path.read_text(encoding="utf-8")
    namespace = {}
    if path.is_relative_to(ROOT / "docs"):
        exec(compile(PREAMBLE, "PREAMBLE", "exec"), namespace)
    shown = []
    found = list(blocks(text))
    for i, (lang, body, line) in enumerate(found):
        if lang not in ("python", "pycon") or is_include(body) or not runs_here(body):
            continue
        where = f"{path.relative_to(ROOT)}:{line}"
        if ">>>" in body:
            shown += [e.want for e in run_doctest(body, namespace, where, path, line)]
            continue
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            exec(compile(body, where, "exec"), namespace)
        if out.getvalue():
            following = found[i + 1] if i + 1 < len(found) else None
            assert following and following[0] == "text" and not is_include(following[1]), \
                f"{where} prints, but no text block follows to show what"
            assert out.getvalue() == following[1], f"{where} prints\n{out.getvalue()}"
            shown.append(following[1])
    return namespace, shown


@pytest.mark.parametrize("path", PAGES, ids=[str(p.relative_to(ROOT)) for p in PAGES])
def test_page(path):
    _, shown = run_page(path)
    prose = FENCE.sub("", path.read_text(encoding="utf-8"))
    assert unchecked_numbers(prose, shown) == [], f"{path.name}: no example prints these"


def test_readme_guide():
    """The user guide's blocks run as written, in order, and leave what they promise."""
    text = (ROOT / "README.md").read_text(encoding="utf-8")
    assert len([b for b in blocks(text) if b[0] == "python"]) >= 3
    namespace, _ = run_page(ROOT / "README.md")
    assert namespace["names"] == ["ref_vol", "corr", "vvol"]
    assert 0.0 < namespace["price"] < 1.0 and abs(namespace["iv"] - namespace["vol"]) < 1e-3
