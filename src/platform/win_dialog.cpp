// The save-file dialog and the message box with GTK 3, and the scripted user.
//
// GTK is started on first use when the host has not started it: without
// touching the host's locale (gtk_init would call setlocale(LC_ALL, "")), on
// the X11 backend when there is one, since an HWND is an X11 window. With no
// display GTK cannot start; the save dialog then reports a cancel and a
// message goes to standard error. All calls must come from one thread, the
// one the host's event loop (if it has GTK) runs on.

#include "platform/win_dialog.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>

#include "platform/heap.h"

namespace {

z3az::DialogScript* g_script = nullptr;

// Copies a string into a fixed buffer, cut to fit; an absent string is empty.
void CopyText(char* out, size_t size, const char* in) {
    if (!in) in = "";
    size_t n = std::strlen(in);
    if (n >= size) n = size - 1;
    std::memcpy(out, in, n);
    out[n] = 0;
}

// Length of a filter list in bytes, up to and including its final extra zero.
size_t FilterListLength(const char* list) {
    if (!list) return 0;
    size_t n = 0;
    while (list[n]) n += std::strlen(list + n) + 1;  // one text and its zero
    return n + 1;
}

// The checks both the real and the scripted dialog make of a request.
bool ValidRequest(const OPENFILENAMEA* request) {
    if (!request || request->lStructSize != sizeof(OPENFILENAMEA)) return false;
    if (!request->lpstrFile || request->nMaxFile == 0) return false;
    // The initial name must be terminated inside the buffer.
    return std::memchr(request->lpstrFile, 0, request->nMaxFile) != nullptr;
}

// Puts the chosen name into the request's buffer, with the default extension
// when one was asked for and the name has none. False when it does not fit.
bool StoreName(OPENFILENAMEA* request, const char* name) {
    const char* base = std::strrchr(name, '/');
    base = base ? base + 1 : name;
    const char* ext = request->lpstrDefExt;
    const bool addExtension = ext && *ext && !std::strchr(base, '.');
    const size_t nameLength = std::strlen(name);
    const size_t total = nameLength + (addExtension ? 1 + std::strlen(ext) : 0);
    if (total + 1 > request->nMaxFile) return false;
    std::memcpy(request->lpstrFile, name, nameLength);
    if (addExtension) {
        request->lpstrFile[nameLength] = '.';
        std::memcpy(request->lpstrFile + nameLength + 1, ext, std::strlen(ext));
    }
    request->lpstrFile[total] = 0;
    return true;
}

// ---------------------------------------------------------------------------
// Scripted user
// ---------------------------------------------------------------------------

BOOL ScriptedSave(z3az::DialogScript& script, OPENFILENAMEA* request) {
    if (script.saveRequestCount < z3az::DialogScript::kMaxRecords) {
        auto& r = script.saveRequests[script.saveRequestCount];
        r.owner = request->hwndOwner;
        CopyText(r.title, sizeof r.title, request->lpstrTitle);
        const size_t length = FilterListLength(request->lpstrFilter);
        r.filterLength = length;
        std::memset(r.filter, 0, sizeof r.filter);
        if (length) std::memcpy(r.filter, request->lpstrFilter, length < sizeof r.filter ? length : sizeof r.filter);
        r.filterIndex = request->nFilterIndex;
        CopyText(r.initialName, sizeof r.initialName, request->lpstrFile);
        r.maxFile = request->nMaxFile;
        r.flags = request->Flags;
        r.hasDefaultExtension = request->lpstrDefExt != nullptr;
    }
    ++script.saveRequestCount;

    if (script.savesUsed >= script.saveCount) return FALSE;
    const auto& answer = script.saves[script.savesUsed++];
    if (!answer.accept) return FALSE;
    if (!StoreName(request, answer.name)) return FALSE;
    request->nFilterIndex = answer.filterIndex;
    return TRUE;
}

int ScriptedMessage(z3az::DialogScript& script, HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    if (script.messageCount < z3az::DialogScript::kMaxRecords) {
        auto& m = script.messages[script.messageCount];
        m.owner = owner;
        CopyText(m.text, sizeof m.text, text);
        CopyText(m.caption, sizeof m.caption, caption);
        m.type = type;
    }
    ++script.messageCount;
    switch (type & MB_TYPEMASK) {
        case MB_YESNO:
        case MB_YESNOCANCEL: return IDYES;
        case MB_RETRYCANCEL: return IDRETRY;
        default: return IDOK;
    }
}

// ---------------------------------------------------------------------------
// GTK
// ---------------------------------------------------------------------------

// Starts GTK unless the host already has; false when there is no display.
bool StartGtk() {
    static bool attempted = false;
    if (gdk_display_get_default()) return true;  // the host runs GTK, or we started it
    if (!attempted) {
        attempted = true;
        // Both must come before the first gtk_init_check, and only once.
        gtk_disable_setlocale();
        gdk_set_allowed_backends("x11,*");
    }
    return gtk_init_check(nullptr, nullptr) && gdk_display_get_default();
}

// A string GTK can show: the text itself when it is UTF-8, else a repaired copy.
class Utf8 {
public:
    explicit Utf8(const char* text) {
        if (!text) text = "";
        if (g_utf8_validate(text, -1, nullptr)) {
            text_ = text;
        } else {
            copy_ = g_utf8_make_valid(text, -1);
            text_ = copy_;
        }
    }
    ~Utf8() { g_free(copy_); }
    Utf8(const Utf8&) = delete;
    Utf8& operator=(const Utf8&) = delete;
    const char* get() const { return text_; }

private:
    const char* text_ = nullptr;
    char* copy_ = nullptr;
};

// Keeps a realized dialog above the host's X11 window, when there is one.
// The wrapper of the foreign window lives as long as the dialog.
GdkWindow* SetOwner(GtkWidget* dialog, HWND owner) {
    if (!owner) return nullptr;
    GdkDisplay* display = gtk_widget_get_display(dialog);
    if (!GDK_IS_X11_DISPLAY(display)) return nullptr;
    gtk_widget_realize(dialog);
    GdkWindow* foreign = gdk_x11_window_foreign_new_for_display(display, static_cast<Window>(owner));
    if (foreign) gdk_window_set_transient_for(gtk_widget_get_window(dialog), foreign);
    return foreign;
}

// Destroys a dialog and lets GTK take it off the screen before returning.
void CloseDialog(GtkWidget* dialog, GdkWindow* foreign) {
    gtk_widget_destroy(dialog);
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    if (foreign) g_object_unref(foreign);
}

// Adds the filters of a request's list; returns how many there are, and puts
// the filter objects (owned by the chooser) into `filters` (AllocateArray).
unsigned AddFilters(GtkFileChooser* chooser, const char* list, GtkFileFilter*** filters) {
    *filters = nullptr;
    if (!list) return 0;
    unsigned count = 0;
    for (const char* p = list; *p;) {
        const char* pattern = p + std::strlen(p) + 1;
        if (!*pattern) break;  // a name without patterns ends the list
        ++count;
        p = pattern + std::strlen(pattern) + 1;
    }
    if (count == 0) return 0;
    auto* array = static_cast<GtkFileFilter**>(z3az::AllocateArray(count, sizeof(GtkFileFilter*)));
    if (!array) return 0;
    const char* p = list;
    for (unsigned i = 0; i < count; ++i) {
        const char* pattern = p + std::strlen(p) + 1;
        GtkFileFilter* filter = gtk_file_filter_new();
        {
            Utf8 name(p);
            gtk_file_filter_set_name(filter, name.get());
        }
        // "*.jpg;*.jpeg": several patterns separated by semicolons.
        for (const char* q = pattern; *q;) {
            const char* end = std::strchr(q, ';');
            size_t n = end ? static_cast<size_t>(end - q) : std::strlen(q);
            if (n) {
                char* one = g_strndup(q, n);
                gtk_file_filter_add_pattern(filter, one);
                g_free(one);
            }
            q += n;
            if (*q == ';') ++q;
        }
        gtk_file_chooser_add_filter(chooser, filter);
        array[i] = filter;
        p = pattern + std::strlen(pattern) + 1;
    }
    *filters = array;
    return count;
}

BOOL GtkSave(OPENFILENAMEA* request) {
    if (!StartGtk()) return FALSE;

    Utf8 title(request->lpstrTitle ? request->lpstrTitle : "Save As");
    GtkWidget* dialog = gtk_file_chooser_dialog_new(title.get(), nullptr, GTK_FILE_CHOOSER_ACTION_SAVE,
                                                    "_Cancel", GTK_RESPONSE_CANCEL, "_Save",
                                                    GTK_RESPONSE_ACCEPT, nullptr);
    if (!dialog) return FALSE;
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, (request->Flags & OFN_OVERWRITEPROMPT) != 0);

    GtkFileFilter** filters = nullptr;
    const unsigned count = AddFilters(chooser, request->lpstrFilter, &filters);
    if (count) {
        DWORD index = request->nFilterIndex;
        if (index < 1 || index > count) index = 1;
        gtk_file_chooser_set_filter(chooser, filters[index - 1]);
    }

    if (request->lpstrFile[0]) {
        if (std::strchr(request->lpstrFile, '/')) {
            gtk_file_chooser_set_filename(chooser, request->lpstrFile);
        } else {
            Utf8 name(request->lpstrFile);
            gtk_file_chooser_set_current_name(chooser, name.get());
        }
    }

    GdkWindow* foreign = SetOwner(dialog, request->hwndOwner);
    BOOL result = FALSE;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        gchar* name = gtk_file_chooser_get_filename(chooser);
        if (name && StoreName(request, name)) {
            GtkFileFilter* chosen = gtk_file_chooser_get_filter(chooser);
            for (unsigned i = 0; i < count; ++i)
                if (filters[i] == chosen) request->nFilterIndex = i + 1;
            result = TRUE;
        }
        g_free(name);
    }
    CloseDialog(dialog, foreign);
    z3az::Free(filters);
    return result;
}

// Buttons of each message box type: label and the value it returns.
struct ButtonSet {
    UINT type;
    struct {
        const char* label;
        int id;
    } buttons[3];
    int closeId;  // what closing the window answers
};
constexpr ButtonSet kButtonSets[] = {
    {MB_OK, {{"_OK", IDOK}, {nullptr, 0}, {nullptr, 0}}, IDOK},
    {MB_OKCANCEL, {{"_OK", IDOK}, {"_Cancel", IDCANCEL}, {nullptr, 0}}, IDCANCEL},
    {MB_YESNOCANCEL, {{"_Yes", IDYES}, {"_No", IDNO}, {"_Cancel", IDCANCEL}}, IDCANCEL},
    {MB_YESNO, {{"_Yes", IDYES}, {"_No", IDNO}, {nullptr, 0}}, IDNO},
    {MB_RETRYCANCEL, {{"_Retry", IDRETRY}, {"_Cancel", IDCANCEL}, {nullptr, 0}}, IDCANCEL},
};

GtkMessageType MessageKind(UINT type) {
    switch (type & MB_ICONMASK) {
        case MB_ICONERROR: return GTK_MESSAGE_ERROR;
        case MB_ICONQUESTION: return GTK_MESSAGE_QUESTION;
        case MB_ICONWARNING: return GTK_MESSAGE_WARNING;
        case MB_ICONINFORMATION: return GTK_MESSAGE_INFO;
        default: return GTK_MESSAGE_OTHER;
    }
}

int GtkMessage(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    const ButtonSet* set = nullptr;
    for (const auto& s : kButtonSets)
        if (s.type == (type & MB_TYPEMASK)) set = &s;
    if (!set) return 0;
    if (!StartGtk()) {
        std::fprintf(stderr, "%s: %s\n", caption ? caption : "Error", text ? text : "");
        return 0;
    }

    Utf8 body(text);
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, MessageKind(type),
                                               GTK_BUTTONS_NONE, "%s", body.get());
    if (!dialog) return 0;
    {
        Utf8 title(caption ? caption : "Error");
        gtk_window_set_title(GTK_WINDOW(dialog), title.get());
    }
    for (const auto& b : set->buttons)
        if (b.label) gtk_dialog_add_button(GTK_DIALOG(dialog), b.label, b.id);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), set->buttons[0].id);

    GdkWindow* foreign = SetOwner(dialog, owner);
    int response = gtk_dialog_run(GTK_DIALOG(dialog));
    CloseDialog(dialog, foreign);
    for (const auto& b : set->buttons)
        if (b.label && b.id == response) return response;
    return set->closeId;
}

}  // namespace

extern "C" {

BOOL GetSaveFileNameA(LPOPENFILENAMEA request) {
    if (!ValidRequest(request)) return FALSE;
    if (g_script) return ScriptedSave(*g_script, request);
    return GtkSave(request);
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    if (g_script) return ScriptedMessage(*g_script, owner, text, caption, type);
    return GtkMessage(owner, text, caption, type);
}

}  // extern "C"

namespace z3az {

void ClearDialogScript(DialogScript& script) { std::memset(&script, 0, sizeof script); }

bool ScriptSaveAnswer(DialogScript& script, const char* name, DWORD filterIndex) {
    if (script.saveCount >= DialogScript::kMaxAnswers || !name) return false;
    auto& a = script.saves[script.saveCount];
    if (std::strlen(name) >= sizeof a.name) return false;
    a.accept = true;
    CopyText(a.name, sizeof a.name, name);
    a.filterIndex = filterIndex;
    ++script.saveCount;
    return true;
}

bool ScriptSaveCancel(DialogScript& script) {
    if (script.saveCount >= DialogScript::kMaxAnswers) return false;
    auto& a = script.saves[script.saveCount];
    a.accept = false;
    a.name[0] = 0;
    a.filterIndex = 0;
    ++script.saveCount;
    return true;
}

DialogScript* InstallDialogScript(DialogScript* script) {
    DialogScript* previous = g_script;
    g_script = script;
    return previous;
}

}  // namespace z3az
