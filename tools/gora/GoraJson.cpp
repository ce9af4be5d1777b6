#include "GoraJson.h"

#include <cmath>

namespace gora {

nlohmann::json JsonNumber(double value)
{
    return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json(nullptr);
}

nlohmann::json JsonRect(const KRC::KRRect2d& rect)
{
    return {{"west", JsonNumber(rect.left)},
            {"south", JsonNumber(rect.bottom)},
            {"east", JsonNumber(rect.right)},
            {"north", JsonNumber(rect.top)}};
}

} // namespace gora
