// info, to-source, prj: what the module makes of a file.
#include <cstdio>
#include <iostream>
#include <map>

#include "GoraCommands.h"

using nlohmann::json;
using namespace KRC;

namespace gora {

namespace {

json Pair(double a, double b)
{
    return {JsonNumber(a), JsonNumber(b)};
}

} // namespace

//! The description with stable keys; the text report is made from it.
json Describe(KRRasterDataAccessor& a)
{
    bool hasNoData = false;
    const double noData = a.GetNoDataValue(hasNoData);
    return {
        {"file", a.GetFileName().Cstr()},
        {"valid", a.IsValid()},
        {"width", a.GetWidth()},
        {"height", a.GetHeight()},
        {"bands", a.GetBandCount()},
        {"dataFormat", static_cast<int>(a.GetRasterDataFormat())},
        {"pixelFormat", static_cast<int>(a.GetPixelFormat())},
        {"coordinateKind", a.GetProjType()},
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
}

namespace {

std::string Named(const std::map<int, std::string>& names, const json& code)
{
    const auto found = names.find(code.get<int>());
    return std::to_string(code.get<int>()) + " (" + (found == names.end() ? "unknown" : found->second) + ")";
}

const std::map<int, std::string> kDataFormats = {
    {0, "none"},         {1, "unsigned 8-bit"}, {2, "signed 16-bit"},   {3, "unsigned 16-bit"},
    {4, "32-bit float"}, {5, "signed 32-bit"},  {6, "unsigned 32-bit"}, {7, "8-byte complex integer"},
    {8, "64-bit float"}};
const std::map<int, std::string> kPixelFormats = {{0, "other"},        {22, "32-bit integer"}, {53, "8-bit"},
                                                  {54, "16-bit"},      {57, "32-bit complex"}, {58, "32-bit float"},
                                                  {59, "64-bit float"}};
const std::map<int, std::string> kCoordinateKinds = {
    {0, "no usable coordinate system"}, {1, "geographic"}, {2, "projected"}};

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

//! A readable report in the manner of gdalinfo.
void PrintReport(const json& d)
{
    Line("File:", d["file"].get<std::string>());
    Line("Opened:", d["valid"].get<bool>() ? "yes" : "no");
    Line("Size:", std::to_string(d["width"].get<long long>()) + " x " + std::to_string(d["height"].get<long long>()) +
                      " pixels, " + std::to_string(d["bands"].get<int>()) + " band(s)");
    Line("Sample format:", Named(kDataFormats, d["dataFormat"]));
    Line("Pixel format:", Named(kPixelFormats, d["pixelFormat"]));
    Line("Coordinates:", Named(kCoordinateKinds, d["coordinateKind"]));
    Line("Source bounds:", Bounds(d["sourceBounds"]));
    Line("WGS84 bounds:", Bounds(d["wgs84Bounds"]));
    Line("Resolution:", Num(d["resolution"][0]) + " x " + Num(d["resolution"][1]) + " source units per pixel step");
    Line("WGS84 resolution:",
         Num(d["wgs84Resolution"][0]) + " x " + Num(d["wgs84Resolution"][1]) + " degrees per pixel step");
    Line("Pixel size:", Num(d["pixelSize"][0]) + " x " + Num(d["pixelSize"][1]));
    Line("Row order:", d["northRowFirst"].get<bool>() ? "first row at the north edge" : "first row at the south edge");
    Line("No data:", d["noData"].is_null() ? "none" : Num(d["noData"]));
    Line("Value range:",
         d["valueRange"].is_null() ? "unknown" : Num(d["valueRange"][0]) + " to " + Num(d["valueRange"][1]));
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
        const json description = Describe(*a);
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
        Accessor a = OpenSource(globals, args->source);
        KRPoint3d out;
        a->WGS84PtToSrcPt(KRPoint3d(args->at[0], args->at[1], 0.0), out);
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
