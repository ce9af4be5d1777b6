// Projection importers (WKT, Proj4, ESRI text and ".prj" files) into an open
// raster, then everything that uses the imported reference: exports, points,
// bounds, and terrain through the transformations built from it.
#include "KRFuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    krfuzz::Initialize();
    // 16 x 16 samples in metres with no coordinate system: the import gives it one.
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    GDALDatasetUniquePtr ds(
        gtiff->Create(krfuzz::ScratchDir().File("plain.tif").c_str(), 16, 16, 1, GDT_Float32, nullptr));
    double gt[6] = {500000, 1000, 0, 4500000, 0, -1000};
    float values[256];
    for (int i = 0; i < 256; ++i)
        values[i] = static_cast<float>(100 + i);
    KR_FUZZ_CHECK(ds && ds->SetGeoTransform(gt) == CE_None &&
                  ds->RasterIO(GF_Write, 0, 0, 16, 16, values, 16, 16, GDT_Float32, 1, nullptr, 0, 0, 0, nullptr) ==
                      CE_None);
    return 0;
}

// The first byte picks the importer; the rest is its text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    std::string text = krfuzz::Text(data + 1, size - 1);
    KRC::KRGORasterAccessorPlugin p;
    KR_FUZZ_CHECK(p.OpenForRead(krfuzz::ScratchDir().File("plain.tif").c_str()));
    switch (data[0] % 4) {
    case 0:
        p.ImportProjectionRefFromWkt(text.c_str());
        break;
    case 1:
        // A text that does not start with "+" is looked up by PROJ as a name in
        // its database, half a second each: keep the fuzzer on the options.
        if (text.empty() || text[0] != '+')
            text.insert(0, "+");
        p.ImportProjectionRefFromProj4(text.c_str());
        break;
    case 2:
        p.ImportProjectionRefFromESRI(text.c_str());
        break;
    default: {
        const std::string prj = krfuzz::WriteInput("input.prj", data + 1, size - 1);
        p.EsriPrjFileToProj4(prj.c_str());
        p.LoadProjectionFromESRIFile(prj.c_str());
    }
    }
    // A projected source has a reference to export; an export of any kind needs one in WKT.
    const bool wkt = !p.ExportProjectionRefToWkt().IsEmpty();
    KR_FUZZ_CHECK(p.GetProjType() >= 0 && p.GetProjType() <= 2 && (wkt || p.GetProjType() != 2));
    KR_FUZZ_CHECK(wkt || (p.ExportProjectionRefToProj4().IsEmpty() && p.ExportProjToEsriPrj().IsEmpty()));
    const KRC::KRRect2d b = p.GetLatLonBounds().GetGeoBounds();
    KRC::KRRect2d source(1, 2, 3, 4);
    p.LatLonToProBounds(b, source); // without a transformation the bounds come back as they were
    KR_FUZZ_CHECK(p.GetProjType() == 2 || (source.left == b.left && source.top == b.top));
    krfuzz::Serve(p);
    return 0;
}
