#pragma once
#include "platform/UiServices.h"

#include <QString>
#include <QStringList>
#include <mutex>

class QApplication;
class QEventLoop;

class QWidget;

namespace tarvex {

class QtMessageBox final : public MessageBox {
public:
    MsgAnswer show(const std::string& text, const std::string& title, MsgIcon icon, MsgButtons buttons) override;
};

class TextCodec;

class QtFileChooser final : public FileChooser {
public:
    explicit QtFileChooser(const TextCodec& codec) : codec_(codec) {}
    Outcome showOpen() override;
    Outcome showSave() override;

private:
    Outcome run(bool save);
    const TextCodec& codec_;
    std::string lastFolder_; // a proposal without a folder opens where the last choice was made
};

class QtFontChooser final : public FontChooser {
public:
    std::optional<FontSpec> choose(const FontSpec& preset) override;
};

class QtColourChooser final : public ColourChooser {
public:
    std::optional<std::uint32_t> choose(std::uint32_t initial) override;
};

class QtEventLoop final : public EventLoop {
public:
    void yield() override;
    void wait(std::chrono::microseconds time) override;
    void wake() override;
    void setBusy(bool busy) override;

private:
    bool busy_ = false;
    std::mutex mutex_;
    bool woken_ = false;
    QEventLoop* waiting_ = nullptr;
};

// Fonts the program names that Linux does not have are drawn with their
// nearest Japanese equivalent; the stored name stays as the user chose it.
void installFontSubstitutes();
// The family that draws a font name on this machine, after substitution.
QString familyInUse(const QString& name);

// Qt's own dialog texts in Japanese; the translator belongs to the application.
void installJapaneseTranslations(QApplication& app);

} // namespace tarvex
