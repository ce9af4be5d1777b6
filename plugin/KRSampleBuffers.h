#pragma once
// Private to the module: sizing of the sample buffers that the quick image
// path and the direct reads and writes hand to GDAL, and the narrowing of
// their samples to bytes and 16-bit words.

#include <cstddef>
#include <initializer_list>

namespace KRC {
namespace detail {

//! Product of positive factors, or 0 when a factor is not positive or the
//! product does not fit in size_t: a size that cannot be a buffer's.
inline std::size_t CheckedByteCount(std::initializer_list<long long> factors)
{
    std::size_t total = 1;
    for (long long f : factors) {
        if (f <= 0 || __builtin_mul_overflow(total, static_cast<std::size_t>(f), &total))
            return 0;
    }
    return total;
}

//! Truncation toward zero to a 32-bit integer. NaN and values an int cannot
//! hold give 0, so their low-order bytes or words are 0 rather than the bits
//! of a saturated end.
inline int TruncateToIntOrZero(double value)
{
    if (!(value > -2147483649.0 && value < 2147483648.0))
        return 0;
    return static_cast<int>(value);
}

//! Low-order byte of the truncated value: no scaling, 300 gives 44.
inline unsigned char LowByteOf(double value)
{
    return static_cast<unsigned char>(static_cast<unsigned int>(TruncateToIntOrZero(value)) & 0xFFu);
}

} // namespace detail
} // namespace KRC
