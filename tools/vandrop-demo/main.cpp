// vandrop-demo: a host that renders into an X11 window and takes screenshots
// of it with SavePicture, as a real program would.
//
//   vandrop-demo                the real save dialog, answered by you
//   vandrop-demo --auto DIR     the real save dialog, answered by this program
//                               three times: BMP, JPEG and PNG into DIR
//   vandrop-demo --scripted DIR the same three files through the scripted user
//                               (no dialog on screen)
//
// It prints the path of every file written. The window shows colour bars,
// gradients and text, drawn with Xlib.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gtk/gtk.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win_dialog.h"
#include "vandrop.h"
#include "z3az/d3d9_runtime.h"

namespace {

constexpr int kWidth = 480;
constexpr int kHeight = 300;

// ---------------------------------------------------------------------------
// The scene
// ---------------------------------------------------------------------------

// 5 x 7 capitals for the title, one bit per pixel, top row first.
struct Glyph {
    char c;
    uint8_t rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}}, {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}}, {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}}, {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
};

const Glyph* FindGlyph(char c) {
    for (const auto& g : kGlyphs)
        if (g.c == c) return &g;
    return nullptr;
}

// 0xRRGGBB of the scene at (x, y).
uint32_t Scene(int x, int y) {
    static const uint32_t kBars[8] = {0xC0C0C0, 0xC0C000, 0x00C0C0, 0x00C000,
                                      0xC000C0, 0xC00000, 0x0000C0, 0x101010};
    if (y < 100) return kBars[x * 8 / kWidth];
    if (y < 180) {
        // Red, green, blue and grey ramps from black to full.
        const uint32_t v = static_cast<uint32_t>(x * 255 / (kWidth - 1));
        switch ((y - 100) / 20) {
            case 0: return v << 16;
            case 1: return v << 8;
            case 2: return v;
            default: return v << 16 | v << 8 | v;
        }
    }
    // A hue sweep over a dark band, with the title in big block letters.
    const char* title = "VANDROP";
    const int scale = 8, left = 40, top = 196;
    const int cx = (x - left) / scale, cy = (y - top) / scale;
    if (x >= left && y >= top && cy < 7 && cx < 6 * static_cast<int>(std::strlen(title))) {
        const Glyph* g = FindGlyph(title[cx / 6]);
        const int col = cx % 6;
        if (g && col < 5 && (g->rows[cy] >> (4 - col) & 1)) return 0xFFFFFF;
    }
    const uint32_t h = static_cast<uint32_t>(x * 6 * 255 / kWidth);
    const uint32_t seg = h / 255, f = h % 255;
    uint32_t r = 0, g = 0, b = 0;
    switch (seg) {
        case 0: r = 255, g = f; break;
        case 1: r = 255 - f, g = 255; break;
        case 2: g = 255, b = f; break;
        case 3: g = 255 - f, b = 255; break;
        case 4: r = f, b = 255; break;
        default: r = 255, b = 255 - f; break;
    }
    const uint32_t dim = static_cast<uint32_t>(40 + (y - 180) * 215 / (kHeight - 180));
    return (r * dim / 255) << 16 | (g * dim / 255) << 8 | (b * dim / 255);
}

unsigned long Compose(uint32_t v8, unsigned long mask) {
    if (!mask) return 0;
    const int shift = std::countr_zero(mask);
    const unsigned long max = mask >> shift;
    return ((v8 * max + 127) / 255) << shift;
}

void Draw(Display* d, Window w) {
    const int screen = DefaultScreen(d);
    Visual* v = DefaultVisual(d, screen);
    XImage* image = XCreateImage(d, v, DefaultDepth(d, screen), ZPixmap, 0, nullptr, kWidth, kHeight, 32, 0);
    if (!image) return;
    image->data = static_cast<char*>(std::calloc(static_cast<size_t>(image->bytes_per_line), kHeight));
    if (!image->data) {
        XDestroyImage(image);
        return;
    }
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const uint32_t c = Scene(x, y);
            XPutPixel(image, x, y,
                      Compose(c >> 16 & 0xff, v->red_mask) | Compose(c >> 8 & 0xff, v->green_mask) |
                          Compose(c & 0xff, v->blue_mask));
        }
    GC gc = XCreateGC(d, w, 0, nullptr);
    XPutImage(d, w, gc, image, 0, 0, 0, 0, kWidth, kHeight);
    XDestroyImage(image);
    // Text in the server's own font, on the bars and under the ramps.
    XSetForeground(d, gc, BlackPixel(d, screen));
    const char* line1 = "vandrop-demo: a window rendered by its host";
    XDrawString(d, w, gc, 12, 24, line1, static_cast<int>(std::strlen(line1)));
    XSetForeground(d, gc, WhitePixel(d, screen));
    const char* line2 = "SavePicture copies it into a surface and saves it";
    XDrawString(d, w, gc, 12, 290, line2, static_cast<int>(std::strlen(line2)));
    XFreeGC(d, gc);
    XSync(d, False);
}

// Opens the window and waits until it shows the scene.
Window OpenWindow(Display* d) {
    const int screen = DefaultScreen(d);
    Window w = XCreateSimpleWindow(d, RootWindow(d, screen), 40, 40, kWidth, kHeight, 0,
                                   BlackPixel(d, screen), BlackPixel(d, screen));
    XStoreName(d, w, "vandrop-demo");
    XSizeHints hints{};
    hints.flags = PPosition | PMinSize | PMaxSize;
    hints.x = 40;
    hints.y = 40;
    hints.min_width = hints.max_width = kWidth;
    hints.min_height = hints.max_height = kHeight;
    XSetWMNormalHints(d, w, &hints);
    XSelectInput(d, w, ExposureMask | StructureNotifyMask);
    XMapRaised(d, w);
    for (XEvent e;;) {
        XNextEvent(d, &e);
        if (e.type == Expose && e.xexpose.count == 0) break;
    }
    Draw(d, w);
    return w;
}

// ---------------------------------------------------------------------------
// Answering the real dialog (--auto), and hearing what the user chose
// ---------------------------------------------------------------------------

struct Answer {
    int filter = 0;            // 1-based filter to pick; 0: the user answers
    std::string folder, name;  // what to type
    std::string chosen;        // the file the dialog accepted
    std::vector<std::string> messages;
    GtkWidget* seen = nullptr;     // the dialog on top, as of the last tick
    GtkWidget* chooser = nullptr;  // the save dialog being answered
    int ticks = 0;
    bool typed = false;
    bool pressed = false;
};

void OnResponse(GtkDialog* dialog, int response, gpointer data) {
    if (response != GTK_RESPONSE_ACCEPT) return;
    gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
    if (name) static_cast<Answer*>(data)->chosen = name;
    g_free(name);
}

gboolean Respond(gpointer data) {
    auto* pair = static_cast<std::pair<GtkDialog*, int>*>(data);
    gtk_dialog_response(pair->first, pair->second);
    g_object_unref(pair->first);
    delete pair;
    return G_SOURCE_REMOVE;
}

void RespondLater(GtkWidget* dialog, int response) {
    g_object_ref(dialog);
    g_idle_add(Respond, new std::pair<GtkDialog*, int>(GTK_DIALOG(dialog), response));
}

// Runs every 50 ms inside the dialog's loop. A dialog is answered only after
// it has been on screen for two ticks: an answer in the first tick is lost.
gboolean Watch(gpointer data) {
    auto* a = static_cast<Answer*>(data);
    GtkWidget* chooser = nullptr;
    GtkWidget* message = nullptr;
    GList* all = gtk_window_list_toplevels();
    for (GList* l = all; l; l = l->next) {
        GtkWidget* w = GTK_WIDGET(l->data);
        if (!gtk_widget_get_mapped(w)) continue;
        if (GTK_IS_MESSAGE_DIALOG(w)) message = w;
        else if (GTK_IS_FILE_CHOOSER_DIALOG(w)) chooser = w;
    }
    g_list_free(all);
    GtkWidget* top = message ? message : chooser;
    if (top != a->seen) {
        a->seen = top;
        a->ticks = 0;
        if (chooser && chooser != a->chooser) {
            // A new dialog: listen for the name it accepts.
            a->chooser = chooser;
            a->typed = false;
            a->pressed = false;
            g_signal_connect(chooser, "response", G_CALLBACK(OnResponse), a);
        }
        return G_SOURCE_CONTINUE;
    }
    if (!top || a->filter == 0) return G_SOURCE_CONTINUE;
    ++a->ticks;
    if (top == message) {
        if (a->ticks < 2) return G_SOURCE_CONTINUE;
        // The overwrite question is confirmed; a message box is noted and closed.
        gchar* text = nullptr;
        g_object_get(message, "text", &text, nullptr);
        std::string t = text ? text : "";
        g_free(text);
        const bool question = gtk_dialog_get_widget_for_response(GTK_DIALOG(message), GTK_RESPONSE_ACCEPT);
        if (!question) a->messages.push_back(t);
        RespondLater(message, question ? GTK_RESPONSE_ACCEPT : GTK_RESPONSE_DELETE_EVENT);
        a->seen = nullptr;
    } else if (!a->typed) {
        if (a->ticks < 2) return G_SOURCE_CONTINUE;
        GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
        GSList* filters = gtk_file_chooser_list_filters(fc);
        if (GSList* f = g_slist_nth(filters, a->filter - 1)) gtk_file_chooser_set_filter(fc, GTK_FILE_FILTER(f->data));
        g_slist_free(filters);
        gtk_file_chooser_set_current_folder(fc, a->folder.c_str());
        gtk_file_chooser_set_current_name(fc, a->name.c_str());
        a->typed = true;
        a->ticks = 0;
    } else if ((a->ticks == 2 && !a->pressed) || a->ticks % 40 == 0) {
        // Save is pressed once the name is in; GTK may take a moment to
        // finish (and asks first when the file exists), so press it again
        // only if the dialog is still there two seconds later.
        a->pressed = true;
        RespondLater(chooser, GTK_RESPONSE_ACCEPT);
    }
    return G_SOURCE_CONTINUE;
}

// Like any host, repaints what a dialog covered before the next screenshot.
void Repaint(Display* d, Window w) {
    XSync(d, False);
    while (XPending(d)) {
        XEvent e;
        XNextEvent(d, &e);
    }
    Draw(d, w);
}

std::string Absolute(const std::string& dir) {
    char* real = realpath(dir.c_str(), nullptr);
    std::string r = real ? real : dir;
    std::free(real);
    return r;
}

int Usage() {
    std::fprintf(stderr, "usage: vandrop-demo [--auto DIR | --scripted DIR]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode, dir;
    if (argc == 3 && (std::strcmp(argv[1], "--auto") == 0 || std::strcmp(argv[1], "--scripted") == 0)) {
        mode = argv[1] + 2;
        dir = Absolute(argv[2]);
    } else if (argc != 1) {
        return Usage();
    }

    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "vandrop-demo: no X display (set DISPLAY, or run under xvfb-run)\n");
        return 1;
    }
    const Window window = OpenWindow(display);

    IDirect3DDevice9* device = nullptr;
    if (Z3azCreateDevice(&device) != S_OK) {
        std::fprintf(stderr, "vandrop-demo: no device\n");
        return 1;
    }

    struct Shot {
        int filter;
        const char* name;
    };
    const Shot shots[] = {{1, "vandrop-screenshot.bmp"}, {2, "vandrop-screenshot.jpg"}, {3, "vandrop-screenshot.png"}};
    int failures = 0;

    if (mode.empty()) {
        Answer heard;
        const guint watch = g_timeout_add(50, Watch, &heard);
        const unsigned char ok = SavePicture(0, device, window, kWidth, kHeight);
        g_source_remove(watch);
        if (ok) std::printf("%s\n", heard.chosen.empty() ? "(saved)" : heard.chosen.c_str());
        else std::fprintf(stderr, "vandrop-demo: nothing saved\n");
        failures = ok ? 0 : 1;
    } else if (mode == "auto") {
        for (const Shot& s : shots) {
            Answer a;
            a.filter = s.filter;
            a.folder = dir;
            a.name = s.name;
            Repaint(display, window);
            const guint watch = g_timeout_add(50, Watch, &a);
            const unsigned char ok = SavePicture(0, device, window, kWidth, kHeight);
            g_source_remove(watch);
            for (const auto& m : a.messages) std::fprintf(stderr, "vandrop-demo: the library said: %s\n", m.c_str());
            if (ok) std::printf("%s\n", a.chosen.c_str());
            else ++failures, std::fprintf(stderr, "vandrop-demo: %s not saved\n", s.name);
        }
    } else {
        z3az::DialogScript script;
        z3az::ClearDialogScript(script);
        for (const Shot& s : shots) z3az::ScriptSaveAnswer(script, (dir + "/" + s.name).c_str(), s.filter);
        z3az::DialogScript* previous = z3az::InstallDialogScript(&script);
        for (const Shot& s : shots) {
            Repaint(display, window);
            if (SavePicture(0, device, window, kWidth, kHeight)) std::printf("%s/%s\n", dir.c_str(), s.name);
            else ++failures, std::fprintf(stderr, "vandrop-demo: %s not saved\n", s.name);
        }
        z3az::InstallDialogScript(previous);
        const unsigned kept = script.messageCount < z3az::DialogScript::kMaxRecords ? script.messageCount
                                                                                     : z3az::DialogScript::kMaxRecords;
        for (unsigned i = 0; i < kept; ++i)
            std::fprintf(stderr, "vandrop-demo: the library said: %s\n", script.messages[i].text);
    }

    device->Release();
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    return failures ? 1 : 0;
}
