// info, to-source, prj: what the module makes of a file.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>

#include <gdal_priv.h>

#include "GoraCommands.h"

using nlohmann::json;
using namespace KRC;

namespace gora {

namespace {

json Pair(double a, double b)
{
    return {JsonNumber(a), JsonNumber(b)};
}

const std::map<int, std::string> kDataFormats = {{0, "none"},   {1, "Byte"},    {2, "Int16"},
                                                 {3, "UInt16"}, {4, "Float32"}, {5, "Int32"},
                                                 {6, "UInt32"}, {7, "CInt32"},  {8, "Float64"}};
const std::map<int, std::string> kPixelFormats = {{0, "other"},        {22, "32-bit integer"}, {53, "8-bit"},
                                                  {54, "16-bit"},      {57, "32-bit complex"}, {58, "32-bit float"},
                                                  {59, "64-bit float"}};
const std::map<int, std::string> kCoordinateKinds = {
    {0, "no usable coordinate system"}, {1, "geographic"}, {2, "projected"}};

std::string NameOf(const std::map<int, std::string>& names, int code)
{
    const auto found = names.find(code);
    return found == names.end() ? "unknown" : found->second;
}

bool InsideTheGlobe(const KRRect2d& r)
{
    return std::fabs(r.left) <= 180.0 && std::fabs(r.right) <= 180.0 && std::fabs(r.top) <= 90.0 &&
           std::fabs(r.bottom) <= 90.0;
}

//! How the module treats a raster whose coordinates it cannot carry to WGS84.
std::string Treatment(int kind)
{
    if (kind == 1)
        return "the module takes its source units for WGS84 degrees";
    if (kind == 2)
        return "the module has no conversion to WGS84 and puts source units where degrees belong";
    return "the module delivers no tiles";
}

} // namespace

bool HasUsableCoordinates(KRRasterDataAccessor& a)
{
    return a.GetProjType() != 0 && InsideTheGlobe(a.GetLatLonBounds().GetGeoBounds());
}

std::string CoordinateProblem(KRRasterDataAccessor& a)
{
    const bool none = a.ExportProjectionRefToWkt().IsEmpty();
    if (HasUsableCoordinates(a))
        return none ? "the file has no coordinate system; the module takes its units for WGS84 degrees, which its "
                      "bounds fit"
                    : "";
    return std::string(none ? "the file has no coordinate system"
                            : "its coordinate system cannot be carried to WGS84 (by PROJ)") +
           ": " + Treatment(a.GetProjType()) +
           ", so its WGS84 bounds, tiles and point conversions mean nothing; give a system with --proj4";
}

namespace {

//! What GDAL says of the file that the accessor does not: band details, what
//! the bands show and where the value range comes from.
json GdalSide(const std::string& file)
{
    GDALDatasetUniquePtr dataset = OpenWithGdal(file);
    if (!dataset) // an NSDTF-DEM grid, read by the module alone
        return {{"colours", "elevation grid"}, {"valueRangeSource", "the grid's values"}, {"bandDetails", nullptr}};
    const std::string rangeSource = RangeSource(*dataset);
    return {{"colours", ColoursOf(*dataset)},
            {"valueRangeSource", rangeSource.empty() ? json(nullptr) : json(rangeSource)},
            {"bandDetails", BandDetails(*dataset)}};
}

} // namespace

//! The description with stable keys; the text report is made from it.
json Describe(KRRasterDataAccessor& a, bool accurate)
{
    bool hasNoData = false;
    const double noData = a.GetNoDataValue(hasNoData);
    const std::string problem = CoordinateProblem(a);
    json description = {
        {"file", a.GetFileName().Cstr()},
        {"valid", a.IsValid()},
        {"width", a.GetWidth()},
        {"height", a.GetHeight()},
        {"bands", a.GetBandCount()},
        {"dataFormat", static_cast<int>(a.GetRasterDataFormat())},
        {"dataFormatName", NameOf(kDataFormats, a.GetRasterDataFormat())},
        {"pixelFormat", static_cast<int>(a.GetPixelFormat())},
        {"pixelFormatName", NameOf(kPixelFormats, a.GetPixelFormat())},
        {"coordinateKind", a.GetProjType()},
        {"usableCoordinates", HasUsableCoordinates(a)},
        {"coordinateWarning", problem.empty() ? json(nullptr) : json(problem)},
        {"accurateMode", accurate},
        {"sourceBounds", JsonRect(a.GetSrcBounds().GetGeoBounds())},
        {"wgs84Bounds", JsonRect(a.GetLatLonBounds().GetGeoBounds())},
        {"resolution", Pair(a.GetResX(), a.GetResY())},
        {"wgs84Resolution", Pair(a.GetLatLonResX(), a.GetLatLonResY())},
        {"pixelSize", Pair(a.GetPixelSizeX(), a.GetPixelSizeY())},
        {"northRowFirst", a.IsDataReverse()},
        {"noData", hasNoData ? JsonNumber(noData) : json(nullptr)},
        {"valueRange", a.IsMinMaxValid() ? Pair(a.GetMinValue(), a.GetMaxValue()) : json(nullptr)},
        {"projection",
         {{"wkt", a.ExportProjectionRefToWkt().Cstr()},
          {"proj4", a.ExportProjectionRefToProj4().Cstr()},
          {"esri", a.ExportProjToEsriPrj().Cstr()}}},
    };
    description.update(GdalSide(a.GetFileName().Cstr()));
    return description;
}

namespace {

std::string Num(const json& v)
{
    if (v.is_null())
        return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v.get<double>());
    return text;
}

std::string Bounds(const json& r)
{
    return "west " + Num(r["west"]) + ", south " + Num(r["south"]) + ", east " + Num(r["east"]) + ", north " +
           Num(r["north"]);
}

void Line(const std::string& label, const std::string& text)
{
    std::cout << label << std::string(label.size() < 19 ? 19 - label.size() : 1, ' ') << text << "\n";
}

void Block(const std::string& label, const json& text)
{
    const std::string s = text.get<std::string>();
    std::cout << label << "\n    " << (s.empty() ? "(none)" : s) << "\n";
}

std::string ValueRangeText(const json& d)
{
    if (d["valueRange"].is_null())
        return "unknown";
    const std::string source = d["valueRangeSource"].is_null() ? "" : d["valueRangeSource"].get<std::string>();
    return Num(d["valueRange"][0]) + " to " + Num(d["valueRange"][1]) + (source.empty() ? "" : " (" + source + ")") +
           "; ramps and stretches use it unless --range replaces it";
}

std::string StatisticsText(const json& s)
{
    if (s.is_null())
        return "no statistics";
    return "min " + Num(s["min"]) + ", max " + Num(s["max"]) + ", mean " + Num(s["mean"]) + ", std dev " +
           Num(s["stdDev"]) + " (" + s["source"].get<std::string>() + ")";
}

std::string OverviewsText(const json& overviews)
{
    std::string text;
    for (const json& o : overviews)
        text += (text.empty() ? "" : ", ") + std::to_string(o[0].get<int>()) + " x " + std::to_string(o[1].get<int>());
    return text.empty() ? "none" : text;
}

std::string BandText(const json& b)
{
    const std::string description = b["description"].get<std::string>();
    return b["type"].get<std::string>() + ", " + b["colour"].get<std::string>() +
           (description.empty() ? "" : ", \"" + description + "\"") +
           (b["paletteEntries"].is_null()
                ? ""
                : ", palette of " + std::to_string(b["paletteEntries"].get<int>()) + " entries") +
           (b["noData"].is_null() ? "" : ", no data " + Num(b["noData"])) + "; " + StatisticsText(b["statistics"]) +
           "; overviews " + OverviewsText(b["overviews"]);
}

//! A readable report in the manner of gdalinfo.
void PrintReport(const json& d)
{
    Line("File:", d["file"].get<std::string>());
    Line("Opened:", d["valid"].get<bool>() ? "yes" : "no");
    Line("Size:", std::to_string(d["width"].get<long long>()) + " x " + std::to_string(d["height"].get<long long>()) +
                      " pixels, " + std::to_string(d["bands"].get<int>()) + " band(s)");
    Line("Sample format:", d["dataFormatName"].get<std::string>());
    Line("Colours:", d["colours"].get<std::string>());
    Line("Pixel format:", d["pixelFormatName"].get<std::string>());
    Line("Coordinates:", NameOf(kCoordinateKinds, d["coordinateKind"].get<int>()));
    Line("Geometry:", d["accurateMode"].get<bool>()
                          ? "accurate mode: samples at pixel centres as GDAL places them, reductions neighbouring "
                            "tiles share, classes never blended (--no-accurate for the module's default)"
                          : "the module's default: the raster edge to edge, windows through GDAL's decimation");
    if (!d["coordinateWarning"].is_null())
        Line("Warning:", d["coordinateWarning"].get<std::string>());
    Line("Source bounds:", Bounds(d["sourceBounds"]));
    Line("WGS84 bounds:", d["usableCoordinates"].get<bool>() ? Bounds(d["wgs84Bounds"]) : "none (see the warning)");
    Line("Pixel size:", Num(d["pixelSize"][0]) + " x " + Num(d["pixelSize"][1]) +
                            " source units (the step from one pixel to the next)");
    Line("Resolution:", Num(d["resolution"][0]) + " x " + Num(d["resolution"][1]) +
                            " source units (the bounds' span over pixels - 1, as the module reckons it)");
    Line("WGS84 resolution:",
         Num(d["wgs84Resolution"][0]) + " x " + Num(d["wgs84Resolution"][1]) + " degrees (the same, in WGS84)");
    Line("Row order:", d["northRowFirst"].get<bool>() ? "first row at the north edge" : "first row at the south edge");
    Line("No data:", d["noData"].is_null() ? "none" : Num(d["noData"]));
    Line("Value range:", ValueRangeText(d));
    for (const json& band : d["bandDetails"].is_array() ? d["bandDetails"] : json::array())
        Line("Band " + std::to_string(band["band"].get<int>()) + ":", BandText(band));
    Block("Projection (WKT):", d["projection"]["wkt"]);
    Block("Projection (Proj4):", d["projection"]["proj4"]);
    Block("Projection (ESRI):", d["projection"]["esri"]);
}

struct InfoArgs {
    Source source;
    bool json = false;
};

void AddInfo(CLI::App& app, const Globals& globals)
{
    auto* cmd = app.add_subcommand("info", "describe a raster as the module sees it");
    auto args = std::make_shared<InfoArgs>();
    AddSource(*cmd, args->source);
    cmd->add_flag("--json", args->json, "print one JSON object with stable keys");
    cmd->callback([&globals, args] {
        Accessor a = OpenSource(globals, args->source);
        const json description = Describe(*a, !args->source.noAccurate);
        if (args->json)
            std::cout << description.dump(2) << "\n";
        else
            PrintReport(description);
    });
}

struct ToSourceArgs {
    Source source;
    std::vector<double> at;
    bool json = false;
};

void AddToSource(CLI::App& app, const Globals& globals)
{
    auto* cmd = app.add_subcommand("to-source", "convert a WGS84 longitude/latitude to source units");
    auto args = std::make_shared<ToSourceArgs>();
    AddSource(*cmd, args->source);
    AddPointOption(*cmd, args->at, "the point")->required();
    cmd->add_flag("--json", args->json, "print {\"x\": X, \"y\": Y}");
    cmd->callback([&globals, args] {
        const KRPoint3d at = LonLat(args->at);
        Accessor a = OpenSource(globals, args->source);
        if (!HasUsableCoordinates(*a))
            throw Error(args->source.raster, "cannot convert the point: " + CoordinateProblem(*a));
        KRPoint3d out(std::nan(""), std::nan(""), 0.0);
        a->WGS84PtToSrcPt(at, out);
        if (!std::isfinite(out.x) || !std::isfinite(out.y))
            throw Error(args->source.raster, "the point cannot be carried into the raster's coordinate system");
        const json xy = {{"x", JsonNumber(out.x)}, {"y", JsonNumber(out.y)}};
        if (args->json)
            std::cout << xy.dump(2) << "\n";
        else
            std::cout << Num(xy["x"]) << " " << Num(xy["y"]) << "\n";
    });
}

struct PrjArgs {
    Source source;
    std::string prj;
};

void AddPrj(CLI::App& app, const Globals& globals)
{
    auto* cmd = app.add_subcommand("prj", "write the raster's coordinate system as an ESRI .prj file");
    auto args = std::make_shared<PrjArgs>();
    AddSource(*cmd, args->source);
    AddOutputFile(*cmd, args->prj, "prj", ".prj file to write");
    cmd->callback([&globals, args] {
        Accessor a = OpenSource(globals, args->source);
        PendingOutput output(args->prj);
        if (!a->ExportProjToEsriPrjFile(KRString(output.TempPath().c_str())))
            throw Error(args->prj, "the module wrote no .prj (no coordinate system, or the folder is not writable)");
        output.Commit();
        std::cout << "wrote " << args->prj << "\n";
    });
}

} // namespace

void AddDescribeCommands(CLI::App& app, const Globals& globals)
{
    AddInfo(app, globals);
    AddToSource(app, globals);
    AddPrj(app, globals);
}

} // namespace gora
