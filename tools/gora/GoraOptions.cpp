#include "GoraOptions.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>

using namespace KRC;

namespace gora {

std::string AbsolutePath(const std::string& path)
{
    return path.empty() ? path : std::filesystem::absolute(path).lexically_normal().string();
}

const CLI::Validator& MakesAbsolute()
{
    static const CLI::Validator validator(
        [](std::string& path) {
            path = AbsolutePath(path);
            return std::string();
        },
        "PATH");
    return validator;
}

bool ParseIntegers(const std::string& text, std::vector<int>& values)
{
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        char* end = nullptr;
        const long value = std::strtol(item.c_str(), &end, 10);
        if (end == item.c_str() ||
            item.find_first_not_of(" \t", static_cast<size_t>(end - item.c_str())) != std::string::npos ||
            value < INT_MIN || value > INT_MAX)
            return false;
        values.push_back(static_cast<int>(value));
    }
    return true;
}

void AddSource(CLI::App& cmd, Source& source)
{
    cmd.add_option("raster", source.raster,
                   "raster file (any GDAL raster, or an NSDTF-DEM grid: a .dem file or a 2007-edition .GRD)")
        ->required()
        ->transform(MakesAbsolute());
    cmd.add_option("--proj4", source.proj4, "coordinate system to import after opening (for metric NSDTF-DEM files)");
    cmd.add_flag("--no-accurate", source.noAccurate,
                 "the module's default geometry (raster edge to edge, GDAL's decimation) instead of its accurate mode "
                 "(pixel centres, seam-free reductions, classes never blended)");
}

void AddOutputFile(CLI::App& cmd, std::string& path, const std::string& name, const std::string& help)
{
    cmd.add_option(name, path, help)->required()->transform(MakesAbsolute());
}

CLI::Option* AddInputFile(CLI::App& cmd, std::string& path, const std::string& name, const std::string& help)
{
    return cmd.add_option(name, path, help)->transform(MakesAbsolute());
}

CLI::Option* AddPointOption(CLI::App& cmd, std::vector<double>& lonLat, const std::string& help)
{
    return cmd.add_option("--at", lonLat, help + " (LON LAT, WGS84 degrees)")->expected(2);
}

CLI::Option* AddRectOption(CLI::App& cmd, std::vector<double>& rect, const std::string& name, const std::string& help)
{
    return cmd.add_option(name, rect, help)->expected(4);
}

KRRect2d ToRect(const std::vector<double>& westSouthEastNorth, const std::string& option)
{
    const std::vector<double>& r = westSouthEastNorth;
    if (r.size() != 4 || !std::all_of(r.begin(), r.end(), [](double v) { return std::isfinite(v); }) ||
        !(r[0] < r[2]) || !(r[1] < r[3]))
        throw CLI::ValidationError(option, "needs WEST SOUTH EAST NORTH with west < east and south < north");
    return KRRect2d(r[0], r[3], r[2], r[1]);
}

KRPoint3d LonLat(const std::vector<double>& lonLat)
{
    if (lonLat.size() != 2 || !(std::fabs(lonLat[0]) <= 180.0) || !(std::fabs(lonLat[1]) <= 90.0))
        throw CLI::ValidationError("--at", "needs a longitude within -180..180 and a latitude within -90..90");
    return KRPoint3d(lonLat[0], lonLat[1], 0.0);
}

void AddSizeOption(CLI::App& cmd, std::vector<int>& size)
{
    cmd.add_option("--size", size,
                   "picture WIDTH HEIGHT in pixels, or one number for the longer side with the rectangle's "
                   "proportions kept (default: 512 along the longer side)")
        ->expected(1, 2)
        ->check(CLI::Range(1, 16384));
}

void PictureSize(const std::vector<int>& size, const KRRect2d& rect, int& width, int& height)
{
    if (size.size() == 2) {
        width = size[0];
        height = size[1];
        return;
    }
    const int longSide = size.size() == 1 ? size[0] : 512;
    const double w = std::fabs(rect.Width());
    const double h = std::fabs(rect.Height());
    const auto shortSide = [longSide](double ratio) {
        return std::clamp(static_cast<int>(std::lround(longSide * ratio)), 1, longSide);
    };
    width = w >= h ? longSide : shortSide(w / h);
    height = w >= h ? shortSide(h / w) : longSide;
}

void AddBigOption(CLI::App& cmd, bool& big)
{
    cmd.add_flag("--big", big, "allow pictures of more than 4096 x 4096 pixels (made in strips)");
}

void CheckBig(long long width, long long height, const std::string& detail, bool big, const std::string& png)
{
    if (width * height > kBigPixels && !big)
        throw Error(png, "the picture would be " + std::to_string(width) + " x " + std::to_string(height) + " pixels" +
                             detail + "; pass --big to make it");
}

void RefuseOptions(const CLI::App& cmd, const std::vector<std::string>& names, const std::string& why)
{
    for (const std::string& name : names) {
        if (cmd.count(name) > 0)
            throw CLI::ValidationError(name, "is not used " + why);
    }
}

namespace {

//! The host's band order text: four byte indices of a four-byte pixel.
std::string CheckBandOrder(const std::string& text)
{
    std::vector<int> order;
    if (!ParseIntegers(text, order) || order.size() != 4 ||
        !std::all_of(order.begin(), order.end(), [](int b) { return b >= 0 && b <= 3; }))
        return "needs four byte indices 0 to 3, such as 2,1,0,3";
    return {};
}

//! Source band numbers for red, green, blue and perhaps alpha, or one grey band.
std::string CheckSourceBands(const std::string& text)
{
    std::vector<int> bands;
    if (!ParseIntegers(text, bands) || (bands.size() != 1 && bands.size() != 3 && bands.size() != 4) ||
        !std::all_of(bands.begin(), bands.end(), [](int b) { return b >= 1; }))
        return "needs 1, 3 or 4 band numbers from 1 (grey, or red, green, blue and perhaps alpha), such as 3,2,1";
    return {};
}

} // namespace

void AddDisplayOptions(CLI::App& cmd, DisplayOptions& d)
{
    const std::string group = "Display";
    auto* stretch = cmd.add_option("--stretch", d.stretch,
                                   "contrast stretch of 16-bit bands: auto (clip for 16-bit bands), none, minmax "
                                   "or clip (histogram)")
                        ->capture_default_str()
                        ->check(CLI::IsMember({"auto", "none", "minmax", "clip"}))
                        ->group(group);
    cmd.add_option("--range", d.range,
                   "MIN MAX source values: the ramp's ends, or (several bands) stretched onto 0..255; replaces the "
                   "value range the file's statistics give")
        ->expected(2)
        ->excludes(stretch)
        ->group(group);
    cmd.add_option("--bands", d.bands,
                   "source bands shown as red, green, blue (and alpha), such as 3,2,1; one band is shown grey "
                   "(default: as the file's colour interpretation says)")
        ->check(CLI::Validator([](std::string& s) { return CheckSourceBands(s); }, "R,G,B[,A]"))
        ->group(group);
    cmd.add_option("--gamma", d.gamma, "stretch gamma")->check(CLI::PositiveNumber)->group(group);
    cmd.add_option("--clip", d.clip,
                   "host clip settings MIN MAX (%); stored in the accessor as the host does, but the module's "
                   "histogram stretch always cuts 0.25 % of the non-zero pixels off each end")
        ->expected(2)
        ->check(CLI::Range(0.0, 100.0))
        ->group(group);
    cmd.add_option("--band-order", d.bandOrder,
                   "pixel byte of bands 1, 2, 3 and of alpha (default: red, green and blue where the file names them, "
                   "else 2,1,0,3)")
        ->check(CLI::Validator([](std::string& s) { return CheckBandOrder(s); }, "B1,B2,B3,A"))
        ->group(group);
    cmd.add_flag("--ignore-alpha", d.ignoreAlpha,
                 "treat a fourth band as data, not alpha (default: alpha only when the file says so)")
        ->group(group);
    cmd.add_option("--filter-color", d.filterColor, "colour R G B [A] (0-255) shown transparent")
        ->expected(3, 4)
        ->check(CLI::Range(0, 255))
        ->group(group);
    cmd.add_option("--filter-tolerance", d.filterTolerance, "tolerance of the filter colour")
        ->check(CLI::NonNegativeNumber)
        ->group(group);
    cmd.add_flag("--flip", d.flip, "invert the row order in which the source is read")->group(group);
    cmd.add_option("--ramp", d.ramp, "colours of a single band without palette: gray, terrain or none")
        ->capture_default_str()
        ->check(CLI::IsMember({"gray", "terrain", "none"}))
        ->group(group);
}

const std::vector<std::string>& DisplayOptionNames()
{
    static const std::vector<std::string> names = {"--stretch",      "--range",        "--bands",
                                                   "--gamma",        "--clip",         "--band-order",
                                                   "--ignore-alpha", "--filter-color", "--filter-tolerance",
                                                   "--flip",         "--ramp"};
    return names;
}

std::vector<int> SourceBands(const DisplayOptions& display)
{
    std::vector<int> bands;
    if (display.bands.empty() || !ParseIntegers(display.bands, bands))
        return {};
    return bands;
}

std::vector<int> BandMap(const DisplayOptions& display)
{
    std::vector<int> order;
    if (display.bandOrder.empty() || !ParseIntegers(display.bandOrder, order) || order.size() != 4)
        return {};
    return order;
}

void AddPictureArgs(CLI::App& cmd, PictureArgs& args)
{
    AddSource(cmd, args.source);
    AddOutputFile(cmd, args.png, "png", "PNG file to write");
    AddDisplayOptions(cmd, args.display);
}

} // namespace gora
