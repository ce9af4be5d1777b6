// pixels, reproject: direct reads and raster output.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>

#include <gdal_priv.h>

#include "GoraCommands.h"

using nlohmann::json;
using namespace KRC;

namespace gora {

namespace {

// ---------------------------------------------------------------------------
// pixels

constexpr long long kMostBlockPixels = 1LL << 20;

template <class T> double Load(const unsigned char* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return static_cast<double>(v);
}

//! One sample of a multi-band buffer as a double, by the buffer's format.
double SampleAt(const unsigned char* p, enumRasterDataFromat format)
{
    switch (format) {
    case RDF_UInt8:
        return *p;
    case RDF_Int16:
        return Load<std::int16_t>(p);
    case RDF_UInt16:
        return Load<std::uint16_t>(p);
    case RDF_Float32:
        return Load<float>(p);
    case RDF_Int32:
        return Load<std::int32_t>(p);
    case RDF_UInt32:
        return Load<std::uint32_t>(p);
    case RDF_Int64:
        return Load<std::int64_t>(p);
    case RDF_Float64:
        return Load<double>(p);
    default:
        return 0.0;
    }
}

//! Rows r0 to r1 (listed in that order, either way round) and columns [c0, c1]
//! as the host names them, inclusive.
struct PixelBlock {
    std::vector<int> rows;
    std::vector<int> cols;

    int Low() const { return std::min(rows[0], rows[1]); }
    int High() const { return std::max(rows[0], rows[1]); }
    int Width() const { return cols[1] - cols[0] + 1; }
    int Height() const { return High() - Low() + 1; }
};

//! Every band of every pixel of a multi-band buffer, rows as the buffer holds them.
json BufferJson(const KRPixelDataMultiBand& buffer)
{
    const size_t bytes = static_cast<size_t>(buffer.GetPerBandValueBytes());
    const size_t bands = static_cast<size_t>(buffer.GetBandCount());
    const size_t w = static_cast<size_t>(buffer.GetWidth());
    const size_t h = static_cast<size_t>(buffer.GetHeight());
    json rows = json::array();
    if (bytes == 0 || buffer.GetData() == nullptr || buffer.GetDataBytes() < w * h * bands * bytes)
        return rows;
    for (size_t r = 0; r < h; ++r) {
        json row = json::array();
        for (size_t c = 0; c < w; ++c) {
            json pixel = json::array();
            for (size_t k = 0; k < bands; ++k)
                pixel.push_back(
                    JsonNumber(SampleAt(buffer.GetData() + ((r * w + c) * bands + k) * bytes, buffer.GetDataFormat())));
            row.push_back(std::move(pixel));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void PrintRows(const std::string& title, const json& rowNumbers, const json& rows)
{
    std::cout << title << "\n";
    for (size_t r = 0; r < rows.size(); ++r) {
        std::cout << "  row " << rowNumbers[r].get<int>() << ":";
        for (const json& pixel : rows[r]) {
            std::cout << " (";
            for (size_t k = 0; k < pixel.size(); ++k)
                std::cout << (k ? "," : "") << (pixel[k].is_null() ? std::string("nan") : pixel[k].dump());
            std::cout << ")";
        }
        std::cout << "\n";
    }
}

struct PixelsArgs {
    Source source;
    PixelBlock block;
    int band = 0;
    bool colors = false;
    bool json = false;
    DisplayOptions display;
};

void CheckBlock(KRRasterDataAccessor& a, const PixelsArgs& args)
{
    const PixelBlock& b = args.block;
    const auto inside = [](int low, int high, std::uint64_t size) {
        return low >= 0 && low <= high && static_cast<std::uint64_t>(high) < size;
    };
    if (!inside(b.Low(), b.High(), a.GetHeight()) || !inside(b.cols[0], b.cols[1], a.GetWidth()))
        throw Error(args.source.raster, "the block lies outside the raster's " + std::to_string(a.GetHeight()) +
                                            " rows and " + std::to_string(a.GetWidth()) + " columns");
    if (static_cast<long long>(b.Width()) * b.Height() > kMostBlockPixels)
        throw Error(args.source.raster, "the block is larger than 1048576 pixels");
    if (args.band > 0 && !a.BeginRead(args.band))
        throw Error(args.source.raster, "has no band " + std::to_string(args.band));
}

//! The host rows in the order asked, each with its row of the buffer: the
//! buffer always holds GDAL's top row first, and the host counts rows up from
//! the bottom when the row flag is set.
std::vector<std::pair<int, int>> RowsAsked(KRRasterDataAccessor& a, const PixelBlock& b, bool flip)
{
    const bool upward = a.IsDataReverse() != flip;
    std::vector<std::pair<int, int>> rows;
    for (int k = 0; k < b.Height(); ++k) {
        const int row = b.rows[0] <= b.rows[1] ? b.Low() + k : b.High() - k;
        rows.emplace_back(row, upward ? b.High() - row : row - b.Low());
    }
    return rows;
}

//! The buffer's rows in the order asked.
json InOrder(const json& bufferRows, const std::vector<std::pair<int, int>>& asked)
{
    json rows = json::array();
    for (const auto& [row, index] : asked)
        rows.push_back(static_cast<size_t>(index) < bufferRows.size() ? bufferRows[static_cast<size_t>(index)]
                                                                      : json(nullptr));
    return rows;
}

json RowNumbers(const std::vector<std::pair<int, int>>& asked)
{
    json numbers = json::array();
    for (const auto& [row, index] : asked)
        numbers.push_back(row);
    return numbers;
}

json ReadBlock(KRRasterDataAccessor& a, const PixelsArgs& args)
{
    const PixelBlock& b = args.block;
    const bool flip = args.display.flip;
    bool hasNoData = false;
    const double noData = a.GetNoDataValue(hasNoData);
    KRPixelDataMultiBand values(b.Width(), b.Height(), a.GetBandCount(), a.GetRasterDataFormat(), hasNoData, noData,
                                1.0);
    if (!a.ReadPixels(values, b.Low(), b.High(), b.cols[0], b.cols[1], flip))
        throw Error(args.source.raster, "the module read no pixels");
    const std::vector<std::pair<int, int>> asked = RowsAsked(a, b, flip);
    json out = {{"rows", RowNumbers(asked)},
                {"columns", {b.cols[0], b.cols[1]}},
                {"bands", a.GetBandCount()},
                {"dataFormat", static_cast<int>(a.GetRasterDataFormat())},
                {"values", InOrder(BufferJson(values), asked)}};
    if (args.colors) {
        const std::unique_ptr<KRPixelDataMultiBand> colors(a.ReadColors(b.Low(), b.High(), b.cols[0], b.cols[1], flip));
        if (!colors)
            throw Error(args.source.raster, "the module read no colours");
        out["colors"] = InOrder(BufferJson(*colors), asked);
    }
    return out;
}

void AddPixels(CLI::App& app, const Globals& globals)
{
    auto* cmd = app.add_subcommand("pixels", "print the raw values (and display colours) of a block of pixels");
    auto args = std::make_shared<PixelsArgs>();
    AddSource(*cmd, args->source);
    cmd->add_option("--rows", args->block.rows,
                    "FIRST LAST row, inclusive, listed in that order; counted up from the bottom when the first "
                    "row is the north one (unless --flip), as the host counts")
        ->expected(2)
        ->required();
    cmd->add_option("--cols", args->block.cols, "FIRST LAST column, inclusive")->expected(2)->required();
    cmd->add_option("--band", args->band, "make this band (1-based) the current one: it decides the sample type")
        ->check(CLI::PositiveNumber);
    cmd->add_flag("--colors", args->colors, "also print the display bytes the module makes of them");
    cmd->add_flag("--json", args->json, "print one JSON object");
    AddDisplayOptions(*cmd, args->display);
    cmd->callback([&globals, args] {
        Accessor a = OpenForDisplay(globals, args->source, args->display);
        CheckBlock(*a, *args);
        const json out = ReadBlock(*a, *args);
        if (args->json) {
            std::cout << out.dump() << "\n";
            return;
        }
        PrintRows("values (" + std::to_string(out["bands"].get<int>()) + " bands, sample format " +
                      std::to_string(out["dataFormat"].get<int>()) + "):",
                  out["rows"], out["values"]);
        if (args->colors)
            PrintRows("colours (display bytes):", out["rows"], out["colors"]);
    });
}

// ---------------------------------------------------------------------------
// reproject

const std::map<std::string, int> kDefinitionKinds = {{"proj4", 0}, {"prj", 1}, {"esri", 2}, {"wkt", 3}, {"epsg", 4}};

bool StartsWithNoCase(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char p, char t) {
               return std::tolower(static_cast<unsigned char>(t)) == p;
           });
}

bool AllDigits(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

//! The kind the module's ReprojectImage takes, guessed from the text unless
//! named; an EPSG code loses its "EPSG:" and a .prj path becomes absolute.
int DefinitionKind(std::string& definition, const std::string& kind)
{
    if (StartsWithNoCase(definition, "epsg:"))
        definition.erase(0, 5);
    if (kind != "auto")
        return kDefinitionKinds.at(kind);
    std::error_code ignored;
    if (std::filesystem::is_regular_file(definition, ignored)) {
        definition = std::filesystem::absolute(definition).string();
        return kDefinitionKinds.at("prj");
    }
    if (AllDigits(definition))
        return kDefinitionKinds.at("epsg");
    if (definition.find('+') == 0)
        return kDefinitionKinds.at("proj4");
    if (definition.find('[') != std::string::npos) {
        const bool esri = definition.find("AUTHORITY[") == std::string::npos &&
                          (definition.find("GCS_") != std::string::npos || definition.find("D_") != std::string::npos);
        return kDefinitionKinds.at(esri ? "esri" : "wkt");
    }
    throw CLI::ValidationError("--to", "cannot tell what kind of definition this is; name it with --kind");
}

//! The driver the module picks by extension (.tif, .img, else the extension as
//! a GDAL driver's name; an unknown one silently makes a GeoTIFF), refused
//! when GDAL has no such driver that creates files.
void CheckRasterFormat(const std::string& output)
{
    const std::string ext = std::filesystem::path(output).extension().string();
    const std::string name = ext.size() > 1 ? ext.substr(1) : "";
    for (const char* known : {".tif", ".tiff", ".img"}) {
        if (EQUAL(ext.c_str(), known))
            return;
    }
    GDALAllRegister();
    GDALDriver* driver = name.empty() ? nullptr : GetGDALDriverManager()->GetDriverByName(name.c_str());
    if (driver == nullptr || driver->GetMetadataItem(GDAL_DCAP_CREATE) == nullptr)
        throw Error(output, "unknown output format \"" + ext +
                                "\": the extension names it (.tif, .img, or the name of a GDAL driver that "
                                "creates files, such as .gpkg)");
}

struct ReprojectArgs {
    Source source;
    std::string output;
    std::string to;
    std::string kind = "auto";
};

void AddReproject(CLI::App& app, const Globals& globals)
{
    auto* cmd = app.add_subcommand("reproject", "write a reprojected copy of the raster (driver from the extension)");
    auto args = std::make_shared<ReprojectArgs>();
    AddSource(*cmd, args->source);
    AddOutputFile(*cmd, args->output, "output", "raster file to write (.tif, .img, ...)");
    cmd->add_option("--to", args->to,
                    "target coordinate system: EPSG code (32632 or EPSG:32632), Proj4, WKT, ESRI text or a .prj path")
        ->required();
    cmd->add_option("--kind", args->kind, "what --to holds: auto, epsg, proj4, wkt, esri or prj")
        ->capture_default_str()
        ->check(CLI::IsMember({"auto", "epsg", "proj4", "wkt", "esri", "prj"}));
    cmd->callback([&globals, args] {
        std::string definition = args->to;
        const int kind = DefinitionKind(definition, args->kind);
        CheckRasterFormat(args->output);
        Accessor a = OpenSource(globals, args->source);
        PendingOutput output(args->output);
        if (!a->ReprojectImage(KRString(output.TempPath().c_str()), KRString(definition.c_str()), kind, TermProgress,
                               nullptr)) {
            StopIfInterrupted();
            throw Error(args->output, "the module could not reproject into it (unknown coordinate system?)");
        }
        output.Commit();
        std::cout << "wrote " << args->output << "\n";
    });
}

} // namespace

void AddDirectCommands(CLI::App& app, const Globals& globals)
{
    AddPixels(app, globals);
    AddReproject(app, globals);
}

} // namespace gora
