#include "GoraBands.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <map>

#include <cpl_vsi.h>
#include <gdal_utils.h>

#include "GoraAccessor.h"
#include "GoraJson.h"

namespace gora {

GDALDatasetUniquePtr OpenWithGdal(const std::string& path)
{
    GDALAllRegister();
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    return GDALDatasetUniquePtr(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
}

namespace {

//! The pixel byte the host shows as each colour: blue, green, red, alpha.
const std::map<GDALColorInterp, int> kHostBytes = {
    {GCI_RedBand, 2}, {GCI_GreenBand, 1}, {GCI_BlueBand, 0}, {GCI_AlphaBand, 3}};

GDALColorInterp InterpretationOf(GDALDataset& dataset, int band)
{
    GDALRasterBand* b = band <= dataset.GetRasterCount() ? dataset.GetRasterBand(band) : nullptr;
    return b != nullptr ? b->GetColorInterpretation() : GCI_Undefined;
}

bool IsAlpha(GDALDataset& dataset, int band)
{
    return InterpretationOf(dataset, band) == GCI_AlphaBand;
}

} // namespace

BandRoles RolesOf(GDALDataset& dataset)
{
    BandRoles roles;
    roles.alpha = dataset.GetRasterCount() >= 4 && IsAlpha(dataset, 4);
    std::string order;
    int seen = 0; // bit per byte
    for (int band = 1; band <= 3; ++band) {
        const auto byte = kHostBytes.find(InterpretationOf(dataset, band));
        if (byte == kHostBytes.end() || byte->second == 3 || (seen & (1 << byte->second)) != 0)
            return roles; // the file does not name red, green and blue
        seen |= 1 << byte->second;
        order += std::to_string(byte->second) + ",";
    }
    roles.bandOrder = order + "3";
    return roles;
}

bool WiderThan16Bits(GDALDataset& dataset)
{
    for (int band = 1; band <= dataset.GetRasterCount(); ++band) {
        if (GDALGetDataTypeSizeBits(dataset.GetRasterBand(band)->GetRasterDataType()) > 16)
            return true;
    }
    return false;
}

bool ValueRange(GDALDataset& dataset, double& low, double& high)
{
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    bool found = false;
    for (int band = 1; band <= dataset.GetRasterCount(); ++band) {
        double minMax[2] = {0.0, 0.0};
        if (IsAlpha(dataset, band) || dataset.GetRasterBand(band)->ComputeRasterMinMax(TRUE, minMax) != CE_None)
            continue;
        low = found ? std::min(low, minMax[0]) : minMax[0];
        high = found ? std::max(high, minMax[1]) : minMax[1];
        found = true;
    }
    return found;
}

namespace {

std::string NewVrtName(GDALDataset& dataset)
{
    static std::atomic<unsigned long> counter{0};
    const std::string stem = std::filesystem::path(dataset.GetDescription()).stem().string();
    return "/vsimem/gora-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + "/" + stem + ".vrt";
}

void AddArguments(CPLStringList& argv, std::initializer_list<std::string> arguments)
{
    for (const std::string& argument : arguments)
        argv.AddString(argument.c_str());
}

//! gdal_translate's arguments for the VRT: bands, their colours, their scale.
CPLStringList TranslateArguments(GDALDataset& dataset, const std::vector<int>& bands, const std::vector<double>& range)
{
    CPLStringList argv;
    AddArguments(argv, {"-of", "VRT"});
    for (int band : bands)
        AddArguments(argv, {"-b", std::to_string(band)});
    static const char* const kColours[] = {"red", "green", "blue", "alpha"};
    for (size_t k = 0; k < bands.size() && bands.size() > 1; ++k)
        AddArguments(argv, {"-colorinterp_" + std::to_string(k + 1), kColours[k]});
    if (range.size() != 2)
        return argv;
    AddArguments(argv, {"-ot", "Byte"});
    const int count = bands.empty() ? dataset.GetRasterCount() : static_cast<int>(bands.size());
    for (int k = 1; k <= count; ++k) {
        const int source = bands.empty() ? k : bands[static_cast<size_t>(k - 1)];
        if (!(k == 4 && bands.size() == 4) && !IsAlpha(dataset, source))
            AddArguments(argv, {"-scale_" + std::to_string(k), CPLSPrintf("%.17g", range[0]),
                                CPLSPrintf("%.17g", range[1]), "0", "255"});
    }
    return argv;
}

} // namespace

std::shared_ptr<const std::string> BandsVrt(GDALDataset& dataset, const std::vector<int>& bands,
                                            const std::vector<double>& range)
{
    for (int band : bands) {
        if (band > dataset.GetRasterCount())
            throw CLI::ValidationError("--bands", "band " + std::to_string(band) + " is not among the raster's " +
                                                      std::to_string(dataset.GetRasterCount()));
    }
    CPLStringList argv = TranslateArguments(dataset, bands, range);
    std::unique_ptr<GDALTranslateOptions, decltype(&GDALTranslateOptionsFree)> options(
        GDALTranslateOptionsNew(argv.List(), nullptr), &GDALTranslateOptionsFree);
    auto name = std::shared_ptr<const std::string>(new std::string(NewVrtName(dataset)), [](const std::string* n) {
        VSIUnlink(n->c_str());
        delete n;
    });
    int usageError = FALSE;
    GDALDatasetH vrt =
        options ? GDALTranslate(name->c_str(), GDALDataset::ToHandle(&dataset), options.get(), &usageError) : nullptr;
    if (vrt == nullptr)
        throw Error(dataset.GetDescription(), "GDAL cannot make a VRT of the chosen bands");
    GDALClose(vrt); // writes the VRT into the memory file
    return name;
}

} // namespace gora

namespace gora {

namespace {

using nlohmann::json;

//! Sets a GDAL option on this thread for as long as it lives.
class ThreadOption {
public:
    ThreadOption(const char* key, const char* value) : m_key(key), m_old(CPLGetThreadLocalConfigOption(key, ""))
    {
        CPLSetThreadLocalConfigOption(key, value);
    }
    ~ThreadOption() { CPLSetThreadLocalConfigOption(m_key, m_old.empty() ? nullptr : m_old.c_str()); }
    ThreadOption(const ThreadOption&) = delete;
    ThreadOption& operator=(const ThreadOption&) = delete;

private:
    const char* m_key;
    std::string m_old;
};

bool StoredStatistics(GDALRasterBand& band, double (&s)[4])
{
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    return band.GetStatistics(FALSE, FALSE, &s[0], &s[1], &s[2], &s[3]) == CE_None;
}

json StatisticsJson(const double (&s)[4], const char* source)
{
    return {{"min", JsonNumber(s[0])},
            {"max", JsonNumber(s[1])},
            {"mean", JsonNumber(s[2])},
            {"stdDev", JsonNumber(s[3])},
            {"source", source}};
}

//! GDAL's approximate statistics, from a second opening without PAM, so that
//! nothing is saved beside the raster.
json ApproximateStatistics(const std::string& path, int band)
{
    const ThreadOption noAux("GDAL_PAM_ENABLED", "NO");
    GDALDatasetUniquePtr dataset = OpenWithGdal(path);
    GDALRasterBand* b = dataset ? dataset->GetRasterBand(band) : nullptr;
    double s[4] = {0.0, 0.0, 0.0, 0.0};
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    if (b == nullptr || b->ComputeStatistics(TRUE, &s[0], &s[1], &s[2], &s[3], nullptr, nullptr) != CE_None)
        return nullptr;
    return StatisticsJson(s, "approximate");
}

json StatisticsOf(GDALDataset& dataset, int band)
{
    double s[4] = {0.0, 0.0, 0.0, 0.0};
    if (StoredStatistics(*dataset.GetRasterBand(band), s))
        return StatisticsJson(s, "stored in the file");
    return ApproximateStatistics(dataset.GetDescription(), band);
}

json Overviews(GDALRasterBand& band)
{
    json sizes = json::array();
    for (int k = 0; k < band.GetOverviewCount(); ++k) {
        if (GDALRasterBand* o = band.GetOverview(k))
            sizes.push_back({o->GetXSize(), o->GetYSize()});
    }
    return sizes;
}

} // namespace

json BandDetails(GDALDataset& dataset)
{
    json bands = json::array();
    for (int k = 1; k <= dataset.GetRasterCount(); ++k) {
        GDALRasterBand& band = *dataset.GetRasterBand(k);
        int hasNoData = FALSE;
        const double noData = band.GetNoDataValue(&hasNoData);
        const GDALColorTable* palette = band.GetColorTable();
        bands.push_back({{"band", k},
                         {"type", GDALGetDataTypeName(band.GetRasterDataType())},
                         {"colour", GDALGetColorInterpretationName(band.GetColorInterpretation())},
                         {"description", band.GetDescription()},
                         {"noData", hasNoData ? JsonNumber(noData) : json(nullptr)},
                         {"paletteEntries", palette != nullptr ? json(palette->GetColorEntryCount()) : json(nullptr)},
                         {"overviews", Overviews(band)},
                         {"statistics", StatisticsOf(dataset, k)}});
    }
    return bands;
}

std::string ColoursOf(GDALDataset& dataset)
{
    const int count = dataset.GetRasterCount();
    if (count == 1)
        return dataset.GetRasterBand(1)->GetColorTable() != nullptr ? "palette" : "grey";
    if (count == 3 || (count == 4 && RolesOf(dataset).alpha))
        return count == 3 ? "RGB" : "RGBA";
    return std::to_string(count) + " bands";
}

std::string RangeSource(GDALDataset& dataset)
{
    bool stored = dataset.GetRasterCount() > 0;
    for (int k = 1; k <= dataset.GetRasterCount(); ++k) {
        int hasMin = FALSE;
        int hasMax = FALSE;
        GDALRasterBand* band = dataset.GetRasterBand(k);
        band->GetMinimum(&hasMin);
        band->GetMaximum(&hasMax);
        stored = stored && hasMin && hasMax;
    }
    if (stored)
        return "statistics stored in the file";
    return dataset.GetRasterCount() == 1 ? "computed from the pixels" : "";
}

} // namespace gora
