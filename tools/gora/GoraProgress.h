#pragma once
// What long runs show on the terminal while they work.

namespace gora {

//! Shows GDAL's terminal progress (on stdout) when there are at least `minSteps` steps.
class Progress {
public:
    Progress(long long steps, long long minSteps);
    void Step();

private:
    long long m_steps;
    long long m_done = 0;
    bool m_shown;
};

} // namespace gora
