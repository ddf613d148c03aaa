#pragma once
#include "app/ui/InpFrm.h"
#include "platform/posix/PosixProcessLauncher.h"
#include "platform/qt/QtUiServices.h"

namespace tarvex {

// The services of the user interface as the window has them on Qt, held
// together for a program that shows the window.
struct QtUi {
    explicit QtUi(const TextCodec& codec) : chooser(codec) {}
    QtMessageBox messageBox;
    QtFileChooser chooser;
    QtFontChooser fontChooser;
    QtEventLoop events;
    QtColourChooser colourChooser;
    QtInputBox inputBox;
    PosixProcessLauncher launcher;
    UiServices ui{messageBox, chooser, fontChooser, events, colourChooser, inputBox, launcher};
};

} // namespace tarvex
