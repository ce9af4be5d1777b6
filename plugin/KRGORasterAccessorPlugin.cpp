// Object life of the accessor: construction with GDAL's process-wide set-up,
// closing, destruction, and the module's factory.
#include "KRGORasterAccessorPlugin.h"

#include <cmath>
#include <cstdint>

#include <cpl_conv.h>
#include <gdal_priv.h>
#include <ogr_api.h>

#include "KRFile.h"

namespace KRC {

KRGORasterAccessorPlugin::KRGORasterAccessorPlugin()
{
    m_dMaxValue = 0.0;

    // File names reach GDAL in the local 8-bit code page, as the host passes them.
    CPLSetConfigOption("SHAPE_ENCODING", "");
    CPLSetConfigOption("GDAL_FILENAME_IS_UTF8", "NO");

    // GDAL's data ships beside the host's Common library.
    const KRString moduleDir = KRFile::GetModulePath("Common");
    KRFile::SetCurrentPath(moduleDir);
    const KRString dataDir = moduleDir + "Resource/GDAL_DATA";
    CPLSetConfigOption("GDAL_DATA", dataDir.Cstr());

    GDALAllRegister();
    OGRRegisterAll();
}

KRGORasterAccessorPlugin::~KRGORasterAccessorPlugin()
{
    std::lock_guard<KRMutex> lock(m_mutex);
    Release();
}

KRString KRGORasterAccessorPlugin::GetPuginName()
{
    return KRString("GORasterAccessorPlugin");
}

void KRGORasterAccessorPlugin::Release()
{
    Close();
}

void KRGORasterAccessorPlugin::CloseDataset()
{
    if (m_pDataset != nullptr) {
        GDALClose(m_pDataset);
        m_pDataset = nullptr;
    }
    m_pBand = nullptr; // owned by the dataset
}

void KRGORasterAccessorPlugin::Close()
{
    CloseDataset();
    delete m_pDemData;
    m_pDemData = nullptr;
    delete m_pLatLonSRS;
    m_pLatLonSRS = nullptr;
    delete m_pSrcToLatLon;
    m_pSrcToLatLon = nullptr;
    delete m_pLatLonToSrc;
    m_pLatLonToSrc = nullptr;

    m_nProjType = 1;
    m_bOpened = false;
    m_bNsdtfDem = false;
    ClearHistogramData();
}

bool KRGORasterAccessorPlugin::IsValid()
{
    // Written so that a NaN resolution fails the test.
    return m_nBandCount >= 1 && m_nWidth != 0 && m_nHeight != 0 && m_dResX > 0.0 && m_dResY > 0.0;
}

bool KRGORasterAccessorPlugin::ClearHistogramData()
{
    for (int i = 0; i < m_histograms.GetSize(); ++i) {
        delete[] static_cast<GUIntBig*>(m_histograms[i]); // as CheckHistogram allocates them
        m_histograms[i] = nullptr;
    }
    m_histograms.RemoveAll(); // also releases the storage
    return true;
}

} // namespace KRC

extern "C" KR_PLUGIN_API KRC::KRPlugin* CreatePluginInstance()
{
    return new KRC::KRGORasterAccessorPlugin();
}
