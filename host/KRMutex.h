#pragma once

#include <mutex>

namespace KRC {

using KRMutex = std::mutex;

} // namespace KRC
