// Host threads fetching from one object at once get, byte for byte, what one
// thread gets, from geographic and projected GeoTIFFs and a projected NSDTF-DEM grid.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include "KRHostSession.h"
#include "KRPluginProbe.h"

using namespace KRC;
using namespace krtest;
using Probe = KRGORasterAccessorPluginProbe;

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 2; // blocks of 16 tiles per thread and source

//! A transformation that answers wrongly when two threads use it at once, as a
//! shared OGR transformation may: it parks the points in a buffer of its own
//! while it works, and takes its time over it, so a second caller's
//! points replace the first's. It also counts such overlaps. Its clones are
//! independent, so a fetch that works on its own copy is never disturbed.
class SharedUseDetector final : public OGRCoordinateTransformation {
public:
    SharedUseDetector(OGRCoordinateTransformation* inner, std::shared_ptr<std::atomic<int>> overlaps)
        : m_inner(inner), m_overlaps(std::move(overlaps)), m_x(kCapacity), m_y(kCapacity)
    {
    }
    OGRSpatialReference* GetSourceCS() override { return m_inner->GetSourceCS(); }
    OGRSpatialReference* GetTargetCS() override { return m_inner->GetTargetCS(); }
    OGRCoordinateTransformation* Clone() const override { return new SharedUseDetector(m_inner->Clone(), m_overlaps); }
    OGRCoordinateTransformation* GetInverse() const override { return nullptr; }
    void SetEmitErrors(bool emit) override { m_inner->SetEmitErrors(emit); }

    int Transform(int count, double* x, double* y, double* z, double* t, int* success) override
    {
        if (count < 0 || count > kCapacity)
            return m_inner->Transform(count, x, y, z, t, success);
        if (m_busy.exchange(true))
            ++*m_overlaps;
        std::copy(x, x + count, m_x.begin()); // the buffers never grow: a race garbles values, never memory
        std::copy(y, y + count, m_y.begin());
        for (volatile int spin = 0; spin < 2000; spin = spin + 1) {
        }
        const int result = m_inner->Transform(count, m_x.data(), m_y.data(), z, t, success);
        std::copy(m_x.begin(), m_x.begin() + count, x);
        std::copy(m_y.begin(), m_y.begin() + count, y);
        m_busy = false;
        return result;
    }

private:
    static constexpr int kCapacity = 1 << 16;
    std::unique_ptr<OGRCoordinateTransformation> m_inner;
    std::shared_ptr<std::atomic<int>> m_overlaps;
    std::atomic<bool> m_busy{false};
    std::vector<double> m_x, m_y;
};

//! An open source and the block of tiles fetched from it; image tiles too from GeoTIFFs.
struct Source {
    const char* name;
    std::function<bool(KRGORasterAccessorPlugin&, const TempDir&)> open;
    double lon, lat;
    int level;
    bool images;
};

using Bytes = std::vector<unsigned char>;

//! The 4 x 4 tiles from the one holding the source's point, fetched from the `first`-th on (wrapping round),
//! kept in block order: the terrain tiles' samples, then the image tiles' pixels; a missing tile is empty.
std::vector<Bytes> FetchAll(KRRasterDataAccessor& p, const Source& s, int first)
{
    const auto at = TileAt(s.lon, s.lat, s.level);
    std::vector<Bytes> tiles(s.images ? 32 : 16);
    for (int k = 0; k < 16; ++k) {
        const int t = (first + k) % 16, x = at.first + t % 4, y = at.second + t / 4;
        if (auto grid = FetchTile(p, x, y, s.level)) {
            const auto* samples = static_cast<const unsigned char*>(grid->GetData());
            tiles[t].assign(samples, samples + grid->GetDataBytes());
        }
        if (auto image = s.images ? FetchImageTile(p, x, y, s.level) : nullptr)
            tiles[16 + t].assign(image->m_pData, image->m_pData + image->GetDataBytes());
    }
    return tiles;
}

//! Three bands, so image tiles go through the band order and the 16-bit stretch.
bool OpenTiff(KRGORasterAccessorPlugin& p, const TempDir& dir, int epsg, std::vector<double> gt)
{
    const double step = std::fabs(gt[1]);
    RasterLayout layout{100, 100, 3, GDT_UInt16, gt, WktOfEpsg(epsg), {}, [step](int b, int c, int r) {
                            return 1000 + b * 50 + std::sin(0.37 * c) * std::cos(0.23 * r) * 100 + c * r * step;
                        }};
    const std::string path = dir.File(std::to_string(epsg) + ".tif");
    return WriteRaster(path, layout) && p.OpenForRead(path.c_str());
}

bool OpenUtmDem(KRGORasterAccessorPlugin& p, const TempDir& dir)
{
    std::ostringstream text;
    text << "NSDTF-DEM 1.0 M 0 0 500000 4500000 300 300 81 81 1\n";
    for (int i = 0; i < 81 * 81; ++i)
        text << std::sin(0.3 * (i % 81)) * std::cos(0.2 * (i / 81)) * 50 + i % 7 << ' ';
    WriteText(dir.File("grid.dem"), text.str());
    return p.OpenForRead(dir.File("grid.dem").c_str()) &&
           p.ImportProjectionRefFromProj4("+proj=utm +zone=33 +datum=WGS84 +units=m +no_defs");
}

TEST(Concurrency, ThreadsFetchWhatOneThreadFetches)
{
    GDALAllRegister();
    const KRPoint2d utm = Projector(32633).Inverse(512500, 4487500); // the middle of both metric sources
    const Source sources[] = {
        {"geographic GeoTIFF", [](auto& p, auto& dir) { return OpenTiff(p, dir, 4326, {10, 0.01, 0, 50, 0, -0.01}); },
         10.5, 49.5, 10, true},
        {"projected GeoTIFF",
         [](auto& p, auto& dir) { return OpenTiff(p, dir, 32633, {500000, 250, 0, 4500000, 0, -250}); }, utm.x, utm.y,
         12, true},
        {"projected NSDTF-DEM", OpenUtmDem, utm.x, utm.y, 12, false},
    };
    int compared = 0;
    for (const Source& source : sources) {
        SCOPED_TRACE(source.name);
        const TempDir dir;
        KRGORasterAccessorPlugin p;
        ASSERT_TRUE(source.open(p, dir));
        auto overlaps = std::make_shared<std::atomic<int>>(0);
        OGRCoordinateTransformation*& toSource = Probe::m_pLatLonToSrc(p);
        if (toSource != nullptr)
            toSource = new SharedUseDetector(toSource, overlaps); // the object owns and deletes it

        // One thread first: it makes the first fetch, which reads an NSDTF-DEM grid, and the first image
        // fetch, which prepares the stretch from histograms, once, under the lock.
        p.SetStetchType(2);
        const std::vector<Bytes> serial = FetchAll(p, source, 0);
        const auto delivered = std::count_if(serial.begin(), serial.end(), [](const Bytes& t) { return !t.empty(); });
        ASSERT_GE(2 * delivered, std::ptrdiff_t(serial.size())); // most of the block lies over the raster
        std::vector<std::future<int>> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.push_back(std::async(std::launch::async, [&, i] {
                int same = 0;
                for (int round = 0; round < kRounds; ++round)
                    same += FetchAll(p, source, 4 * i + round) == serial;
                return same;
            }));
        }
        for (auto& thread : threads)
            EXPECT_EQ(thread.get(), kRounds) << "blocks that differ from one thread's";
        compared += kThreads * kRounds * static_cast<int>(serial.size());
        EXPECT_EQ(*overlaps, 0) << "threads shared one transformation";
    }
    std::printf("%d threads: %d tile fetches compared with one thread's\n", kThreads, compared);
}

} // namespace
