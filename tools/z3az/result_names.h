// Names of the result codes the library and the runtime return, for
// messages such as "D3DERR_INVALIDCALL (0x8876086C)".
#pragma once

#include "z3az/types.h"

namespace z3az::cli {

// The symbolic name of a code, or null when it has none.
const char* ResultName(HRESULT result);

// "NAME (0xXXXXXXXX)", or just the number, into a buffer of at least 64 bytes.
const char* DescribeResult(HRESULT result, char* buffer, unsigned size);

}  // namespace z3az::cli
