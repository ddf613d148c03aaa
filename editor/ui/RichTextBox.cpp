#include "editor/ui/RichTextBox.h"
#include "platform/TextLines.h"
#include "platform/posix/PosixFileSystem.h"
#include "platform/qt/QtUiServices.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <cstring>
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

// Lines longer than this are held in pieces of about half of it.
constexpr std::size_t longLine = 32 * 1024, pieceSize = 16 * 1024;
constexpr int breakStyle = 1;

// The text with a display break after each piece of every long line, and
// where each break stands; false when it has none (and out is left empty).
bool withBreaks(std::string_view utf8, std::string& out, std::vector<long>& breaks)
{
    TextLines lines(utf8);
    std::string_view line;
    bool any = false;
    while (!any && lines.next(line))
        any = line.size() > longLine;
    if (!any)
        return false;
    out.reserve(utf8.size() + 2 * (utf8.size() / pieceSize + 1));
    TextLines again(utf8);
    while (again.next(line)) {
        std::size_t at = 0;
        while (line.size() > longLine && line.size() - at > pieceSize) {
            std::size_t cut = at + pieceSize;
            while ((static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
                --cut; // never inside a character
            out.append(line.substr(at, cut - at));
            breaks.push_back(static_cast<long>(out.size()));
            out += "\xFF\n";
            at = cut;
        }
        out.append(utf8.substr(again.start() + at, again.position() - again.start() - at));
    }
    return true;
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
    SendScintilla(SCI_SETMODEVENTMASK, static_cast<unsigned long>(SC_MOD_INSERTTEXT | SC_MOD_DELETETEXT)
                                           | (breakMode_ ? SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE : 0UL));
}

void RichTextBox::breakMode(bool on)
{
    if (on == breakMode_)
        return;
    breakMode_ = on;
    breaks_.clear();
    plainValid_ = false;
    // Only with breaks does the editor follow each change: they must move
    // with it. It hears of a change before it is made: Scintilla's own
    // accessible text counts the characters from the start for each change
    // made (a tenth of a second at the end of 20 MB), not for one announced.
    const unsigned long announced = on ? SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE : 0;
    SendScintilla(SCI_SETMODEVENTMASK,
                  announced | (fullAccessibility_ ? static_cast<unsigned long>(SC_MOD_INSERTTEXT | SC_MOD_DELETETEXT) : 0UL));
    if (on) {
        SendScintilla(SCI_STYLESETCHANGEABLE, static_cast<unsigned long>(breakStyle), 0L);
        SendScintilla(SCI_SETREPRESENTATION, "\xFF", "\xE2\x86\xA9"); // ↩: the line goes on below
        // Each piece is laid out once while it is shown, not at every paint.
        SendScintilla(SCI_SETLAYOUTCACHE, static_cast<unsigned long>(SC_CACHE_PAGE));
        setMarginType(0, TextMarginRightJustified);
    } else {
        SendScintilla(SCI_MARGINTEXTCLEARALL);
        SendScintilla(SCI_SETLAYOUTCACHE, static_cast<unsigned long>(SC_CACHE_CARET));
        setMarginType(0, NumberMargin);
    }
}

void RichTextBox::onModified(int position, int type, int length)
{
    if (!breakMode_ || loading_ || !(type & (SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE)))
        return;
    plainValid_ = false;
    lastValid_ = false;
    auto at = std::lower_bound(breaks_.begin(), breaks_.end(), static_cast<long>(position));
    if (type & SC_MOD_BEFOREINSERT) {
        for (auto it = at; it != breaks_.end(); ++it)
            *it += length;
        // A typed character holds no break; text an undo, a paste or a drop
        // brings may: the breaks are looked for again when next needed.
        if (length > 1)
            rescan_ = true;
    } else {
        auto end = std::lower_bound(at, breaks_.end(), static_cast<long>(position + length));
        at = breaks_.erase(at, end);
        for (auto it = at; it != breaks_.end(); ++it)
            *it -= length;
    }
}

// The editor has no lexer: its only styling marks the breaks, which makes
// them impossible to delete or to put the caret in. Text inserted before
// them moves them and their style; text an undo brings back is unstyled.
void RichTextBox::styleBreaks(int)
{
    const std::vector<long>& b = breaks();
    if (b.empty())
        return;
    const long from = SendScintilla(SCI_GETENDSTYLED);
    for (auto it = std::lower_bound(b.begin(), b.end(), from - 1); it != b.end(); ++it) {
        SendScintilla(SCI_STARTSTYLING, static_cast<unsigned long>(*it), 0L);
        SendScintilla(SCI_SETSTYLING, 2UL, static_cast<long>(breakStyle));
    }
    SendScintilla(SCI_STARTSTYLING, static_cast<unsigned long>(length()), 0L);
}

// With breaks the margin counts the program's lines, not the editor's: a
// piece that continues a line gets no number. Only the lines shown are numbered.
void RichTextBox::numberVisibleLines()
{
    if (!breakMode_)
        return;
    const long first = SendScintilla(SCI_GETFIRSTVISIBLELINE);
    const long last = std::min<long>(first + SendScintilla(SCI_LINESONSCREEN) + 1, lines());
    for (long v = first; v < last; ++v) {
        const long start = SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(v));
        const long before = breaksBefore(start);
        const bool continued = before > 0 && breaks()[static_cast<std::size_t>(before - 1)] + 2 == start;
        const QByteArray number = continued ? QByteArray() : QByteArray::number(v - before + 1);
        // Set only when it changes: a change draws the margin again.
        char shown[24] = {};
        if (SendScintilla(SCI_MARGINGETTEXT, static_cast<unsigned long>(v), static_cast<long>(0)) < 24)
            SendScintilla(SCI_MARGINGETTEXT, static_cast<unsigned long>(v), shown);
        if (number != shown) {
            SendScintilla(SCI_MARGINSETTEXT, static_cast<unsigned long>(v), number.constData());
            SendScintilla(SCI_MARGINSETSTYLE, static_cast<unsigned long>(v), static_cast<long>(STYLE_LINENUMBER));
        }
    }
}

const std::vector<long>& RichTextBox::breaks() const
{
    if (rescan_) {
        // Both sides of Scintilla's gap, so that the text is not moved.
        breaks_.clear();
        const long gap = SendScintilla(SCI_GETGAPPOSITION), end = length();
        for (auto [from, to] : {std::pair{0L, gap}, {gap, end}}) {
            auto* p = reinterpret_cast<const char*>(
                SendScintilla(SCI_GETRANGEPOINTER, static_cast<unsigned long>(from), to - from));
            for (const char* q = p; p && (q = static_cast<const char*>(std::memchr(q, 0xFF, p + (to - from) - q)));
                 ++q)
                breaks_.push_back(from + (q - p));
        }
        rescan_ = false;
    }
    return breaks_;
}

long RichTextBox::breaksBefore(long position) const
{
    const std::vector<long>& b = breaks();
    return std::lower_bound(b.begin(), b.end(), position) - b.begin();
}

long RichTextBox::toBuffer(std::size_t realByte) const
{
    // The break i stands at the real offset breaks()[i] - 2i.
    const long r = static_cast<long>(realByte);
    std::size_t lo = 0, hi = breaks().size();
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (breaks()[mid] - 2 * static_cast<long>(mid) < r)
            lo = mid + 1;
        else
            hi = mid;
    }
    return r + 2 * static_cast<long>(lo);
}

std::size_t RichTextBox::toReal(long position) const
{
    const long k = breaksBefore(position);
    if (k > 0 && breaks()[static_cast<std::size_t>(k - 1)] + 1 == position)
        return static_cast<std::size_t>(position - 1 - 2 * (k - 1)); // inside a break: where it stands
    return static_cast<std::size_t>(position - 2 * k);
}

// delta characters of the real text on from a position: each break passed
// adds its two.
long RichTextBox::moveChars(long from, long delta) const
{
    auto relative = [this](long p, long d) {
        if (d == 0)
            return p;
        const long q = SendScintilla(SCI_POSITIONRELATIVE, static_cast<unsigned long>(p), d);
        return q == 0 && d > 0 ? length() : q;
    };
    long to = relative(from, delta);
    if (breaks().empty() || delta <= 0)
        return to;
    for (long counted = 0;;) {
        const long crossed = breaksBefore(to) - breaksBefore(from);
        if (crossed == counted)
            return to;
        to = relative(to, 2 * (crossed - counted));
        counted = crossed;
    }
}

// Backspace at the start of a piece and Delete at its end act on the
// character beyond the break, as on one line.
void RichTextBox::keyPressEvent(QKeyEvent* e)
{
    const long caret = SendScintilla(SCI_GETCURRENTPOS);
    const bool back = e->key() == Qt::Key_Backspace, forward = e->key() == Qt::Key_Delete;
    if (!breaks().empty() && (back || forward) && e->modifiers() == Qt::NoModifier && !isReadOnly()
        && SendScintilla(SCI_GETSELECTIONEMPTY)) {
        const long k = breaksBefore(caret);
        const bool atStart = back && k > 0 && breaks()[static_cast<std::size_t>(k - 1)] + 2 == caret;
        const bool atEnd = forward && k < static_cast<long>(breaks().size()) && breaks()[static_cast<std::size_t>(k)] == caret;
        if (atStart || atEnd) {
            const long b = atStart ? caret - 2 : caret;
            const long from = atStart ? SendScintilla(SCI_POSITIONBEFORE, static_cast<unsigned long>(b)) : b + 2;
            const long to = atStart ? b : SendScintilla(SCI_POSITIONAFTER, static_cast<unsigned long>(b + 2));
            if (from < to)
                SendScintilla(SCI_DELETERANGE, static_cast<unsigned long>(from), to - from);
            return e->accept();
        }
    }
    QsciScintilla::keyPressEvent(e);
}

QMimeData* RichTextBox::toMimeData(const QByteArray& text, bool rectangular) const
{
    QByteArray plain = text;
    plain.replace(QByteArray("\xFF\n", 2), QByteArray());
    return QsciScintilla::toMimeData(plain, rectangular);
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
    connect(this, &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int position, int type, const char*, int length, int, int, int, int, int, int) {
                onModified(position, type, length);
            });
    connect(this, &QsciScintillaBase::SCN_STYLENEEDED, this, &RichTextBox::styleBreaks);
    connect(this, &QsciScintillaBase::SCN_UPDATEUI, this, [this] { numberVisibleLines(); });
    if (QAccessible::isActive())
        useFullAccessibility();
    fitMargin();
}

long RichTextBox::length() const { return SendScintilla(SCI_GETLENGTH); }

std::string RichTextBox::text() const { return std::string(const_cast<RichTextBox*>(this)->textView()); }

std::string_view RichTextBox::textView()
{
    auto* p = reinterpret_cast<const char*>(SendScintilla(SCI_GETCHARACTERPOINTER));
    const std::string_view held(p, static_cast<std::size_t>(length()));
    if (breaks().empty())
        return held;
    if (!plainValid_) {
        plain_.clear();
        plain_.reserve(held.size());
        std::size_t at = 0;
        for (long b : breaks()) {
            plain_.append(held.substr(at, static_cast<std::size_t>(b) - at));
            at = static_cast<std::size_t>(b) + 2;
        }
        plain_.append(held.substr(std::min(at, held.size())));
        plainValid_ = true;
    }
    return plain_;
}

void RichTextBox::load(std::string_view utf8, bool undoable)
{
    std::string broken;
    std::vector<long> positions;
    const bool breaks = withBreaks(utf8, broken, positions);
    // Once an undo step may hold breaks they are followed until a new text.
    breakMode(breaks || (undoable && breakMode_));
    loading_ = true;
    const std::string_view held = breaks ? std::string_view(broken) : utf8;
    // The program may replace the text also while the user may not edit it.
    const bool wasReadOnly = isReadOnly();
    QsciScintilla::setReadOnly(false);
    if (undoable) {
        // One undo step: the old text goes to the undo history, Ctrl+Z brings it back.
        SendScintilla(SCI_BEGINUNDOACTION);
        SendScintilla(SCI_CLEARALL);
        SendScintilla(SCI_APPENDTEXT, static_cast<unsigned long>(held.size()), held.data());
        SendScintilla(SCI_ENDUNDOACTION);
    } else {
        // A new text is no step to undo: without collecting, Scintilla keeps no
        // second copy of it.
        SendScintilla(SCI_SETUNDOCOLLECTION, 0UL);
        SendScintilla(SCI_CLEARALL);
        SendScintilla(SCI_ALLOCATE, static_cast<unsigned long>(held.size() + 1));
        SendScintilla(SCI_APPENDTEXT, static_cast<unsigned long>(held.size()), held.data());
        SendScintilla(SCI_SETUNDOCOLLECTION, 1UL);
        SendScintilla(SCI_EMPTYUNDOBUFFER);
        SendScintilla(SCI_SETSAVEPOINT);
    }
    loading_ = false;
    breaks_ = std::move(positions);
    rescan_ = false;
    plainValid_ = false;
    SendScintilla(SCI_GOTOPOS, 0L);
    lastValid_ = false;
    QsciScintilla::setReadOnly(wasReadOnly);
    fitMargin();
    numberVisibleLines();
}

void RichTextBox::setText(std::string_view utf8) { load(utf8, false); }

bool RichTextBox::canHold(std::size_t utf8Bytes) const
{
    // Scintilla keeps the text and a style byte per byte, beside the text
    // being handed over; a quarter more for its line index and the display.
    const auto memory = availableMemory();
    return !memory || static_cast<double>(utf8Bytes) * 3.25 < static_cast<double>(*memory);
}

void RichTextBox::appendText(std::string_view utf8)
{
    // Received text makes a long line as it arrives: a break goes in
    // whenever the line since its start or its last break reaches the limit.
    const long end = length();
    std::size_t run = static_cast<std::size_t>(
        end - SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(SendScintilla(SCI_LINEFROMPOSITION, end))));
    std::string held;
    std::size_t from = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        if (c == '\r' || c == '\n') {
            run = 0;
        } else if (run >= longLine && (static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            held.append(utf8.substr(from, i - from)).append("\xFF\n");
            from = i;
            run = 1;
        } else {
            ++run;
        }
    }
    if (!held.empty()) {
        breakMode(true);
        held.append(utf8.substr(from));
        utf8 = held;
    }
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
    if (breakMode_) // the new font's styles are all changeable again
        SendScintilla(SCI_STYLESETCHANGEABLE, static_cast<unsigned long>(breakStyle), 0L);
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
    // Relative to the last selection when that is nearer than the start
    // (with breaks, only forward).
    const bool fromLast = lastValid_ && isReadOnly() && chars >= (breaks().empty() ? lastChars_ / 2 : lastChars_)
                          && lastPosition_ <= end;
    const long base = fromLast ? lastPosition_ : 0;
    const long delta = fromLast ? static_cast<long>(chars) - static_cast<long>(lastChars_) : static_cast<long>(chars);
    long pos = moveChars(base, delta);
    // A position before a break is the one after it: the next character.
    if (breaksBefore(pos + 1) != breaksBefore(pos))
        pos += 2;
    return std::min(pos, end);
}

std::size_t RichTextBox::selStart() const
{
    const long start = SendScintilla(SCI_GETSELECTIONSTART);
    return static_cast<std::size_t>(charsTo(start) - 2 * breaksBefore(start));
}

std::size_t RichTextBox::selLength() const
{
    long start = SendScintilla(SCI_GETSELECTIONSTART), end = SendScintilla(SCI_GETSELECTIONEND);
    return static_cast<std::size_t>(SendScintilla(SCI_COUNTCHARACTERS, static_cast<unsigned long>(start), end)
                                    - 2 * (breaksBefore(end) - breaksBefore(start)));
}

void RichTextBox::setSelection(std::size_t start, std::size_t length)
{
    long from = positionOf(start);
    lastValid_ = isReadOnly();
    lastChars_ = start;
    lastPosition_ = from;
    const long to = length > 0 ? moveChars(from, static_cast<long>(length)) : from;
    SendScintilla(SCI_SETSEL, static_cast<unsigned long>(from), to);
}

std::size_t RichTextBox::caretByte() const { return toReal(SendScintilla(SCI_GETSELECTIONSTART)); }

void RichTextBox::selectBytes(std::size_t start, std::size_t length)
{
    SendScintilla(SCI_SETSEL, static_cast<unsigned long>(toBuffer(start)), toBuffer(start + length));
    lastValid_ = false;
}

void RichTextBox::replaceText(std::string_view utf8) { load(utf8, true); }

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
