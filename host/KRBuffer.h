#pragma once
// Private to the host stand-in: the checked sizing and zeroed allocation every
// owned pixel or sample buffer goes through.

#include <cstddef>
#include <initializer_list>
#include <limits>
#include <new>

namespace KRC {
namespace detail {

//! Product of positive factors, or 0 when a factor is not positive or the
//! product does not fit in size_t.
inline std::size_t CheckedBytes(std::initializer_list<long long> factors)
{
    std::size_t total = 1;
    for (long long f : factors) {
        if (f <= 0)
            return 0;
        const auto factor = static_cast<unsigned long long>(f);
        if (factor > std::numeric_limits<std::size_t>::max() / total)
            return 0;
        total *= static_cast<std::size_t>(factor);
    }
    return total;
}

//! Zeroed buffer, or null when the allocation fails.
inline unsigned char* AllocateZeroed(std::size_t bytes)
{
    try {
        return new (std::nothrow) unsigned char[bytes]();
    } catch (const std::bad_alloc&) { // an array length the runtime refuses
        return nullptr;
    }
}

} // namespace detail
} // namespace KRC
