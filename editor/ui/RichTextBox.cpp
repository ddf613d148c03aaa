#include "editor/ui/RichTextBox.h"
#include "platform/TextLines.h"
#include "program/Colouring.h"
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
constexpr int firstWordStyle = 2; // the style of a word kind k >= 1: firstWordStyle + k - 1
// Unstyled text before the view beyond this is passed over.
constexpr long styleReach = 64 * 1024;

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
    watchChanges();
}

void RichTextBox::watchChanges()
{
    // Breaks and colours follow each change, heard of before it is made:
    // Scintilla's own accessible text counts the characters from the start
    // for each change made (a tenth of a second at the end of 20 MB), not
    // for one announced. Nothing else of ours listens.
    const bool announced = breakMode_ || !wordColours_.empty() || coloured_;
    SendScintilla(SCI_SETMODEVENTMASK,
                  (announced ? static_cast<unsigned long>(SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE) : 0UL)
                      | (fullAccessibility_ ? static_cast<unsigned long>(SC_MOD_INSERTTEXT | SC_MOD_DELETETEXT) : 0UL));
}

void RichTextBox::breakMode(bool on)
{
    if (on == breakMode_)
        return;
    breakMode_ = on;
    breaks_.clear();
    plainValid_ = false;
    watchChanges(); // the breaks move with each change
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
    if (loading_ || !(type & (SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE)))
        return;
    followStyled(position, (type & SC_MOD_BEFOREINSERT) ? length : -length);
    if (!breakMode_)
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

// The editor is its own lexer: the words of the program in their colours,
// and the breaks in a style that makes them impossible to delete or to put
// the caret in. Text inserted before a break moves it and its style; text an
// undo brings back is unstyled until styled again here.
void RichTextBox::styleText(int position)
{
    auto lineStart = [this](long line) {
        return SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    };
    const long endStyled = SendScintilla(SCI_GETENDSTYLED);
    const std::vector<long>& b = breaks();
    auto styleBreaks = [&](long from, long to) {
        for (auto it = std::lower_bound(b.begin(), b.end(), from); it != b.end() && *it < to; ++it) {
            SendScintilla(SCI_STARTSTYLING, static_cast<unsigned long>(*it), 0L);
            SendScintilla(SCI_SETSTYLING, 2UL, static_cast<long>(breakStyle));
        }
    };
    if (wordColours_.empty() && !coloured_) {
        // Plain text: only the breaks, all at once.
        styleBreaks(endStyled - 1, length());
        SendScintilla(SCI_STARTSTYLING, static_cast<unsigned long>(length()), 0L);
        return;
    }
    const long needLine = SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(std::max(position, 1) - 1));
    const long end = needLine + 1 < lines() ? lineStart(needLine + 1) : length();
    long from = lineStart(SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(endStyled)));
    // Only what is shown is styled: far from what was styled last (the end
    // of a long program), Scintilla is left to ask at every paint; what was
    // styled for the last paint is kept, but for the lines changed since.
    const long view = lineStart(SendScintilla(SCI_DOCLINEFROMVISIBLE, SendScintilla(SCI_GETFIRSTVISIBLELINE)));
    const bool jump = std::min(view, end) - from > styleReach;
    if (jump)
        from = std::max(from, std::min(view, lineStart(needLine)));
    if (jump && styledFrom_ <= from && end <= styledTo_) {
        // A change at the very end (a deletion there) touches the last line.
        for (auto& c : changed_)
            if (c.first >= length())
                c = {std::max(0L, length() - 1), std::max(0L, length() - 1)};
        std::sort(changed_.begin(), changed_.end());
        long done = from;
        for (auto [a, z] : changed_) {
            a = std::max(a, done);
            z = std::min(z, end - 1);
            if (a > z)
                continue;
            const long last = SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(z));
            done = last + 1 < lines() ? lineStart(last + 1) : length();
            styleRange(lineStart(SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(a))), done);
        }
    } else {
        styleRange(from, end);
        if (jump) {
            styledFrom_ = from;
            styledTo_ = end;
            changed_.clear();
        }
    }
    std::erase_if(changed_, [&](std::pair<long, long> c) { return c.first >= from && c.second < end; });
    if (!jump)
        styleBreaks(end, length()); // the breaks beyond: never a position to put the caret in
    SendScintilla(SCI_STARTSTYLING, static_cast<unsigned long>(jump ? endStyled : end), 0L);
}

// Styles whole lines: each byte by its word kind, the breaks as breaks.
void RichTextBox::styleRange(long from, long to)
{
    if (to <= from)
        return;
    text_.resize(static_cast<std::size_t>(to - from) + 1);
    SendScintilla(SCI_GETTEXTRANGE, from, to, text_.data());
    const std::string_view held(text_.data(), static_cast<std::size_t>(to - from));
    styles_.assign(held.size(), '\0');
    if (!wordColours_.empty()) {
        coloured_ = true;
        TextLines lines(held);
        std::string_view line;
        while (lines.next(line)) {
            kinds_.resize(line.size());
            nc::colourLine(line, kinds_.data());
            for (std::size_t i = 0; i < line.size(); ++i)
                if (kinds_[i] != nc::WordKind::Plain)
                    styles_[lines.start() + i] = static_cast<char>(firstWordStyle + static_cast<int>(kinds_[i]) - 1);
        }
    }
    const std::vector<long>& b = breaks();
    for (auto it = std::lower_bound(b.begin(), b.end(), from); it != b.end() && *it + 1 < to; ++it)
        styles_[static_cast<std::size_t>(*it - from)] = styles_[static_cast<std::size_t>(*it - from + 1)] = breakStyle;
    SendScintilla(SCI_STARTSTYLING, static_cast<unsigned long>(from), 0L);
    SendScintilla(SCI_SETSTYLINGEX, static_cast<unsigned long>(styles_.size()), styles_.data());
}

// What was styled for the view moves with a change; the lines a change
// touches inside it are to be styled again.
void RichTextBox::followStyled(long position, long delta)
{
    if (styledTo_ <= styledFrom_)
        return;
    const long gone = delta < 0 ? position - delta : position; // end of a deletion
    if (gone <= styledFrom_) {
        styledFrom_ += delta;
        styledTo_ += delta;
    } else if (position >= styledTo_) {
        return;
    } else if (position < styledFrom_ || gone > styledTo_) {
        styledFrom_ = styledTo_ = 0; // a change across its edge: all of it again
        changed_.clear();
        return;
    } else {
        styledTo_ += delta;
    }
    for (auto& c : changed_)
        for (long* at : {&c.first, &c.second})
            if (*at >= gone)
                *at += delta;
            else if (*at > position)
                *at = position;
    if (position >= styledFrom_)
        changed_.emplace_back(position, position + std::max(delta, 0L));
}

void RichTextBox::setWordColours(const std::vector<std::uint32_t>& rgb)
{
    wordColours_ = rgb;
    styledFrom_ = styledTo_ = 0;
    changed_.clear();
    watchChanges();
    applyStyles();
    // Styled again as it is shown.
    SendScintilla(SCI_STARTSTYLING, 0UL, 0L);
    viewport()->update();
}

void RichTextBox::applyStyles()
{
    for (std::size_t k = 1; k < wordColours_.size(); ++k) {
        const std::uint32_t c = wordColours_[k];
        const long bgr = static_cast<long>(((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF));
        SendScintilla(SCI_STYLESETFORE, static_cast<unsigned long>(firstWordStyle + k - 1), bgr);
    }
    if (breakMode_)
        SendScintilla(SCI_STYLESETCHANGEABLE, static_cast<unsigned long>(breakStyle), 0L);
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

long RichTextBox::lineAt(std::size_t realByte) const
{
    return SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(toBuffer(realByte)));
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
    watchChanges();
    connect(this, &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int position, int type, const char*, int length, int, int, int, int, int, int) {
                onModified(position, type, length);
            });
    connect(this, &QsciScintillaBase::SCN_STYLENEEDED, this, &RichTextBox::styleText);
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
    // A new text: all of it plain, nothing styled.
    coloured_ = false;
    styledFrom_ = styledTo_ = 0;
    changed_.clear();
    watchChanges();
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
    applyStyles(); // the new font's styles have lost their colours, and are changeable again
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
