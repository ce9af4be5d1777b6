#include "KRPlugin.h"

namespace KRC {

KRPlugin::KRPlugin() = default;

KRPlugin::~KRPlugin() = default;

KRString KRPlugin::GetPuginName()
{
    return KRString();
}

KRPlugin::Type KRPlugin::GetPluginType() const
{
    return Type_Unknown;
}

bool KRPlugin::IsDataSourcePlugin()
{
    return false;
}

bool KRPlugin::IsVectorDataAccessorPlugin()
{
    return false;
}

bool KRPlugin::IsRasterDataAccessorPlugin()
{
    return false;
}

bool KRPlugin::IsFeatureDataAccessorPlugin()
{
    return false;
}

// The root owns nothing; derived plug-ins release their resources here.
void KRPlugin::Release()
{
}

} // namespace KRC
