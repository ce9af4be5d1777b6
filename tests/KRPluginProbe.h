#pragma once
// Test access to the accessor's private steps and state. Include in one test
// file per executable only.

#include <utility>

#include "KRGORasterAccessorPlugin.h"

#define KR_PROBE_MEMBER(name)                                                                                          \
    static auto& name(KRGORasterAccessorPlugin& p)                                                                     \
    {                                                                                                                  \
        return p.name;                                                                                                 \
    }
#define KR_PROBE_CALL(name)                                                                                            \
    template <class... A> static auto name(KRGORasterAccessorPlugin& p, A&&... args)                                   \
    {                                                                                                                  \
        return p.name(std::forward<A>(args)...);                                                                       \
    }

namespace KRC {

struct KRGORasterAccessorPluginProbe {
    // Base state.
    KR_PROBE_MEMBER(m_bMinMaxValid)
    KR_PROBE_MEMBER(m_bOpened)
    // Own state.
    KR_PROBE_MEMBER(m_pDataset)
    KR_PROBE_MEMBER(m_pBand)
    KR_PROBE_MEMBER(m_pDemData)
    KR_PROBE_MEMBER(m_bNsdtfDem)
    KR_PROBE_MEMBER(m_pSrcToLatLon)
    KR_PROBE_MEMBER(m_pLatLonToSrc)
    KR_PROBE_MEMBER(m_pLatLonSRS)
    KR_PROBE_MEMBER(m_noDataValues)
    KR_PROBE_MEMBER(m_activeNoData)
    KR_PROBE_MEMBER(m_bNoDataActive)
    KR_PROBE_MEMBER(m_dNoDataTolerance)
    KR_PROBE_MEMBER(m_bandMax)
    KR_PROBE_MEMBER(m_bandMin)
    KR_PROBE_MEMBER(m_bandHasMax)
    KR_PROBE_MEMBER(m_bandHasMin)
    KR_PROBE_MEMBER(m_histograms)

    // Private steps.
    KR_PROBE_CALL(ReadTFW)
    KR_PROBE_CALL(ReadChinaDemData)
    KR_PROBE_CALL(ReadColorset)
};

} // namespace KRC

#undef KR_PROBE_MEMBER
#undef KR_PROBE_CALL
