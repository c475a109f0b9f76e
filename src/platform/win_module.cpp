// The module table. A handle is the module's entry; entries are never freed
// while the process runs (UnregisterModule only marks them forgotten), so a
// stale handle can be recognised instead of pointing at freed memory.
#include "platform/win_module.h"

#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct HINSTANCE__ {
    std::string name;  // normalised
    std::vector<std::pair<std::string, FARPROC>> exports;
    unsigned long loadCount = 0;
    bool known = false;
};

namespace {

struct ModuleTable {
    std::mutex mutex;
    std::vector<HINSTANCE__*> modules;
    unsigned long loadCalls = 0;
    unsigned long procCalls = 0;
};

ModuleTable& Table() {
    static ModuleTable* table = new ModuleTable;  // lives for the whole process
    return *table;
}

std::string Normalise(const char* name) {
    if (!name) return {};
    const char* base = name;
    for (const char* p = name; *p; ++p) {
        if (*p == '\\' || *p == '/') base = p + 1;
    }
    std::string out;
    for (const char* p = base; *p; ++p) {
        char c = *p;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        out.push_back(c);
    }
    if (!out.empty() && out.find('.') == std::string::npos) out += ".dll";
    return out;
}

HINSTANCE__* Find(ModuleTable& t, const std::string& name) {
    for (HINSTANCE__* m : t.modules) {
        if (m->known && m->name == name) return m;
    }
    return nullptr;
}

bool IsLive(ModuleTable& t, HMODULE module) {
    for (HINSTANCE__* m : t.modules) {
        if (m == module) return m->known;
    }
    return false;
}

}  // namespace

extern "C" {

HMODULE GetModuleHandleA(LPCSTR moduleName) {
    ModuleTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    HINSTANCE__* m = Find(t, Normalise(moduleName));
    return (m && m->loadCount > 0) ? m : nullptr;
}

HMODULE LoadLibraryA(LPCSTR fileName) {
    ModuleTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    ++t.loadCalls;
    HINSTANCE__* m = Find(t, Normalise(fileName));
    if (!m) return nullptr;
    ++m->loadCount;
    return m;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    ModuleTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    ++t.procCalls;
    if (!procName || !IsLive(t, module) || module->loadCount == 0) return nullptr;
    for (const auto& e : module->exports) {
        if (e.first == procName) return e.second;
    }
    return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
    ModuleTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    if (!IsLive(t, module) || module->loadCount == 0) return FALSE;
    --module->loadCount;
    return TRUE;
}

}  // extern "C"

namespace z3az {

bool RegisterModule(const char* name, const ModuleExport* exports, size_t exportCount,
                    bool loaded) {
    std::string key = Normalise(name);
    if (key.empty()) return false;
    ModuleTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    HINSTANCE__* m = Find(t, key);
    if (!m) {
        m = new (std::nothrow) HINSTANCE__;
        if (!m) return false;
        m->name = key;
        m->known = true;
        t.modules.push_back(m);
    }
    m->exports.clear();
    for (size_t i = 0; i < exportCount; ++i) {
        if (exports[i].name) m->exports.emplace_back(exports[i].name, exports[i].address);
    }
    if (loaded) ++m->loadCount;
    return true;
}

void UnregisterModule(const char* name) {
    ModuleTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    HINSTANCE__* m = Find(t, Normalise(name));
    if (!m) return;
    m->known = false;
    m->loadCount = 0;
    m->exports.clear();
}

unsigned long ModuleLoadCount(const char* name) {
    ModuleTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    HINSTANCE__* m = Find(t, Normalise(name));
    return m ? m->loadCount : 0;
}

unsigned long LoadLibraryCallCount() {
    ModuleTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.loadCalls;
}

unsigned long GetProcAddressCallCount() {
    ModuleTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.procCalls;
}

}  // namespace z3az
