// Debugger output. OutputDebugStringA writes its text to standard error and
// appends it to a process-wide sink that tests read and clear.
#pragma once

#include <string>

#include "platform/win_types.h"

extern "C" void OutputDebugStringA(LPCSTR text);

namespace z3az {

// Everything written since the process started or the last clear.
std::string DebugOutput();
void ClearDebugOutput();
// Whether OutputDebugStringA also writes to standard error (default true).
void SetDebugOutputEcho(bool echo);

}  // namespace z3az
