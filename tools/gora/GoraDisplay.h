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

//! The source open for showing: a VRT of it when --bands picks bands or its
//! values need rescaling into bytes (--range, or bands wider than 16 bits
//! under the automatic stretch), then the display options handed to the
//! accessor, alpha and band order as the file's colour interpretation says
//! unless the options say otherwise.
Accessor OpenForDisplay(const Globals& globals, const Source& source, const DisplayOptions& display);

//! Why an image fetch of the source delivered nothing.
std::string NoImageReason(const Source& source);

//! Ramp names: "gray" (black to white) and "terrain" (green, ochre, brown, white).
std::unique_ptr<KRC::KRColorDictTable> MakeRamp(const std::string& name, double low, double high);

} // namespace gora
