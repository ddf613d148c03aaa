#include "serial/ui/RestartFrm.h"

#include <QButtonGroup>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

namespace tarvex {
namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

QPlainTextEdit* textBox(QWidget* parent, const char* name, bool readOnly, int lines)
{
    auto* t = new QPlainTextEdit(parent);
    t->setObjectName(name);
    t->setReadOnly(readOnly);
    t->setLineWrapMode(QPlainTextEdit::NoWrap);
    t->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    t->setFixedHeight(t->fontMetrics().lineSpacing() * lines + 12);
    return t;
}

// The text boxes show lines without their CR.
QString shown(std::string text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] != '\r' || (i + 1 < text.size() && text[i + 1] != '\n'))
            out += text[i] == '\r' ? '\n' : text[i];
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    return qs(out);
}

} // namespace

RestartFrm::RestartFrm(RestartActions actions, std::size_t line, bool tapeRun, QWidget* parent)
    : QDialog(parent), actions_(std::move(actions))
{
    setObjectName("RestartFrm");
    setWindowTitle("ここから出力");
    setModal(true);

    LineText = new QLineEdit(this);
    LineText->setObjectName("LineText");
    BlockText = new QLineEdit(this);
    BlockText->setObjectName("BlockText");
    BlockText->setPlaceholderText("N1234");
    FindButton = new QPushButton("検索", this);
    FindButton->setObjectName("FindButton");
    FindButton->setAutoDefault(false);
    ToController = new QRadioButton("出力（NC装置）", this);
    ToController->setObjectName("ToController");
    ToTape = new QRadioButton("ﾃｰﾌﾟ運転", this);
    ToTape->setObjectName("ToTape");
    (tapeRun ? ToTape : ToController)->setChecked(true);
    ClearanceText = new QLineEdit(this);
    ClearanceText->setObjectName("ClearanceText");
    OpeningText = textBox(this, "OpeningText", true, 2);
    PreambleText = textBox(this, "PreambleText", false, 10);
    FirstBlockText = new QLineEdit(this);
    FirstBlockText->setObjectName("FirstBlockText");
    FirstBlockText->setReadOnly(true);
    NotesText = textBox(this, "NotesText", true, 4);
    RefusalLabel = new QLabel(this);
    RefusalLabel->setObjectName("RefusalLabel");
    RefusalLabel->setStyleSheet("color: #c00000;");
    RefusalLabel->setWordWrap(true);
    SendButton = new QPushButton("出力", this);
    SendButton->setObjectName("SendButton");
    SendButton->setAutoDefault(false);
    auto* cancel = new QPushButton("キャンセル", this);
    cancel->setObjectName("CancelButton");
    cancel->setAutoDefault(false);

    PreviewImage = new QLabel(this);
    PreviewImage->setObjectName("PreviewImage");
    PreviewImage->setFixedSize(320, 200);
    PreviewImage->setFrameShape(QFrame::Box);
    picture_.resize(PreviewImage->size() - QSize(2, 2));
    picture_.onPresent = [this] { PreviewImage->setPixmap(QPixmap::fromImage(picture_.image())); };

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("再開する行", this), 0, 0);
    grid->addWidget(LineText, 0, 1);
    grid->addWidget(new QLabel("シーケンス番号", this), 0, 2);
    grid->addWidget(BlockText, 0, 3);
    grid->addWidget(FindButton, 0, 4);
    grid->addWidget(new QLabel("送り先", this), 1, 0);
    auto* targets = new QHBoxLayout;
    targets->addWidget(ToController);
    targets->addWidget(ToTape);
    targets->addStretch();
    grid->addLayout(targets, 1, 1, 1, 4);
    grid->addWidget(new QLabel("退避高さ Z", this), 2, 0);
    grid->addWidget(ClearanceText, 2, 1);
    grid->addWidget(new QLabel("（プログラムの単位。Zを動かすプログラムでは必須）", this), 2, 2, 1, 3);

    auto* explain = new QLabel(
        "再開前文は、まずZを退避高さまで上げ（G00 Z…）、次に再開するブロックの始点（前のブロックの終点）へ"
        "位置決めし、最後に直前のZまで降ります。座標はアブソリュートで書き、最後に再開するブロックでの"
        "モーダル状態（G01、G91など）に戻します。",
        this);
    explain->setWordWrap(true);
    auto* warning = new QLabel("送る前に再開前文を必ず読み、必要なら直してください。工具、ワーク座標系、主軸、"
                               "クーラントなど機械の状態の確認は使用者の責任です。",
                               this);
    warning->setObjectName("WarningLabel");
    warning->setWordWrap(true);
    warning->setStyleSheet("font-weight: bold;");

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(SendButton);
    buttons->addWidget(cancel);

    auto* top = new QHBoxLayout;
    auto* fields = new QVBoxLayout;
    fields->addLayout(grid);
    fields->addStretch();
    top->addLayout(fields, 1);
    top->addWidget(PreviewImage);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addWidget(new QLabel("先頭の行", this));
    all->addWidget(OpeningText);
    all->addWidget(new QLabel("再開前文（編集できます）", this));
    all->addWidget(PreambleText);
    all->addWidget(new QLabel("最初に送るブロック", this));
    all->addWidget(FirstBlockText);
    all->addWidget(new QLabel("解釈しなかったこと", this));
    all->addWidget(NotesText);
    all->addWidget(RefusalLabel);
    all->addWidget(explain);
    all->addWidget(warning);
    all->addLayout(buttons);

    // The plan shown is the plan sent: a line number being typed is followed
    // a moment after the last key, and 出力 waits for it.
    typing_ = new QTimer(this);
    typing_->setSingleShot(true);
    typing_->setInterval(300);
    auto followLine = [this] {
        typing_->stop();
        bool ok = false;
        const qulonglong n = LineText->text().trimmed().toULongLong(&ok);
        if (ok && n > 0)
            choose(static_cast<std::size_t>(n - 1));
        else
            show(QString("行番号を 1 以上の数で入力してください。"));
    };
    connect(typing_, &QTimer::timeout, this, followLine);
    connect(LineText, &QLineEdit::textEdited, this, [this] {
        SendButton->setEnabled(false);
        typing_->start();
    });
    connect(LineText, &QLineEdit::editingFinished, this, [this, followLine] {
        if (typing_->isActive())
            followLine();
    });
    auto find = [this] {
        if (BlockText->text().trimmed().isEmpty())
            return;
        if (auto at = actions_.findBlock(BlockText->text().toStdString()))
            choose(*at);
        else
            show(BlockText->text().trimmed() + " はありません。");
    };
    connect(FindButton, &QPushButton::clicked, this, find);
    connect(BlockText, &QLineEdit::returnPressed, this, find);
    connect(ClearanceText, &QLineEdit::textChanged, this, [this] { replan(); });
    connect(SendButton, &QPushButton::clicked, this, [this] { send(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    resize(760, sizeHint().height());
    choose(line);
}

RestartFrm::~RestartFrm()
{
    if (actions_.closed)
        actions_.closed();
}

void RestartFrm::choose(std::size_t line)
{
    missing_.clear();
    // Another block: another preamble, whatever was edited for the last one.
    PreambleText->setPlainText(proposed_);
    line_ = line;
    LineText->setText(QString::number(line + 1));
    scan_ = actions_.scan(line);
    replan();
    if (actions_.preview)
        actions_.preview(plan_.refusal.empty() || plan_.blockStart > 0 ? std::optional(line) : std::nullopt, picture_);
}

void RestartFrm::replan()
{
    plan_ = scan_->plan(ClearanceText->text().toStdString());
    OpeningText->setPlainText(shown(plan_.opening));
    // A preamble the user edited stays as it is.
    if (PreambleText->toPlainText() == proposed_) {
        proposed_ = shown(plan_.preamble);
        PreambleText->setPlainText(proposed_);
    }
    FirstBlockText->setText(qs(plan_.firstBlock));
    QString notes;
    for (const std::string& n : plan_.notes)
        notes += qs(n) + "\n";
    NotesText->setPlainText(notes.trimmed());
    show(missing_);
}

// What keeps the output back: no such block, a refusal, a missing clearance.
void RestartFrm::show(const QString& missing)
{
    missing_ = missing;
    QStringList reasons;
    if (!missing_.isEmpty())
        reasons << missing_;
    if (!plan_.refusal.empty())
        reasons << qs(plan_.refusal);
    else if (plan_.clearanceMissing)
        reasons << QString("Zを動かすプログラムです。退避高さを数値で入力してください。");
    RefusalLabel->setText(reasons.join('\n'));
    SendButton->setEnabled(missing_.isEmpty() && !typing_->isActive() && plan_.sendable());
}

void RestartFrm::send()
{
    if (!SendButton->isEnabled())
        return;
    // The lines as the user left them, each ended by CR LF as in a program file.
    std::string preamble;
    const QStringList lines = PreambleText->toPlainText().split('\n');
    for (const QString& l : lines)
        if (!l.trimmed().isEmpty())
            preamble += l.toStdString() + "\r\n";
    choice = RestartChoice{plan_, preamble, ToTape->isChecked()};
    accept();
}

} // namespace tarvex
