#pragma once
// The command groups of gora. Each adds its subcommands to the application;
// a command runs as its subcommand's callback (see GoraCore.h for the rules).

#include <CLI/CLI.hpp>

#include "GoraCore.h"

namespace gora {

//! info, to-source, prj: what the module makes of a file.
void AddDescribeCommands(CLI::App& app, const Globals& globals);
//! An open raster's description with stable keys (info's JSON, serve's description).
nlohmann::json Describe(KRC::KRRasterDataAccessor& a, bool accurate);
//! Why the raster's WGS84 coordinates cannot be trusted, or empty when they can.
std::string CoordinateProblem(KRC::KRRasterDataAccessor& a);
//! True when the raster lies on the globe: a coordinate kind and WGS84 bounds on the globe.
bool HasUsableCoordinates(KRC::KRRasterDataAccessor& a);
//! tile, image, quick: single pictures from the image fetches.
void AddImageCommands(CLI::App& app, const Globals& globals);
//! mosaic, render: neighbouring tiles of one level joined into one picture.
void AddRenderCommands(CLI::App& app, const Globals& globals);
//! terrain: one elevation grid as JSON.
void AddTerrainCommands(CLI::App& app, const Globals& globals);
//! pixels, reproject: direct reads and raster output.
void AddDirectCommands(CLI::App& app, const Globals& globals);
//! dem2tif: an elevation file as a WGS84 GeoTIFF.
void AddDem2TifCommand(CLI::App& app, const Globals& globals);

//! serve: the raster on a 3-D globe in the browser.
void AddServeCommands(CLI::App& app, const Globals& globals);

} // namespace gora
