// Host threads fetching from one object at once get, byte for byte, what one
// thread gets: the reads of its one dataset take turns, and no fetch works on a
// transformation another fetch is using.
#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "KRFetchTestSupport.h"

using namespace KRC;
using namespace krtest;
using Probe = KRGORasterAccessorPluginProbe;

namespace {

constexpr int kThreads = 4;

//! A transformation that counts the calls that overlap another one, as calls
//! from two threads on a shared OGR transformation would. It takes its time
//! over each call, so that overlaps are likely; its clones are independent, so
//! a fetch that works on its own copy never overlaps.
class SharedUseDetector final : public OGRCoordinateTransformation {
public:
    SharedUseDetector(OGRCoordinateTransformation* inner, std::shared_ptr<std::atomic<int>> overlaps)
        : m_inner(inner), m_overlaps(std::move(overlaps))
    {
    }
    OGRSpatialReference* GetSourceCS() override { return m_inner->GetSourceCS(); }
    OGRSpatialReference* GetTargetCS() override { return m_inner->GetTargetCS(); }
    OGRCoordinateTransformation* Clone() const override { return new SharedUseDetector(m_inner->Clone(), m_overlaps); }
    OGRCoordinateTransformation* GetInverse() const override { return nullptr; }
    void SetEmitErrors(bool emit) override { m_inner->SetEmitErrors(emit); }
    int Transform(int count, double* x, double* y, double* z, double* t, int* success) override
    {
        if (m_busy.exchange(true))
            ++*m_overlaps;
        for (volatile int spin = 0; spin < 2000; spin = spin + 1) {
        }
        const int result = m_inner->Transform(count, x, y, z, t, success);
        m_busy = false;
        return result;
    }

private:
    std::unique_ptr<OGRCoordinateTransformation> m_inner;
    std::shared_ptr<std::atomic<int>> m_overlaps;
    std::atomic<bool> m_busy{false};
};

using Bytes = std::vector<unsigned char>;

//! Terrain (65 x 65) and, from a GeoTIFF, an image (64 x 64) over each of 3 x 3 rectangles across the
//! raster's bounds, from the `first`-th on (wrapping round), kept in rectangle order.
std::vector<Bytes> FetchAll(KRRasterDataAccessor& p, bool images, int first)
{
    const KRRect2d b = p.GetLatLonBounds().GetGeoBounds();
    const double w = (b.right - b.left) / 4, h = (b.top - b.bottom) / 4;
    std::vector<Bytes> fetched(18);
    for (int k = 0; k < 9; ++k) {
        const int t = (first + k) % 9;
        const KRRect2d rect(b.left + (0.5 + t % 3) * w, b.top - (0.5 + t / 3) * h, b.left + (1.5 + t % 3) * w,
                            b.top - (1.5 + t / 3) * h);
        auto grid = SessionGrid(65, 65, 0.0);
        if (p.FetchTerrainData(grid.get(), rect, false) == GetchResult_Delivered) {
            const auto* samples = static_cast<const unsigned char*>(grid->GetData());
            fetched[t].assign(samples, samples + grid->GetDataBytes());
        }
        auto image = MakeImage(64, 64, PF_R8G8B8);
        KRImageData* replacement = nullptr;
        if (images && p.FetchImageData(image.get(), replacement, rect, nullptr, false) == GetchResult_Delivered) {
            const auto got = replacement ? std::unique_ptr<KRImageData>(replacement) : std::move(image);
            fetched[9 + t].assign(got->m_pData, got->m_pData + got->GetDataBytes());
        }
    }
    return fetched;
}

//! The two sources over UTM zone 33: a GeoTIFF of three 16-bit bands in DEFLATE-compressed 32 x 32 tiles, whose
//! decoding is what breaks when two threads read one dataset at once, and an NSDTF-DEM grid in metres.
std::vector<std::string> WriteSources(const TempDir& dir)
{
    const char* options[] = {"TILED=YES", "BLOCKXSIZE=32", "BLOCKYSIZE=32", "COMPRESS=DEFLATE", nullptr};
    const RasterLayout layout{
        256, 256, 3, GDT_UInt16, {500000, 250, 0, 4500000, 0, -250}, WktOfEpsg(32633), {}, [](int b, int c, int r) {
            return std::floor(1000 + b * 50 + std::sin(0.37 * c) * std::cos(0.23 * r) * 100 + c * r / 64);
        }};
    std::ostringstream text;
    text << "NSDTF-DEM 1.0 M 0 0 500000 4500000 300 300 81 81 1\n";
    for (int i = 0; i < 81 * 81; ++i)
        text << std::sin(0.3 * (i % 81)) * std::cos(0.2 * (i / 81)) * 50 + i % 7 << ' ';
    WriteText(dir.File("grid.dem"), text.str());
    EXPECT_TRUE(WriteRaster(dir.File("utm.tif"), layout, "GTiff", options));
    return {dir.File("utm.tif"), dir.File("grid.dem")};
}

//! Opens with the stretch the image fetches prepare through histograms; the grid gets its system.
bool Open(KRGORasterAccessorPlugin& p, const std::string& path, bool images)
{
    p.SetStetchType(2);
    return p.OpenForRead(path.c_str()) &&
           (images || p.ImportProjectionRefFromProj4("+proj=utm +zone=33 +datum=WGS84 +units=m +no_defs"));
}

TEST(Concurrency, ThreadsFetchWhatOneThreadFetches)
{
    GDALAllRegister();
    // A block cache of a few tiles: the threads' reads go to the file, not to blocks decoded before.
    const GIntBig cache = GDALGetCacheMax64();
    GDALSetCacheMax64(16 * 1024);
    const TempDir dir;
    for (const std::string& path : WriteSources(dir)) {
        SCOPED_TRACE(path);
        const bool images = path.find(".tif") != std::string::npos;
        // The serial answer from one object; the threads share a fresh one, its dataset opened anew.
        KRGORasterAccessorPlugin one, p;
        ASSERT_TRUE(Open(one, path, images) && Open(p, path, images));
        const std::vector<Bytes> serial = FetchAll(one, images, 0);
        ASSERT_TRUE(std::none_of(serial.begin(), serial.begin() + (images ? 18 : 9), std::mem_fn(&Bytes::empty)));
        auto overlaps = std::make_shared<std::atomic<int>>(0);
        OGRCoordinateTransformation*& toSource = Probe::m_pLatLonToSrc(p);
        ASSERT_NE(toSource, nullptr);
        toSource = new SharedUseDetector(toSource, overlaps); // the object owns and deletes it
        // It prepares the stretch and reads an NSDTF-DEM grid alone, before the threads.
        p.FetchTerrainData(SessionGrid(3, 3, 0.0).get(), p.GetLatLonBounds().GetGeoBounds(), false);
        p.CheckInitColorInfo();
        std::vector<std::future<bool>> threads;
        for (int i = 0; i < kThreads; ++i)
            threads.push_back(std::async(std::launch::async, [&, i] { return FetchAll(p, images, 2 * i) == serial; }));
        for (auto& thread : threads)
            EXPECT_TRUE(thread.get()) << "a thread's fetches differ from one thread's";
        EXPECT_EQ(*overlaps, 0) << "threads shared one transformation";
    }
    GDALSetCacheMax64(cache);
}

} // namespace
