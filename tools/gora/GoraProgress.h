#pragma once
// What long runs show on the terminal while they work, and how Ctrl-C ends
// them: the first SIGINT only raises a flag, which the next progress step (or
// the move of an output into place) turns into Interrupted, so that temporary
// files are removed on the way out; a second SIGINT ends gora at once.

#include "GoraAccessor.h"

namespace gora {

//! A command stopped by Ctrl-C.
class Interrupted : public Error {
public:
    Interrupted();
};

//! Installs the SIGINT handler.
void CatchInterrupt();

//! Throws Interrupted once Ctrl-C was pressed.
void StopIfInterrupted();

//! True while a progress line is drawn but not finished.
bool ProgressLineOpen();

//! GDAL's terminal progress that also stops the work on Ctrl-C, for GDAL
//! functions and module operations that take a progress callback.
int TermProgress(double done, const char* message, void* data);

//! Shows GDAL's terminal progress (on stdout) when there are at least `minSteps` steps.
class Progress {
public:
    Progress(long long steps, long long minSteps);
    //! Throws Interrupted once Ctrl-C was pressed.
    void Step();

private:
    long long m_steps;
    long long m_done = 0;
    bool m_shown;
};

} // namespace gora
