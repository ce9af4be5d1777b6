#include "GoraDisplay.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

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

} // namespace gora
