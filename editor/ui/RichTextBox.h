#pragma once
#include "platform/TextEditor.h"
#include "program/Colouring.h"

#include <Qsci/qsciscintilla.h>
#include <QByteArray>
#include <QList>
#include <vector>

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
    void setWordColours(const std::vector<std::uint32_t>& rgb) override;
    const std::vector<std::uint32_t>& wordColours() const { return wordColours_; }
    // The editor line that holds a byte of the text (breaks counted).
    long lineAt(std::size_t realByte) const;
    void markUnmodified() override;
    bool modified() const override;

signals:
    // Local files dropped onto the editor, in the order of the drop.
    void filesDropped(const QList<QByteArray>& paths);

protected:
    QMimeData* toMimeData(const QByteArray& text, bool rectangular) const override;
    void keyPressEvent(QKeyEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    long length() const;
    long charsTo(long position) const;
    long positionOf(std::size_t chars) const;
    void fitMargin();

    // A line of hundreds of KB would be laid out whole at every keystroke:
    // such a line is held in pieces, each followed by a display break, two
    // bytes that no UTF-8 text has ("\xFF\n"). The text the program sees
    // never has them; the user can neither see nor delete them.
    void load(std::string_view utf8, bool undoable);
    void breakMode(bool on);
    void onModified(int position, int type, int length);
    const std::vector<long>& breaks() const;
    void styleText(int position);
    void styleRange(long from, long to);
    void followStyled(long position, long delta);
    void applyStyles();
    void watchChanges();
    void numberVisibleLines();
    long breaksBefore(long position) const; // breaks starting before position
    long toBuffer(std::size_t realByte) const;
    std::size_t toReal(long position) const;
    long moveChars(long from, long delta) const;
    mutable std::vector<long> breaks_; // buffer positions of each break's first byte
    mutable bool rescan_ = false;      // breaks_ is to be found again in the text
    bool breakMode_ = false, loading_ = false;
    std::string plain_;        // the text without breaks, while breaks exist
    bool plainValid_ = false;
    FontSpec font_;
    std::vector<std::uint32_t> wordColours_; // by word kind; empty: no colours
    std::string text_, styles_;               // what styleText reads and writes
    std::vector<nc::WordKind> kinds_;
    bool coloured_ = false;               // some text may hold colours
    long styledFrom_ = 0, styledTo_ = 0;  // styled for a view far from the rest
    std::vector<std::pair<long, long>> changed_; // ranges changed in it since
    bool fullAccessibility_ = false;
    // The last selection set while the text could not be edited (a transfer
    // selects character after character): the next position is found from it
    // in time proportional to the distance, not to the offset.
    bool lastValid_ = false;
    std::size_t lastChars_ = 0;
    long lastPosition_ = 0;
};

} // namespace tarvex
