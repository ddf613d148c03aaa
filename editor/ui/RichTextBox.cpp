#include "editor/ui/RichTextBox.h"
#include "platform/posix/PosixFileSystem.h"
#include "platform/qt/QtUiServices.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <set>

namespace tarvex {
namespace {

// The dropped files' paths as bytes: a name that is not UTF-8 (cp932 from a
// Windows machine) stays percent-encoded in the URL and would be lost as text.
QList<QByteArray> localFiles(const QMimeData* data)
{
    QList<QByteArray> files;
    if (data && data->hasUrls())
        for (const QUrl& url : data->urls())
            if (url.isLocalFile())
                files << QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    return files;
}

// Scintilla's accessible text turns every caret move and keystroke into a
// count of the characters from the start of the program (130 ms at the end
// of a million lines). It serves a screen reader; without one running the
// editor is a plain accessible widget, and once one starts the editors get
// Scintilla's full text interface back.
std::set<RichTextBox*>& editors()
{
    static std::set<RichTextBox*> all;
    return all;
}

QAccessibleInterface* plainEditor(const QString& className, QObject* object)
{
    if (className != QLatin1String(RichTextBox::staticMetaObject.className()))
        return nullptr;
    auto* editor = static_cast<RichTextBox*>(object);
    if (editor->fullAccessibility())
        return nullptr;
    return new QAccessibleWidget(editor, QAccessible::EditableText);
}

class ScreenReaderWatch final : public QAccessible::ActivationObserver {
public:
    void accessibilityActiveChanged(bool active) override
    {
        if (!active)
            return;
        for (RichTextBox* e : editors())
            e->useFullAccessibility();
    }
};

void watchAccessibility()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    // The factory installed last is asked first: before Scintilla's own.
    QAccessible::installFactory(plainEditor);
    static ScreenReaderWatch watch;
    QAccessible::installActivationObserver(&watch);
}

} // namespace

void RichTextBox::useFullAccessibility()
{
    if (fullAccessibility_)
        return;
    fullAccessibility_ = true;
    // The plain interface made before goes; the next query finds Scintilla's,
    // which also hears of every change of the text.
    if (QAccessibleInterface* plain = QAccessible::queryAccessibleInterface(this))
        if (plain->role() == QAccessible::EditableText && !plain->textInterface())
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(plain));
    SendScintilla(SCI_SETMODEVENTMASK, static_cast<unsigned long>(SC_MOD_INSERTTEXT | SC_MOD_DELETETEXT));
}

RichTextBox::~RichTextBox() { editors().erase(this); }

RichTextBox::RichTextBox(QWidget* parent) : QsciScintilla(parent)
{
    watchAccessibility();
    editors().insert(this);
    setObjectName("RichTextBox1");
    setUtf8(true);
    setEolMode(EolWindows); // Enter inserts CR LF, as program files have
    setEolVisibility(false);
    setWrapMode(WrapNone);
    setMarginType(0, NumberMargin);
    setMarginLineNumbers(0, true);
    // No notifications of each change: nothing of ours listens, and for a
    // screen reader every one costs a scan from the start of the text.
    SendScintilla(SCI_SETMODEVENTMASK, 0UL);
    if (QAccessible::isActive())
        useFullAccessibility();
    fitMargin();
}

long RichTextBox::length() const { return SendScintilla(SCI_GETLENGTH); }

std::string RichTextBox::text() const { return std::string(const_cast<RichTextBox*>(this)->textView()); }

std::string_view RichTextBox::textView()
{
    auto* p = reinterpret_cast<const char*>(SendScintilla(SCI_GETCHARACTERPOINTER));
    return {p, static_cast<std::size_t>(length())};
}

void RichTextBox::setText(std::string_view utf8)
{
    // The program may replace the text also while the user may not edit it.
    const bool wasReadOnly = isReadOnly();
    QsciScintilla::setReadOnly(false);
    // A new text is no step to undo: without collecting, Scintilla keeps no
    // second copy of it.
    SendScintilla(SCI_SETUNDOCOLLECTION, 0UL);
    SendScintilla(SCI_CLEARALL);
    SendScintilla(SCI_ALLOCATE, static_cast<unsigned long>(utf8.size() + 1));
    SendScintilla(SCI_APPENDTEXT, static_cast<unsigned long>(utf8.size()), utf8.data());
    SendScintilla(SCI_SETUNDOCOLLECTION, 1UL);
    SendScintilla(SCI_EMPTYUNDOBUFFER);
    SendScintilla(SCI_SETSAVEPOINT);
    SendScintilla(SCI_GOTOPOS, 0L);
    lastValid_ = false;
    QsciScintilla::setReadOnly(wasReadOnly);
    fitMargin();
}

bool RichTextBox::canHold(std::size_t utf8Bytes) const
{
    // Scintilla keeps the text and a style byte per byte, beside the text
    // being handed over; a quarter more for its line index and the display.
    const auto memory = availableMemory();
    return !memory || static_cast<double>(utf8Bytes) * 3.25 < static_cast<double>(*memory);
}

void RichTextBox::appendText(std::string_view utf8)
{
    const bool wasReadOnly = isReadOnly();
    QsciScintilla::setReadOnly(false);
    SendScintilla(SCI_APPENDTEXT, static_cast<unsigned long>(utf8.size()), utf8.data());
    QsciScintilla::setReadOnly(wasReadOnly);
    fitMargin();
}

void RichTextBox::markUnmodified() { SendScintilla(SCI_SETSAVEPOINT); }

bool RichTextBox::modified() const { return SendScintilla(SCI_GETMODIFY) != 0; }

void RichTextBox::setReadOnly(bool readOnly)
{
    QsciScintilla::setReadOnly(readOnly);
    lastValid_ = false;
}

void RichTextBox::setFont(const FontSpec& wanted)
{
    font_ = wanted;
    // A family this machine lacks is drawn with its substitute ("ＭＳ 明朝" with
    // IPA明朝); Scintilla asks for the family by name and would not substitute.
    QFont font(familyInUse(QString::fromStdString(wanted.name)));
    font.setPointSizeF(wanted.size > 0 ? wanted.size : 12);
    font.setBold(wanted.bold);
    font.setItalic(wanted.italic);
    QsciScintilla::setFont(font);
    setMarginsFont(font);
    fitMargin();
}

void RichTextBox::fitMargin()
{
    // Room for the digits of the last line number and one more.
    QString digits(QString::number(lines()).size() + 1, '0');
    setMarginWidth(0, digits);
}

long RichTextBox::charsTo(long position) const { return SendScintilla(SCI_COUNTCHARACTERS, 0UL, position); }

long RichTextBox::positionOf(std::size_t chars) const
{
    const long end = length();
    // Relative to the last selection when that is nearer than the start.
    const bool fromLast = lastValid_ && isReadOnly() && chars >= lastChars_ / 2 && lastPosition_ <= end;
    const long base = fromLast ? lastPosition_ : 0;
    const long delta = fromLast ? static_cast<long>(chars) - static_cast<long>(lastChars_) : static_cast<long>(chars);
    if (delta == 0)
        return base;
    const long pos = SendScintilla(SCI_POSITIONRELATIVE, static_cast<unsigned long>(base), delta);
    if (pos == 0 && delta > 0)
        return end; // beyond the end
    return pos;
}

std::size_t RichTextBox::selStart() const
{
    return static_cast<std::size_t>(charsTo(SendScintilla(SCI_GETSELECTIONSTART)));
}

std::size_t RichTextBox::selLength() const
{
    long start = SendScintilla(SCI_GETSELECTIONSTART), end = SendScintilla(SCI_GETSELECTIONEND);
    return static_cast<std::size_t>(SendScintilla(SCI_COUNTCHARACTERS, static_cast<unsigned long>(start), end));
}

void RichTextBox::setSelection(std::size_t start, std::size_t length)
{
    long from = positionOf(start);
    lastValid_ = isReadOnly();
    lastChars_ = start;
    lastPosition_ = from;
    long to = from;
    if (length > 0) {
        to = SendScintilla(SCI_POSITIONRELATIVE, static_cast<unsigned long>(from), static_cast<long>(length));
        if (to == 0)
            to = this->length();
    }
    SendScintilla(SCI_SETSEL, static_cast<unsigned long>(from), to);
}

std::size_t RichTextBox::caretByte() const { return static_cast<std::size_t>(SendScintilla(SCI_GETSELECTIONSTART)); }

void RichTextBox::selectBytes(std::size_t start, std::size_t length)
{
    SendScintilla(SCI_SETSEL, static_cast<unsigned long>(start), static_cast<long>(start + length));
    lastValid_ = false;
}

void RichTextBox::replaceText(std::string_view utf8)
{
    // One undo step: the old text goes to the undo history, Ctrl+Z brings it back.
    SendScintilla(SCI_BEGINUNDOACTION);
    SendScintilla(SCI_CLEARALL);
    SendScintilla(SCI_APPENDTEXT, static_cast<unsigned long>(utf8.size()), utf8.data());
    SendScintilla(SCI_ENDUNDOACTION);
    SendScintilla(SCI_GOTOPOS, 0L);
    lastValid_ = false;
    fitMargin();
}

void RichTextBox::dragEnterEvent(QDragEnterEvent* e)
{
    if (!localFiles(e->mimeData()).isEmpty())
        e->acceptProposedAction();
    else
        QsciScintilla::dragEnterEvent(e);
}

void RichTextBox::dragMoveEvent(QDragMoveEvent* e)
{
    if (!localFiles(e->mimeData()).isEmpty())
        e->acceptProposedAction();
    else
        QsciScintilla::dragMoveEvent(e);
}

void RichTextBox::dropEvent(QDropEvent* e)
{
    QList<QByteArray> files = localFiles(e->mimeData());
    if (files.isEmpty())
        return QsciScintilla::dropEvent(e);
    e->acceptProposedAction();
    emit filesDropped(files);
}

} // namespace tarvex
