#pragma once
// The smile models: the VolModel interface and its three implementations.
#include "volmodel/cubic_spline.hpp"
#include "volmodel/gvv_spline.hpp"
#include "volmodel/model.hpp"
#include "volmodel/vol_geo.hpp"
