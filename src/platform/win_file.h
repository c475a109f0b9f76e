// Files, the system version and wide-string conversion, over POSIX.
//
// A file handle wraps a POSIX file descriptor. Share mode 0 takes an
// exclusive lock on the file (flock), so a second open of the same file,
// from this process or another, is refused while the first is open.
// Wide strings are UTF-16 and reach the file system as UTF-8.
#pragma once

#include <cstdint>

#include "platform/win_types.h"

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_ALL 0x10000000u

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u

#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u

#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100u
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000u

#define CP_ACP 0u
#define CP_UTF8 65001u

#define VER_PLATFORM_WIN32s 0u
#define VER_PLATFORM_WIN32_WINDOWS 1u
#define VER_PLATFORM_WIN32_NT 2u

struct SECURITY_ATTRIBUTES;
struct OVERLAPPED;

// 148 bytes, the size callers put into dwOSVersionInfoSize.
struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};
typedef OSVERSIONINFOA* LPOSVERSIONINFOA;

// Returns INVALID_HANDLE_VALUE on failure. Supported: GENERIC_READ,
// GENERIC_WRITE and GENERIC_ALL access; the five creation dispositions;
// FILE_FLAG_DELETE_ON_CLOSE (the name is removed at once, the data lives
// until the handle is closed). Security attributes and template are ignored.
HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);

// Writes all the bytes or fails. bytesWritten (may be null) receives the
// count actually written. overlapped must be null.
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               OVERLAPPED* overlapped);

BOOL CloseHandle(HANDLE object);

// Fills the record when its size field is sizeof(OSVERSIONINFOA) (148).
BOOL GetVersionExA(LPOSVERSIONINFOA versionInformation);

// UTF-16 to UTF-8 (CP_UTF8, and CP_ACP, which is UTF-8 here). wideCount -1
// converts up to and including the terminator. With outSize 0 returns the
// bytes needed; otherwise the bytes stored, or 0 when they do not fit.
// Unpaired surrogates become U+FFFD. defaultChar and usedDefaultChar must be
// null for UTF-8, as on the original platform.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR out,
                        int outSize, LPCSTR defaultChar, BOOL* usedDefaultChar);

namespace z3az {

// Test controls of the file services.
//
// The hook sees every WriteFile call before it is carried out; returning
// FALSE makes that call fail without writing anything. Null removes it.
typedef BOOL (*WriteFileHook)(void* context, HANDLE file, const void* data, DWORD length);
void SetWriteFileHook(WriteFileHook hook, void* context);

// The platform id GetVersionExA reports; VER_PLATFORM_WIN32_NT by default.
void SetReportedPlatformId(DWORD platformId);

// The POSIX descriptor behind a handle, or -1.
int FileDescriptorOf(HANDLE file);

}  // namespace z3az
