#pragma once
// Private to the module: a raster opened for reading keeps whatever this object
// sets on it in memory, so reading never writes a file beside the user's data.

#include <gdal_pam.h>
#include <gdal_priv.h>
#include <vrtdataset.h>

namespace KRC {
namespace detail {

//! Stops a dataset opened for reading from saving on close what is set on it:
//! a PAM dataset would write an ".aux.xml" beside the raster, a VRT would
//! rewrite its own file. Only this dataset is affected; GDAL's configuration,
//! which the host shares, stays as it is.
inline void KeepSettingsInMemory(GDALDataset* dataset)
{
    if (auto* pam = dynamic_cast<GDALPamDataset*>(dataset))
        pam->SetPamFlags(pam->GetPamFlags() | GPF_NOSAVE);
    else if (auto* vrt = dynamic_cast<VRTDataset*>(dataset))
        vrt->SetWritable(FALSE);
}

//! True when a setting given to the dataset cannot reach a file unasked: it was
//! opened for update (a raster this object creates), or KeepSettingsInMemory
//! holds for its kind. A read-only dataset of any other kind is given nothing.
inline bool MayReceiveSettings(GDALDataset* dataset)
{
    if (dataset == nullptr)
        return false;
    if (dataset->GetAccess() == GA_Update)
        return true;
    if (auto* pam = dynamic_cast<GDALPamDataset*>(dataset))
        return (pam->GetPamFlags() & GPF_NOSAVE) != 0;
    return dynamic_cast<VRTDataset*>(dataset) != nullptr;
}

} // namespace detail
} // namespace KRC
