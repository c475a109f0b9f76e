// The in-memory registry. One tree per predefined root; an open handle is an
// entry in a table of handles that names the key by its root and path, so
// that a handle never points at freed memory even after ClearRegistry.
#include "platform/win_registry.h"

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Value {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct Key {
    std::map<std::string, Key> children;  // by lower-case name
    std::map<std::string, Value> values;  // by lower-case name
};

struct Registry {
    std::mutex mutex;
    std::map<uintptr_t, Key> roots;
    // Open handles: handle number -> root and lower-case path parts.
    struct Open {
        uintptr_t root;
        std::vector<std::string> path;
    };
    std::map<uintptr_t, Open> handles;
    uintptr_t nextHandle = 0x1000;
    unsigned long openCalls = 0;
};

Registry& State() {
    static Registry* registry = new Registry;  // lives for the whole process
    return *registry;
}

bool IsRoot(HKEY key) {
    uintptr_t v = reinterpret_cast<uintptr_t>(key);
    return v >= 0x80000000u && v <= 0x80000006u;
}

std::string Lower(const char* s) {
    std::string out;
    for (; s && *s; ++s) {
        char c = *s;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        out.push_back(c);
    }
    return out;
}

std::vector<std::string> SplitPath(const char* subKey) {
    std::vector<std::string> parts;
    std::string lower = Lower(subKey);
    std::string part;
    for (char c : lower) {
        if (c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

// Resolves a root or open handle to its root and path; false for a bad handle.
bool Resolve(Registry& r, HKEY key, uintptr_t& root, std::vector<std::string>& path) {
    if (IsRoot(key)) {
        root = reinterpret_cast<uintptr_t>(key);
        path.clear();
        return true;
    }
    auto it = r.handles.find(reinterpret_cast<uintptr_t>(key));
    if (it == r.handles.end()) return false;
    root = it->second.root;
    path = it->second.path;
    return true;
}

// Finds the key at root/path; creates the missing keys when `create`.
Key* Find(Registry& r, uintptr_t root, const std::vector<std::string>& path, bool create) {
    auto rootIt = r.roots.find(root);
    if (rootIt == r.roots.end()) {
        if (!create) return path.empty() ? &r.roots[root] : nullptr;
        rootIt = r.roots.emplace(root, Key{}).first;
    }
    Key* k = &rootIt->second;
    for (const std::string& part : path) {
        auto it = k->children.find(part);
        if (it == k->children.end()) {
            if (!create) return nullptr;
            it = k->children.emplace(part, Key{}).first;
        }
        k = &it->second;
    }
    return k;
}

LONG OpenOrCreate(HKEY key, LPCSTR subKey, PHKEY result, bool create) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Registry& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (!create) ++r.openCalls;
    uintptr_t root;
    std::vector<std::string> path;
    if (!Resolve(r, key, root, path)) return ERROR_INVALID_HANDLE;
    for (std::string& part : SplitPath(subKey)) path.push_back(std::move(part));
    if (!Find(r, root, path, create)) return ERROR_FILE_NOT_FOUND;
    uintptr_t handle = r.nextHandle;
    r.nextHandle += 0x10;
    r.handles.emplace(handle, Registry::Open{root, std::move(path)});
    *result = reinterpret_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
    return OpenOrCreate(key, subKey, result, false);
}

LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
    return OpenOrCreate(key, subKey, result, true);
}

LONG RegCloseKey(HKEY key) {
    if (IsRoot(key)) return ERROR_SUCCESS;
    Registry& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.handles.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                      LPBYTE data, LPDWORD size) {
    if (reserved) return ERROR_INVALID_PARAMETER;
    if (data && !size) return ERROR_INVALID_PARAMETER;
    Registry& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    uintptr_t root;
    std::vector<std::string> path;
    if (!Resolve(r, key, root, path)) return ERROR_INVALID_HANDLE;
    Key* k = Find(r, root, path, false);
    if (!k) return ERROR_FILE_NOT_FOUND;  // the key went away under the handle
    auto it = k->values.find(Lower(valueName));
    if (it == k->values.end()) return ERROR_FILE_NOT_FOUND;
    const Value& v = it->second;
    DWORD needed = static_cast<DWORD>(v.data.size());
    if (type) *type = v.type;
    if (data) {
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        if (needed) std::memcpy(data, v.data.data(), needed);
    }
    if (size) *size = needed;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                    const BYTE* data, DWORD size) {
    if (reserved) return ERROR_INVALID_PARAMETER;
    if (!data && size) return ERROR_INVALID_PARAMETER;
    Registry& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    uintptr_t root;
    std::vector<std::string> path;
    if (!Resolve(r, key, root, path)) return ERROR_INVALID_HANDLE;
    Key* k = Find(r, root, path, IsRoot(key));
    if (!k) return ERROR_FILE_NOT_FOUND;
    Value& v = k->values[Lower(valueName)];
    v.type = type;
    v.data.assign(data, data + size);
    return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
    Registry& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    uintptr_t root;
    std::vector<std::string> path;
    if (!Resolve(r, key, root, path)) return ERROR_INVALID_HANDLE;
    Key* k = Find(r, root, path, false);
    if (!k) return ERROR_FILE_NOT_FOUND;
    return k->values.erase(Lower(valueName)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

}  // extern "C"

namespace z3az {

void ClearRegistry() {
    Registry& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.roots.clear();
}

unsigned long OpenRegistryKeyCount() {
    Registry& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.handles.size();
}

unsigned long RegistryOpenCallCount() {
    Registry& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.openCalls;
}

}  // namespace z3az
