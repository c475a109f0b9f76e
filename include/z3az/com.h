// The COM-style object model shared by the Direct3D 9 interfaces and the
// library's own memory buffer: interface ids and reference counting.
#pragma once

#include <cstdint>
#include <cstring>

#include "z3az/types.h"

#ifndef Z3AZ_GUID_DEFINED
#define Z3AZ_GUID_DEFINED
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef const GUID& REFIID;
typedef const GUID& REFGUID;
inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
#endif

typedef uint32_t ULONG;

// {00000000-0000-0000-C000-000000000046}
inline constexpr GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;  // objects are destroyed through Release
};
