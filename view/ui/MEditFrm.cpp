#include "view/ui/MEditFrm.h"
#include "platform/UiServices.h"
#include "view/ui/PlotPicture.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>

namespace tarvex {
namespace {

// The editor shows the drawing's lines with its own line ends; the file has CR LF.
QString editorText(const std::string& drawing)
{
    QString t = QString::fromStdString(drawing);
    t.replace("\r\n", "\n");
    t.replace('\r', '\n');
    return t;
}

std::string fileText(const QString& editor)
{
    QString t = editor;
    t.replace('\n', "\r\n");
    return t.toStdString();
}

} // namespace

M_EditFrm::M_EditFrm(MarkingEditor editor, ColourChooser& colours, QSize size, QWidget* parent)
    : QWidget(parent, Qt::Tool), editor_(std::move(editor)), colours_(colours)
{
    setObjectName("M_EditFrm");
    setWindowTitle(" M_マーキングエディタ");
    setAttribute(Qt::WA_DeleteOnClose);
    resize(size);
    // Over the middle of the main window, not where the window manager finds room.
    if (parent)
        move(parent->frameGeometry().center() - QPoint(size.width() / 2, size.height() / 2));

    auto* grid = new QGridLayout(this);
    Combo1 = new QComboBox(this);
    Combo1->setObjectName("Combo1");
    Combo1->setEditable(true);
    // A name is what was typed: no completion from the list (typing "M1"
    // must not save over M10), and Enter adds no entry without a file.
    Combo1->setCompleter(nullptr);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo2 = new QComboBox(this);
    Combo2->setObjectName("Combo2");
    for (int w = MarkingFile::minWidth; w <= MarkingFile::maxWidth; ++w)
        Combo2->addItem(QString::number(w));
    Combo2->setCurrentIndex(0); // a new marking is drawn one pixel wide
    auto* swatch = new QFrame(this);
    swatch->setFrameShape(QFrame::Box); // white on a light window still shows
    Picture2 = swatch;
    Picture2->setObjectName("Picture2");
    Picture2->setAutoFillBackground(true);
    Picture2->setFixedSize(40, 20);
    Picture2->setCursor(Qt::PointingHandCursor);
    Picture2->installEventFilter(this);
    RichTextBox1 = new QPlainTextEdit(this);
    RichTextBox1->setObjectName("RichTextBox1");
    Picture1 = new PlotPicture(this);
    Picture1->setMinimumSize(120, 120);
    Command1 = new QPushButton("保存", this);
    Command1->setObjectName("Command1");

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel("コード", this));
    top->addWidget(Combo1, 1);
    top->addWidget(new QLabel("線幅", this));
    top->addWidget(Combo2);
    top->addWidget(new QLabel("カラー", this));
    top->addWidget(Picture2);
    grid->addLayout(top, 0, 0, 1, 2);
    grid->addWidget(RichTextBox1, 1, 0);
    grid->addWidget(Picture1, 1, 1);
    auto* rules = new QVBoxLayout;
    for (const char* rule : {"G00,G01,G02,G03のみ利用可", "円弧はIJで入力,R指定は不可", "G91で作成して下さい"})
        rules->addWidget(new QLabel(rule, this));
    grid->addLayout(rules, 2, 0);
    grid->addWidget(Command1, 2, 1, Qt::AlignRight | Qt::AlignBottom);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(1, 1);

    for (const std::string& name : editor_.names())
        Combo1->addItem(QString::fromStdString(name));
    Combo1->setCurrentIndex(-1);
    Combo1->clearEditText();
    setColour(MarkingFile::maxColour);

    // A name of the list loads its file; a new name typed loads nothing.
    connect(Combo1, &QComboBox::activated, this, [this](int index) {
        if (index >= 0)
            Combo1_Click(Combo1->itemText(index));
    });
    connect(Command1, &QPushButton::clicked, this, &M_EditFrm::Command1_Click);
    // The preview follows the pointer over it, and every change of the drawing.
    connect(Picture1, &PlotPicture::mouseMove, this, &M_EditFrm::redrawPreview);
    connect(Picture1, &PlotPicture::resized, this, &M_EditFrm::redrawPreview);
    connect(RichTextBox1, &QPlainTextEdit::textChanged, this, &M_EditFrm::redrawPreview);
    connect(Combo2, &QComboBox::currentIndexChanged, this, &M_EditFrm::redrawPreview);
}

void M_EditFrm::setColour(std::uint32_t colour)
{
    colour_ = colour;
    QPalette p = Picture2->palette();
    p.setColor(QPalette::Window, QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF));
    Picture2->setPalette(p);
}

void M_EditFrm::Combo1_Click(const QString& name)
{
    // A name whose file cannot be read leaves the drawing as it is.
    const auto marking = editor_.load(name.toStdString());
    if (!marking)
        return;
    Combo2->setCurrentIndex(marking->penWidth - 1);
    setColour(marking->colour);
    RichTextBox1->setPlainText(editorText(marking->drawing));
    redrawPreview();
}

void M_EditFrm::Picture2_Click()
{
    const auto chosen = colours_.choose(lastChosen_);
    if (!chosen)
        return;
    lastChosen_ = *chosen;
    setColour(*chosen);
    redrawPreview();
}

void M_EditFrm::Command1_Click()
{
    const QString name = Combo1->currentText();
    MarkingFile m{Combo2->currentIndex() + 1, colour_, fileText(RichTextBox1->toPlainText())};
    // A new name joins the list at once.
    if (editor_.save(name.toStdString(), m) && Combo1->findText(name) < 0)
        Combo1->addItem(name);
}

void M_EditFrm::redrawPreview()
{
    drawMarkingPreview(Picture1->surface(), markingPreview(fileText(RichTextBox1->toPlainText())),
                       Combo2->currentIndex() + 1, colour_);
}

bool M_EditFrm::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == Picture2 && e->type() == QEvent::MouseButtonRelease) {
        Picture2_Click();
        return true;
    }
    return QWidget::eventFilter(watched, e);
}

} // namespace tarvex
