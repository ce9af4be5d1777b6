// Spatial references: classification, the geographic side, bounds and points (against OGR), and references
// imported and exported as WKT, Proj4 text and ESRI ".prj" files (checked by reading them back).
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include "KRFetchTestSupport.h"

using KRC::KRRect2d;
using krtest::ExpectRectNear;
using krtest::WktOf;
using Probe = KRC::KRGORasterAccessorPluginProbe;

namespace {

const char* const kUtm33 = "+proj=utm +zone=33 +datum=WGS84 +units=m +no_defs";
const std::vector<double> kUtmGt = {500000, 30, 0, 4500000, 0, -30};

//! An EPSG code's reference, or a Proj4 text's, in longitude-latitude order.
OGRSpatialReference SrsOf(int epsg, const char* proj4 = nullptr)
{
    OGRSpatialReference srs;
    (void)(proj4 != nullptr ? srs.importFromProj4(proj4) : srs.importFromEPSG(epsg));
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

//! Whether `text`, read by OGR as WKT, ESRI WKT or Proj4 text, is EPSG `epsg`'s system (in ESRI's dialect, with
//! its "GCS_" names, on request).
bool Is(const KRC::KRString& text, int epsg, bool esri = false)
{
    const char* const ignoreAxes[] = {"IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES", nullptr};
    OGRSpatialReference read, want = SrsOf(epsg);
    return read.SetFromUserInput(text.Cstr()) == OGRERR_NONE && read.IsSame(&want, ignoreAxes) &&
           (!esri || std::string(text.Cstr()).find("GCS_") != std::string::npos);
}

//! GDAL's own densified bounds: steps - 1 points between corners.
KRRect2d GdalBounds(OGRCoordinateTransformation& ct, const KRRect2d& r, int steps)
{
    double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    EXPECT_TRUE(ct.TransformBounds(r.left, r.bottom, r.right, r.top, &xmin, &ymin, &xmax, &ymax, steps - 1));
    return KRRect2d(xmin, ymax, xmax, ymin);
}

class ProjectionTest : public ::testing::Test {
protected:
    //! Writes an 8 x 6 (or given size) GeoTIFF; empty WKT: no reference.
    std::string Tiff(const std::string& name, const std::string& wkt, std::vector<double> gt, int w = 8, int h = 6)
    {
        EXPECT_TRUE(krtest::WriteRaster(
            m_dir.File(name), {w, h, 1, GDT_Float32, std::move(gt), wkt, {}, [](int, int, int) { return 0.0; }}));
        return m_dir.File(name);
    }
    bool Open(const std::string& path) { return m_p.OpenForRead(path.c_str()); }
    const KRRect2d& Src() { return m_p.GetSrcBounds().GetGeoBounds(); }
    const KRRect2d& Geo() { return m_p.GetLatLonBounds().GetGeoBounds(); }
    bool NoTransformations() { return !Probe::m_pSrcToLatLon(m_p) && !Probe::m_pLatLonToSrc(m_p); }

    krtest::TempDir m_dir;
    KRC::KRGORasterAccessorPlugin m_p;
};

// EPSG code or else Proj4 text, and whether the geographic side is the source's own datum (else WGS84): UTM on
// WGS84, on GRS 80 (semi-minor axis 0.0001 m off WGS84's: counted as WGS84, own datum kept), on International
// 1924; then semi-minor axis 0.0001 m above, 0.0002 m below, semi-major 0.0002 m above WGS84's.
TEST_F(ProjectionTest, ProjectedSourceGetsItsGeographicSideBoundsAndPointsFromOgr)
{
    const std::tuple<int, const char*, bool> cases[] = {
        {32633, nullptr, true},
        {25833, nullptr, true},
        {23031, nullptr, false},
        {0, "+proj=utm +zone=33 +a=6378137 +b=6356752.314345179", true},
        {0, "+proj=utm +zone=33 +a=6378137 +b=6356752.314045179", false},
        {0, "+proj=utm +zone=33 +a=6378137.0002 +b=6356752.314245179", false}};
    for (const auto& [epsg, proj4, ownGeographicSide] : cases) {
        SCOPED_TRACE(proj4 != nullptr ? proj4 : std::to_string(epsg));
        const OGRSpatialReference source = SrsOf(epsg, proj4);
        ASSERT_TRUE(Open(Tiff("projected.tif", WktOf(source), {500000, 30000, 0, 4500000, 0, -30000})));
        ASSERT_TRUE(m_p.GetProjType() == 2 && !NoTransformations() && Probe::m_pLatLonSRS(m_p));
        const OGRSpatialReference target =
            ownGeographicSide ? *std::unique_ptr<OGRSpatialReference>(source.CloneGeogCS()) : SrsOf(4326);
        EXPECT_TRUE(Probe::m_pLatLonSRS(m_p)->IsSame(&target));

        std::unique_ptr<OGRCoordinateTransformation> ct(OGRCreateCoordinateTransformation(&source, &target));
        std::unique_ptr<OGRCoordinateTransformation> inverse(OGRCreateCoordinateTransformation(&target, &source));
        ASSERT_TRUE(ct && inverse);
        ExpectRectNear(Geo(), GdalBounds(*ct, Src(), 72)); // 72 steps per edge
        KRRect2d box;
        m_p.LatLonToProBounds(Geo(), box);
        ExpectRectNear(box, GdalBounds(*inverse, Geo(), 256), 1e-6);

        KRC::KRPoint3d point(620000, 4410000, 12.5), back;
        double x = point.x, y = point.y, u = 0, v = 0;
        ASSERT_TRUE(ct->Transform(1, &x, &y));
        m_p.SrcPtToWGS84Pt(point, point); // one object as source and result
        m_p.WGS84PtToSrcPt(point, back);
        m_p.LatLonToProPnt(x, y, u, v);
        EXPECT_TRUE(std::fabs(point.x - x) < 1e-12 && std::fabs(point.y - y) < 1e-12 && point.z == 12.5);
        ASSERT_TRUE(inverse->Transform(1, &x, &y));
        EXPECT_TRUE(std::fabs(back.x - x) < 1e-6 && std::fabs(back.y - y) < 1e-6 && back.z == 12.5 && u == back.x &&
                    v == back.y);
    }
}

TEST_F(ProjectionTest, GeographicSourceBeyondTheWorldIsClampedAndPassesPointsThrough)
{
    ASSERT_TRUE(Open(Tiff("world.tif", krtest::WktOfEpsg(4326), {-200, 1, 0, 100, 0, -1}, 400, 200)));
    EXPECT_TRUE(m_p.GetProjType() == 1 && NoTransformations() && Probe::m_pLatLonSRS(m_p) == nullptr);
    ExpectRectNear(Src(), KRRect2d(-180, 90, 180, -90), 0);
    ExpectRectNear(Geo(), Src(), 0);
    EXPECT_DOUBLE_EQ(m_p.GetLatLonResX(), 360.0 / 399.0); // steps between first and last pixel
    KRC::KRPoint3d out;
    m_p.SrcPtToWGS84Pt(KRC::KRPoint3d(10.5, 49.5, 321.0), out);
    EXPECT_TRUE(out.x == 10.5 && out.y == 49.5 && out.z == 321.0);
}

// A geostationary view holds space around the Earth's disk, where no point has a longitude or latitude: the WGS84
// bounds are those of the visible disk. Seen from 35786023 m above the equator of GRS 80, the limb lies acos(a / r)
// east and west of the sub-satellite point, r = a + h, and toward the poles at the tangent from (r, 0) to the
// meridian ellipse, the point (a^2 / r, b sqrt(1 - a^2 / r^2)). Tiles off the disk fetch nothing.
TEST_F(ProjectionTest, OutlineOutsideTheProjectionsDomainGivesTheVisibleDisk)
{
    const double a = 6378137, b = a * (1 - 1 / 298.257222101), r = a + 35786023, degree = M_PI / 180;
    const double lonLimb = std::acos(a / r) / degree;
    const double latLimb = std::atan(a * a / (b * b) * b * std::sqrt(1 - a * a / (r * r)) / (a * a / r)) / degree;
    const KRRect2d disk(-75 - lonLimb, latLimb, -75 + lonLimb, -latLimb);
    const char* geos = "+proj=geos +lon_0=-75 +h=35786023 +ellps=GRS80 +units=m +no_defs +sweep=x";
    std::vector<std::string> paths = {
        Tiff("geos.tif", WktOf(SrsOf(0, geos)), {-5.5e6, 5.5e5, 0, 5.5e6, 0, -5.5e5}, 20, 20)};
    if (std::filesystem::exists(std::string(KR_REAL_DATA_DIR) + "/rasterio/goes.tif"))
        paths.push_back(std::string(KR_REAL_DATA_DIR) + "/rasterio/goes.tif");
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(Open(path));
        ExpectRectNear(Geo(), disk, 1e-6);
        EXPECT_NE(krtest::FetchTerrainTile(m_p, 4, 4, 3), nullptr); // lon -90..-67.5, lat -22.5..0
        EXPECT_EQ(krtest::FetchTerrainTile(m_p, 2, 1, 4), nullptr); // lon -157.5..-146.25, lat 67.5..78.75: off the disk
        EXPECT_EQ(krtest::FetchTerrainTile(m_p, 9, 3, 3), nullptr); // lon 22.5..45, lat 0..22.5: east of it
    }
}

TEST_F(ProjectionTest, FailedImportClassifiesByBoundsAloneAndOpeningFallsBackToPrj)
{
    // 10 x 8 pixels: (0, 0) to (1000, 800) lies outside degrees; (10, 46) to (15, 50) inside.
    const std::vector<double> transforms[] = {{0, 100, 0, 800, 0, -100}, {10, 0.5, 0, 50, 0, -0.5}};
    for (int k = 0; k < 6; ++k) { // unparsable Proj4, null WKT, null ESRI text, over each
        ASSERT_TRUE(Open(Tiff("plain.tif", "", transforms[k / 3], 10, 8)) && m_p.ImportProjectionRefFromProj4(kUtm33));
        EXPECT_TRUE(k % 3 == 0   ? m_p.ImportProjectionRefFromProj4("+proj=no_such_projection")
                    : k % 3 == 1 ? m_p.ImportProjectionRefFromWkt(nullptr)
                                 : m_p.ImportProjectionRefFromESRI(nullptr));
        EXPECT_TRUE(m_p.GetProjType() == k / 3 && NoTransformations() && !Probe::m_pLatLonSRS(m_p)) << k;
        ExpectRectNear(Geo(), Src(), 0);
    }
    const char* mars = "+proj=merc +R=3396190 +units=m +no_defs"; // no operation to the Earth from here
    EXPECT_TRUE(!m_p.ImportProjectionRefFromProj4(mars) && m_p.GetProjType() == 2 && NoTransformations());
    krtest::WriteText(m_dir.File("mars.prj"), krtest::WktOfEpsg(32633, true)); // when opening, tried instead
    ASSERT_TRUE(Open(Tiff("mars.tif", WktOf(SrsOf(0, mars)), kUtmGt)));
    EXPECT_TRUE(Probe::m_pSrcToLatLon(m_p) && std::fabs(Geo().left - 15.0) < 1e-9); // 500000 E: zone 33's meridian
}

// Every export reads back as the system it came from; an import replaces the source's reference, and a ".prj"
// loaded on a raster without one is given to it (opening imports the dataset's WKT: see every other test).
TEST_F(ProjectionTest, ExportsReadBackAsTheSameSystemAndImportsReplaceIt)
{
    const std::string utm = Tiff("utm.tif", krtest::WktOfEpsg(32633), kUtmGt), bare = Tiff("bare.tif", "", kUtmGt);
    const std::string prj = m_dir.File("out.prj"), bad = m_dir.File("bad.prj");
    EXPECT_TRUE(Is(m_p.ExportToProj4FromDataFile(utm.c_str()), 32633));
    ASSERT_TRUE(m_p.ExportToEsriPrjFileFromDataFile(utm.c_str(), prj.c_str()));
    EXPECT_TRUE(Is(krtest::ReadText(prj).c_str(), 32633, true) && Is(m_p.EsriPrjFileToProj4(prj.c_str()), 32633));
    ASSERT_TRUE(m_p.Proj4ToEsriPrjFile(kUtm33, prj.c_str()));
    EXPECT_TRUE(Is(krtest::ReadText(prj).c_str(), 32633, true));
    // A raster without a reference exports nothing, and writes no file; a Proj4 text that fails, or an accessor
    // with nothing open, still leaves an empty one.
    EXPECT_TRUE(m_p.ExportToProj4FromDataFile(bare.c_str()).IsEmpty() &&
                m_p.ExportToEsriPrjFromDataFile(bare.c_str()).IsEmpty());
    EXPECT_FALSE(m_p.ExportToEsriPrjFileFromDataFile(bare.c_str(), bad.c_str()) || std::filesystem::exists(bad));
    EXPECT_FALSE(m_p.Proj4ToEsriPrjFile("+proj=no_such_projection", bad.c_str()) ||
                 m_p.ExportProjToEsriPrjFile(prj.c_str()));
    EXPECT_TRUE(std::filesystem::exists(bad) && krtest::ReadText(bad).empty() && krtest::ReadText(prj).empty());

    ASSERT_TRUE(Open(utm));
    EXPECT_TRUE(Is(m_p.GetProjectionRef(), 32633) && Is(m_p.ExportProjectionRefToWkt(), 32633) &&
                Is(m_p.ExportProjectionRefToProj4(), 32633) && Is(m_p.ExportProjToEsriPrj(), 32633, true));
    krtest::WriteText(prj, std::string(5000, 'x')); // replaced, not appended to
    ASSERT_TRUE(m_p.ExportProjToEsriPrjFile(prj.c_str()));
    EXPECT_EQ(krtest::ReadText(prj), m_p.ExportProjToEsriPrj().Cstr());
    ASSERT_TRUE(m_p.ImportProjectionRefFromESRI(krtest::WktOfEpsg(32632, true).c_str()) && !NoTransformations());
    EXPECT_TRUE(Is(m_p.ExportProjectionRefToProj4(), 32632));

    krtest::WriteText(prj, krtest::WktOfEpsg(32633, true));
    ASSERT_TRUE(Open(bare) && m_p.LoadProjectionFromESRIFile(prj.c_str()) && m_p.GetProjType() == 2);
    EXPECT_TRUE(Is(m_p.GetProjectionRef(), 32633) && Is(m_p.ExportProjectionRefToWkt(), 32633));
    KRC::KRGORasterAccessorPlugin closed; // nothing open: no dataset to give the reference to
    EXPECT_TRUE(closed.LoadProjectionFromESRIFile(prj.c_str()) && Probe::m_pSrcToLatLon(closed));
}

} // namespace
