#include "platform/qt/QtUiServices.h"

#include <QApplication>
#include <QFileDialog>
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

QStringList qtNameFilters(const std::string& filter)
{
    QStringList parts = qs(filter).split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        // "*.*" means every file, also those without a dot.
        QString patterns = parts[i + 1].replace(';', ' ');
        if (patterns.split(' ').contains("*.*"))
            patterns = "*";
        out << parts[i] + " (" + patterns + ")";
    }
    return out;
}

FileChooser::Outcome QtFileChooser::run(bool save)
{
    QFileDialog dialog(dialogParent(), qs(title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    QStringList filters = qtNameFilters(filter);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    if (!defaultExt.empty())
        dialog.setDefaultSuffix(qs(defaultExt).remove(0, defaultExt.front() == '.' ? 1 : 0));
    if (!fileName.empty())
        dialog.selectFile(qs(fileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        if (!cancelError)
            fileName.clear();
        return Outcome::Cancelled;
    }
    fileName = dialog.selectedFiles().front().toStdString();
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
    bool ok = false;
    QFont chosen = QFontDialog::getFont(&ok, font, dialogParent());
    if (!ok)
        return std::nullopt;
    // The same family keeps the name it was stored under.
    const std::string name = chosen.family() == inUse ? preset.name : chosen.family().toStdString();
    return FontSpec{name, static_cast<float>(chosen.pointSizeF()), chosen.bold(), chosen.italic()};
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
