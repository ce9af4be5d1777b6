#pragma once
// What every gora command shares, one header per concern:
//   GoraAccessor  the module, its accessors, opening the raster, the fetches
//   GoraOptions   files, points, rectangles, sizes and display options
//   GoraTiles     the host's WGS84 tiling
//   GoraDisplay   display options handed to the accessor, colour ramps
//   GoraBands     band roles from GDAL, VRTs of chosen or rescaled bands
//   GoraPicture   pictures and their PNG encoding
//   GoraOutput    output files moved into place only when complete
//   GoraProgress  progress on the terminal
//   GoraJson      JSON numbers and rectangles
// A command talks to the module only through the accessor's virtual
// operations (and the base class's getters). Failures are thrown as
// gora::Error (exit status 1); CLI::ParseError means a usage error (exit 2).
//
// Adding a command group: write `void AddXCommands(CLI::App&, const Globals&)`
// in its own file, declare it in GoraCommands.h and call it from main.

#include "GoraAccessor.h"
#include "GoraBands.h"
#include "GoraDisplay.h"
#include "GoraJson.h"
#include "GoraOptions.h"
#include "GoraOutput.h"
#include "GoraPicture.h"
#include "GoraProgress.h"
#include "GoraTiles.h"
