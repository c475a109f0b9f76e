// Answers the library's real GTK dialogs from inside the test, as a user
// would: a timer on the default main context fires inside the dialog's own
// loop, looks at the dialog on screen, records what it shows, and answers.
#pragma once

#include <string>
#include <vector>

namespace vandrop::test {

struct ChooserSeen {
    std::string title;
    std::vector<std::string> filterNames;
    std::vector<std::vector<std::string>> filterPatterns;
    int currentFilter = 0;  // 1-based; 0: none
    bool overwriteConfirmation = false;
    bool modal = false;
    bool saveAction = false;
    std::string currentName;
    unsigned long transientFor = 0;  // X11 window the dialog is kept above
};

struct MessageSeen {
    std::string title;
    std::string text;
    int messageType = -1;  // GtkMessageType
    bool modal = false;
    std::vector<std::string> buttons;
};

struct DialogStep {
    enum Kind { Chooser, Message } kind;
    int response;            // the GTK response id to answer with
    int filterIndex = 0;     // Chooser: 1-based filter to choose, 0 keeps it
    std::string folder;      // Chooser: where to save
    std::string name;        // Chooser: the name typed
};

class DialogDriver {
public:
    explicit DialogDriver(std::vector<DialogStep> steps);
    ~DialogDriver();
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    std::vector<ChooserSeen> choosers;
    std::vector<MessageSeen> messages;
    std::vector<std::string> unexpected;  // dialogs no step waited for (cancelled)
    size_t stepsDone = 0;

    // Internal: one look at the screen.
    void Tick();

private:
    std::vector<DialogStep> steps_;
    unsigned source_ = 0;
    void* seen_ = nullptr;
    int ticksSeen_ = 0;
    int pending_ = -1;  // step whose answer was typed and is to be confirmed
};

// X11 windows of the GTK display that are mapped now (dialogs left behind).
int MappedGtkWindows();

}  // namespace vandrop::test
