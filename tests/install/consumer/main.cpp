// Saves a 4 x 2 surface to the file named on the command line and into
// memory; exits 0 when both saves give the same bytes of a BMP file.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "z3az/z3az.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    IDirect3DDevice9* device = nullptr;
    if (FAILED(Z3azCreateDevice(&device))) return 3;
    IDirect3DSurface9* surface = nullptr;
    if (FAILED(device->CreateOffscreenPlainSurface(4, 2, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &surface,
                                                   nullptr))) {
        return 4;
    }
    device->ColorFill(surface, nullptr, 0x00336699);
    int status = 0;
    if (FAILED(z3az::SaveSurfaceToFile(argv[1], z3az::ImageFileBmp, surface, nullptr, nullptr))) status = 5;
    z3az::IDataBuffer* buffer = nullptr;
    if (status == 0 &&
        FAILED(z3az::SaveSurface(&buffer, z3az::ImageFileBmp, nullptr, nullptr, z3az::Memory, surface))) {
        status = 6;
    }
    if (status == 0) {
        std::ifstream in(argv[1], std::ios::binary);
        std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (file.size() != buffer->GetSize() || std::memcmp(file.data(), buffer->GetPointer(), file.size()) != 0 ||
            file.compare(0, 2, "BM") != 0) {
            status = 7;
        }
    }
    if (buffer) buffer->Release();
    surface->Release();
    device->Release();
    std::printf("status %d\n", status);
    return status;
}
