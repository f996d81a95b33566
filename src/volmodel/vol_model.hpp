#pragma once
// The smile models: their contract and the three models that hold to it.
#include "volmodel/cubic_spline.hpp"
#include "volmodel/gvv_spline.hpp"
#include "volmodel/model.hpp"
#include "volmodel/vol_geo.hpp"

namespace tessel::volmodel {

static_assert(SmileModel<GVVSpline> && SmileModel<VolGeo> && SmileModel<CubicSpline>);

}  // namespace tessel::volmodel
