"""One module object per interpreter (tests/interpreters.py checks sub-interpreters in a process of its own)."""
import importlib.util
import os
import pickle
import subprocess
import sys

import tessel
from conftest import EXPIRY

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "interpreters.py")


def test_sub_interpreters():
    run = subprocess.run([sys.executable, SCRIPT, os.path.dirname(tessel.__file__)], capture_output=True, text=True,
                         timeout=900)
    assert run.returncode == 0, run.stdout + run.stderr


def test_a_second_module_object_in_one_interpreter_keeps_its_own_classes():
    spec = importlib.util.spec_from_file_location("tessel", tessel.__file__)
    second = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(second)
    assert second is not tessel and second.VolGeo is not tessel.VolGeo and second.__all__ == tessel.__all__
    old, new = tessel.VolGeo(EXPIRY, vvol=2.0), second.VolGeo(EXPIRY, vvol=2.0)
    assert type(old) is tessel.VolGeo and type(new) is second.VolGeo
    assert old.get_vol(0.5, 100.0, [90.0, 110.0]) == new.get_vol(0.5, 100.0, [90.0, 110.0])
    assert second.b76_fairvalue(100, 100, 1, 0.2, "c") == tessel.b76_fairvalue(100, 100, 1, 0.2, "c")
    # Pickle finds its classes through the interpreter's tessel, as it does by name.
    back = pickle.loads(pickle.dumps(new))
    assert type(back) is tessel.VolGeo and back.get_param_dict() == new.get_param_dict()
