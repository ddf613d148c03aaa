#pragma once
#include "platform/TextEditor.h"

#include <Qsci/qsciscintilla.h>
#include <QByteArray>
#include <QList>

namespace tarvex {

// The program editor RichTextBox1: plain text, line ends kept as they are,
// a line-number margin. Built on Scintilla, which holds a 30 MB program
// without effort; kept behind this one class so that it can be replaced.
class RichTextBox final : public QsciScintilla, public TextEditor {
    Q_OBJECT
public:
    explicit RichTextBox(QWidget* parent = nullptr);
    ~RichTextBox() override;
    // A screen reader is running: Scintilla's accessible text from now on.
    void useFullAccessibility();
    bool fullAccessibility() const { return fullAccessibility_; }

    std::string text() const override;
    std::string_view textView() override;
    void setText(std::string_view utf8) override;
    bool canHold(std::size_t utf8Bytes) const override;
    void appendText(std::string_view utf8) override;
    void setReadOnly(bool readOnly) override;
    void setFont(const FontSpec& font) override;
    FontSpec currentFont() const override { return font_; }
    std::size_t selStart() const override;
    std::size_t selLength() const override;
    void setSelection(std::size_t start, std::size_t length) override;
    std::size_t caretByte() const override;
    void selectBytes(std::size_t start, std::size_t length) override;
    void replaceText(std::string_view utf8) override;
    void raise() override { QWidget::raise(); }
    void markUnmodified() override;
    bool modified() const override;

signals:
    // Local files dropped onto the editor, in the order of the drop.
    void filesDropped(const QList<QByteArray>& paths);

protected:
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    long length() const;
    long charsTo(long position) const;
    long positionOf(std::size_t chars) const;
    void fitMargin();
    FontSpec font_;
    bool fullAccessibility_ = false;
    // The last selection set while the text could not be edited (a transfer
    // selects character after character): the next position is found from it
    // in time proportional to the distance, not to the offset.
    bool lastValid_ = false;
    std::size_t lastChars_ = 0;
    long lastPosition_ = 0;
};

} // namespace tarvex
