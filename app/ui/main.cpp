// tarvex: the desktop window.
//   tarvex [--home DIR] [--settings FILE] [--screenshot FILE.png] [--press KEY,...] [--menu ITEM] [PROGRAM]
#include "app/ui/QtUi.h"
#include "app/ui/TarvexFrm.h"
#include "serial/ui/CommPanel.h"
#include "platform/posix/Cp932Codec.h"
#include "platform/posix/PosixFileSystem.h"
#include "platform/posix/PosixProcessLauncher.h"
#include "platform/posix/DevicePort.h"
#include "platform/qt/QtSettingsStore.h"
#include "platform/qt/QtUiServices.h"
#include "view/ui/PlotPicture.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <string_view>
#include <unistd.h>

using namespace tarvex;

int main(int argc, char** argv)
{
    // Without this a script asking for help would get a window on a file "--help".
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::printf("usage: tarvex [--home DIR] [--settings FILE] [--screenshot FILE.png] [--press KEY,...]"
                    " [--menu ITEM] [PROGRAM]\n");
        return 0;
    }
    // A file-size limit fails a write as a full disk does, and a dropped
    // network line is a failed write: neither kills the window with its text.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tarvex");
    installFontSubstitutes();
    installJapaneseTranslations(app);

    std::string home, settingsFile, screenshot, press, menu, commandLine;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if ((a == "--home" || a == "--settings" || a == "--screenshot" || a == "--press" || a == "--menu")
            && i + 1 < argc) {
            (a == "--home"         ? home
             : a == "--settings"   ? settingsFile
             : a == "--screenshot" ? screenshot
             : a == "--press"      ? press
                                   : menu) = argv[++i];
        } else {
            // The one argument: a program file, perhaps with spaces or in quotes.
            commandLine += (commandLine.empty() ? "" : " ") + a;
        }
    }
    if (settingsFile.empty())
        if (const char* env = std::getenv("TARVEX_SETTINGS"))
            settingsFile = env;
    // Start-up makes the data folder the current one: a program, settings
    // file or picture named relative to the folder the command was given in
    // is named in full first, also a program given in double quotes.
    if (commandLine.size() >= 2 && commandLine.front() == '"' && commandLine.back() == '"')
        commandLine = commandLine.substr(1, commandLine.size() - 2);
    for (std::string* path : {&commandLine, &settingsFile, &screenshot})
        if (!path->empty() && path->front() != '/') {
            char cwd[4096];
            if (::getcwd(cwd, sizeof cwd))
                *path = std::string(cwd) + "/" + *path;
        }

    QtSettingsStore settings(QString::fromStdString(settingsFile));
    if (!settings.usable())
        std::fprintf(stderr, "tarvex: %s is %s: the settings are kept for this run only\n",
                     settingsFile.empty() ? "the settings file" : settingsFile.c_str(),
                     settings.tooLarge() ? "too large" : "not a regular file");
    PosixFileSystem fs;
    Cp932Codec codec;
    QtUi qt(codec);
    UiServices& ui = qt.ui;
    ProcessState state(resolveProgDir(home), settings);
    // The home page is the README installed beside the program (in a build
    // folder, the one of the source tree above it).
    const std::string exeDir = executableFolder();
    std::string readme = exeDir + "../share/doc/tarvex/README.md";
    if (!fs.exists(readme) && fs.exists(exeDir + "../README.md"))
        readme = exeDir + "../README.md";
    SystemFolders folders{"file://" + readme};

    DevicePort MSComm1, MSComm2;
    TarvexFrm window(state, fs, codec, ui, folders, MSComm1, MSComm2);
    bool ended = false;
    QObject::connect(&window, &TarvexFrm::ended, &app, [&] {
        settings.sync();
        ended = true;
        QApplication::exit(0);
    });

    // Render the window once it has settled, then close as the user would.
    // A message box of the start-up is reported and answered first.
    std::function<void()> report = [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            std::printf("message\t%s\n", box->text().replace('\n', ' ').toStdString().c_str());
            box->done(QMessageBox::Ok);
            QTimer::singleShot(100, &window, report);
            return;
        }
        if (!window.grab().save(QString::fromStdString(screenshot)))
            std::fprintf(stderr, "tarvex: cannot write %s\n", screenshot.c_str());
        // Keys whose icon renders: none when the image plug-ins are missing.
        int icons = 0;
        for (auto* key : window.findChildren<QToolButton*>())
            icons += key->isVisible() && !key->icon().pixmap(16).isNull();
        std::printf("caption\t%s\nstatus2\t%s\nicons\t%d\n", window.windowTitle().toStdString().c_str(),
                    window.statusText(2).c_str(), icons);
        std::fflush(stdout);
        window.logic().discardOnClose();
        window.close();
    };
    if (!screenshot.empty())
        QTimer::singleShot(500, &window, report);
    window.logic().startUp(commandLine);
    if (settings.tooLarge())
        window.logic().warn(tooLargeMessage(settingsFile.empty() ? "NCVELMO.ini" : settingsFile));
    // Graphics toolbar keys pressed once the window is up, for a scripted picture.
    for (std::size_t from = 0; from < press.size();) {
        std::size_t comma = std::min(press.find(',', from), press.size());
        const std::string name = press.substr(from, comma - from);
        for (int k = 0; k < 9; ++k)
            if (name == toolKeyName[k])
                window.picture2()->toolButton(static_cast<ToolKey>(k))->click();
        // The tape run, started as its button is, for a drip feed driven by a script.
        if (name == "Command11")
            QTimer::singleShot(0, &window, [&window] { window.frame1()->Command11->click(); });
        from = comma + 1;
    }
    // A menu item chosen once the window is up, by its control name ("MnuApp(0)").
    if (!menu.empty())
        for (const MenuEntry& e : menuTree)
            if (menu == e.name)
                QTimer::singleShot(0, &window, [&window, id = e.id] { window.menuAction(id)->trigger(); });
    // A message box of the start-up may have seen the window close already.
    return ended ? 0 : app.exec();
}
