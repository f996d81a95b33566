"""The module's public names, pinned in this one place: every test that walks them reads them here."""

# In registration order; __all__ is the classes, then the functions.
CLASSES = ["Calendar", "GVVSpline", "VolGeo", "CubicSpline"]
FUNCTIONS = ["b76_fairvalue", "b76_delta", "b76_vega", "b76_gamma", "binary_fairvalue", "binary_vega", "binary_delta",
             "binary_gamma", "binary_speed", "binary_theta", "calibrate_black76_iv"]
PUBLIC = CLASSES + FUNCTIONS
MODELS = CLASSES[1:]
