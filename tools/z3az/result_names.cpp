#include "result_names.h"

#include <cstdio>

namespace z3az::cli {

const char* ResultName(HRESULT result) {
    static const struct {
        HRESULT code;
        const char* name;
    } names[] = {
        {S_OK, "S_OK"},
        {S_FALSE, "S_FALSE"},
        {E_FAIL, "E_FAIL"},
        {E_NOTIMPL, "E_NOTIMPL"},
        {E_NOINTERFACE, "E_NOINTERFACE"},
        {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
        {E_POINTER, "E_POINTER"},
        {D3DERR_INVALIDCALL, "D3DERR_INVALIDCALL"},
        {D3DERR_DEVICELOST, "D3DERR_DEVICELOST"},
        {D3DERR_DEVICENOTRESET, "D3DERR_DEVICENOTRESET"},
        {D3DERR_NOTAVAILABLE, "D3DERR_NOTAVAILABLE"},
        {D3DERR_OUTOFVIDEOMEMORY, "D3DERR_OUTOFVIDEOMEMORY"},
        {D3DERR_WASSTILLDRAWING, "D3DERR_WASSTILLDRAWING"},
        {IMAGEERR_CANNOTCREATEFILE, "IMAGEERR_CANNOTCREATEFILE"},
    };
    for (const auto& entry : names) {
        if (entry.code == result) return entry.name;
    }
    return nullptr;
}

const char* DescribeResult(HRESULT result, char* buffer, unsigned size) {
    const char* name = ResultName(result);
    if (name) std::snprintf(buffer, size, "%s (0x%08X)", name, unsigned(result));
    else std::snprintf(buffer, size, "0x%08X", unsigned(result));
    return buffer;
}

}  // namespace z3az::cli
