#include "GoraDisplay.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

#include "GoraBands.h"

using namespace KRC;

namespace gora {

namespace {

const std::map<std::string, int> kStretchTypes = {{"none", 0}, {"minmax", 1}, {"clip", 2}};

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
bool RampRange(KRRasterDataAccessor& a, const std::vector<double>& range, double& low, double& high)
{
    if (range.size() == 2) {
        low = range[0];
        high = range[1];
        return true;
    }
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

void ApplyRamp(Accessor& accessor, const DisplayOptions& d)
{
    KRRasterDataAccessor& a = *accessor;
    double low = 0.0;
    double high = 0.0;
    if (d.ramp == "none" || a.GetBandCount() != 1 || HasPalette(a) || !RampRange(a, d.range, low, high))
        return;
    accessor.SetColorDict(MakeRamp(d.ramp, low, high));
}

bool Is16Bit(KRRasterDataAccessor& a)
{
    return a.GetRasterDataFormat() == RDF_Int16 || a.GetRasterDataFormat() == RDF_UInt16;
}

//! The host's stretch type; auto clips 16-bit bands unless --range stands in for it.
int StretchType(KRRasterDataAccessor& a, const DisplayOptions& d)
{
    if (d.stretch != "auto")
        return kStretchTypes.at(d.stretch);
    return d.range.empty() && Is16Bit(a) ? kStretchTypes.at("clip") : kStretchTypes.at("none");
}

void CheckRange(const std::vector<double>& range)
{
    if (range.size() == 2 && !(std::isfinite(range[0]) && std::isfinite(range[1]) && range[0] < range[1]))
        throw CLI::ValidationError("--range", "needs MIN MAX with MIN < MAX");
}

//! The range to stretch several bands onto bytes with: --range, or under the
//! automatic stretch the bands' own for values wider than 16 bits, which the
//! module would otherwise cut to their low byte.
std::vector<double> ByteRange(GDALDataset& dataset, const DisplayOptions& d)
{
    double low = 0.0;
    double high = 0.0;
    if (dataset.GetRasterCount() < 2 && SourceBands(d).size() < 2)
        return {};
    if (!d.range.empty())
        return d.range;
    if (d.stretch == "auto" && WiderThan16Bits(dataset) && ValueRange(dataset, low, high) && low < high)
        return {low, high};
    return {};
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

//! Hands the options to the accessor through the host's setters. A single-band
//! source without a palette gets the ramp as its colour dictionary, spread
//! over --range, else the band's value range (or 0..255 when a stretch applies).
void ApplyDisplay(Accessor& accessor, const DisplayOptions& d, const BandRoles& roles)
{
    KRRasterDataAccessor& a = *accessor;
    a.SetStetchType(StretchType(a, d));
    a.SetStretchGama(d.gamma);
    if (d.clip.size() == 2) {
        a.SetStretchClipMin(d.clip[0]);
        a.SetStretchClipMax(d.clip[1]);
    }
    const std::string& order = d.bandOrder.empty() ? roles.bandOrder : d.bandOrder;
    if (!order.empty())
        a.SetBindsOrder(KRString(order.c_str()));
    a.SetIgnoreAlpha(d.ignoreAlpha || !roles.alpha);
    if (d.filterColor.size() >= 3) {
        KRColor3 color;
        color.SetValue4i(d.filterColor[0], d.filterColor[1], d.filterColor[2],
                         d.filterColor.size() == 4 ? d.filterColor[3] : 255);
        a.SetFilterColor(color);
        a.SetFilterColorUsed(true);
    }
    if (d.filterTolerance >= 0.0)
        a.SetFilterColorTolerance(d.filterTolerance);
    ApplyRamp(accessor, d);
}

} // namespace

Accessor OpenForDisplay(const Globals& globals, const Source& source, const DisplayOptions& display)
{
    CheckRange(display.range);
    GDALDatasetUniquePtr dataset = OpenWithGdal(source.raster);
    if (!dataset) { // an NSDTF-DEM grid: no bands to choose or rescale
        if (!display.bands.empty() || !display.range.empty())
            throw Error(source.raster, "--bands and --range need a raster GDAL opens");
        Accessor accessor = OpenSource(globals, source);
        ApplyDisplay(accessor, display, BandRoles{});
        return accessor;
    }
    const std::vector<int> bands = SourceBands(display);
    const std::vector<double> byteRange = ByteRange(*dataset, display);
    std::shared_ptr<const std::string> vrt;
    if (!bands.empty() || !byteRange.empty()) {
        vrt = BandsVrt(*dataset, bands, byteRange);
        dataset = OpenWithGdal(*vrt);
    }
    Accessor accessor = OpenSource(globals, vrt ? Source{*vrt, source.proj4, source.noAccurate} : source);
    accessor.KeepSourceFile(vrt);
    ApplyDisplay(accessor, display, dataset ? RolesOf(*dataset) : BandRoles{});
    return accessor;
}

Accessor OpenForPictures(const Globals& globals, const PictureArgs& args)
{
    return OpenForDisplay(globals, args.source, args.display);
}

std::string NoImageReason(const Source& source)
{
    if (!OpenWithGdal(source.raster))
        return "an NSDTF-DEM grid has elevation only, no image (use render --as relief or gray, terrain or dem2tif)";
    return "nothing delivered (outside the raster, or no imagery for this source)";
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

} // namespace gora
