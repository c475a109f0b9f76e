#include "dialog_driver.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

namespace vandrop::test {

namespace {

gboolean OnTick(gpointer data) {
    static_cast<DialogDriver*>(data)->Tick();
    return G_SOURCE_CONTINUE;
}

// Answers from an idle callback of its own, so that a dialog the answer opens
// (the overwrite question runs nested) still gets our timer.
struct Answer {
    GtkDialog* dialog;
    int response;
};
gboolean OnAnswer(gpointer data) {
    auto* a = static_cast<Answer*>(data);
    gtk_dialog_response(a->dialog, a->response);
    g_object_unref(a->dialog);
    delete a;
    return G_SOURCE_REMOVE;
}
void AnswerLater(GtkWidget* dialog, int response) {
    g_object_ref(dialog);
    g_idle_add(OnAnswer, new Answer{GTK_DIALOG(dialog), response});
}

// The dialog a user would answer now: a message box over the chooser wins.
GtkWidget* TopDialog() {
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
    return message ? message : chooser;
}

unsigned long TransientFor(GtkWidget* dialog) {
    GdkWindow* window = gtk_widget_get_window(dialog);
    if (!window || !GDK_IS_X11_WINDOW(window)) return 0;
    Display* d = gdk_x11_display_get_xdisplay(gdk_window_get_display(window));
    Window owner = 0;
    if (!XGetTransientForHint(d, gdk_x11_window_get_xid(window), &owner)) return 0;
    return owner;
}

ChooserSeen Look(GtkFileChooser* chooser) {
    ChooserSeen s;
    s.title = gtk_window_get_title(GTK_WINDOW(chooser)) ? gtk_window_get_title(GTK_WINDOW(chooser)) : "";
    GtkFileFilter* current = gtk_file_chooser_get_filter(chooser);
    GSList* filters = gtk_file_chooser_list_filters(chooser);
    int index = 1;
    for (GSList* l = filters; l; l = l->next, ++index) {
        GtkFileFilter* f = GTK_FILE_FILTER(l->data);
        s.filterNames.push_back(gtk_file_filter_get_name(f) ? gtk_file_filter_get_name(f) : "");
        std::vector<std::string> patterns;
        GVariant* v = gtk_file_filter_to_gvariant(f);  // (sa(us)): name, rules
        GVariant* rules = g_variant_get_child_value(v, 1);
        for (gsize i = 0; i < g_variant_n_children(rules); ++i) {
            guint32 type = 0;
            const char* text = nullptr;
            g_variant_get_child(rules, i, "(u&s)", &type, &text);
            if (type == 0) patterns.push_back(text);
        }
        g_variant_unref(rules);
        g_variant_unref(v);
        s.filterPatterns.push_back(patterns);
        if (f == current) s.currentFilter = index;
    }
    g_slist_free(filters);
    s.overwriteConfirmation = gtk_file_chooser_get_do_overwrite_confirmation(chooser);
    s.modal = gtk_window_get_modal(GTK_WINDOW(chooser));
    s.saveAction = gtk_file_chooser_get_action(chooser) == GTK_FILE_CHOOSER_ACTION_SAVE;
    gchar* name = gtk_file_chooser_get_current_name(chooser);
    s.currentName = name ? name : "";
    g_free(name);
    s.transientFor = TransientFor(GTK_WIDGET(chooser));
    return s;
}

void CollectButtons(GtkWidget* widget, gpointer data) {
    auto* out = static_cast<std::vector<std::string>*>(data);
    if (GTK_IS_BUTTON(widget)) {
        const char* label = gtk_button_get_label(GTK_BUTTON(widget));
        out->push_back(label ? label : "");
    } else if (GTK_IS_CONTAINER(widget)) {
        gtk_container_foreach(GTK_CONTAINER(widget), CollectButtons, data);
    }
}

MessageSeen Look(GtkMessageDialog* dialog) {
    MessageSeen s;
    const char* title = gtk_window_get_title(GTK_WINDOW(dialog));
    s.title = title ? title : "";
    gchar* text = nullptr;
    GtkMessageType type = GTK_MESSAGE_OTHER;
    g_object_get(dialog, "text", &text, "message-type", &type, nullptr);
    s.text = text ? text : "";
    g_free(text);
    s.messageType = type;
    s.modal = gtk_window_get_modal(GTK_WINDOW(dialog));
    gtk_container_foreach(GTK_CONTAINER(dialog), CollectButtons, &s.buttons);
    return s;
}

}  // namespace

DialogDriver::DialogDriver(std::vector<DialogStep> steps) : steps_(std::move(steps)) {
    source_ = g_timeout_add(50, OnTick, this);
}

DialogDriver::~DialogDriver() {
    if (source_) g_source_remove(source_);
}

void DialogDriver::Tick() {
    GtkWidget* dialog = TopDialog();
    if (dialog != seen_) {
        // A new dialog (or none): answering in the first tick after it
        // appeared is lost, so only note it now.
        seen_ = dialog;
        ticksSeen_ = 0;
        pending_ = -1;
        return;
    }
    if (!dialog || ++ticksSeen_ < 2) return;

    if (pending_ >= 0) {
        // The name and folder were set two ticks ago: now press the button.
        const DialogStep& step = steps_[static_cast<size_t>(pending_)];
        pending_ = -1;
        seen_ = nullptr;
        AnswerLater(dialog, step.response);
        return;
    }

    const bool isMessage = GTK_IS_MESSAGE_DIALOG(dialog);
    const DialogStep::Kind kind = isMessage ? DialogStep::Message : DialogStep::Chooser;
    const bool expected = stepsDone < steps_.size() && steps_[stepsDone].kind == kind;
    // GTK may still be finishing an answer (a default button activated from
    // the entry clicks a quarter of a second later): give a dialog nobody
    // waits for a second before calling it unexpected.
    if (!expected && ticksSeen_ < 20) return;

    if (isMessage)
        messages.push_back(Look(GTK_MESSAGE_DIALOG(dialog)));
    else
        choosers.push_back(Look(GTK_FILE_CHOOSER(dialog)));
    if (!expected) {
        unexpected.push_back(isMessage ? "message: " + messages.back().text
                                       : "chooser: " + choosers.back().title);
        seen_ = nullptr;
        AnswerLater(dialog, isMessage ? GTK_RESPONSE_DELETE_EVENT : GTK_RESPONSE_CANCEL);
        return;
    }
    const DialogStep& step = steps_[stepsDone++];
    if (!isMessage && step.response == GTK_RESPONSE_ACCEPT) {
        // Type the answer like a user, and let the chooser take it in
        // (changing the folder is not immediate) before pressing Save.
        GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
        if (step.filterIndex > 0) {
            GSList* filters = gtk_file_chooser_list_filters(chooser);
            if (GSList* f = g_slist_nth(filters, step.filterIndex - 1))
                gtk_file_chooser_set_filter(chooser, GTK_FILE_FILTER(f->data));
            g_slist_free(filters);
        }
        if (!step.folder.empty()) gtk_file_chooser_set_current_folder(chooser, step.folder.c_str());
        gtk_file_chooser_set_current_name(chooser, step.name.c_str());
        pending_ = static_cast<int>(stepsDone - 1);
        ticksSeen_ = 0;
        return;
    }
    seen_ = nullptr;
    AnswerLater(dialog, step.response);
}

int MappedGtkWindows() {
    int mapped = 0;
    GList* all = gtk_window_list_toplevels();
    for (GList* l = all; l; l = l->next)
        if (gtk_widget_get_mapped(GTK_WIDGET(l->data))) ++mapped;
    g_list_free(all);
    GdkDisplay* display = gdk_display_get_default();
    if (display && GDK_IS_X11_DISPLAY(display)) {
        // Ask the server as well: any viewable top-level window of GTK's connection.
        Display* d = gdk_x11_display_get_xdisplay(display);
        Window root, parent, *children = nullptr;
        unsigned count = 0;
        if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) {
            for (unsigned i = 0; i < count; ++i) {
                XWindowAttributes a;
                if (!XGetWindowAttributes(d, children[i], &a) || a.map_state != IsViewable) continue;
                GdkWindow* w = gdk_x11_window_lookup_for_display(display, children[i]);
                // A host window GDK wraps (to keep a dialog above it) is not GTK's.
                if (w && gdk_window_get_window_type(w) != GDK_WINDOW_FOREIGN) ++mapped;
            }
            if (children) XFree(children);
        }
    }
    return mapped;
}

}  // namespace vandrop::test
