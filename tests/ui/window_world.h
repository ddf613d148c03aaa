#pragma once
// The main window on a temporary data folder, with the platform's files and
// codec, and fakes for the settings, the dialogs and the serial ports.
#include "app/ui/TarvexFrm.h"
#include "editor/ui/RichTextBox.h"
#include "platform/posix/Cp932Codec.h"
#include "platform/posix/PosixFileSystem.h"
#include "platform/qt/QtUiServices.h"
#include "tests/fakes/Fakes.h"

#include <QTemporaryDir>
#include <QtTest>
#include <fstream>

namespace tarvex::testing {

struct WindowWorld {
    QTemporaryDir dir;
    fakes::MemorySettings settings;
    PosixFileSystem fs;
    Cp932Codec codec;
    fakes::FakeMessageBox box;
    fakes::FakeChooser chooser;
    fakes::FakeFontChooser fonts;
    QtFileChooser realChooser{codec};
    QtFontChooser realFonts;
    QtEventLoop events;
    fakes::FakeColourChooser colours;
    fakes::FakeInputBox input;
    fakes::FakeLauncher launcher;
    UiServices ui;

    // realChoosers: the file and font choosers are the program's own dialogs.
    explicit WindowWorld(bool realChoosers = false)
        : ui{box, realChoosers ? static_cast<FileChooser&>(realChooser) : chooser,
             realChoosers ? static_cast<FontChooser&>(realFonts) : fonts, events, colours, input, launcher}
    {
    }
    fakes::FakeSerialPort port1, port2;
    std::unique_ptr<ProcessState> state = std::make_unique<ProcessState>(path(""), settings);
    std::unique_ptr<TarvexFrm> frm;

    std::string path(const std::string& name) const { return dir.path().toStdString() + "/" + name; }
    void write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    // Starts the window as the program does and waits until it is on the screen.
    TarvexFrm& start(const std::string& commandLine = {})
    {
        frm = std::make_unique<TarvexFrm>(*state, fs, codec, ui, SystemFolders{}, port1, port2);
        frm->logic().startUp(commandLine);
        if (!QTest::qWaitForWindowExposed(frm.get()))
            qWarning("window not exposed");
        return *frm;
    }
    std::string text() const { return static_cast<const TextEditor*>(frm->editor())->text(); }
};

} // namespace tarvex::testing
