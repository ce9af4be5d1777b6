// Reading leaves the user's data as it was: opening, fetching and closing every
// kind of sample neither creates, changes nor removes a file beside it.
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "KRHostSession.h"
#include "KRTestSupport.h"

using namespace KRC;
using namespace krtest;
namespace fs = std::filesystem;

namespace {

//! Every file under a folder with its size and modification time (nanoseconds).
std::map<std::string, std::pair<std::uintmax_t, long long>> Snap(const std::string& dir)
{
    std::map<std::string, std::pair<std::uintmax_t, long long>> snapshot;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        struct stat info {};
        if (stat(entry.path().c_str(), &info) == 0)
            snapshot[fs::relative(entry.path(), dir).string()] = {
                entry.is_regular_file() ? entry.file_size() : 0, info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec};
    }
    return snapshot;
}

//! Opens every file of the folder in turn (a file GDAL cannot read just fails to open), serves it as a host
//! does, closes it; the folder must be as it was (gtest lists what differs).
void ExpectReadingChangesNothing(const std::string& dir)
{
    const auto before = Snap(dir);
    int opened = 0;
    for (const auto& [name, unused] : before) {
        KRGORasterAccessorPlugin p;
        p.SetStetchType(2); // the histogram stretch asks GDAL for statistics, which GDAL likes to save
        if (fs::is_regular_file(dir + "/" + name) && p.OpenForRead((dir + "/" + name).c_str()))
            opened += ServeEverything(p) >= 0;
    }
    EXPECT_GT(opened, 0);
    EXPECT_EQ(Snap(dir), before);
}

// A coordinate system that comes from a ".prj" is the one GDAL would save in an ".aux.xml"; statistics of bands
// GDAL computes through a VRT it would save beside the VRT's source. Then the bundled samples and, when present,
// every real-world file (sidecars included).
TEST(SideEffects, ReadingChangesNoFile)
{
    GDALAllRegister();
    const TempDir dir;
    RasterLayout plain{
        20, 20, 1, GDT_Float32, {500000, 1000, 0, 4500000, 0, -1000}, "", {}, [](int, int c, int r) { return c + r; }};
    RasterLayout bmp = plain;
    bmp.geoTransform.clear();
    bmp.type = GDT_Byte;
    ASSERT_TRUE(WriteRaster(dir.File("noref.tif"), plain) && WriteRaster(dir.File("world.bmp"), bmp, "BMP"));
    WriteText(dir.File("world.tfw"), "1000\n0\n0\n-1000\n500000\n4500000\n");
    std::string vrt = "<VRTDataset rasterXSize=\"20\" rasterYSize=\"20\"><GeoTransform>500000, 1000, 0, 4500000, 0, "
                      "-1000</GeoTransform>";
    for (const char* band : {"1", "2"})
        vrt += std::string("<VRTRasterBand dataType=\"Float32\" band=\"") + band +
               "\"><SimpleSource><SourceFilename relativeToVRT=\"1\">noref.tif</SourceFilename><SourceBand>1"
               "</SourceBand></SimpleSource></VRTRasterBand>";
    WriteText(dir.File("bands.vrt"), vrt + "</VRTDataset>");
    for (const char* stem : {"noref", "world", "bands"})
        WriteText(dir.File(std::string(stem) + ".prj"), WktOfEpsg(32633, true));
    fs::copy(fs::path(KR_SAMPLE_DIR), dir.File("sample"), fs::copy_options::recursive);
    if (fs::exists(KR_REAL_DATA_DIR)) {
        fs::copy(fs::path(KR_REAL_DATA_DIR), dir.File("real"), fs::copy_options::recursive);
        // Copies keep the originals' read-only mode; a writable copy is what would show a stray write.
        for (const auto& entry : fs::recursive_directory_iterator(dir.File("real")))
            fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
    }
    ExpectReadingChangesNothing(dir.Path());
}

} // namespace
