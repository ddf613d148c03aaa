#include "platform/qt/QtUiServices.h"

#include <QApplication>
#include "platform/qt/QtFileDialog.h"
#include <QLibraryInfo>
#include <QTranslator>
#include <QColorDialog>
#include <QFontDialog>
#include <QFontInfo>
#include <QMessageBox>
#include <QEventLoop>
#include <QTimer>
#include <thread>

namespace tarvex {
namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

QWidget* dialogParent() { return QApplication::activeWindow(); }

} // namespace

MsgAnswer QtMessageBox::show(const std::string& text, const std::string& title, MsgIcon icon, MsgButtons buttons)
{
    QMessageBox box(dialogParent());
    box.setWindowTitle(title.empty() ? QStringLiteral("Tarvex") : qs(title));
    box.setText(qs(text));
    switch (icon) {
    case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MsgIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    case MsgIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    }
    switch (buttons) {
    case MsgButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case MsgButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case MsgButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case MsgButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Yes: return MsgAnswer::Yes;
    case QMessageBox::No: return MsgAnswer::No;
    case QMessageBox::Cancel: return MsgAnswer::Cancel;
    default: return MsgAnswer::Ok;
    }
}

FileChooser::Outcome QtFileChooser::run(bool save)
{
    FileDialog dialog(codec_, save, dialogParent());
    dialog.setWindowTitle(qs(title));
    dialog.setFilter(filter);
    dialog.setDefaultExt(defaultExt);
    dialog.propose(fileName, lastFolder_.empty() ? initialFolder : lastFolder_);
    const int result = dialog.exec();
    // A window manager may leave no window active once the chooser and its
    // question have closed: the keyboard goes back to the window below.
    if (QWidget* below = dialog.parentWidget(); below && !QApplication::activeWindow())
        below->activateWindow();
    if (result != QDialog::Accepted) {
        if (!cancelError)
            fileName.clear();
        return Outcome::Cancelled;
    }
    fileName = dialog.chosenPath();
    lastFolder_ = dialog.folder();
    return Outcome::Chosen;
}

FileChooser::Outcome QtFileChooser::showOpen() { return run(false); }
FileChooser::Outcome QtFileChooser::showSave() { return run(true); }

std::optional<FontSpec> QtFontChooser::choose(const FontSpec& preset)
{
    // The chooser lists real families: it opens on the one that draws the
    // preset's name ("ＭＳ 明朝" is drawn with IPA明朝 here).
    const QString inUse = familyInUse(qs(preset.name));
    QFont font(inUse);
    font.setPointSizeF(preset.size > 0 ? preset.size : 12);
    font.setBold(preset.bold);
    font.setItalic(preset.italic);
    // The chooser finds the style by its name: without one it may fall on
    // the family's first style ("Condensed Italic") instead of the one drawn.
    const QString style = QFontInfo(font).styleName();
    if (!style.isEmpty())
        font.setStyleName(style);
    bool ok = false;
    QFont chosen = QFontDialog::getFont(&ok, font, dialogParent());
    if (!ok)
        return std::nullopt;
    // The same family keeps the name it was stored under.
    const std::string name = chosen.family() == inUse ? preset.name : chosen.family().toStdString();
    return FontSpec{name, static_cast<float>(chosen.pointSizeF()), chosen.bold(), chosen.italic()};
}

std::optional<std::uint32_t> QtColourChooser::choose(std::uint32_t initial)
{
    // Colours are 0x00BBGGRR: red in the low byte.
    const QColor start(initial & 0xFF, (initial >> 8) & 0xFF, (initial >> 16) & 0xFF);
    const QColor c = QColorDialog::getColor(start, dialogParent());
    if (!c.isValid())
        return std::nullopt;
    return static_cast<std::uint32_t>(c.red()) | static_cast<std::uint32_t>(c.green()) << 8
           | static_cast<std::uint32_t>(c.blue()) << 16;
}

void installJapaneseTranslations(QApplication& app)
{
    // Qt's own texts (the buttons of message boxes, the font chooser) in
    // Japanese, like every text of the program's own.
    auto* qt = new QTranslator(&app);
    if (qt->load(QLocale(QLocale::Japanese, QLocale::Japan), "qtbase", "_",
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(qt);
}

QString familyInUse(const QString& name)
{
    return QFontInfo(QFont(name)).family();
}

void QtEventLoop::yield() { QApplication::processEvents(); }

void QtEventLoop::wait(std::chrono::microseconds time)
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + time;
    QApplication::processEvents();
    for (auto left = deadline - steady_clock::now(); left > 0us; left = deadline - steady_clock::now()) {
        if (left < 1ms) {
            // Shorter than the event loop's timers: a plain sleep is exact enough.
            std::this_thread::sleep_for(left);
            break;
        }
        // Sleeps in the event loop until the time is up or wake() is called,
        // handling window events as they come.
        QEventLoop loop;
        {
            std::lock_guard lock(mutex_);
            if (std::exchange(woken_, false))
                return;
            waiting_ = &loop;
        }
        QTimer::singleShot(duration_cast<milliseconds>(left), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
        std::lock_guard lock(mutex_);
        waiting_ = nullptr;
        if (std::exchange(woken_, false))
            return;
    }
}

void QtEventLoop::wake()
{
    std::lock_guard lock(mutex_);
    woken_ = true;
    if (waiting_)
        QMetaObject::invokeMethod(waiting_, &QEventLoop::quit, Qt::QueuedConnection);
}

void QtEventLoop::setBusy(bool busy)
{
    if (busy == busy_)
        return;
    busy_ = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void installFontSubstitutes()
{
    // The Windows fonts a program's settings may name.
    QFont::insertSubstitutions("ＭＳ 明朝", {"IPAMincho", "IPA明朝", "Noto Serif CJK JP"});
    QFont::insertSubstitutions("MS Mincho", {"IPAMincho", "IPA明朝"});
    QFont::insertSubstitutions("ＭＳ ゴシック", {"IPAGothic", "IPAゴシック"});
    QFont::insertSubstitutions("ＭＳ Ｐゴシック", {"IPAPGothic", "IPAGothic"});
    QFont::insertSubstitutions("MS UI Gothic", {"IPAPGothic", "IPAGothic"});
}

} // namespace tarvex
