#include "platform/win_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/heap.h"

namespace {

// Handles carry the descriptor offset by a constant, so that neither null
// nor INVALID_HANDLE_VALUE can ever be a valid handle.
constexpr intptr_t kHandleBase = 0x1000;

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + kHandleBase); }

int DescriptorOf(HANDLE h) {
    const intptr_t v = reinterpret_cast<intptr_t>(h);
    if (v < kHandleBase || v - kHandleBase > INT32_MAX) return -1;
    const int fd = static_cast<int>(v - kHandleBase);
    return fcntl(fd, F_GETFD) == -1 ? -1 : fd;
}

z3az::WriteFileHook g_writeHook = nullptr;
void* g_writeHookContext = nullptr;
DWORD g_platformId = VER_PLATFORM_WIN32_NT;

HANDLE OpenUtf8(const char* name, DWORD access, DWORD shareMode, DWORD disposition, DWORD flags) {
    if (!name || !*name) return INVALID_HANDLE_VALUE;
    int mode;
    const bool read = access & (GENERIC_READ | GENERIC_ALL);
    const bool write = access & (GENERIC_WRITE | GENERIC_ALL);
    if (read && write) mode = O_RDWR;
    else if (write) mode = O_WRONLY;
    else if (read) mode = O_RDONLY;
    else return INVALID_HANDLE_VALUE;

    int create = 0;
    bool truncate = false;
    switch (disposition) {
        case CREATE_NEW: create = O_CREAT | O_EXCL; break;
        case CREATE_ALWAYS: create = O_CREAT; truncate = true; break;
        case OPEN_EXISTING: break;
        case OPEN_ALWAYS: create = O_CREAT; break;
        case TRUNCATE_EXISTING: truncate = true; break;
        default: return INVALID_HANDLE_VALUE;
    }
    if (truncate && !write) return INVALID_HANDLE_VALUE;

    // Never O_TRUNC: the file is truncated only once the lock is ours, so a
    // refused second open cannot destroy what the first one is writing.
    int fd;
    do {
        fd = open(name, mode | create | O_CLOEXEC, 0666);
    } while (fd == -1 && errno == EINTR);
    if (fd == -1) return INVALID_HANDLE_VALUE;

    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    // Regular files take the lock; devices such as /dev/full cannot be shared
    // meaningfully and are opened as they are.
    if (S_ISREG(st.st_mode)) {
        const int lock = (shareMode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB;
        int r;
        do {
            r = flock(fd, lock);
        } while (r == -1 && errno == EINTR);
        if (r != 0 || (truncate && ftruncate(fd, 0) != 0)) {
            close(fd);
            return INVALID_HANDLE_VALUE;
        }
    }
    if (flags & FILE_FLAG_DELETE_ON_CLOSE) unlink(name);
    return HandleOf(fd);
}

// Decodes one code point of UTF-16 at w[i] (i < count), advancing i.
uint32_t NextCodePoint(const WCHAR* w, size_t count, size_t& i) {
    uint32_t c = w[i++];
    if (c >= 0xD800 && c <= 0xDBFF) {
        if (i < count && w[i] >= 0xDC00 && w[i] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(w[i]) - 0xDC00);
            ++i;
        } else {
            c = 0xFFFD;
        }
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
        c = 0xFFFD;
    }
    return c;
}

size_t Utf8Length(uint32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }

void PutUtf8(uint32_t c, char* out) {
    unsigned char* o = reinterpret_cast<unsigned char*>(out);
    if (c < 0x80) {
        o[0] = static_cast<unsigned char>(c);
    } else if (c < 0x800) {
        o[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
        o[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        o[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
        o[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        o[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else {
        o[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
        o[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
        o[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        o[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, SECURITY_ATTRIBUTES*,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE) {
    return OpenUtf8(fileName, desiredAccess, shareMode, creationDisposition, flagsAndAttributes);
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, SECURITY_ATTRIBUTES*,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE) {
    if (!fileName) return INVALID_HANDLE_VALUE;
    const int needed = WideCharToMultiByte(CP_UTF8, 0, fileName, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return INVALID_HANDLE_VALUE;
    char* name = static_cast<char*>(z3az::Allocate(static_cast<size_t>(needed)));
    if (!name) return INVALID_HANDLE_VALUE;
    HANDLE h = INVALID_HANDLE_VALUE;
    if (WideCharToMultiByte(CP_UTF8, 0, fileName, -1, name, needed, nullptr, nullptr) == needed)
        h = OpenUtf8(name, desiredAccess, shareMode, creationDisposition, flagsAndAttributes);
    z3az::Free(name);
    return h;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, OVERLAPPED* overlapped) {
    if (bytesWritten) *bytesWritten = 0;
    const int fd = DescriptorOf(file);
    if (fd < 0 || overlapped || (!buffer && bytesToWrite)) return FALSE;
    if (g_writeHook && !g_writeHook(g_writeHookContext, file, buffer, bytesToWrite)) return FALSE;
    const char* p = static_cast<const char*>(buffer);
    size_t left = bytesToWrite;
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return FALSE;
        }
        if (n == 0) return FALSE;
        p += n;
        left -= static_cast<size_t>(n);
        if (bytesWritten) *bytesWritten += static_cast<DWORD>(n);
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE object) {
    const int fd = DescriptorOf(object);
    if (fd < 0) return FALSE;
    // close releases the lock with the last descriptor of the open file.
    return close(fd) == 0 || errno == EINTR ? TRUE : FALSE;
}

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
    if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) return FALSE;
    info->dwMajorVersion = 5;
    info->dwMinorVersion = 1;
    info->dwBuildNumber = 2600;
    info->dwPlatformId = g_platformId;
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    return TRUE;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR out, int outSize,
                        LPCSTR defaultChar, BOOL* usedDefaultChar) {
    if ((codePage != CP_UTF8 && codePage != CP_ACP) || flags != 0 || !wide || wideCount == 0 ||
        wideCount < -1 || outSize < 0 || (outSize > 0 && !out) || defaultChar || usedDefaultChar)
        return 0;
    size_t count;
    if (wideCount == -1) {
        count = 0;
        while (wide[count] != 0) ++count;
        ++count;  // the terminator is converted too
    } else {
        count = static_cast<size_t>(wideCount);
    }
    size_t needed = 0;
    for (size_t i = 0; i < count;) {
        needed += Utf8Length(NextCodePoint(wide, count, i));
        if (needed > INT32_MAX) return 0;
    }
    if (outSize == 0) return static_cast<int>(needed);
    if (needed > static_cast<size_t>(outSize)) return 0;
    size_t o = 0;
    for (size_t i = 0; i < count;) {
        const uint32_t c = NextCodePoint(wide, count, i);
        PutUtf8(c, out + o);
        o += Utf8Length(c);
    }
    return static_cast<int>(o);
}

namespace z3az {

void SetWriteFileHook(WriteFileHook hook, void* context) {
    g_writeHook = hook;
    g_writeHookContext = context;
}

void SetReportedPlatformId(DWORD platformId) { g_platformId = platformId; }

int FileDescriptorOf(HANDLE file) { return DescriptorOf(file); }

}  // namespace z3az
