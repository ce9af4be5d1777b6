#include "GoraCore.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <limits>

#include <cpl_progress.h>
#include <cpl_vsi.h>
#include <gdal_priv.h>

using namespace KRC;
namespace fs = std::filesystem;

namespace gora {

Error::Error(const std::string& file, const std::string& what)
    : std::runtime_error(file.empty() ? what : file + ": " + what)
{
}

// ---------------------------------------------------------------------------
// Module and accessors

namespace {

constexpr const char* kModuleName = "GORasterAccessorPlugin.so";

std::string ModulePath(const Globals& globals)
{
    return globals.moduleDir.empty() ? FindBesideGora(kModuleName, "lib/GORasterAccessorPlugin")
                                     : globals.moduleDir + "/" + kModuleName;
}

std::string MakeAbsolute(std::string& path)
{
    if (!path.empty())
        path = fs::absolute(path).lexically_normal().string();
    return {};
}

const CLI::Validator kAbsolutePath(MakeAbsolute, "PATH");

} // namespace

std::string FindBesideGora(const std::string& name, const std::string& installedDir, const std::string& probe)
{
    std::error_code ignored;
    const fs::path exeDir = fs::read_symlink("/proc/self/exe", ignored).parent_path();
    const std::array<fs::path, 2> candidates = {exeDir / name, exeDir / ".." / installedDir / name};
    for (const fs::path& candidate : candidates) {
        if (fs::exists(probe.empty() ? candidate : candidate / probe, ignored))
            return candidate.lexically_normal().string();
    }
    return candidates[0].string();
}

void AddGlobalOptions(CLI::App& app, Globals& globals)
{
    if (const char* env = std::getenv("GORA_MODULE_DIR")) {
        globals.moduleDir = env;
        MakeAbsolute(globals.moduleDir);
    }
    app.add_option("--module-dir", globals.moduleDir,
                   "folder of GORasterAccessorPlugin.so (default: $GORA_MODULE_DIR, else beside gora, else "
                   "../lib/GORasterAccessorPlugin)")
        ->transform(kAbsolutePath);
}

void Accessor::SetColorDict(std::unique_ptr<KRColorDictTable> dict)
{
    m_accessor->SetColorDict(dict.get());
    m_colorDict = std::move(dict);
}

Accessor NewAccessor(const Globals& globals)
{
    const std::string path = ModulePath(globals);
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        throw Error(path, std::string("cannot load the module: ") + dlerror());
    Accessor accessor;
    accessor.m_module.reset(handle, [](void* h) { dlclose(h); });
    auto create = reinterpret_cast<KRCreatePluginFunc>(dlsym(handle, "CreatePluginInstance"));
    if (create == nullptr)
        throw Error(path, "the module has no CreatePluginInstance");
    std::unique_ptr<KRPlugin> plugin(create());
    if (!plugin || !plugin->IsRasterDataAccessorPlugin())
        throw Error(path, "the module did not create a raster accessor");
    accessor.m_accessor.reset(static_cast<KRRasterDataAccessor*>(plugin.release()));
    return accessor;
}

// ---------------------------------------------------------------------------
// Files

void AddSource(CLI::App& cmd, Source& source)
{
    cmd.add_option("raster", source.raster, "raster file (any GDAL raster, or an NSDTF-DEM grid: a .dem file or a 2007-edition .GRD)")
        ->required()
        ->transform(kAbsolutePath);
    cmd.add_option("--proj4", source.proj4, "coordinate system to import after opening (for metric NSDTF-DEM files)");
}

Accessor OpenSource(const Globals& globals, const Source& source)
{
    std::error_code ignored;
    if (!fs::exists(source.raster, ignored))
        throw Error(source.raster, "no such file");
    Accessor accessor = NewAccessor(globals);
    if (!accessor->OpenForRead(KRString(source.raster.c_str())))
        throw Error(source.raster, "not a raster that GDAL or the NSDTF-DEM reader can open");
    if (!source.proj4.empty() && !accessor->ImportProjectionRefFromProj4(source.proj4.c_str()))
        throw Error(source.raster, "cannot use the coordinate system " + source.proj4);
    return accessor;
}

void AddOutputFile(CLI::App& cmd, std::string& path, const std::string& name, const std::string& help)
{
    cmd.add_option(name, path, help)->required()->transform(kAbsolutePath);
}

CLI::Option* AddInputFile(CLI::App& cmd, std::string& path, const std::string& name, const std::string& help)
{
    return cmd.add_option(name, path, help)->transform(kAbsolutePath);
}

namespace {

std::string TempSibling(const std::string& path)
{
    const fs::path p(path);
    const std::string name = "." + p.stem().string() + ".gora-" + std::to_string(getpid()) + p.extension().string();
    return (p.parent_path() / name).string();
}

//! GDAL may write its auxiliary metadata beside a raster.
std::string AuxOf(const std::string& path)
{
    return path + ".aux.xml";
}

} // namespace

PendingOutput::PendingOutput(std::string path) : m_path(std::move(path)), m_temp(TempSibling(m_path)) {}

PendingOutput::~PendingOutput()
{
    if (m_committed)
        return;
    std::error_code ignored;
    fs::remove(m_temp, ignored);
    fs::remove(AuxOf(m_temp), ignored);
}

void PendingOutput::Commit()
{
    std::error_code error;
    if (!fs::is_regular_file(m_temp, error))
        throw Error(m_path, "nothing was written");
    fs::rename(m_temp, m_path, error);
    if (error)
        throw Error(m_path, "cannot move the written file into place: " + error.message());
    std::error_code ignored;
    if (fs::exists(AuxOf(m_temp), ignored))
        fs::rename(AuxOf(m_temp), AuxOf(m_path), ignored);
    m_committed = true;
}

// ---------------------------------------------------------------------------
// Tiles, points, rectangles, sizes

TileRef TileOptions::Resolve() const
{
    if (at.size() == 2)
        return TileAt(at[0], at[1], level);
    return TileRef{tile.at(0), tile.at(1), level};
}

void AddTileOptions(CLI::App& cmd, TileOptions& tile, const std::string& what)
{
    AddLevelOption(cmd, tile.level);
    CLI::Option_group* which = cmd.add_option_group("tile", "which " + what + " (one of)");
    which->add_option("--tile", tile.tile, "tile column (east from -180) and row (south from +90)")
        ->expected(2)
        ->check(CLI::NonNegativeNumber);
    AddPointOption(*which, tile.at, "a longitude and latitude inside the " + what);
    which->require_option(1);
}

namespace {

//! Index of the tile a position falls in, kept inside 0..count-1 (NaN gives 0).
int TileIndex(double position, long long count)
{
    if (!(position >= 0.0))
        return 0;
    if (position >= static_cast<double>(count))
        return static_cast<int>(count - 1);
    return static_cast<int>(position);
}

} // namespace

void AddLevelOption(CLI::App& cmd, int& level)
{
    cmd.add_option("--level", level, "tile level: level L has 2^(L+1) x 2^L tiles of 180/2^L degrees")
        ->required()
        ->check(CLI::Range(0, 30));
}

TileRef TileAt(double lon, double lat, int level)
{
    const double size = 180.0 / std::ldexp(1.0, level);
    TileRef tile;
    tile.level = level;
    tile.x = TileIndex(std::floor((lon + 180.0) / size), 2LL << level);
    tile.y = TileIndex(std::floor((90.0 - lat) / size), 1LL << level);
    return tile;
}

std::string TileName(const TileRef& t)
{
    return "tile " + std::to_string(t.x) + " " + std::to_string(t.y) + " at level " + std::to_string(t.level);
}

KRRect2d TileBounds(const TileRef& tile)
{
    KRRect2d bounds;
    KRMath::CalcTileBounds(bounds, tile.x, tile.y, tile.level);
    return bounds;
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

// ---------------------------------------------------------------------------
// Display options

namespace {

const std::map<std::string, int> kStretchTypes = {{"none", 0}, {"minmax", 1}, {"clip", 2}};

//! The integers of a comma-separated list; false when an item is not one.
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

//! The host's band order text: four byte indices of a four-byte pixel.
std::string CheckBandOrder(const std::string& text)
{
    std::vector<int> order;
    if (!ParseIntegers(text, order) || order.size() != 4 ||
        !std::all_of(order.begin(), order.end(), [](int b) { return b >= 0 && b <= 3; }))
        return "needs four byte indices 0 to 3, such as 2,1,0,3";
    return {};
}

//! A palette shows through GetColorFromTable: without one it hands the value back.
bool HasPalette(KRRasterDataAccessor& a)
{
    a.CheckInitColorInfo();
    for (unsigned int v = 0; v < 256; ++v) {
        if (a.GetColorFromTable(static_cast<double>(v)) != v)
            return true;
    }
    return false;
}

//! The range the ramp spreads over: the values the colour rule will see.
bool RampRange(KRRasterDataAccessor& a, double& low, double& high)
{
    const int format = a.GetRasterDataFormat();
    const bool stretched = a.GetStetchType() == 1 || a.GetStetchType() == 2;
    if (stretched && a.IsMinMaxValid() && (format == RDF_Int16 || format == RDF_UInt16)) {
        low = 0.0;
        high = 255.0;
        return true;
    }
    if (!a.IsMinMaxValid() || !std::isfinite(a.GetMinValue()) || !std::isfinite(a.GetMaxValue()))
        return false;
    low = a.GetMinValue();
    high = std::max(a.GetMaxValue(), low);
    return true;
}

void ApplyRamp(Accessor& accessor, const std::string& ramp)
{
    KRRasterDataAccessor& a = *accessor;
    double low = 0.0;
    double high = 0.0;
    if (ramp == "none" || a.GetBandCount() != 1 || HasPalette(a) || !RampRange(a, low, high))
        return;
    accessor.SetColorDict(MakeRamp(ramp, low, high));
}

struct RampStop {
    double at;
    unsigned char r, g, b;
};

const std::map<std::string, std::vector<RampStop>> kRamps = {
    {"gray", {{0.0, 0, 0, 0}, {1.0, 255, 255, 255}}},
    {"terrain", {{0.0, 46, 125, 50}, {0.35, 200, 180, 90}, {0.7, 139, 90, 43}, {1.0, 255, 255, 255}}},
};

unsigned char Mix(unsigned char a, unsigned char b, double t)
{
    return static_cast<unsigned char>(std::lround(a + (b - a) * t));
}

} // namespace

void AddDisplayOptions(CLI::App& cmd, DisplayOptions& d)
{
    const std::string group = "Display";
    cmd.add_option("--stretch", d.stretch, "contrast stretch of 16-bit bands: none, minmax or clip (histogram)")
        ->check(CLI::IsMember({"none", "minmax", "clip"}))
        ->group(group);
    cmd.add_option("--gamma", d.gamma, "stretch gamma")->check(CLI::PositiveNumber)->group(group);
    cmd.add_option("--clip", d.clip, "host clip settings MIN MAX (%); stored in the accessor as the host does, but the module's histogram stretch always cuts 0.25 % of the non-zero pixels off each end")
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

void ApplyDisplay(Accessor& accessor, const DisplayOptions& d)
{
    KRRasterDataAccessor& a = *accessor;
    a.SetStetchType(kStretchTypes.at(d.stretch));
    a.SetStretchGama(d.gamma);
    if (d.clip.size() == 2) {
        a.SetStretchClipMin(d.clip[0]);
        a.SetStretchClipMax(d.clip[1]);
    }
    if (!d.bandOrder.empty())
        a.SetBindsOrder(KRString(d.bandOrder.c_str()));
    a.SetIgnoreAlpha(d.ignoreAlpha);
    if (d.filterColor.size() >= 3) {
        KRColor3 color;
        color.SetValue4i(d.filterColor[0], d.filterColor[1], d.filterColor[2],
                         d.filterColor.size() == 4 ? d.filterColor[3] : 255);
        a.SetFilterColor(color);
        a.SetFilterColorUsed(true);
    }
    if (d.filterTolerance >= 0.0)
        a.SetFilterColorTolerance(d.filterTolerance);
    ApplyRamp(accessor, d.ramp);
}

void AddPictureArgs(CLI::App& cmd, PictureArgs& args)
{
    AddSource(cmd, args.source);
    AddOutputFile(cmd, args.png, "png", "PNG file to write");
    AddDisplayOptions(cmd, args.display);
}

Accessor OpenForPictures(const Globals& globals, const PictureArgs& args)
{
    Accessor accessor = OpenSource(globals, args.source);
    ApplyDisplay(accessor, args.display);
    return accessor;
}

std::unique_ptr<KRColorDictTable> MakeRamp(const std::string& name, double low, double high)
{
    const std::vector<RampStop>& stops = kRamps.at(name);
    auto dict = std::make_unique<KRColorDictTable>();
    constexpr int kSteps = 256;
    for (int i = 0; i < kSteps; ++i) {
        const double t = static_cast<double>(i) / (kSteps - 1);
        size_t s = 1;
        while (s + 1 < stops.size() && stops[s].at < t)
            ++s;
        const RampStop& a = stops[s - 1];
        const RampStop& b = stops[s];
        const double f = (t - a.at) / (b.at - a.at);
        // Packed as the module packs palette entries: the palette rule writes
        // the low byte to pixel byte 0, which the host shows as blue.
        dict->AddColor(low + (high - low) * t, KRRGB(Mix(a.b, b.b, f), Mix(a.g, b.g, f), Mix(a.r, b.r, f)));
    }
    return dict;
}

// ---------------------------------------------------------------------------
// Pictures

Picture::Picture(int w, int h, int b)
    : width(w), height(h), bands(b), pixels(static_cast<size_t>(w) * static_cast<size_t>(h) * static_cast<size_t>(b), 0)
{
}

unsigned char* Picture::At(int row, int col)
{
    return pixels.data() + (static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(col)) *
                               static_cast<size_t>(bands);
}

const unsigned char* Picture::At(int row, int col) const
{
    return const_cast<Picture*>(this)->At(row, col);
}

Picture PictureOfImage(const KRImageData& image)
{
    const int w = image.GetWidth();
    const int h = image.GetHeight();
    const int p = image.GetPixelSize();
    const long long rowBytes = image.GetWidthBytes();
    if (w <= 0 || h <= 0 || (p != 3 && p != 4) || image.m_pData == nullptr ||
        rowBytes < static_cast<long long>(w) * p ||
        image.GetDataBytes() < static_cast<size_t>(rowBytes) * static_cast<size_t>(h))
        throw Error("", "the module delivered an image gora cannot read (format " +
                            std::to_string(static_cast<int>(image.GetPixelFormat())) + ")");
    Picture picture(w, h, p);
    for (int r = 0; r < h; ++r) {
        const unsigned char* src = image.m_pData + static_cast<size_t>(h - 1 - r) * static_cast<size_t>(rowBytes);
        for (int c = 0; c < w; ++c, src += p) {
            unsigned char* dst = picture.At(r, c);
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
            if (p == 4)
                dst[3] = src[3];
        }
    }
    return picture;
}

void DropOpaqueAlpha(Picture& picture)
{
    if (picture.bands != 2 && picture.bands != 4)
        return;
    const size_t b = static_cast<size_t>(picture.bands);
    for (size_t i = b - 1; i < picture.pixels.size(); i += b) {
        if (picture.pixels[i] != 255)
            return;
    }
    Picture opaque(picture.width, picture.height, picture.bands - 1);
    for (size_t i = 0, j = 0; i < picture.pixels.size(); i += b, j += b - 1)
        std::copy_n(picture.pixels.begin() + static_cast<std::ptrdiff_t>(i), b - 1,
                    opaque.pixels.begin() + static_cast<std::ptrdiff_t>(j));
    picture = std::move(opaque);
}

std::vector<unsigned char> EncodePng(const Picture& picture)
{
    GDALAllRegister();
    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDriver* png = GetGDALDriverManager()->GetDriverByName("PNG");
    if (mem == nullptr || png == nullptr || picture.bands < 1 || picture.bands > 4 ||
        picture.pixels.size() != static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) *
                                     static_cast<size_t>(picture.bands))
        return {};
    GDALDatasetUniquePtr image(mem->Create("", picture.width, picture.height, picture.bands, GDT_Byte, nullptr));
    const int b = picture.bands;
    if (!image ||
        image->RasterIO(GF_Write, 0, 0, picture.width, picture.height,
                        const_cast<unsigned char*>(picture.pixels.data()), picture.width, picture.height, GDT_Byte, b,
                        nullptr, b, static_cast<GSpacing>(b) * picture.width, 1, nullptr) != CE_None)
        return {};
    static std::atomic<unsigned long> counter{0};
    const std::string name = "/vsimem/gora-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".png";
    GDALDatasetUniquePtr out(png->CreateCopy(name.c_str(), image.get(), FALSE, nullptr, nullptr, nullptr));
    const bool written = out != nullptr;
    out.reset(); // flushes into the memory file
    vsi_l_offset length = 0;
    GByte* bytes = VSIGetMemFileBuffer(name.c_str(), &length, TRUE);
    std::vector<unsigned char> encoded;
    if (written && bytes != nullptr)
        encoded.assign(bytes, bytes + length);
    CPLFree(bytes);
    VSIUnlink(name.c_str());
    return encoded;
}

void WritePng(const Picture& picture, const std::string& path)
{
    const std::vector<unsigned char> png = EncodePng(picture);
    if (png.empty())
        throw Error(path, "cannot encode the picture as PNG");
    PendingOutput output(path);
    {
        std::ofstream file(output.TempPath(), std::ios::binary);
        file.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
        if (!file.flush())
            throw Error(path, "cannot write the file");
    }
    output.Commit();
}

void SavePicture(const Picture& picture, const std::string& path)
{
    WritePng(picture, path);
    static const char* const kKinds[] = {"", "grey", "grey and alpha", "RGB", "RGBA"};
    std::cout << "wrote " << path << " (" << picture.width << " x " << picture.height << ", "
              << kKinds[std::clamp(picture.bands, 0, 4)] << ")\n";
}

// ---------------------------------------------------------------------------
// Fetches

namespace {

ImagePtr Delivered(GetchResult result, ImagePtr image, KRImageData* newImage)
{
    ImagePtr replacement(newImage);
    if (result != GetchResult_Delivered)
        return nullptr;
    return replacement ? std::move(replacement) : std::move(image);
}

ImagePtr NewImage(int width, int height, enumPixelFormat format)
{
    auto image = std::make_unique<KRImageData>();
    image->m_nWidth = width;
    image->m_nHeight = height;
    image->SetPixelFormat(format);
    if (!image->CreateData())
        throw Error("", "cannot allocate a " + std::to_string(width) + " x " + std::to_string(height) + " image");
    return image;
}

} // namespace

ImagePtr FetchImageTile(KRRasterDataAccessor& accessor, const TileRef& tile, bool flip)
{
    if (!flip) {
        KRImageData* image = nullptr;
        const GetchResult result = accessor.FetchImageData(image, tile.x, tile.y, tile.level);
        return Delivered(result, ImagePtr(image), nullptr);
    }
    // The format the tile operation itself would choose.
    const bool alpha = accessor.GetBandCount() > 3 && !accessor.IsIgnoreAlpha();
    constexpr int kTileSide = 256;
    ImagePtr image = NewImage(kTileSide, kTileSide, alpha ? PF_A8R8G8B8 : PF_R8G8B8);
    KRImageData* newImage = nullptr;
    const GetchResult result = accessor.FetchImageData(image.get(), newImage, TileBounds(tile), nullptr, true);
    return Delivered(result, std::move(image), newImage);
}

ImagePtr FetchImageRect(KRRasterDataAccessor& accessor, const KRRect2d& rect, int width, int height, bool flip)
{
    ImagePtr image = NewImage(width, height, PF_R8G8B8);
    KRImageData* newImage = nullptr;
    const GetchResult result = accessor.FetchImageData(image.get(), newImage, rect, nullptr, flip);
    return Delivered(result, std::move(image), newImage);
}

ImagePtr FetchQuickRect(KRRasterDataAccessor& accessor, const KRRect2d& rect, int width, int height,
                        std::vector<int> bandMap, bool flip)
{
    ImagePtr image = NewImage(width, height, PF_R8G8B8);
    KRImageData* newImage = nullptr;
    const GetchResult result =
        accessor.QucikFetchImageData(image.get(), newImage, rect, bandMap.size() == 4 ? bandMap.data() : nullptr, flip);
    return Delivered(result, std::move(image), newImage);
}

Progress::Progress(long long steps, long long minSteps) : m_steps(std::max(steps, 1LL)), m_shown(steps >= minSteps)
{
    if (m_shown)
        GDALTermProgress(0.0, nullptr, nullptr);
}

void Progress::Step()
{
    ++m_done;
    if (m_shown)
        GDALTermProgress(static_cast<double>(m_done) / static_cast<double>(m_steps), nullptr, nullptr);
}

// ---------------------------------------------------------------------------
// JSON

nlohmann::json JsonNumber(double value)
{
    return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json(nullptr);
}

nlohmann::json JsonRect(const KRRect2d& rect)
{
    return {{"west", JsonNumber(rect.left)},
            {"south", JsonNumber(rect.bottom)},
            {"east", JsonNumber(rect.right)},
            {"north", JsonNumber(rect.top)}};
}

} // namespace gora
