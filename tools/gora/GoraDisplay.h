#pragma once
// The display options handed to an accessor as the host hands them, and the
// colour ramps that become a single band's value-to-colour dictionary.

#include <memory>
#include <string>

#include "GoraAccessor.h"
#include "GoraOptions.h"

namespace gora {

//! The raster open, with the display options handed to the accessor.
Accessor OpenForPictures(const Globals& globals, const PictureArgs& args);

//! Hands the options to the accessor through the host's setters. A single-band
//! source without a palette gets the ramp as its colour dictionary, spread
//! over the band's value range (or over 0..255 when a stretch applies).
void ApplyDisplay(Accessor& accessor, const DisplayOptions& display);

//! Ramp names: "gray" (black to white) and "terrain" (green, ochre, brown, white).
std::unique_ptr<KRC::KRColorDictTable> MakeRamp(const std::string& name, double low, double high);

} // namespace gora
