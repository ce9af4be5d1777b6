#include "GoraProgress.h"

#include <algorithm>
#include <csignal>

#include <cpl_progress.h>

namespace gora {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
bool g_lineOpen = false;

extern "C" void OnInterrupt(int)
{
    g_interrupted = 1;
    std::signal(SIGINT, SIG_DFL);
}

} // namespace

Interrupted::Interrupted() : Error("", "interrupted") {}

void CatchInterrupt()
{
    std::signal(SIGINT, OnInterrupt);
}

void StopIfInterrupted()
{
    if (g_interrupted != 0)
        throw Interrupted();
}

bool ProgressLineOpen()
{
    return g_lineOpen;
}

int TermProgress(double done, const char* message, void* data)
{
    g_lineOpen = done < 1.0;
    return GDALTermProgress(done, message, data) && g_interrupted == 0;
}

Progress::Progress(long long steps, long long minSteps) : m_steps(std::max(steps, 1LL)), m_shown(steps >= minSteps)
{
    if (m_shown)
        TermProgress(0.0, nullptr, nullptr);
}

void Progress::Step()
{
    ++m_done;
    if (m_shown)
        TermProgress(static_cast<double>(m_done) / static_cast<double>(m_steps), nullptr, nullptr);
    StopIfInterrupted();
}

} // namespace gora
