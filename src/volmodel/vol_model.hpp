#pragma once
// The smile models: their contract and the three models that hold to it.
#include "core/type_list.hpp"
#include "volmodel/cubic_spline.hpp"
#include "volmodel/gvv_spline.hpp"
#include "volmodel/model.hpp"
#include "volmodel/vol_geo.hpp"

namespace tessel::volmodel {

// Every model, in the order the module registers their classes.
using Models = TypeList<GVVSpline, VolGeo, CubicSpline>;

static_assert([]<class... M>(TypeList<M...>) { return (SmileModel<M> && ...); }(Models{}));

}  // namespace tessel::volmodel
