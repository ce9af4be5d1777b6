// The container instantiations the host shares with this module. They are
// compiled here and exported, so the host and the module agree on one copy.
#include "KRArray.h"
#include "KRGeometry.h"
#include "KRList.h"
#include "KRString.h"
#include "KRTerrainData.h"
#include "KRTypes.h"

namespace KRC {

template class KRArray<unsigned char>;
template class KRArray<unsigned int>;
template class KRArray<double>;
template class KRArray<KRTerrainData*>;
template class KRArray<void*>;
template class KRArray<KRGridLevelInfo>;
template class KRArray<KRSPluginElem>;
template class KRArray<KRPoint2d>;
template class KRArray<KRString>;
template class KRArray<KRVec3d>;
template class KRList<KRGridLevelInfo*>;
template class KRList<KRProjectItem>;
template class KRList<KRSRelativeDirItem>;

} // namespace KRC
