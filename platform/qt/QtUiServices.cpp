#include "platform/qt/QtUiServices.h"

#include <QApplication>
#include "platform/qt/QtFileDialog.h"
#include <QLibraryInfo>
#include <QTranslator>
#include <QColorDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QMessageBox>
#include <QEventLoop>
#include <QTimer>
#include <thread>
#include <utility>

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
    QFontDialog dialog(font, dialogParent());
    // On another family the chooser looks for the last style's name and, when
    // the family has none such ("Regular" against "Book"), takes any of its
    // styles, an oblique one too: keep the slant and weight that were shown.
    QFont shown = font;
    QObject::connect(&dialog, &QFontDialog::currentFontChanged, &dialog, [&](const QFont& f) {
        const QFont before = std::exchange(shown, f);
        if (f.family() == before.family() || (f.italic() == before.italic() && f.bold() == before.bold()))
            return;
        // An oblique style is no italic one to QFontDatabase::italic: ask the font.
        for (const QString& name : QFontDatabase::styles(f.family()))
            if (const QFont like = QFontDatabase::font(f.family(), name, f.pointSize());
                like.italic() == before.italic() && like.bold() == before.bold()) {
                // After the chooser has finished its own change of family.
                QMetaObject::invokeMethod(&dialog, [&dialog, like] { dialog.setCurrentFont(like); },
                                          Qt::QueuedConnection);
                return;
            }
    });
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QFont chosen = dialog.selectedFont();
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
