// SavePicture: copies a window into a surface, asks the user where to save
// it and as what, and writes the file.

#include "vandrop.h"

#include "platform/win_dialog.h"
#include "platform/win_gdi.h"
#include "save/surface_save.h"
#include "z3az/d3d9.h"

namespace z3az {
namespace {

constexpr char kCaption[] = "Errore";
constexpr char kCreateFailed[] = "Errore creazione";
constexpr char kCopyFailed[] = "Stretch Errore";
constexpr char kSaveFailed[] = "Errore";

// The save dialog's filters: name and pattern of each, the list ended by an
// extra zero. The first one is preselected.
constexpr char kFilters[] =
    "Bitmap Image(*.bmp)\0*.bmp\0"
    "JPEG Image(*.jpg)\0*.jpg\0"
    "PNG Files(*.png)\0*.png\0";
constexpr char kTitle[] = "Save your screenshot to file...";
constexpr DWORD kFileBufferSize = 2048;

// Holds the capture surface and releases it on every way out.
class SurfaceHolder {
public:
    SurfaceHolder() = default;
    ~SurfaceHolder() {
        if (surface_) surface_->Release();
    }
    SurfaceHolder(const SurfaceHolder&) = delete;
    SurfaceHolder& operator=(const SurfaceHolder&) = delete;
    IDirect3DSurface9** Out() { return &surface_; }
    IDirect3DSurface9* get() const { return surface_; }

private:
    IDirect3DSurface9* surface_ = nullptr;
};

void Tell(const char* text) { MessageBoxA(0, text, kCaption, MB_OK); }

// The file type of a filter: 1 BMP, 2 JPEG, 3 PNG; any other index i gives
// i - 1, which the saver refuses unless it names a type.
uint32_t FileTypeOfFilter(DWORD index) {
    return index == 3 ? static_cast<uint32_t>(ImageFilePng) : static_cast<uint32_t>(index - 1);
}

bool Save(IDirect3DDevice9* device, HWND window, int32_t width, int32_t height) {
    bool result = true;

    // The capture surface. Without it there is nothing to copy into or save,
    // so the user is told and no dialog follows. A null device or a size that
    // is not positive is a creation that cannot succeed.
    SurfaceHolder surface;
    if (!device || width <= 0 || height <= 0 ||
        device->CreateOffscreenPlainSurface(static_cast<UINT>(width), static_cast<UINT>(height),
                                            D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, surface.Out(),
                                            nullptr) != D3D_OK ||
        !surface.get()) {
        Tell(kCreateFailed);
        return false;
    }

    device->ColorFill(surface.get(), nullptr, 0);

    HDC windowDC = GetDC(window);
    HDC surfaceDC = nullptr;
    surface.get()->GetDC(&surfaceDC);
    SetBkMode(surfaceDC, TRANSPARENT);
    if (!StretchBlt(surfaceDC, 0, 0, width, height, windowDC, 0, 0, width, height, SRCCOPY)) {
        // Whatever the surface holds (black where nothing was copied) is
        // still offered for saving.
        result = false;
        Tell(kCopyFailed);
    }
    if (surfaceDC) surface.get()->ReleaseDC(surfaceDC);
    if (windowDC) ReleaseDC(window, windowDC);

    char fileName[kFileBufferSize] = {};
    OPENFILENAMEA request = {};
    request.lStructSize = sizeof request;
    request.hwndOwner = window;
    request.lpstrFilter = kFilters;
    request.nFilterIndex = 1;
    request.lpstrFile = fileName;
    request.nMaxFile = kFileBufferSize;
    request.lpstrTitle = kTitle;
    request.Flags = OFN_OVERWRITEPROMPT;
    if (GetSaveFileNameA(&request) != TRUE) return false;

    if (SaveSurfaceToFile(fileName, FileTypeOfFilter(request.nFilterIndex), surface.get(), nullptr,
                          nullptr) != S_OK) {
        Tell(kSaveFailed);
        result = false;
    }
    return result;
}

}  // namespace
}  // namespace z3az

extern "C" __attribute__((visibility("default"))) unsigned char SavePicture(
    uint32_t /*reserved*/, IDirect3DDevice9* device, uintptr_t window, int32_t width, int32_t height) {
    return z3az::Save(device, static_cast<HWND>(window), width, height) ? 1 : 0;
}
