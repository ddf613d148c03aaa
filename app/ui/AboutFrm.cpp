#include "app/ui/AboutFrm.h"
#include "app/Version.h"

#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

static void registerAppResources() { Q_INIT_RESOURCE(app); }

namespace tarvex {

frmAbout::frmAbout(const QString& fileName, std::function<void(QWidget*)> showHelp, QWidget* parent)
    : QDialog(parent), showHelp_(std::move(showHelp))
{
    registerAppResources();
    setObjectName("frmAbout");
    setWindowTitle("Tarvexのﾊﾞｰｼﾞｮﾝ情報");
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(":/app/tarvex.svg").pixmap(48, 48));
    lblTitle = new QLabel("Tarvex", this);
    lblTitle->setObjectName("lblTitle");
    QFont big = lblTitle->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    lblTitle->setFont(big);
    auto* file = new QLabel(fileName, this);
    file->setObjectName("lblFile");
    auto* maker = new QLabel("Tarvex 開発チーム", this);
    maker->setObjectName("lblMaker");
    lblVersion = new QLabel(QString::fromStdString(versionText()), this);
    lblVersion->setObjectName("lblVersion");
    Command1 = new QPushButton("閉じる", this);
    Command1->setObjectName("Command1");
    Command2 = new QPushButton("説明", this);
    Command2->setObjectName("Command2");
    Command1->setDefault(true);

    auto* grid = new QGridLayout(this);
    grid->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
    grid->addWidget(lblTitle, 0, 1);
    grid->addWidget(file, 1, 1);
    grid->addWidget(lblVersion, 2, 1);
    grid->addWidget(maker, 3, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command2);
    buttons->addWidget(Command1);
    grid->addLayout(buttons, 4, 0, 1, 2);
    setMinimumWidth(360); // the caption shows whole
    connect(Command1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Command2, &QPushButton::clicked, this, [this] { showHelp_(this); });
}

HlpFrm::HlpFrm(QSize size, std::function<void(const std::string&)> save, QWidget* parent)
    : QDialog(parent), save_(std::move(save))
{
    registerAppResources();
    setObjectName("HlpFrm");
    setWindowTitle(" TARVEX\u3000");
    resize(size);
    RichTextBox1 = new QPlainTextEdit(this);
    RichTextBox1->setObjectName("RichTextBox1");
    RichTextBox1->setFont(QFont("ＭＳ 明朝", 11));
    RichTextBox1->setPlainText(document());
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(RichTextBox1); // the editor fills the window
}

QString HlpFrm::document()
{
    registerAppResources();
    QFile f(":/app/help.txt");
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

void HlpFrm::done(int result)
{
    // However the window closes, the text as it stands is kept.
    save_(RichTextBox1->toPlainText().toStdString());
    QDialog::done(result);
}

} // namespace tarvex
