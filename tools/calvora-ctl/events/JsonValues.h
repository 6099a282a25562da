#pragma once
// JSON as calvora-ctl writes it: the fields in the order given.
#include <cmath>
#include <nlohmann/json.hpp>

namespace calvora::ctl {

using Json = nlohmann::ordered_json;

// JSON has no infinities or NaN: those are written as null.
inline Json JsonNumber(double value) {
  return std::isfinite(value) ? Json(value) : Json(nullptr);
}

}  // namespace calvora::ctl
