// The save-file dialog and the message box, shown with GTK 3, and a scripted
// stand-in for the user that tests and unattended hosts install instead.
#pragma once

#include "platform/win_types.h"

// The fields of the save dialog's request and answer that the library uses.
struct OPENFILENAMEA {
    DWORD lStructSize;    // sizeof(OPENFILENAMEA)
    HWND hwndOwner;       // the dialog is kept above this window (0: none)
    LPCSTR lpstrFilter;   // pairs of zero-terminated texts: name, patterns
                          // (separated by ';'), the list ended by an extra zero
    DWORD nFilterIndex;   // 1-based; in: the preselected filter, out: the chosen one
    LPSTR lpstrFile;      // in: initial name (may be empty), out: the chosen name
    DWORD nMaxFile;       // size of lpstrFile in bytes, the zero included
    LPCSTR lpstrTitle;    // null: a default title
    DWORD Flags;          // OFN_OVERWRITEPROMPT
    LPCSTR lpstrDefExt;   // added (after a dot) to a name without extension;
                          // null: the name is used exactly as given
};
typedef OPENFILENAMEA* LPOPENFILENAMEA;

// Asks before an existing file is replaced.
#define OFN_OVERWRITEPROMPT 0x00000002u

// Buttons of a message box, and what it returns.
#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_YESNOCANCEL 0x00000003u
#define MB_YESNO 0x00000004u
#define MB_RETRYCANCEL 0x00000005u
#define MB_TYPEMASK 0x0000000Fu
#define MB_ICONERROR 0x00000010u
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONWARNING 0x00000030u
#define MB_ICONINFORMATION 0x00000040u
#define MB_ICONMASK 0x000000F0u

#define IDOK 1
#define IDCANCEL 2
#define IDRETRY 4
#define IDYES 6
#define IDNO 7

extern "C" {
// TRUE when the user confirmed a name: it is in lpstrFile exactly as chosen
// and nFilterIndex holds the chosen filter. FALSE on cancel, on a bad request
// (wrong lStructSize, no buffer, an unterminated initial name), when the name does not
// fit into nMaxFile bytes, and when no dialog can be shown (no display).
BOOL GetSaveFileNameA(LPOPENFILENAMEA request);
// Shows `text` under `caption` and waits until it is dismissed; returns the
// button pressed (IDOK ...), or 0 when no message box can be shown, in which
// case the text goes to standard error so that it is not lost.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
}

namespace z3az {

// A stand-in for the user. While one is installed the dialogs show nothing:
// save dialogs take their answers from `saves` in order (cancelled once they
// run out), message boxes are answered with IDOK (or IDYES, IDRETRY, the
// first button), and every request is recorded. Plain fixed-size records, so
// that scripting allocates nothing.
struct DialogScript {
    static constexpr unsigned kMaxAnswers = 8;
    static constexpr unsigned kMaxRecords = 16;
    static constexpr unsigned kTextSize = 256;
    static constexpr unsigned kFilterSize = 512;

    struct SaveAnswer {
        bool accept;             // false: the user cancels
        char name[2048];         // the name the user gives
        DWORD filterIndex;       // the filter the user chooses (1-based)
    };
    SaveAnswer saves[kMaxAnswers];
    unsigned saveCount;          // answers given
    unsigned savesUsed;          // answers taken so far

    // What each save dialog was asked to show.
    struct SaveRequest {
        HWND owner;
        char title[kTextSize];    // empty when lpstrTitle was null
        char filter[kFilterSize]; // lpstrFilter with its zeros, cut at kFilterSize
        size_t filterLength;      // bytes of the list, final extra zero included
        DWORD filterIndex;        // the preselected filter
        char initialName[kTextSize];
        DWORD maxFile;
        DWORD flags;
        bool hasDefaultExtension;
    };
    SaveRequest saveRequests[kMaxRecords];
    unsigned saveRequestCount;   // every request counts; the first kMaxRecords are kept

    struct Message {
        HWND owner;
        char text[kTextSize];
        char caption[kTextSize];
        UINT type;
    };
    Message messages[kMaxRecords];
    unsigned messageCount;       // every message counts; the first kMaxRecords are kept
};

// Empties a script: no answers (every dialog is cancelled), no records.
void ClearDialogScript(DialogScript& script);
// Appends an answer; false when the script is full or the name does not fit.
bool ScriptSaveAnswer(DialogScript& script, const char* name, DWORD filterIndex);
bool ScriptSaveCancel(DialogScript& script);

// Installs a script (null: back to the real dialogs). The caller keeps it
// alive while installed. Returns the one installed before.
DialogScript* InstallDialogScript(DialogScript* script);

}  // namespace z3az
