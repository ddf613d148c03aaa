#include "editor/ui/CompFrm.h"
#include "editor/ui/RichTextBox.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

namespace tarvex {
namespace {

constexpr int markerDiffers = 1;
constexpr int frameIndicator = 9; // the current difference, framed
constexpr int wordIndicator = 10; // the words a changed block changed
constexpr int fillerStyle = 40;   // the rows standing for lines the other side has
// A block only the first program has, one only the second has.
constexpr long markerColour[2] = {0xD8D8FF, 0xD0F0D0}; // BGR: light red, light green

} // namespace

CompFrm::CompFrm(const std::string& firstTitle, const std::string& secondTitle,
                 std::unique_ptr<Comparison> comparison, const FontSpec& font,
                 const std::vector<std::uint32_t>& wordColours, QWidget* parent)
    : QWidget(parent, Qt::Window), comparison_(std::move(comparison))
{
    setObjectName("CompFrm");
    setWindowTitle("プログラムの比較");
    auto* split = new QSplitter(this);
    const std::string* texts[2] = {&comparison_->first, &comparison_->second};
    const std::string titles[2] = {firstTitle, secondTitle};
    for (int side = 0; side < 2; ++side) {
        auto* pane = new QWidget(split);
        auto* box = new QVBoxLayout(pane);
        box->setContentsMargins(0, 0, 0, 0);
        auto* title = new QLabel(QString::fromStdString(titles[side]), pane);
        title->setTextInteractionFlags(Qt::TextSelectableByMouse);
        box->addWidget(title);
        auto* text = new RichTextBox(pane);
        text->setObjectName(QString("Text1(%1)").arg(side));
        text->setFont(font);
        text->setWordColours(wordColours);
        text->setText(*texts[side]);
        text->setReadOnly(true);
        text->SendScintilla(QsciScintillaBase::SCI_MARKERDEFINE, static_cast<unsigned long>(markerDiffers),
                            static_cast<long>(QsciScintillaBase::SC_MARK_BACKGROUND));
        text->SendScintilla(QsciScintillaBase::SCI_MARKERSETBACK, static_cast<unsigned long>(markerDiffers),
                            markerColour[side]);
        text->SendScintilla(QsciScintillaBase::SCI_INDICSETSTYLE, static_cast<unsigned long>(frameIndicator),
                            static_cast<long>(QsciScintillaBase::INDIC_FULLBOX));
        text->SendScintilla(QsciScintillaBase::SCI_INDICSETFORE, static_cast<unsigned long>(frameIndicator), 0x000000L);
        text->SendScintilla(QsciScintillaBase::SCI_INDICSETOUTLINEALPHA, static_cast<unsigned long>(frameIndicator), 255L);
        text->SendScintilla(QsciScintillaBase::SCI_INDICSETALPHA, static_cast<unsigned long>(frameIndicator), 0L);
        text->SendScintilla(QsciScintillaBase::SCI_INDICSETSTYLE, static_cast<unsigned long>(wordIndicator),
                            static_cast<long>(QsciScintillaBase::INDIC_STRAIGHTBOX));
        text->SendScintilla(QsciScintillaBase::SCI_INDICSETFORE, static_cast<unsigned long>(wordIndicator),
                            side == 0 ? 0x3030C0L : 0x309030L); // BGR: red, green
        text->SendScintilla(QsciScintillaBase::SCI_INDICSETALPHA, static_cast<unsigned long>(wordIndicator), 90L);
        box->addWidget(text);
        Text1[static_cast<std::size_t>(side)] = text;
    }
    auto offset = [this](int side, std::string_view at) {
        return static_cast<std::size_t>(at.data() - (side == 0 ? comparison_->first : comparison_->second).data());
    };
    std::size_t counts[2] = {};
    for (const BlockDifference& d : comparison_->differences) {
        const int side = d.inFirst ? 0 : 1;
        const long line = Text1[static_cast<std::size_t>(side)]->lineAt(offset(side, d.text));
        Text1[static_cast<std::size_t>(side)]->SendScintilla(QsciScintillaBase::SCI_MARKERADD,
                                                             static_cast<unsigned long>(line),
                                                             static_cast<long>(markerDiffers));
        marked_.emplace_back(side, line);
        ++counts[side];
    }
    // A run of removed blocks followed by as many added ones: each pair is
    // one changed block, its changed words shown.
    const auto& d = comparison_->differences;
    for (std::size_t k = 0; k < d.size();) {
        std::size_t removed = 0, added = 0;
        while (k + removed < d.size() && d[k + removed].inFirst && d[k + removed].place == d[k].place)
            ++removed;
        while (k + removed + added < d.size() && !d[k + removed + added].inFirst && d[k + removed + added].place == d[k].place)
            ++added;
        for (std::size_t q = 0; removed == added && q < removed; ++q)
            for (int side = 0; side < 2; ++side) {
                const BlockDifference& mine = d[k + q + (side ? removed : 0)];
                const BlockDifference& theirs = d[k + q + (side ? 0 : removed)];
                RichTextBox* t = Text1[static_cast<std::size_t>(side)];
                t->SendScintilla(QsciScintillaBase::SCI_SETINDICATORCURRENT, static_cast<unsigned long>(wordIndicator));
                const std::size_t start = offset(side, mine.text);
                for (auto [b, e] : changedWords(mine.text, theirs.text))
                    t->SendScintilla(QsciScintillaBase::SCI_INDICATORFILLRANGE, static_cast<unsigned long>(start + b),
                                     static_cast<long>(e - b));
            }
        k += std::max<std::size_t>(1, removed + added);
    }
    fill();

    Label1 = new QLabel(this);
    Label1->setObjectName("Label1");
    Label1->setText(comparison_->differences.empty()
                        ? QString("同じプログラムです（シーケンス番号、空白、数値の書き方の違いを除く）。")
                        : QString("相違のあるブロック: 左 %1、右 %2").arg(counts[0]).arg(counts[1]));
    Command1 = {new QPushButton("前の相違", this), new QPushButton("次の相違", this), new QPushButton("閉じる", this)};
    for (std::size_t k = 0; k < Command1.size(); ++k)
        Command1[k]->setObjectName(QString("Command1(%1)").arg(k));
    Command1[0]->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));
    Command1[1]->setShortcut(QKeySequence(Qt::Key_F3));
    Command1[0]->setToolTip("前の相違 (Shift+F3)");
    Command1[1]->setToolTip("次の相違 (F3)");
    Command1[2]->setShortcut(QKeySequence(Qt::Key_Escape));
    for (QPushButton* b : {Command1[0], Command1[1]})
        b->setEnabled(!marked_.empty());
    auto* keys = new QHBoxLayout;
    keys->addWidget(Label1, 1);
    for (QPushButton* b : Command1)
        keys->addWidget(b);
    auto* all = new QVBoxLayout(this);
    all->addWidget(split, 1);
    all->addLayout(keys);
    connect(Command1[0], &QPushButton::clicked, this, [this] { step(-1); });
    connect(Command1[1], &QPushButton::clicked, this, [this] { step(1); });
    connect(Command1[2], &QPushButton::clicked, this, &QWidget::close);
    for (int side = 0; side < 2; ++side)
        connect(Text1[static_cast<std::size_t>(side)], &QsciScintillaBase::SCN_UPDATEUI, this, [this, side](int updated) {
            if (updated & QsciScintillaBase::SC_UPDATE_V_SCROLL)
                follow(side);
        });
    split->setSizes({1 << 20, 1 << 20}); // halves
    // As large as the main window (at least 1000 by 650), but inside the
    // screen the main window stands on, centred on it.
    QScreen* screen = parent && parent->screen() ? parent->screen() : QGuiApplication::primaryScreen();
    const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 1000, 650);
    resize((parent ? parent->size().expandedTo(QSize(1000, 650)) : QSize(1000, 650)).boundedTo(room.size() * 0.95));
    QRect place(QPoint(), frameSize());
    place.moveCenter(parent ? parent->frameGeometry().center() : room.center());
    place.moveLeft(std::clamp(place.left(), room.left(), std::max(room.left(), room.right() - place.width())));
    place.moveTop(std::clamp(place.top(), room.top(), std::max(room.top(), room.bottom() - place.height())));
    move(place.topLeft());
}

CompFrm::~CompFrm() = default;

// Filler rows below the lines before each level pair on the side that has
// fewer, so that the two sides stay paired row for row; the end alike. Rows
// wanted above a side's first line cannot be shown: that side counts them.
void CompFrm::fill()
{
    std::vector<std::pair<long, long>> level;
    for (auto [a, b] : comparison_->level)
        level.emplace_back(Text1[0]->lineAt(a), Text1[1]->lineAt(b));
    level.emplace_back(Text1[0]->SendScintilla(QsciScintillaBase::SCI_GETLINECOUNT),
                       Text1[1]->SendScintilla(QsciScintillaBase::SCI_GETLINECOUNT));
    for (RichTextBox* t : Text1) {
        t->SendScintilla(QsciScintillaBase::SCI_STYLESETBACK, static_cast<unsigned long>(fillerStyle), 0xE8E8E8L);
        t->SendScintilla(QsciScintillaBase::SCI_ANNOTATIONSETVISIBLE,
                         static_cast<unsigned long>(QsciScintillaBase::ANNOTATION_STANDARD));
    }
    // A side may scroll past its end: the rows stay paired also at the top
    // of a short pair of programs, when one side starts lower.
    for (RichTextBox* t : Text1)
        t->SendScintilla(QsciScintillaBase::SCI_SETENDATLASTLINE, 0UL);
    long added[2] = {};
    for (auto [a, b] : level) {
        const long at[2] = {a, b};
        const long rows[2] = {added[0] + a, added[1] + b};
        const int side = rows[0] < rows[1] ? 0 : 1;
        const long missing = rows[1 - side] - rows[side];
        if (missing == 0)
            continue;
        added[side] += missing;
        if (at[side] == 0) {
            top_[side] = missing;
            continue;
        }
        std::string rowsText(" ");
        for (long k = 1; k < missing; ++k)
            rowsText += "\n ";
        RichTextBox* t = Text1[static_cast<std::size_t>(side)];
        t->SendScintilla(QsciScintillaBase::SCI_ANNOTATIONSETTEXT, static_cast<unsigned long>(at[side] - 1),
                         rowsText.c_str());
        t->SendScintilla(QsciScintillaBase::SCI_ANNOTATIONSETSTYLE, static_cast<unsigned long>(at[side] - 1),
                         static_cast<long>(fillerStyle));
    }
}

void CompFrm::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    // A side with rows it cannot show above its first line starts level:
    // the other side starts that many rows down.
    for (int side = 0; side < 2 && !shown_; ++side)
        if (top_[side])
            follow(side);
    shown_ = true;
}

// The other side shows the same row: the filler keeps them paired.
void CompFrm::follow(int from)
{
    const int to = 1 - from;
    const long first = Text1[static_cast<std::size_t>(from)]->SendScintilla(QsciScintillaBase::SCI_GETFIRSTVISIBLELINE);
    // The scroll this side was given to follow the other, heard of later:
    // following it back would pull the other side to where it was.
    if (std::exchange(echo_[from], -1) == first)
        return;
    const long line = std::max(0L, first + top_[from] - top_[to]);
    RichTextBox* other = Text1[static_cast<std::size_t>(to)];
    if (other->SendScintilla(QsciScintillaBase::SCI_GETFIRSTVISIBLELINE) == line)
        return;
    other->SendScintilla(QsciScintillaBase::SCI_SETFIRSTVISIBLELINE, static_cast<unsigned long>(line));
    echo_[to] = other->SendScintilla(QsciScintillaBase::SCI_GETFIRSTVISIBLELINE);
}

// The next or the previous run of differing blocks (one side's, line after
// line), shown a few lines down.
void CompFrm::step(int direction)
{
    const int n = static_cast<int>(marked_.size());
    auto joined = [this](int k) { // entry k goes on the run of entry k - 1
        const auto& a = marked_[static_cast<std::size_t>(k - 1)];
        const auto& b = marked_[static_cast<std::size_t>(k)];
        return a.first == b.first && b.second == a.second + 1;
    };
    int i = current_;
    if (direction > 0) {
        i = current_ + 1;
        while (current_ >= 0 && i < n && joined(i))
            ++i;
        if (i >= n)
            return;
    } else {
        if (current_ <= 0)
            return;
        i = current_ - 1;
        while (i > 0 && joined(i))
            --i;
    }
    current_ = i;
    const auto [side, line] = marked_[static_cast<std::size_t>(i)];
    RichTextBox* text = Text1[static_cast<std::size_t>(side)];
    // The run shown is framed, and only that one.
    for (RichTextBox* t : Text1) {
        t->SendScintilla(QsciScintillaBase::SCI_SETINDICATORCURRENT, static_cast<unsigned long>(frameIndicator));
        t->SendScintilla(QsciScintillaBase::SCI_INDICATORCLEARRANGE, 0UL, t->SendScintilla(QsciScintillaBase::SCI_GETLENGTH));
    }
    int last = i;
    while (last + 1 < n && joined(last + 1))
        ++last;
    const long from = text->SendScintilla(QsciScintillaBase::SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    const long to = text->SendScintilla(QsciScintillaBase::SCI_GETLINEENDPOSITION,
                                        static_cast<unsigned long>(marked_[static_cast<std::size_t>(last)].second));
    text->SendScintilla(QsciScintillaBase::SCI_INDICATORFILLRANGE, static_cast<unsigned long>(from), to - from);
    const long row = text->SendScintilla(QsciScintillaBase::SCI_VISIBLEFROMDOCLINE, static_cast<unsigned long>(line));
    text->SendScintilla(QsciScintillaBase::SCI_SETFIRSTVISIBLELINE, static_cast<unsigned long>(std::max(0L, row - 3)));
    text->SendScintilla(QsciScintillaBase::SCI_GOTOLINE, static_cast<unsigned long>(line));
    follow(side);
}

} // namespace tarvex
