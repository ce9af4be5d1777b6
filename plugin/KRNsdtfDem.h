#pragma once
// Private to the module: how opening recognises an NSDTF-DEM file.

#include <cstddef>

namespace KRC {
namespace detail {

//! Bytes of a file's beginning that recognition looks at.
constexpr std::size_t kNsdtfHeadBytes = 64;

//! Whether a file that begins with `head` (`size` bytes) is an NSDTF-DEM grid:
//! the positional layout, in a ".dem" file (`demExtension`) whose first nine
//! bytes read "NSDTF-DEM" in any case, or the keyed layout of the 2007 edition,
//! in a file of any name whose first line is "DataMark:CNSDTF-DEM".
bool StartsAsNsdtfDem(const char* head, std::size_t size, bool demExtension);

} // namespace detail
} // namespace KRC
