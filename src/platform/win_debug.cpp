// Debugger output over standard error, with a copy kept for tests.
#include "platform/win_debug.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

struct DebugSink {
    std::mutex mutex;
    std::string text;
    bool echo = true;
};

DebugSink& Sink() {
    static DebugSink* sink = new DebugSink;  // lives for the whole process
    return *sink;
}

}  // namespace

extern "C" void OutputDebugStringA(LPCSTR text) {
    if (!text) return;
    DebugSink& s = Sink();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.text.append(text);
    if (s.echo) {
        std::fwrite(text, 1, std::strlen(text), stderr);
        std::fflush(stderr);
    }
}

namespace z3az {

std::string DebugOutput() {
    DebugSink& s = Sink();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.text;
}

void ClearDebugOutput() {
    DebugSink& s = Sink();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.text.clear();
}

void SetDebugOutputEcho(bool echo) {
    DebugSink& s = Sink();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.echo = echo;
}

}  // namespace z3az
