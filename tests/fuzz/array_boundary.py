"""Arrays through tessel_array's boundary, driven by atheris.

Whatever an argument claims to be (numpy arrays of any dtype, sliced, reversed,
unaligned or of more dimensions; objects whose __array_interface__ has any
shape, strides, offset, typestr and data, a bare address included; lists of
anything), the module either raises TypeError, ValueError or OverflowError, or
returns what an independent reading of the same elements predicts, each
element bit for bit tessel's scalar b76_fairvalue. An interface that reaches
outside its data, or points at bare memory, must be refused: reading it would
be reading out of bounds.

Run: python tests/fuzz/array_boundary.py [libFuzzer flags] [corpus dirs]
(the modules are imported from PYTHONPATH).
"""
import math
import struct
import sys

import atheris

with atheris.instrument_imports():
    import numpy as np

    import tessel
    import tessel_array

DTYPES = ["<f8", ">f8", "<f4", "<f2", "i1", "<i2", "<i4", ">i8", "<u8", "?", "O", "g", "<c16", "<U3", "<M8[s]"]
TYPESTRS = ["<f8", ">f8", "<i8", "|b1", "<f4", "<U3", "|O", "", "<f8x", "<f"]
FEW = 24


class Foreign:
    """An object that describes itself by whatever interface the fuzzer made."""

    def __init__(self, interface):
        self.__array_interface__ = interface


@atheris.instrument_func
def float_rule(x):
    """float() without its reading of texts: what PyFloat_AsDouble accepts."""
    if isinstance(x, (str, bytes, bytearray)):
        raise TypeError(type(x).__name__)
    return float(x)


@atheris.instrument_func
def expected_b76(elements):
    return np.array([tessel.b76_fairvalue(x, 100.0, 0.5, 0.3, "call") for x in elements], dtype=np.float64)


@atheris.instrument_func
def same_bits(ours, want):
    """Equal bits, every NaN as one (the sign of a NaN is the compiler's to fold)."""
    ours = np.asarray(ours, dtype=np.float64)
    both_nan = np.isnan(ours) & np.isnan(want)
    return ours.shape == want.shape and ((ours.view(np.uint64) == want.view(np.uint64)) | both_nan).all()


@atheris.instrument_func
def numpy_argument(fdp):
    """A numpy array (or a view of one) and the floats its elements convert to, or None where none are readable."""
    dtype = np.dtype(DTYPES[fdp.ConsumeIntInRange(0, len(DTYPES) - 1)])
    raw = fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 8 * FEW))
    if dtype.kind == "O":
        base = np.array([fdp.ConsumeRegularFloat() for _ in range(fdp.ConsumeIntInRange(0, FEW))], dtype=object)
    elif dtype.kind == "U":
        base = np.array(["1", "ab", ""][: fdp.ConsumeIntInRange(0, 3)], dtype=dtype)
    else:
        usable = len(raw) - len(raw) % dtype.itemsize
        base = np.frombuffer(raw[:usable], dtype=dtype).copy()
    shape = fdp.ConsumeIntInRange(0, 3)
    if shape == 1 and base.size:
        # A field of a packed record: unaligned, and not adjacent.
        packed = np.zeros(base.size, dtype=[("tag", "i1"), ("x", base.dtype)])
        packed["x"] = base
        base = packed["x"]
    elif shape == 2 and base.size >= 2:
        base = base[: base.size // 2 * 2].reshape(2, -1)
    elif shape == 3 and base.size:
        base = base[:1].reshape(())  # 0-d
    if base.ndim == 1:
        start, stop = fdp.ConsumeIntInRange(-FEW, FEW), fdp.ConsumeIntInRange(-FEW, FEW)
        step = fdp.ConsumeIntInRange(-3, 3) or 1
        base = base[start:stop:step]
    if base.ndim != 1 or dtype.kind not in "biufO":
        return base, None
    try:
        floats = [float_rule(x) for x in base.tolist()]
    except OverflowError:
        return base, None
    return base, floats


@atheris.instrument_func
def foreign_argument(fdp):
    """An object with a fuzzed __array_interface__, and the floats it describes when it stays inside its data."""
    data = fdp.ConsumeBytes(fdp.ConsumeIntInRange(0, 8 * FEW))
    interface = {"version": 3}
    if fdp.ConsumeBool():
        interface["typestr"] = TYPESTRS[fdp.ConsumeIntInRange(0, len(TYPESTRS) - 1)]
    n = fdp.ConsumeIntInRange(-2, 2 * FEW) if fdp.ConsumeBool() else fdp.ConsumeInt(8)
    kind = fdp.ConsumeIntInRange(0, 4)
    interface["shape"] = [(n,), (n, 2), (), n, ("x",)][kind]
    stride = None
    if fdp.ConsumeBool():
        stride = fdp.ConsumeIntInRange(-24, 24) if fdp.ConsumeBool() else fdp.ConsumeInt(8)
        interface["strides"] = (stride,)
    offset = 0
    if fdp.ConsumeBool():
        offset = fdp.ConsumeIntInRange(-8, 8 * FEW) if fdp.ConsumeBool() else fdp.ConsumeInt(8)
        interface["offset"] = offset
    where = fdp.ConsumeIntInRange(0, 4)
    keep = np.frombuffer(data + bytes(8), dtype=np.uint8)  # a real address, to tempt a reader
    interface["data"] = [data, bytearray(data), memoryview(data), (keep.__array_interface__["data"][0], False),
                         None][where]
    obj = Foreign(interface)
    if where == 4:
        obj = type("Buffered", (bytes,), {"__array_interface__": interface})(data)
    if where == 3 or interface.get("typestr") != "<f8" or kind != 0 or not isinstance(n, int) or n < 0:
        return obj, None
    step = 8 if stride is None else stride
    last = offset + (n - 1) * step
    if offset < 0 or n > len(data) or n and (min(offset, last) < 0 or max(offset, last) + 8 > len(data)):
        return obj, None
    return obj, [struct.unpack_from("<d", data, offset + i * step)[0] for i in range(n)]


@atheris.instrument_func
def list_argument(fdp):
    items = []
    for _ in range(fdp.ConsumeIntInRange(0, FEW)):
        kind = fdp.ConsumeIntInRange(0, 5)
        items.append([fdp.ConsumeRegularFloat(), fdp.ConsumeInt(fdp.ConsumeIntInRange(1, 140)), True, None, "1",
                      np.float32(1.5)][kind])
    try:
        floats = [float_rule(x) for x in items]
    except (TypeError, ValueError, OverflowError):
        return items, None
    return items, floats


@atheris.instrument_func
def TestOneInput(data):
    fdp = atheris.FuzzedDataProvider(data)
    kind = fdp.ConsumeIntInRange(0, 2)
    arg, floats = [numpy_argument, foreign_argument, list_argument][kind](fdp)
    try:
        ours = tessel_array.b76_fairvalue(arg, 100.0, 0.5, 0.3, "call")
    except (TypeError, ValueError, OverflowError) as e:
        # Refused: only what an independent reading could not read either.
        assert floats is None, (arg, floats, e)
        return
    if floats is None:
        # Read although the independent reading could not: only a numpy array
        # of numbers of another shape (0-d: one number) may be.
        assert kind == 0 and np.ndim(arg) == 0, (arg, ours)
        assert same_bits(ours, np.array(tessel.b76_fairvalue(float(arg), 100.0, 0.5, 0.3, "call"))), (arg, ours)
        return
    want = expected_b76(floats)
    assert same_bits(ours, want), (arg, floats, ours, want)
    # The same elements against arrays of the other arguments.
    strikes = np.full(len(floats), 100.0)
    assert same_bits(tessel_array.b76_fairvalue(arg, strikes, 0.5, 0.3, ["call"] * len(floats)), want)


def main():
    atheris.Setup(sys.argv, TestOneInput)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
