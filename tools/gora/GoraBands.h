#pragma once
// What a file says its bands are, read with GDAL, since the accessor does not
// tell: colour interpretation and value types. From it gora sets the
// accessor's alpha and band order as a host should, and it builds a VRT of
// chosen or rescaled bands for the module to open in place of the raster.

#include <memory>
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <nlohmann/json.hpp>

namespace gora {

//! The raster opened read-only by GDAL itself, quietly; null for files GDAL
//! cannot open (NSDTF-DEM grids).
GDALDatasetUniquePtr OpenWithGdal(const std::string& path);

//! Alpha and band order as the file's colour interpretation gives them.
struct BandRoles {
    bool alpha = false;    //!< band 4 says it is alpha
    std::string bandOrder; //!< the host's band order for red, green, blue bands; empty: the default
};

BandRoles RolesOf(GDALDataset& dataset);

//! True when a band holds more than 16 bits, which the module does not stretch.
bool WiderThan16Bits(GDALDataset& dataset);

//! The lowest and highest value of the bands that are not alpha (GDAL's
//! approximate scan); false when GDAL cannot tell.
bool ValueRange(GDALDataset& dataset, double& low, double& high);

//! A VRT of `bands` (1-based; empty: all) of the dataset in GDAL's memory file
//! system, red, green, blue (and alpha) in that order, its values (but not
//! alpha) stretched from `range` (MIN MAX, or empty) onto 0..255 bytes. The
//! VRT's name, with the file removed when the last copy of the handle goes.
std::shared_ptr<const std::string> BandsVrt(GDALDataset& dataset, const std::vector<int>& bands,
                                            const std::vector<double>& range);

} // namespace gora

namespace gora {

//! Each band as GDAL describes it: type, colour interpretation, description,
//! nodata, palette size, overviews and statistics (stored in the file, else
//! GDAL's approximate ones, computed without writing anything beside it).
nlohmann::json BandDetails(GDALDataset& dataset);

//! What the bands show: "grey", "palette", "RGB", "RGBA" or "N bands".
std::string ColoursOf(GDALDataset& dataset);

//! Where the module's value range comes from: statistics stored in the file,
//! or the pixels (a single band without them), or nowhere.
std::string RangeSource(GDALDataset& dataset);

} // namespace gora
