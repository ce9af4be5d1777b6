// NSDTF-DEM elevation text files: the header, the value grid and its divisor
// rules, and terrain served from the grid in degrees and in metres.
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <locale>
#include <sstream>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KRPluginProbe.h"
#include "KRTerrainTestSupport.h"
#include "KRTestSupport.h"

using KRC::KRRect2d;
using KRC::KRTerrainData;
using krtest::ForEachSample;
using krtest::MakeGrid;
using Probe = KRC::KRGORasterAccessorPluginProbe;

namespace {

constexpr KRC::GetchResult kNone = KRC::GetchResult_None;
constexpr KRC::GetchResult kDelivered = KRC::GetchResult_Delivered;

std::string Number(double v)
{
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out.precision(17);
    out << v;
    return out.str();
}

//! A file's fields in the format's order. By default a grid in degrees over
//! lon 100..102.5 (6 columns of 0.5) and lat 39..40 (5 rows of 0.25).
struct DemFile {
    std::string magic = "NSDTF-DEM", unit = "D", orientation = "0";
    double x = 100, y = 40, dx = 0.5, dy = 0.25;
    int rows = 5, cols = 6;
    std::string divisor = "1";
    std::vector<std::string> values; //!< row after row; empty: rows x cols zeros

    std::string Text() const
    {
        std::string text = magic + "\n1.0\n" + unit + "\n" + orientation + "\n0\n" + Number(x) + " " + Number(y) +
                           "\n" + Number(dx) + " " + Number(dy) + "\n" + std::to_string(rows) + " " +
                           std::to_string(cols) + "\n" + divisor + "\n";
        const size_t count = values.empty() ? static_cast<size_t>(rows * cols) : values.size();
        for (size_t i = 0; i < count; ++i)
            text += (values.empty() ? "0" : values[i]) + ((i + 1) % static_cast<size_t>(cols) ? " " : "\n");
        return text;
    }
};

class NsdtfTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& text)
    {
        krtest::WriteText(m_dir.File(name), text);
        return m_dir.File(name);
    }
    void ReadInfo(const std::string& path) { Probe::ReadChinaDemInfo(m_p, KRC::KRString(path.c_str())); }
    void ReadData(const std::string& path) { Probe::ReadChinaDemData(m_p, KRC::KRString(path.c_str())); }
    krtest::TempDir m_dir;
    KRC::KRGORasterAccessorPlugin m_p;
};

// ---------------------------------------------------------------------------
// Header.

struct HeaderCase {
    const char* name;
    std::string unit, orientation;
    int projType;
    bool northFirst; //!< negative pixel height
};
void PrintTo(const HeaderCase& c, std::ostream* os)
{
    *os << c.name;
}
class NsdtfHeader : public NsdtfTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(NsdtfHeader, SetsGeometry)
{
    DemFile file;
    file.unit = GetParam().unit;
    file.orientation = GetParam().orientation;
    ReadInfo(Write("a.dem", file.Text()));
    EXPECT_EQ(Probe::m_nProjType(m_p), GetParam().projType);
    EXPECT_EQ(Probe::m_nBandCount(m_p), 1);
    EXPECT_EQ(Probe::m_nWidth(m_p), 6u);
    EXPECT_EQ(Probe::m_nHeight(m_p), 5u);
    EXPECT_EQ(Probe::m_ePixelFormat(m_p), KRC::PF_R32F);
    for (const KRRect2d& b : {Probe::m_srcBounds(m_p).GetGeoBounds(), Probe::m_latLonBounds(m_p).GetGeoBounds()}) {
        EXPECT_DOUBLE_EQ(b.left, 100.0); // point-registered: the outer samples lie on the bounds
        EXPECT_DOUBLE_EQ(b.top, 40.0);
        EXPECT_DOUBLE_EQ(b.right, 102.5);
        EXPECT_DOUBLE_EQ(b.bottom, 39.0);
    }
    EXPECT_DOUBLE_EQ(Probe::m_dPixelSizeX(m_p), 2.5 / 6);
    EXPECT_DOUBLE_EQ(Probe::m_dPixelSizeY(m_p), GetParam().northFirst ? -0.2 : 0.2);
    EXPECT_DOUBLE_EQ(Probe::m_dResX(m_p), 0.5);
    EXPECT_DOUBLE_EQ(Probe::m_dResY(m_p), 0.25);
    EXPECT_EQ(m_p.IsDataReverse(), GetParam().northFirst);
}

INSTANTIATE_TEST_SUITE_P(Nsdtf, NsdtfHeader,
                         ::testing::Values(HeaderCase{"Degrees", "D", "0", 1, true},
                                           HeaderCase{"DegreesLowerCase", "d", "0", 1, true},
                                           HeaderCase{"Seconds", "S", "1", 1, false},
                                           HeaderCase{"SecondsLowerCase", "s", "-1", 1, false},
                                           HeaderCase{"MetresWithoutProjection", "M", "0", 0, true},
                                           HeaderCase{"LongestUnitToken", std::string(255, 'M'), "0", 0, true},
                                           HeaderCase{"OrientationWithinTolerance", "D", "9e-11", 1, true},
                                           HeaderCase{"OrientationAtTolerance", "D", "1e-10", 1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(NsdtfTest, PixelWidthSpreadsBoundsOverColumns)
{
    DemFile file;
    file.unit = "M";
    file.dx = file.dy = 30;
    file.rows = 2;
    file.cols = 3;
    ReadInfo(Write("m.dem", file.Text()));
    EXPECT_DOUBLE_EQ(Probe::m_dPixelSizeX(m_p), 20.0);
    EXPECT_DOUBLE_EQ(Probe::m_dResX(m_p), 30.0);
}

std::string HeaderWith(size_t index, const std::string& token)
{
    std::vector<std::string> tokens = {"NSDTF-DEM", "1.0", "D", "0", "0", "100", "40", "0.5", "0.25", "5", "6", "1"};
    tokens[index] = token;
    std::string text;
    for (const std::string& t : tokens)
        text += t + "\n";
    for (int i = 0; i < 5; ++i)
        text += "1 2 3 4 5 6\n";
    return text;
}

struct BadHeaderCase {
    const char* name;
    std::string text; //!< empty: the file does not exist
};
void PrintTo(const BadHeaderCase& c, std::ostream* os)
{
    *os << c.name;
}
class NsdtfBadHeader : public NsdtfTest, public ::testing::WithParamInterface<BadHeaderCase> {};

// After a good file, a bad one leaves no band, no size and no coordinate type:
// opening fails and nothing can be fetched.
TEST_P(NsdtfBadHeader, LeavesNothingUsable)
{
    ReadInfo(Write("good.dem", DemFile().Text()));
    ASSERT_EQ(Probe::m_nBandCount(m_p), 1);
    const bool exists = !GetParam().text.empty();
    ReadInfo(exists ? Write("bad.dem", GetParam().text) : m_dir.File("absent.dem"));
    EXPECT_EQ(Probe::m_nBandCount(m_p), 0);
    EXPECT_EQ(Probe::m_nWidth(m_p), 0u);
    EXPECT_EQ(Probe::m_nHeight(m_p), 0u);
    EXPECT_EQ(Probe::m_nProjType(m_p), 0);
    if (exists) {
        EXPECT_FALSE(m_p.OpenForRead(Write("BAD.DEM", GetParam().text).c_str()));
        KRTerrainData* tile = nullptr;
        EXPECT_EQ(m_p.FetchTerrainData(tile, 0, 0, 0), kNone);
        EXPECT_EQ(tile, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Nsdtf, NsdtfBadHeader,
                         ::testing::Values(BadHeaderCase{"MissingFile", ""}, BadHeaderCase{"MagicOnly", "NSDTF-DEM\n"},
                                           BadHeaderCase{"ElevenTokens", "NSDTF-DEM 1.0 D 0 0 100 40 0.5 0.25 5 6"},
                                           BadHeaderCase{"OverlongUnit", HeaderWith(2, std::string(256, 'D'))},
                                           BadHeaderCase{"OverlongNumber", HeaderWith(5, "1" + std::string(300, '0'))},
                                           BadHeaderCase{"ZeroRows", HeaderWith(9, "0")},
                                           BadHeaderCase{"NegativeRows", HeaderWith(9, "-3")},
                                           BadHeaderCase{"NegativeColumns", HeaderWith(10, "-6")},
                                           BadHeaderCase{"ColumnsNotANumber", HeaderWith(10, "abc")},
                                           BadHeaderCase{"RowsBeyondInt", HeaderWith(9, "2147483648")},
                                           BadHeaderCase{"RowsAbsurd", HeaderWith(9, "1e300")},
                                           BadHeaderCase{"MoreCellsThanFileHolds", HeaderWith(9, "100000")},
                                           BadHeaderCase{"CellCountBeyond32Bits", HeaderWith(10, "2000000000")},
                                           BadHeaderCase{"WestNotANumber", HeaderWith(5, "nan")},
                                           BadHeaderCase{"SpacingInfinite", HeaderWith(7, "inf")}),
                         [](const auto& info) { return std::string(info.param.name); });

// The host may run under a locale whose decimal mark is a comma.
TEST_F(NsdtfTest, NumbersIgnoreProcessLocale)
{
    struct Restore {
        std::string name = std::setlocale(LC_NUMERIC, nullptr);
        ~Restore() { std::setlocale(LC_NUMERIC, name.c_str()); }
    } restore;
    const char* chosen = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    // None installed: compile one into the test's folder when the tool exists.
    const std::string command = "localedef -i de_DE -f UTF-8 '" + m_dir.File("de_DE.UTF-8") + "' >/dev/null 2>&1";
    if (chosen == nullptr && std::system(command.c_str()) == 0) {
        setenv("LOCPATH", m_dir.Path().c_str(), 1);
        chosen = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
        unsetenv("LOCPATH");
    }
    if (chosen == nullptr)
        GTEST_SKIP() << "no locale with a decimal comma available";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    ReadInfo(Write("a.dem", DemFile().Text()));
    EXPECT_DOUBLE_EQ(Probe::m_dResX(m_p), 0.5);
    EXPECT_DOUBLE_EQ(Probe::m_srcBounds(m_p).GetGeoBounds().bottom, 39.0);
}

// ---------------------------------------------------------------------------
// Value grid.

struct ValueCase {
    const char* name;
    std::string unit, divisor, token;
    float expected;
};
void PrintTo(const ValueCase& c, std::ostream* os)
{
    *os << c.name;
}
class NsdtfValue : public NsdtfTest, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(NsdtfValue, DivisorRules)
{
    DemFile file;
    file.unit = GetParam().unit;
    file.divisor = GetParam().divisor;
    file.rows = 1;
    file.cols = 2;
    file.values = {GetParam().token, "0"};
    ReadData(Write("v.dem", file.Text()));
    ASSERT_NE(Probe::m_pDemData(m_p), nullptr);
    EXPECT_EQ(Probe::m_pDemData(m_p)->GetDataFormat(), KRC::RDF_Float32);
    EXPECT_EQ(Probe::m_pDemData(m_p)->GetValue(0, 0), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Nsdtf, NsdtfValue,
                         ::testing::Values(ValueCase{"KilometreUnitMakesDivisorOne", "K", "1000", "123.456", 123.456f},
                                           ValueCase{"KilometreUnitLowerCase", "k", "1000", "-7.25", -7.25f},
                                           ValueCase{"OtherUnitDivides", "M", "1000", "123456", 123.456f},
                                           ValueCase{"NoDataScaledByTen", "D", "10", "-9999", -999.9f},
                                           ValueCase{"NoDataKeptWithDivisorOne", "D", "1", "-9999", -9999.0f},
                                           // 0.1 becomes the float 0.100000001490116 before the division.
                                           ValueCase{"RoundedToFloatBeforeDivision", "D", "3", "0.1",
                                                     0.0333333338300387f},
                                           ValueCase{"NotANumberReadsZero", "D", "1", "x12", 0.0f}),
                         [](const auto& info) { return std::string(info.param.name); });

// Values run in file order and wrap across lines as they like; the range counts
// -9999 like any value; a short list leaves the remaining cells as nodata.
TEST_F(NsdtfTest, ValueOrderRangeAndShortList)
{
    ReadData(Write("r.dem", "NSDTF-DEM 1.0 D 0 0 100 40 0.5 0.25 2 3 1\n1 2\n-9999 4\t5 6"));
    const KRTerrainData* grid = Probe::m_pDemData(m_p);
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->GetWidth(), 3);
    EXPECT_EQ(grid->GetHeight(), 2);
    EXPECT_EQ(grid->GetValue(0, 2), -9999.0);
    EXPECT_EQ(grid->GetValue(1, 2), 6.0);
    EXPECT_TRUE(Probe::m_bMinMaxValid(m_p));
    EXPECT_EQ(Probe::m_dMinValue(m_p), -9999.0);
    EXPECT_EQ(Probe::m_dMaxValue(m_p), 6.0);

    ReadData(Write("short.dem", "NSDTF-DEM 1.0 D 0 0 100 40 0.5 0.25 2 3 1\n7\n8 9\n10"));
    grid = Probe::m_pDemData(m_p);
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->GetValue(1, 0), 10.0);
    EXPECT_EQ(grid->GetValue(1, 1), -9999.0);
    EXPECT_EQ(grid->GetValue(1, 2), -9999.0);
    EXPECT_EQ(Probe::m_dMinValue(m_p), 7.0);
    EXPECT_EQ(Probe::m_dMaxValue(m_p), 10.0);
}

// The file disappears after opening: no grid, and no fetch delivers anything.
TEST_F(NsdtfTest, VanishedFileDeliversNothing)
{
    const std::string path = Write("gone.dem", DemFile().Text());
    ASSERT_TRUE(m_p.OpenForRead(path.c_str()));
    std::filesystem::remove(path);
    auto dst = MakeGrid(5, 5);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(m_p.FetchTerrainData(dst.get(), KRRect2d(100, 40, 102.5, 39), false), kNone);
    EXPECT_EQ(Probe::m_pDemData(m_p), nullptr);
}

// ---------------------------------------------------------------------------
// Terrain from the default grid in degrees, its values on a plane. All
// coordinates are multiples of powers of two: the float grid holds the plane
// exactly and bilinear sampling reproduces it.

double Plane(double lon, double lat)
{
    return 2 * lon + 4 * lat + 1;
}

DemFile PlaneDem(bool northFirst)
{
    DemFile file;
    file.orientation = northFirst ? "0" : "1";
    for (int r = 0; r < file.rows; ++r) {
        for (int c = 0; c < file.cols; ++c)
            file.values.push_back(Number(Plane(100 + c * 0.5, northFirst ? 40 - r * 0.25 : 39 + r * 0.25)));
    }
    return file;
}

bool OverGrid(double lon, double lat)
{
    return lon >= 100 && lon <= 102.5 && lat >= 39 && lat <= 40;
}

struct FetchCase {
    const char* name;
    bool northFirst, flip, mirrored;
};
void PrintTo(const FetchCase& c, std::ostream* os)
{
    *os << c.name;
}
class NsdtfGeographic : public NsdtfTest, public ::testing::WithParamInterface<FetchCase> {};

TEST_P(NsdtfGeographic, FollowsPlaneAndStaysZeroBeyond)
{
    const FetchCase& tc = GetParam();
    ASSERT_TRUE(m_p.OpenForRead(Write("plane.dem", PlaneDem(tc.northFirst).Text()).c_str()));
    // Inside, then reaching past every edge, then past the east and south edges.
    for (const KRRect2d& rect :
         {KRRect2d(100.25, 39.875, 102.25, 39.125), KRRect2d(99, 40.5, 103.5, 38.5), KRRect2d(101, 39.5, 105, 37.5)}) {
        auto dst = MakeGrid(17, 17);
        ASSERT_EQ(m_p.FetchTerrainData(dst.get(), rect, tc.flip), kDelivered);
        ForEachSample(*dst, rect, [&](int r, int c, double lon, double lat, double v) {
            const double expected = OverGrid(lon, lat) ? Plane(lon, tc.mirrored ? 79 - lat : lat) : 0.0;
            EXPECT_NEAR(v, expected, 1e-9) << r << "," << c;
        });
    }
    auto dst = MakeGrid(4, 4);
    dst->SetValue(5, 3.0);
    EXPECT_EQ(m_p.FetchTerrainData(dst.get(), KRRect2d(110, 40, 111, 39), false), kNone);
    EXPECT_EQ(dst->GetValue(1, 1), 3.0); // untouched
}

INSTANTIATE_TEST_SUITE_P(Nsdtf, NsdtfGeographic,
                         ::testing::Values(FetchCase{"NorthFirst", true, false, false},
                                           FetchCase{"SouthFirst", false, false, false},
                                           FetchCase{"NorthFirstFlipped", true, true, true},
                                           FetchCase{"SouthFirstFlipped", false, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A sample on a -9999 cell comes out as 0; with divisor 10 the cell holds
// -999.9, an ordinary value.
TEST_F(NsdtfTest, NoDataCellComesOutZero)
{
    DemFile file = PlaneDem(true);
    file.values[2 * 6 + 3] = "-9999"; // lon 101.5, lat 39.5
    ASSERT_TRUE(m_p.OpenForRead(Write("hole.dem", file.Text()).c_str()));
    auto dst = MakeGrid(6, 5); // one sample per cell
    ASSERT_EQ(m_p.FetchTerrainData(dst.get(), KRRect2d(100, 40, 102.5, 39), false), kDelivered);
    EXPECT_EQ(dst->GetValue(2, 3), 0.0);
    EXPECT_EQ(dst->GetValue(2, 2), Plane(101, 39.5));

    file.divisor = "10";
    ASSERT_TRUE(m_p.OpenForRead(Write("scaled.dem", file.Text()).c_str()));
    ASSERT_EQ(m_p.FetchTerrainData(dst.get(), KRRect2d(100, 40, 102.5, 39), false), kDelivered);
    EXPECT_NEAR(dst->GetValue(2, 3), -999.9, 1e-4);
}

// A grid one column wide serves the one column of samples that falls on it.
TEST_F(NsdtfTest, OneColumnGrid)
{
    DemFile file;
    file.cols = 1;
    file.values = {"5", "4", "3", "2", "1"}; // north to south
    ASSERT_TRUE(m_p.OpenForRead(Write("column.dem", file.Text()).c_str()));
    auto dst = MakeGrid(5, 9);
    ASSERT_EQ(m_p.FetchTerrainData(dst.get(), KRRect2d(99.5, 40, 100.5, 39), false), kDelivered);
    ForEachSample(*dst, KRRect2d(99.5, 40, 100.5, 39), [](int r, int c, double, double, double v) {
        EXPECT_NEAR(v, c == 2 ? 1 + r * 0.5 : 0.0, 1e-9) << r << "," << c;
    });
}

// Upper-case extension, lower-case magic; tile (398, 71) of level 8 (lon
// 99.84375..100.546875, lat 39.375..40.078125) reaches past the west and north.
TEST_F(NsdtfTest, TilePartlyOverGrid)
{
    DemFile file = PlaneDem(true);
    file.magic = "nsdtf-dem";
    ASSERT_TRUE(m_p.OpenForRead(Write("TILE.DEM", file.Text()).c_str()));
    EXPECT_EQ(Probe::m_pDemData(m_p), nullptr); // read on the first fetch
    KRTerrainData* raw = nullptr;
    ASSERT_EQ(m_p.FetchTerrainData(raw, 398, 71, 8), kDelivered);
    std::unique_ptr<KRTerrainData> tile(raw);
    ASSERT_NE(tile, nullptr);
    EXPECT_EQ(tile->GetWidth() * 100 + tile->GetHeight(), 3333);
    EXPECT_EQ(tile->GetDataFormat(), KRC::RDF_Float32);
    const double step = 0.703125 / 32;
    ForEachSample(*tile, krtest::TileRect(398, 71, 8), [&](int r, int c, double lon, double lat, double v) {
        if (OverGrid(lon, lat)) {
            EXPECT_NEAR(v, Plane(lon, lat), 1e-4) << r << "," << c;
        } else if (lon < 100 - step || lat > 40 + step) { // the first sample past an edge is clamped onto it
            EXPECT_EQ(v, 0.0) << r << "," << c;
        }
    });
}

// A grid in metres (UTM 33N) serves nothing until a coordinate system is imported.
TEST_F(NsdtfTest, MetricGridNeedsProjection)
{
    krtest::Projector utm(32633);
    ASSERT_TRUE(utm.Ok());
    const auto plane = [](double e, double n) { return (e - 500000) / 1000 + 2 * (n - 4480000) / 1000; };
    DemFile file;
    file.unit = "M";
    file.x = 500000;
    file.y = 4500000;
    file.dx = file.dy = 1000;
    file.rows = file.cols = 21;
    for (int r = 0; r < 21; ++r) {
        for (int c = 0; c < 21; ++c)
            file.values.push_back(Number(plane(500000 + c * 1000.0, 4500000 - r * 1000.0)));
    }
    ASSERT_TRUE(m_p.OpenForRead(Write("utm.dem", file.Text()).c_str()));
    ASSERT_EQ(Probe::m_nProjType(m_p), 0);
    const KRC::KRPoint2d mid = utm.Inverse(510000, 4490000);
    const KRRect2d inside(mid.x - 0.05, mid.y + 0.04, mid.x + 0.05, mid.y - 0.04);
    auto dst = MakeGrid(11, 11);
    EXPECT_EQ(m_p.FetchTerrainData(dst.get(), inside, false), kNone);
    KRTerrainData* tile = nullptr;
    EXPECT_EQ(m_p.FetchTerrainData(tile, 0, 0, 0), kNone);
    EXPECT_EQ(tile, nullptr);

    ASSERT_TRUE(m_p.ImportProjectionRefFromProj4("+proj=utm +zone=33 +datum=WGS84 +units=m +no_defs"));
    ASSERT_EQ(Probe::m_nProjType(m_p), 2);
    for (const KRRect2d& rect : {inside, KRRect2d(mid.x - 0.3, mid.y + 0.2, mid.x - 0.05, mid.y + 0.05)}) {
        ASSERT_EQ(m_p.FetchTerrainData(dst.get(), rect, false), kDelivered);
        int over = 0;
        ForEachSample(*dst, rect, [&](int r, int c, double e, double n, double v) {
            utm.Forward(e, n);
            if (e >= 500000 && e <= 520000 && n >= 4480000 && n <= 4500000) {
                EXPECT_NEAR(v, plane(e, n), 1e-6) << r << "," << c;
                ++over;
            } else if (e < 499000 || n > 4501000) {
                EXPECT_EQ(v, 0.0) << r << "," << c;
            }
        });
        EXPECT_GT(over, 5);
    }
}

// ---------------------------------------------------------------------------
// Real CNSDTF grids (skipped when the collection is absent). They use the newer
// keyword layout, which this reader must refuse rather than half read.

std::string RealGrid(const char* name)
{
    return std::string(KR_REAL_DATA_DIR) + "/cnsdtfl/cgrd/" + name;
}

TEST_F(NsdtfTest, KeywordLayoutRefused)
{
    for (const char* name : {"TEST1.GRD", "TEST2.GRD", "TEST3.GRD", "TEST4.GRD"}) {
        if (!std::filesystem::exists(RealGrid(name)))
            GTEST_SKIP() << "real data absent: " << RealGrid(name);
        ReadInfo(RealGrid(name));
        EXPECT_EQ(Probe::m_nBandCount(m_p), 0) << name;
        const std::string copy = m_dir.File(std::string(name) + ".dem");
        std::filesystem::copy_file(RealGrid(name), copy);
        EXPECT_FALSE(m_p.OpenForRead(copy.c_str())) << name;
    }
}

// TEST3's values (CRLF lines, rows wrapping every 10 values, -99999 for nodata,
// scale 1000) behind a header of this format.
TEST_F(NsdtfTest, RealValuesBehindPositionalHeader)
{
    if (!std::filesystem::exists(RealGrid("TEST3.GRD")))
        GTEST_SKIP() << "real data absent";
    const std::string text = krtest::ReadText(RealGrid("TEST3.GRD"));
    const size_t body = text.find("ZUnit:M");
    ASSERT_NE(body, std::string::npos);
    const std::string values = text.substr(body + 7);
    ReadData(Write("test3.dem", "NSDTF-DEM 1.0 M 0 0 414150 3126512.5 12.5 12.5 3 495 1000" + values));
    const KRTerrainData* grid = Probe::m_pDemData(m_p);
    ASSERT_NE(grid, nullptr);
    std::istringstream in(values);
    int count = 0;
    for (double v; in >> v; ++count)
        ASSERT_EQ(grid->GetValue(count / 495, count % 495), static_cast<float>(static_cast<float>(v) / 1000.0));
    EXPECT_EQ(count, 3 * 495);
    EXPECT_NEAR(Probe::m_dMaxValue(m_p), 75.344, 1e-4);
    EXPECT_NEAR(Probe::m_dMinValue(m_p), -99.999, 1e-4);
}

} // namespace
