#pragma once
// Fetch test helpers: grids and images as the host makes them, its tiles worked
// out by hand, lon/lat projection with OGR, pixel access (row 0 south), a
// fixture with a folder and an accessor, and rasters whose samples are known in
// closed form at every pixel position, so that expected values can be worked
// out anywhere.

#include <cmath>
#include <memory>
#include <utility>

#include <ogr_spatialref.h>

#include "KRGeometry.h"
#include "KRHostSession.h"
#include "KRImageData.h"
#include "KRPluginProbe.h"
#include "KRTestSupport.h"

namespace krtest {

//! The host's tiling: tiles 180 / 2^level degrees square, columns east from -180, rows south from +90.
inline KRC::KRRect2d TileRect(int x, int y, int level)
{
    const double side = 180.0 / std::ldexp(1.0, level);
    return KRC::KRRect2d(-180.0 + x * side, 90.0 - y * side, -180.0 + (x + 1) * side, 90.0 - (y + 1) * side);
}

//! The tile {x, y} of a level holding (lon, lat).
inline std::pair<int, int> TileAt(double lon, double lat, int level)
{
    return {TileIndex(lon + 180, level), TileIndex(90 - lat, level)};
}

//! Lon/lat (longitude first) to and from a projected system, with OGR.
class Projector {
public:
    explicit Projector(int epsg)
    {
        m_geo.importFromEPSG(4326);
        m_prj.importFromEPSG(epsg);
        m_geo.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        m_prj.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        m_forward.reset(OGRCreateCoordinateTransformation(&m_geo, &m_prj));
        m_inverse.reset(OGRCreateCoordinateTransformation(&m_prj, &m_geo));
    }
    void Forward(double& x, double& y) { m_forward->Transform(1, &x, &y); }
    KRC::KRPoint2d Inverse(double x, double y) { return m_inverse->Transform(1, &x, &y), KRC::KRPoint2d(x, y); }

private:
    OGRSpatialReference m_geo, m_prj;
    std::unique_ptr<OGRCoordinateTransformation> m_forward, m_inverse;
};

inline std::unique_ptr<KRC::KRImageData> MakeImage(int width, int height, KRC::enumPixelFormat format)
{
    auto image = std::make_unique<KRC::KRImageData>();
    image->m_nWidth = width, image->m_nHeight = height;
    image->SetPixelFormat(format);
    return image->CreateData() ? std::move(image) : nullptr;
}

//! Writes a raster with GDAL and opens it in the accessor.
inline bool WriteAndOpen(KRC::KRGORasterAccessorPlugin& p, const std::string& path, const RasterLayout& layout)
{
    return WriteRaster(path, layout) && p.OpenForRead(path.c_str());
}

//! Bytes of pixel (column c, row r counted from the south edge).
inline const unsigned char* PixelAt(const KRC::KRImageData& image, int c, int r)
{
    return image.m_pData + size_t(r) * image.GetWidthBytes() + size_t(c) * image.GetPixelSize();
}

//! The stretch range of the first four bands, as opening would have found it, and the host's stretch settings.
inline void SetStretch(KRC::KRGORasterAccessorPlugin& p, double lo, double hi, int type, float gamma = 1.0f)
{
    using Probe = KRC::KRGORasterAccessorPluginProbe;
    for (int i = 0; i < 4; ++i)
        Probe::m_bandMin(p)[i] = lo, Probe::m_bandMax(p)[i] = hi;
    Probe::m_bMinMaxValid(p) = true;
    p.SetStetchType(type), p.SetStretchGama(gamma);
}

//! A test with a temporary folder, the accessor, and a new file name for each raster it writes.
class AccessorTest : public ::testing::Test {
protected:
    std::string NewFile(const std::string& ext = ".tif") { return m_dir.File(std::to_string(++m_files) + ext); }
    TempDir m_dir;
    int m_files = 0;
    KRC::KRGORasterAccessorPlugin m_p;
};

//! A square raster of `size` x `size` pixels `step` source units apart, the
//! north-west one at (west, north), where the accessor places pixels (GDAL's
//! pixel is step x (size - 1) / size); band b holds value(b, column, row
//! counted from the south).
struct PlaneRaster {
    int epsg = 4326;
    int size = 64;
    double west = 10.0, north = 50.0, step = 2.0 / 63;
    bool northUp = true;
    int bands = 3;
    GDALDataType type = GDT_Byte;
    std::vector<double> noData;
    std::function<double(int, double, double)> value;

    //! Fractional pixel indices (column, row from the south) of a point in source units.
    double Column(double x) const { return (x - west) / step; }
    double Row(double y) const { return (y - north) / step + (size - 1); }
    //! Lon/lat rectangle from fractions (c0, r0) to (c1, r1) of the extent, south-west to north-east.
    KRC::KRRect2d Rect(double c0, double r0, double c1, double r1, Projector* prj = nullptr) const
    {
        const double extent = step * (size - 1), south = north - extent;
        KRC::KRPoint2d a(west + c0 * extent, south + r0 * extent), b(west + c1 * extent, south + r1 * extent);
        if (prj != nullptr)
            a = prj->Inverse(a.x, a.y), b = prj->Inverse(b.x, b.y);
        return KRC::KRRect2d(a.x, b.y, b.x, a.y);
    }

    RasterLayout Layout() const
    {
        const double pixel = step * (size - 1) / size, top = northUp ? north : north - size * pixel;
        return {size, size, bands, type, {west, pixel, 0, top, 0, northUp ? -pixel : pixel}, WktOfEpsg(epsg), noData,
                [f = value, last = size - 1, up = northUp](int b, int c, int r) { return f(b, c, up ? last - r : r); }};
    }
};

//! The grid as NSDTF-DEM text: positional, or keyed as in the 2007 edition (CRLF lines, values ten times over).
inline std::string DemText(const PlaneRaster& g, bool keyed, double hole)
{
    const auto n = [](double v) { return std::to_string(v); };
    const std::string tokens[] = {keyed ? "CNSDTF-DEM" : "NSDTF-DEM", "1.0", g.epsg == 4326 ? "D" : "M",
                                  n(!g.northUp), "0", n(g.west), n(g.north), n(g.step), n(g.step), n(g.size),
                                  n(g.size), keyed ? "10" : "1"};
    const char* keys[] = {"DataMark", "Version", "XYUnit", "Alpha", "Compress", "X0",
                          "Y0",       "DX",      "DY",     "Row",   "Col",      "Hzoom"};
    std::string text;
    for (int k = 0; k < 12; ++k)
        text += keyed ? std::string(keys[k]) + ":" + tokens[k] + "\r\n" : tokens[k] + "\n";
    for (int i = 0; i < g.size * g.size; ++i) {
        const int c = i % g.size, r = g.northUp ? g.size - 1 - i / g.size : i / g.size;
        const double v = g.value(1, c, r);
        text += n(keyed && v != hole ? 10 * v : v) + (c + 1 < g.size ? " " : "\n");
    }
    return text;
}

} // namespace krtest
