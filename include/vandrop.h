/* Vandrop: screenshots of a window a host renders into with Direct3D 9.
 *
 * SavePicture copies the top-left width x height pixels of the window into a
 * surface of the host's device, asks the user for a file name and a type
 * (BMP, JPEG or PNG) in a save dialog, and writes the file. Failures are shown
 * to the user in message boxes; the host learns only whether everything
 * worked. It runs on the caller's thread and returns once the dialog and any
 * message box are closed.
 *
 * The window is an X11 window id, read through a display connection of the
 * library's own opened from DISPLAY. */
#ifndef VANDROP_H
#define VANDROP_H

#include <stdint.h>

#ifdef __cplusplus
struct IDirect3DDevice9;
extern "C" {
#else
typedef struct IDirect3DDevice9 IDirect3DDevice9;
#endif

/* reserved: not read. Returns 1 when the picture was copied, a file chosen
 * and written; 0 otherwise (nothing saved, or saved with an error shown). */
unsigned char SavePicture(uint32_t reserved, struct IDirect3DDevice9* device, uintptr_t window,
                          int32_t width, int32_t height);

#ifdef __cplusplus
}
#endif

#endif /* VANDROP_H */
