"""The module's public names, pinned in this one place: every test that walks them reads them here."""

# In registration order, which is also the order of __all__.
PUBLIC = ["Calendar", "GVVSpline", "VolGeo", "CubicSpline", "b76_fairvalue", "b76_delta", "b76_vega", "b76_gamma",
          "binary_fairvalue", "binary_vega", "binary_delta", "binary_gamma", "binary_speed", "binary_theta",
          "calibrate_black76_iv"]
CLASSES, FUNCTIONS = PUBLIC[:4], PUBLIC[4:]
MODELS = CLASSES[1:]
