// Spatial reference and projection texts: how a source is classified, which
// geographic side its transformations use, bounds and points converted both
// ways (checked against OGR run by the test itself), and the import and
// export operations with the files they read and write.
#include <cctype>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <cpl_conv.h>
#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include "KRPluginProbe.h"
#include "KRTestSupport.h"

using KRC::KRGORasterAccessorPlugin;
using KRC::KRRect2d;
using Probe = KRC::KRGORasterAccessorPluginProbe;

namespace {

constexpr double kWgs84SemiMinor = 6356752.314245179;
constexpr double kGrs80SemiMinor = 6356752.314140356;

OGRSpatialReference SrsOfEpsg(int epsg)
{
    OGRSpatialReference srs;
    srs.importFromEPSG(epsg);
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

OGRSpatialReference Wgs84()
{
    OGRSpatialReference srs;
    srs.SetWellKnownGeogCS("WGS84");
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

std::string Owned(char* text)
{
    std::string copy = text != nullptr ? text : "";
    CPLFree(text);
    return copy;
}

std::string Proj4Of(const OGRSpatialReference& srs)
{
    char* text = nullptr;
    srs.exportToProj4(&text);
    return Owned(text);
}

std::string EsriOf(OGRSpatialReference srs)
{
    srs.morphToESRI();
    char* text = nullptr;
    srs.exportToWkt(&text);
    return Owned(text);
}

using TransformPtr = std::unique_ptr<OGRCoordinateTransformation>;

TransformPtr Transformation(const OGRSpatialReference& from, const OGRSpatialReference& to)
{
    return TransformPtr(OGRCreateCoordinateTransformation(&from, &to));
}

//! GDAL's own densified bounds: 71 points between corners make the 72 steps per edge.
KRRect2d GdalBounds(OGRCoordinateTransformation& ct, const KRRect2d& r, int steps)
{
    double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    EXPECT_TRUE(ct.TransformBounds(r.left, r.bottom, r.right, r.top, &xmin, &ymin, &xmax, &ymax, steps - 1));
    return KRRect2d(xmin, ymax, xmax, ymin);
}

void ExpectRectNear(const KRRect2d& got, const KRRect2d& want, double tolerance)
{
    EXPECT_NEAR(got.left, want.left, tolerance);
    EXPECT_NEAR(got.top, want.top, tolerance);
    EXPECT_NEAR(got.right, want.right, tolerance);
    EXPECT_NEAR(got.bottom, want.bottom, tolerance);
}

std::string RealFile(const char* relative)
{
    return std::string(KR_REAL_DATA_DIR) + "/" + relative;
}

class ProjectionTest : public ::testing::Test {
protected:
    void SetUp() override { krtest::RegisterGdal(); }

    std::string WriteTiff(const std::string& name, const std::string& wkt, std::vector<double> gt, int width = 8,
                          int height = 6)
    {
        krtest::RasterSpec layout;
        layout.width = width;
        layout.height = height;
        layout.geoTransform = std::move(gt);
        layout.wkt = wkt;
        const std::string path = m_dir.File(name);
        EXPECT_TRUE(krtest::WriteRaster(path, layout));
        return path;
    }

    const KRRect2d& Src() { return Probe::m_srcBounds(m_p).GetGeoBounds(); }
    const KRRect2d& Geo() { return Probe::m_latLonBounds(m_p).GetGeoBounds(); }

    bool HasNoTransformations()
    {
        return Probe::m_pSrcToLatLon(m_p) == nullptr && Probe::m_pLatLonToSrc(m_p) == nullptr &&
               Probe::m_pLatLonSRS(m_p) == nullptr;
    }

    krtest::TempDir m_dir;
    KRGORasterAccessorPlugin m_p;
};

// --- Classification and the geographic side --------------------------------------------

struct KindCase {
    const char* name;
    int epsg;
    std::vector<double> gt;
    bool ownGeographicSide; //!< the source's own datum, not the well-known WGS84
    const char* geographicName;
};

class SourceKindTest : public ProjectionTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(SourceKindTest, ProjectedSourceGetsBoundsFromItsTransformation)
{
    const KindCase& c = GetParam();
    ASSERT_TRUE(m_p.OpenForRead(WriteTiff("projected.tif", krtest::WktOfEpsg(c.epsg), c.gt).c_str()));
    EXPECT_EQ(Probe::m_nProjType(m_p), 2);
    ASSERT_NE(Probe::m_pSrcToLatLon(m_p), nullptr);
    ASSERT_NE(Probe::m_pLatLonToSrc(m_p), nullptr);
    ASSERT_NE(Probe::m_pLatLonSRS(m_p), nullptr);
    EXPECT_STREQ(Probe::m_pLatLonSRS(m_p)->GetName(), c.geographicName);

    // 8 x 6 pixels of gt[1] by -gt[5].
    const KRRect2d src(c.gt[0], c.gt[3], c.gt[0] + 8 * c.gt[1], c.gt[3] + 6 * c.gt[5]);
    ExpectRectNear(Src(), src, 1e-6);

    const OGRSpatialReference source = SrsOfEpsg(c.epsg);
    std::unique_ptr<OGRSpatialReference> ownGeographic(source.CloneGeogCS());
    ownGeographic->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    const OGRSpatialReference target = c.ownGeographicSide ? *ownGeographic : Wgs84();
    TransformPtr ct = Transformation(source, target);
    ASSERT_TRUE(ct);
    ExpectRectNear(Geo(), GdalBounds(*ct, src, 72), 1e-9);
    // 72 steps per edge: the resolution divides by the 7 steps between first and last column.
    EXPECT_DOUBLE_EQ(Probe::m_dLatLonResX(m_p), std::fabs(Geo().Width()) / 7.0);
}

INSTANTIATE_TEST_SUITE_P(
    Datums, SourceKindTest,
    ::testing::Values(
        KindCase{"UtmOnWgs84", 32633, {500000, 30000, 0, 4500000, 0, -30000}, true, "WGS 84"},
        // GRS 80 is 0.0001 m off WGS84 in its semi-minor axis: counted as WGS84, own datum kept.
        KindCase{"UtmOnGrs80", 25833, {500000, 30000, 0, 4500000, 0, -30000}, true, "ETRS89"},
        KindCase{"UtmOnInternational1924", 23031, {400000, 30000, 0, 4800000, 0, -30000}, false, "WGS 84"},
        KindCase{"GaussKrugerOnKrassowsky", 28403, {3500000, 20000, 0, 6000000, 0, -20000}, false, "WGS 84"}),
    [](const ::testing::TestParamInfo<KindCase>& info) { return std::string(info.param.name); });

struct EllipsoidCase {
    const char* name;
    const char* proj4;
    double expectedSemiMinor; //!< of the geographic side
};

class EllipsoidTest : public ProjectionTest, public ::testing::WithParamInterface<EllipsoidCase> {};

TEST_P(EllipsoidTest, NearWgs84EllipsoidKeepsItsOwnGeographicSide)
{
    ASSERT_TRUE(m_p.ImportProjectionRefFromProj4(GetParam().proj4));
    EXPECT_EQ(Probe::m_nProjType(m_p), 2);
    ASSERT_NE(Probe::m_pLatLonSRS(m_p), nullptr);
    EXPECT_NEAR(Probe::m_pLatLonSRS(m_p)->GetSemiMinor(), GetParam().expectedSemiMinor, 1e-7);
}

INSTANTIATE_TEST_SUITE_P(
    Axes, EllipsoidTest,
    ::testing::Values(
        EllipsoidCase{"Grs80", "+proj=utm +zone=33 +ellps=GRS80 +units=m +no_defs", kGrs80SemiMinor},
        EllipsoidCase{"MinorOneTenthMillimetreAbove", "+proj=utm +zone=33 +a=6378137 +b=6356752.314345179 +units=m",
                      6356752.314345179},
        EllipsoidCase{"MinorTwiceTheGrs80Offset", "+proj=utm +zone=33 +a=6378137 +b=6356752.314045179 +units=m",
                      kWgs84SemiMinor},
        EllipsoidCase{"MajorOffByTwoTenthMillimetres",
                      "+proj=utm +zone=33 +a=6378137.0002 +b=6356752.314245179 +units=m", kWgs84SemiMinor}),
    [](const ::testing::TestParamInfo<EllipsoidCase>& info) { return std::string(info.param.name); });

TEST_F(ProjectionTest, GeographicSourceBeyondTheWorldIsClamped)
{
    ASSERT_TRUE(m_p.OpenForRead(
        WriteTiff("world.tif", krtest::WktOfEpsg(4326), {-200, 1, 0, 100, 0, -1}, 400, 200).c_str()));
    EXPECT_EQ(Probe::m_nProjType(m_p), 1);
    EXPECT_TRUE(HasNoTransformations());
    ExpectRectNear(Src(), KRRect2d(-180, 90, 180, -90), 0);
    ExpectRectNear(Geo(), KRRect2d(-180, 90, 180, -90), 0);
    EXPECT_DOUBLE_EQ(Probe::m_dLatLonResX(m_p), 360.0 / 399.0);
    EXPECT_DOUBLE_EQ(Probe::m_dResY(m_p), 180.0 / 199.0);
}

// --- Failed imports and transformations OGR cannot create ----------------------------------

TEST_F(ProjectionTest, FailedImportClassifiesByBoundsAlone)
{
    struct Case {
        std::vector<double> gt;
        int projType;
    };
    // 10 x 8 pixels: (0, 0) to (1000, 800) lies outside degrees; (10, 46) to (15, 50) inside.
    for (const Case& c : {Case{{0, 100, 0, 800, 0, -100}, 0}, Case{{10, 0.5, 0, 50, 0, -0.5}, 1}}) {
        ASSERT_TRUE(m_p.OpenForRead(WriteTiff("plain.tif", "", c.gt, 10, 8).c_str()));
        ASSERT_TRUE(m_p.ImportProjectionRefFromProj4("+proj=utm +zone=33 +datum=WGS84"));
        ASSERT_EQ(Probe::m_nProjType(m_p), 2);

        EXPECT_TRUE(m_p.ImportProjectionRefFromProj4("+proj=no_such_projection"));
        EXPECT_EQ(Probe::m_nProjType(m_p), c.projType);
        EXPECT_TRUE(HasNoTransformations());
        ExpectRectNear(Geo(), Src(), 0);
    }
}

TEST_F(ProjectionTest, NullTextsAreFailedImports)
{
    ASSERT_TRUE(m_p.OpenForRead(WriteTiff("plain.tif", "", {0, 100, 0, 800, 0, -100}, 10, 8).c_str()));
    EXPECT_TRUE(m_p.ImportProjectionRefFromWkt(nullptr));
    EXPECT_EQ(Probe::m_nProjType(m_p), 0);
    EXPECT_TRUE(m_p.ImportProjectionRefFromProj4(nullptr));
    EXPECT_TRUE(m_p.ImportProjectionRefFromESRI(nullptr));
    EXPECT_EQ(Probe::m_nProjType(m_p), 0);
}

TEST_F(ProjectionTest, ReferenceWithoutTransformationsFailsTheImport)
{
    ASSERT_TRUE(m_p.OpenForRead(WriteTiff("plain.tif", "", {0, 100, 0, 800, 0, -100}, 10, 8).c_str()));
    // No operation exists between another planet's sphere and the Earth.
    EXPECT_FALSE(m_p.ImportProjectionRefFromProj4("+proj=merc +R=3396190 +units=m +no_defs"));
    EXPECT_EQ(Probe::m_nProjType(m_p), 2);
    EXPECT_EQ(Probe::m_pSrcToLatLon(m_p), nullptr);
    EXPECT_EQ(Probe::m_pLatLonToSrc(m_p), nullptr);
    ExpectRectNear(Geo(), Src(), 0);

    // A local system has no geographic side at all.
    EXPECT_FALSE(m_p.ImportProjectionRefFromWkt("LOCAL_CS[\"site grid\",UNIT[\"metre\",1]]"));
    EXPECT_EQ(Probe::m_nProjType(m_p), 2);
    EXPECT_TRUE(HasNoTransformations());
}

TEST_F(ProjectionTest, PrjFileIsTriedWhenTheDatasetReferenceCannotBeTransformed)
{
    OGRSpatialReference mars;
    mars.importFromProj4("+proj=merc +R=3396190 +units=m +no_defs");
    char* marsWkt = nullptr;
    mars.exportToWkt(&marsWkt);
    const std::string path = WriteTiff("mars.tif", Owned(marsWkt), {500000, 30, 0, 4500000, 0, -30});
    krtest::WriteText(m_dir.File("mars.prj"), EsriOf(SrsOfEpsg(32633)));
    ASSERT_TRUE(m_p.OpenForRead(path.c_str()));
    EXPECT_EQ(Probe::m_nProjType(m_p), 2);
    EXPECT_NE(Probe::m_pSrcToLatLon(m_p), nullptr);
    EXPECT_NEAR(Geo().left, 15.0, 1e-9);
}

// --- Rectangles and points ------------------------------------------------------------

TEST_F(ProjectionTest, TransformBoundsEdgeCases)
{
    const KRRect2d rect(10, 50, 12, 48);
    EXPECT_EQ(Probe::TransformBounds(m_p, nullptr, rect, 72).left, 10.0);

    const OGRSpatialReference wgs84 = Wgs84();
    TransformPtr identity = Transformation(wgs84, wgs84);
    ExpectRectNear(Probe::TransformBounds(m_p, identity.get(), rect, 7), rect, 1e-12);

    TransformPtr toUtm = Transformation(wgs84, SrsOfEpsg(32633));
    double x = rect.left, y = rect.bottom; // lower-left corner alone
    ASSERT_TRUE(toUtm->Transform(1, &x, &y));
    for (int steps : {0, -3})
        ExpectRectNear(Probe::TransformBounds(m_p, toUtm.get(), rect, steps), KRRect2d(x, y, x, y), 1e-9);
}

TEST_F(ProjectionTest, GeographicSourcePassesPointsThrough)
{
    ASSERT_TRUE(m_p.OpenForRead(WriteTiff("geo.tif", krtest::WktOfEpsg(4326), {10, 0.5, 0, 50, 0, -0.5}).c_str()));
    KRC::KRPoint3d out;
    m_p.SrcPtToWGS84Pt(KRC::KRPoint3d(10.5, 49.5, 321.0), out);
    EXPECT_EQ(out.x, 10.5);
    EXPECT_EQ(out.y, 49.5);
    EXPECT_EQ(out.z, 321.0);
    KRRect2d box;
    m_p.LatLonToProBounds(KRRect2d(1, 4, 3, 2), box);
    EXPECT_EQ(box.top, 4.0);
}

TEST_F(ProjectionTest, ProjectedSourceConvertsPointsAndRectanglesBothWays)
{
    ASSERT_TRUE(
        m_p.OpenForRead(WriteTiff("utm.tif", krtest::WktOfEpsg(32633), {500000, 30, 0, 4500000, 0, -30}).c_str()));
    const OGRSpatialReference utm = SrsOfEpsg(32633);
    const OGRSpatialReference wgs84 = Wgs84();
    TransformPtr toGeo = Transformation(utm, wgs84);
    TransformPtr toUtm = Transformation(wgs84, utm);

    KRC::KRPoint3d point(510000, 4490000, 12.5);
    double x = point.x, y = point.y;
    ASSERT_TRUE(toGeo->Transform(1, &x, &y));
    m_p.SrcPtToWGS84Pt(point, point); // one object as source and result
    EXPECT_NEAR(point.x, x, 1e-12);
    EXPECT_NEAR(point.y, y, 1e-12);
    EXPECT_EQ(point.z, 12.5);

    KRC::KRPoint3d back;
    m_p.WGS84PtToSrcPt(KRC::KRPoint3d(15.2, 40.5, 7), back);
    x = 15.2;
    y = 40.5;
    ASSERT_TRUE(toUtm->Transform(1, &x, &y));
    EXPECT_NEAR(back.x, x, 1e-6);
    EXPECT_NEAR(back.y, y, 1e-6);
    EXPECT_EQ(back.z, 7.0);

    double px = 0, py = 0;
    m_p.LatLonToProPnt(15.2, 40.5, px, py);
    EXPECT_NEAR(px, x, 1e-6);

    const KRRect2d geo(14, 42, 16, 40);
    KRRect2d box;
    m_p.LatLonToProBounds(geo, box);
    ExpectRectNear(box, GdalBounds(*toUtm, geo, 256), 1e-6);
}

// --- Exports of the accessor's own reference -------------------------------------------

TEST_F(ProjectionTest, ClosedAccessorDeclaresNoProjection)
{
    EXPECT_STREQ(m_p.GetProjectionRef().Cstr(), "");
    EXPECT_STREQ(m_p.ExportProjectionRefToWkt().Cstr(), "");
    EXPECT_STREQ(m_p.ExportProjectionRefToProj4().Cstr(), "");
}

TEST_F(ProjectionTest, ExportsDescribeTheSourceReference)
{
    const std::string path = WriteTiff("utm.tif", krtest::WktOfEpsg(32633), {500000, 30, 0, 4500000, 0, -30});
    ASSERT_TRUE(m_p.OpenForRead(path.c_str()));
    GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER));
    ASSERT_TRUE(ds);
    EXPECT_STREQ(m_p.GetProjectionRef().Cstr(), ds->GetProjectionRef());

    OGRSpatialReference declared;
    declared.importFromWkt(ds->GetProjectionRef());
    char* wkt = nullptr;
    declared.exportToWkt(&wkt);
    EXPECT_EQ(std::string(m_p.ExportProjectionRefToWkt().Cstr()), Owned(wkt));
    EXPECT_STREQ(m_p.ExportProjectionRefToProj4().Cstr(), "+proj=utm +zone=33 +datum=WGS84 +units=m +no_defs");
    const std::string esri = m_p.ExportProjToEsriPrj().Cstr();
    EXPECT_EQ(esri, EsriOf(declared));
    EXPECT_EQ(esri.rfind("PROJCS[\"WGS_1984_UTM_Zone_33N\"", 0), 0u) << esri;

    // A later import changes the exports, not what the file declares.
    ASSERT_TRUE(m_p.ImportProjectionRefFromProj4("+proj=longlat +datum=WGS84 +no_defs"));
    EXPECT_STREQ(m_p.GetProjectionRef().Cstr(), ds->GetProjectionRef());
    EXPECT_EQ(std::string(m_p.ExportProjectionRefToProj4().Cstr()), "+proj=longlat +datum=WGS84 +no_defs");
}

TEST_F(ProjectionTest, EsriPrjFileHoldsExactlyTheTextWithoutALineBreak)
{
    ASSERT_TRUE(m_p.OpenForRead(WriteTiff("geo.tif", krtest::WktOfEpsg(4326), {10, 0.5, 0, 50, 0, -0.5}).c_str()));
    const std::string prj = m_dir.File("out.prj");
    krtest::WriteText(prj, std::string(5000, 'x')); // replaced, not appended to
    ASSERT_TRUE(m_p.ExportProjToEsriPrjFile(prj.c_str()));
    const std::string text = krtest::ReadText(prj);
    EXPECT_EQ(text, EsriOf(SrsOfEpsg(4326)));
    EXPECT_EQ(text.rfind("GEOGCS[\"GCS_WGS_1984\"", 0), 0u) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos);
}

TEST_F(ProjectionTest, EsriPrjFileExportFailures)
{
    // Empty reference: the file is still created, but the export failed.
    const std::string prj = m_dir.File("empty.prj");
    EXPECT_FALSE(m_p.ExportProjToEsriPrjFile(prj.c_str()));
    EXPECT_TRUE(std::filesystem::exists(prj));
    EXPECT_EQ(krtest::ReadText(prj), "");

    ASSERT_TRUE(m_p.ImportProjectionRefFromProj4("+proj=utm +zone=33 +datum=WGS84"));
    const std::string unwritable = m_dir.File("no/such/folder/out.prj");
    EXPECT_FALSE(m_p.ExportProjToEsriPrjFile(unwritable.c_str()));
    EXPECT_FALSE(std::filesystem::exists(unwritable));
}

// --- Imports ------------------------------------------------------------------------

TEST_F(ProjectionTest, EsriTextAndFileImportsRebuildTheTransformations)
{
    const std::string esri = EsriOf(SrsOfEpsg(32633));
    EXPECT_TRUE(m_p.ImportProjectionRefFromESRI(esri.c_str()));
    EXPECT_EQ(Probe::m_nProjType(m_p), 2);
    EXPECT_NE(Probe::m_pSrcToLatLon(m_p), nullptr);

    // Nothing open: the file's reference is taken, there is no dataset to give it to.
    KRGORasterAccessorPlugin closed;
    const std::string prj = m_dir.File("utm.prj");
    krtest::WriteText(prj, esri);
    EXPECT_TRUE(closed.LoadProjectionFromESRIFile(prj.c_str()));
    EXPECT_EQ(Probe::m_nProjType(closed), 2);
    EXPECT_STREQ(closed.ExportProjectionRefToProj4().Cstr(), "+proj=utm +zone=33 +datum=WGS84 +units=m +no_defs");

    // A missing file is a failed import: classified from the (empty) bounds.
    EXPECT_TRUE(closed.LoadProjectionFromESRIFile(m_dir.File("absent.prj").c_str()));
    EXPECT_EQ(Probe::m_nProjType(closed), 1);
    EXPECT_EQ(Probe::m_pSrcToLatLon(closed), nullptr);
}

TEST_F(ProjectionTest, LoadedPrjFileIsGivenToTheDataset)
{
    ASSERT_TRUE(m_p.OpenForRead(WriteTiff("bare.tif", "", {500000, 30, 0, 4500000, 0, -30}).c_str()));
    ASSERT_STREQ(m_p.GetProjectionRef().Cstr(), "");
    const std::string prj = m_dir.File("other.prj");
    krtest::WriteText(prj, EsriOf(SrsOfEpsg(32633)));
    EXPECT_TRUE(m_p.LoadProjectionFromESRIFile(prj.c_str()));
    EXPECT_EQ(Probe::m_nProjType(m_p), 2);
    OGRSpatialReference declared;
    ASSERT_EQ(declared.importFromWkt(m_p.GetProjectionRef().Cstr()), OGRERR_NONE);
    EXPECT_TRUE(declared.IsProjected());
}

// --- Conversions of other files -------------------------------------------------------

TEST_F(ProjectionTest, DataFileProjectionThroughProj4)
{
    const std::string path = WriteTiff("ed50.tif", krtest::WktOfEpsg(23031), {400000, 30, 0, 4800000, 0, -30});
    const char* proj4 = "+proj=utm +zone=31 +ellps=intl +units=m +no_defs";
    EXPECT_STREQ(m_p.ExportToProj4FromDataFile(path.c_str()).Cstr(), proj4);

    // The ESRI text is made from the Proj4 form, so the datum's name is lost on the way.
    OGRSpatialReference viaProj4;
    viaProj4.importFromProj4(proj4);
    const std::string expected = EsriOf(viaProj4);
    EXPECT_EQ(std::string(m_p.ExportToEsriPrjFromDataFile(path.c_str()).Cstr()), expected);
    EXPECT_NE(expected, EsriOf(SrsOfEpsg(23031)));

    const std::string prj = m_dir.File("ed50.prj");
    ASSERT_TRUE(m_p.ExportToEsriPrjFileFromDataFile(path.c_str(), prj.c_str()));
    EXPECT_EQ(krtest::ReadText(prj), expected);
}

TEST_F(ProjectionTest, DataFileWithoutProjectionGivesNothing)
{
    const std::string path = WriteTiff("bare.tif", "", {0, 1, 0, 0, 0, -1});
    EXPECT_STREQ(m_p.ExportToProj4FromDataFile(path.c_str()).Cstr(), "");
    EXPECT_STREQ(m_p.ExportToEsriPrjFromDataFile(path.c_str()).Cstr(), "");
    const std::string prj = m_dir.File("bare.prj");
    EXPECT_FALSE(m_p.ExportToEsriPrjFileFromDataFile(path.c_str(), prj.c_str()));
    EXPECT_FALSE(std::filesystem::exists(prj));

    EXPECT_STREQ(m_p.ExportToProj4FromDataFile(m_dir.File("absent.tif").c_str()).Cstr(), "");
}

TEST_F(ProjectionTest, PrjFileAndProj4RoundTrip)
{
    const char* proj4 = "+proj=utm +zone=33 +datum=WGS84 +units=m +no_defs";
    OGRSpatialReference utm;
    utm.importFromProj4(proj4);
    const std::string prj = m_dir.File("round.prj");
    ASSERT_TRUE(m_p.Proj4ToEsriPrjFile(proj4, prj.c_str()));
    EXPECT_EQ(krtest::ReadText(prj), EsriOf(utm));
    EXPECT_EQ(std::string(m_p.EsriPrjFileToProj4(prj.c_str()).Cstr()), Proj4Of(utm));

    EXPECT_STREQ(m_p.EsriPrjFileToProj4(m_dir.File("absent.prj").c_str()).Cstr(), "");

    // An unparsable Proj4 text still leaves an (empty) file.
    const std::string bad = m_dir.File("bad.prj");
    EXPECT_FALSE(m_p.Proj4ToEsriPrjFile("+proj=no_such_projection", bad.c_str()));
    EXPECT_TRUE(std::filesystem::exists(bad));
    EXPECT_FALSE(m_p.Proj4ToEsriPrjFile("+proj=longlat +datum=WGS84", m_dir.File("no/folder/x.prj").c_str()));
}

struct RealPrjCase {
    const char* file;
    const char* proj4; //!< "" when the projection has no Proj4 form
};

class RealPrjTest : public ProjectionTest, public ::testing::WithParamInterface<RealPrjCase> {};

TEST_P(RealPrjTest, ConvertsToProj4)
{
    const std::string path = RealFile(GetParam().file);
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "real-world data absent";
    EXPECT_STREQ(m_p.EsriPrjFileToProj4(path.c_str()).Cstr(), GetParam().proj4);
}

INSTANTIATE_TEST_SUITE_P(
    SharedData, RealPrjTest,
    ::testing::Values(
        RealPrjCase{"rasterio/box.prj", "+proj=utm +zone=18 +datum=WGS84 +units=m +no_defs"},
        RealPrjCase{"mapshaper-prj/gauss_kruger.prj",
                    "+proj=tmerc +lat_0=0 +lon_0=114 +k=1 +x_0=500000 +y_0=0 +ellps=krass +units=m +no_defs"},
        RealPrjCase{"mapshaper-prj/three_points.prj", ""}),
    [](const ::testing::TestParamInfo<RealPrjCase>& info) {
        std::string name = info.param.file;
        for (char& ch : name) {
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        }
        return name;
    });

} // namespace
