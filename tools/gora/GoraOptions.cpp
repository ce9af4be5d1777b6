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

void AddSizeOption(CLI::App& cmd, std::vector<int>& size)
{
    cmd.add_option("--size", size, "picture width and height in pixels (default: 512 along the longer side)")
        ->expected(2)
        ->check(CLI::Range(1, 16384));
}

void PictureSize(const std::vector<int>& size, const KRRect2d& rect, int& width, int& height)
{
    if (size.size() == 2) {
        width = size[0];
        height = size[1];
        return;
    }
    static constexpr int kLongSide = 512;
    const double w = std::fabs(rect.Width());
    const double h = std::fabs(rect.Height());
    const auto shortSide = [](double ratio) {
        return std::clamp(static_cast<int>(std::lround(kLongSide * ratio)), 1, kLongSide);
    };
    width = w >= h ? kLongSide : shortSide(w / h);
    height = w >= h ? shortSide(h / w) : kLongSide;
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

} // namespace

void AddDisplayOptions(CLI::App& cmd, DisplayOptions& d)
{
    const std::string group = "Display";
    cmd.add_option("--stretch", d.stretch, "contrast stretch of 16-bit bands: none, minmax or clip (histogram)")
        ->check(CLI::IsMember({"none", "minmax", "clip"}))
        ->group(group);
    cmd.add_option("--gamma", d.gamma, "stretch gamma")->check(CLI::PositiveNumber)->group(group);
    cmd.add_option("--clip", d.clip,
                   "host clip settings MIN MAX (%); stored in the accessor as the host does, but the module's "
                   "histogram stretch always cuts 0.25 % of the non-zero pixels off each end")
        ->expected(2)
        ->check(CLI::Range(0.0, 100.0))
        ->group(group);
    cmd.add_option("--band-order", d.bandOrder, "pixel byte of bands 1, 2, 3 and of alpha (default 2,1,0,3)")
        ->check(CLI::Validator([](std::string& s) { return CheckBandOrder(s); }, "B1,B2,B3,A"))
        ->group(group);
    cmd.add_flag("--ignore-alpha", d.ignoreAlpha, "treat a fourth band as data, not alpha")->group(group);
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
