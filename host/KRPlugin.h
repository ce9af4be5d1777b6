#pragma once

#include "KRExport.h"
#include "KRString.h"

namespace KRC {

//! Root of every host plug-in.
class KR_COMMON_API KRPlugin {
public:
    enum Type {
        Type_Unknown = 0,
        Type_DataSource = 1,
        Type_VectorDataAccessor = 2,
        Type_RasterDataAccessor = 3,
        Type_FeatureDataAccessor = 4
    };

    KRPlugin();

    virtual KRString GetPuginName();
    virtual Type GetPluginType() const;
    virtual bool IsDataSourcePlugin();
    virtual bool IsVectorDataAccessorPlugin();
    virtual bool IsRasterDataAccessorPlugin();
    virtual bool IsFeatureDataAccessorPlugin();
    virtual ~KRPlugin();
    virtual void Release();

    KRPlugin(const KRPlugin&) = delete;
    KRPlugin& operator=(const KRPlugin&) = delete;
};

//! Signature of the factory every plug-in module exports.
typedef KRPlugin* (*KRCreatePluginFunc)();

} // namespace KRC
