#pragma once
// JSON pieces shared by the commands that print JSON.

#include <nlohmann/json.hpp>

#include "KRRasterDataAccessor.h"

namespace gora {

//! JSON has no NaN or infinity; such numbers are written as null.
nlohmann::json JsonNumber(double value);
nlohmann::json JsonRect(const KRC::KRRect2d& rect);

} // namespace gora
