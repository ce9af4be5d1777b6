#include "GoraProgress.h"

#include <algorithm>

#include <cpl_progress.h>

namespace gora {

Progress::Progress(long long steps, long long minSteps) : m_steps(std::max(steps, 1LL)), m_shown(steps >= minSteps)
{
    if (m_shown)
        GDALTermProgress(0.0, nullptr, nullptr);
}

void Progress::Step()
{
    ++m_done;
    if (m_shown)
        GDALTermProgress(static_cast<double>(m_done) / static_cast<double>(m_steps), nullptr, nullptr);
}

} // namespace gora
