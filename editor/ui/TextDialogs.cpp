#include "editor/ui/TextDialogs.h"
#include "editor/TextCommands.h"
#include "editor/WordColours.h"

#include <QAction>
#include <QCheckBox>
#include <QColorDialog>
#include <QSpinBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvex {
namespace {

QPushButton* button(QWidget* parent, const char* name, const char* caption, bool isDefault = false)
{
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    b->setDefault(isDefault);
    return b;
}

std::string ss(const QString& s) { return s.toStdString(); }

} // namespace

KensakuFrm::KensakuFrm(TextCommands& commands, QWidget* parent) : QDialog(parent)
{
    setObjectName("KensakuFrm");
    setWindowTitle("文字列検索");
    setModal(true);
    Text1 = new QLineEdit(QString::fromStdString(commands.lastFind()), this);
    Text1->setObjectName("Text1");
    Text1->selectAll();
    // Enter finds the next one, so does F3; Escape closes.
    auto* again = new QAction(this);
    again->setShortcut(Qt::Key_F3);
    addAction(again);
    connect(again, &QAction::triggered, this, [this, &commands] { commands.findNext(ss(Text1->text())); });
    Command1 = {button(this, "Command1(0)", "次を検索", true), button(this, "Command1(1)", "閉じる")};
    auto* all = new QHBoxLayout(this);
    all->addWidget(Text1, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(Command1[0]);
    buttons->addWidget(Command1[1]);
    all->addLayout(buttons);
    connect(Command1[0], &QPushButton::clicked, this, [this, &commands] { commands.findNext(ss(Text1->text())); });
    connect(Command1[1], &QPushButton::clicked, this, &QDialog::reject);
    resize(420, sizeHint().height());
}

RenumFrm::RenumFrm(TextCommands& commands, QWidget* parent) : QDialog(parent)
{
    setObjectName("RenumFrm");
    setWindowTitle("シーケンス番号の付け直し");
    setModal(true);
    auto spin = [this](const char* name, int value, int least, int most) {
        auto* s = new QSpinBox(this);
        s->setObjectName(name);
        s->setRange(least, most);
        s->setValue(value);
        return s;
    };
    Start = spin("Start", 10, 1, 99999);
    Step = spin("Step", 10, 1, 99999);
    Width = spin("Width", 0, 0, 5);
    Width->setSpecialValueText("そのまま");
    Every = spin("Every", 1, 1, 1000);
    Existing = new QCheckBox("番号のあるブロックだけ", this);
    Existing->setObjectName("Existing");
    Remove = new QCheckBox("番号を削除する", this);
    Remove->setObjectName("Remove");
    Command1 = {button(this, "Command1(0)", "実行", true), button(this, "Command1(1)", "キャンセル")};
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel("開始番号", this), 0, 0);
    grid->addWidget(Start, 0, 1);
    grid->addWidget(new QLabel("増分", this), 1, 0);
    grid->addWidget(Step, 1, 1);
    grid->addWidget(new QLabel("桁数", this), 2, 0);
    grid->addWidget(Width, 2, 1);
    grid->addWidget(new QLabel("何ブロックごと", this), 3, 0);
    grid->addWidget(Every, 3, 1);
    grid->addWidget(Existing, 4, 0, 1, 2);
    grid->addWidget(Remove, 5, 0, 1, 2);
    grid->addWidget(Command1[0], 0, 2);
    grid->addWidget(Command1[1], 1, 2);
    connect(Remove, &QCheckBox::toggled, this, [this](bool on) {
        for (QWidget* w : std::initializer_list<QWidget*>{Start, Step, Width, Every, Existing})
            w->setEnabled(!on);
    });
    connect(Command1[0], &QPushButton::clicked, this, [this, &commands] {
        const RenumberOptions o{Start->value(), Step->value(), Remove->isChecked(), Width->value(), Existing->isChecked(),
                                Every->value()};
        if (commands.renumber(o) >= 0)
            accept();
    });
    connect(Command1[1], &QPushButton::clicked, this, &QDialog::reject);
}

ColourFrm::ColourFrm(const nc::WordColours& colours, QWidget* parent) : QDialog(parent), colours_(colours)
{
    setObjectName("ColourFrm");
    setWindowTitle("色分けの設定");
    setModal(true);
    // Each button shows a word of its kind in its colour on the editor's white.
    static constexpr std::array<const char*, nc::wordKinds> samples = {
        "", "G01", "M30", "X10.5", "F100", "N10", "O0012", "(ｺﾒﾝﾄ)", "%", "/", "#1=[#2+1]"};
    Warning = new QLabel(this);
    Warning->setObjectName("Warning");
    Warning->setWordWrap(true);
    On = new QCheckBox("色分けする", this);
    On->setObjectName("On");
    On->setChecked(colours_.on);
    auto* grid = new QGridLayout(this);
    grid->addWidget(On, 0, 0, 1, 2);
    for (int k = 1; k < nc::wordKinds; ++k) {
        grid->addWidget(new QLabel(QString::fromUtf8(wordKindCaptions[static_cast<std::size_t>(k)]), this), k, 0);
        Colour[k] = button(this, "", samples[static_cast<std::size_t>(k)]);
        Colour[k]->setObjectName(QString("Colour(%1)").arg(k));
        Colour[k]->setAutoDefault(false);
        grid->addWidget(Colour[k], k, 1);
        show(k);
        connect(Colour[k], &QPushButton::clicked, this, [this, k] {
            const QColor was(QRgb(colours_.rgb[static_cast<std::size_t>(k)]));
            const QColor c = QColorDialog::getColor(was, this, QString::fromUtf8(wordKindCaptions[static_cast<std::size_t>(k)]));
            if (c.isValid()) {
                colours_.rgb[static_cast<std::size_t>(k)] = c.rgb() & 0xFFFFFF;
                show(k);
            }
        });
    }
    Standard = button(this, "Standard", "標準の色");
    Standard->setAutoDefault(false);
    Command1 = {button(this, "Command1(0)", "OK", true), button(this, "Command1(1)", "キャンセル")};
    auto* keys = new QHBoxLayout;
    keys->addWidget(Standard);
    keys->addStretch();
    keys->addWidget(Command1[0]);
    keys->addWidget(Command1[1]);
    grid->addWidget(Warning, nc::wordKinds, 0, 1, 2);
    grid->addLayout(keys, nc::wordKinds + 1, 0, 1, 2);
    auto enable = [this](bool on) {
        for (int k = 1; k < nc::wordKinds; ++k)
            Colour[k]->setEnabled(on);
    };
    enable(colours_.on);
    connect(On, &QCheckBox::toggled, this, enable);
    connect(Standard, &QPushButton::clicked, this, [this] {
        colours_.rgb = nc::defaultWordColours().rgb;
        for (int k = 1; k < nc::wordKinds; ++k)
            show(k);
    });
    connect(Command1[0], &QPushButton::clicked, this, [this] {
        colours_.on = On->isChecked();
        accept();
    });
    connect(Command1[1], &QPushButton::clicked, this, &QDialog::reject);
}

void ColourFrm::show(int kind)
{
    const QString name = QColor(QRgb(colours_.rgb[static_cast<std::size_t>(kind)])).name();
    Colour[kind]->setStyleSheet("QPushButton { color: " + name + "; background: white; }");
    // Every colour hard to read on the editor's white is named; it may still be chosen.
    QString hard;
    for (int k = 1; k < nc::wordKinds; ++k)
        if (const double c = nc::contrastOnWhite(colours_.rgb[static_cast<std::size_t>(k)]); c < 3 && Colour[k])
            hard += QString("%1%2（%3:1）").arg(hard.isEmpty() ? "" : "、")
                        .arg(QString::fromUtf8(wordKindCaptions[static_cast<std::size_t>(k)]))
                        .arg(c, 0, 'f', 1);
    Warning->setText(hard.isEmpty() ? QString() : "白地では読みにくい色です: " + hard);
}

HenkanFrm::HenkanFrm(TextCommands& commands, QWidget* parent) : QDialog(parent)
{
    setObjectName("HenkanFrm");
    setWindowTitle(" 置換");
    setModal(true);
    Text1 = new QLineEdit(this);
    Text1->setObjectName("Text1");
    Text2 = new QLineEdit(this);
    Text2->setObjectName("Text2");
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel("検索する文字列", this), 0, 0);
    grid->addWidget(Text1, 0, 1);
    grid->addWidget(new QLabel("置換後の文字列", this), 1, 0);
    grid->addWidget(Text2, 1, 1);
    // Two buttons on one spot: the one added last lies on top and answers Enter.
    Command2 = {button(this, "Command2(0)", "置き換え"), button(this, "Command2(1)", "置換", true)};
    grid->addWidget(Command2[0], 0, 2, 2, 1);
    grid->addWidget(Command2[1], 0, 2, 2, 1);
    for (QPushButton* b : Command2)
        connect(b, &QPushButton::clicked, this,
                [this, &commands] { commands.replaceAll(ss(Text1->text()), ss(Text2->text())); });
    setTabOrder(Text1, Text2);
    setTabOrder(Text2, Command2[1]);
    resize(460, sizeHint().height());
}

GyoHenkanFrm::GyoHenkanFrm(TextCommands& commands, QWidget* parent) : QDialog(parent), commands_(commands)
{
    setObjectName("GyoHenkanFrm");
    setWindowTitle(" 置換");
    setModal(true);
    Text1 = new QLineEdit(this);
    Text1->setObjectName("Text1");
    Text2 = new QPlainTextEdit(this);
    Text2->setObjectName("Text2");
    Text2->setTabChangesFocus(true);
    Text2->setLineWrapMode(QPlainTextEdit::NoWrap);
    Label1 = new QLabel("ｼｰｹﾝｽNO挿入場所に( # )を入力して下さい ", this);
    Label1->setObjectName("Label1");
    Combo1 = new QComboBox(this);
    Combo1->setObjectName("Combo1");
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Command1 = {button(this, "Command1(0)", "登録"), button(this, "Command1(1)", "削除")};
    // No button answers Enter: a rewrite of the whole program starts only on purpose.
    Command2 = {button(this, "Command2(0)", "実行"), button(this, "Command2(1)", "ｷｬﾝｾﾙ")};

    auto* all = new QVBoxLayout(this);
    all->addWidget(new QLabel("変換する文字列(入力文字を含む一行全てが対象)", this));
    all->addWidget(Text1);
    all->addWidget(new QLabel("変換後の文字列", this));
    all->addWidget(Text2, 1);
    all->addWidget(Label1);
    auto* registration = new QHBoxLayout;
    registration->addWidget(new QLabel("登録名称", this));
    registration->addWidget(Combo1, 1);
    registration->addWidget(Command1[0]);
    registration->addWidget(Command1[1]);
    all->addLayout(registration);
    auto* run = new QHBoxLayout;
    run->addStretch();
    run->addWidget(Command2[0]);
    run->addWidget(Command2[1]);
    all->addLayout(run);
    resize(480, 360);

    // Opening: the registrations, and the one last used selected (and loaded).
    const QString last = QString::fromStdString(commands.lastRegistration());
    for (const std::string& name : commands.registrations())
        Combo1->addItem(QString::fromStdString(name));
    Combo1->setCurrentIndex(Combo1->findText(last, Qt::MatchExactly | Qt::MatchCaseSensitive));
    if (Combo1->currentIndex() < 0)
        Combo1->setEditText({});
    else
        select(last);
    connect(Combo1, &QComboBox::activated, this, [this](int index) { select(Combo1->itemText(index)); });

    connect(Command1[0], &QPushButton::clicked, this, [this] {
        const QString name = Combo1->currentText();
        const Registration r{ss(Text1->text()), withCrLf(ss(Text2->toPlainText()))};
        if (commands_.registerAs(ss(name), r)
            && Combo1->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
            Combo1->addItem(name);
    });
    connect(Command1[1], &QPushButton::clicked, this, [this] {
        const QString name = Combo1->currentText();
        if (commands_.deleteRegistration(ss(name))) {
            const int at = Combo1->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
            if (at >= 0)
                Combo1->removeItem(at);
            Combo1->setEditText({});
        }
    });
    connect(Command2[0], &QPushButton::clicked, this,
            [this] { commands_.lineReplace(ss(Text1->text()), withCrLf(ss(Text2->toPlainText()))); });
    connect(Command2[1], &QPushButton::clicked, this, &QDialog::reject);
}

void GyoHenkanFrm::select(const QString& name)
{
    Text1->clear();
    Text2->clear();
    if (auto r = commands_.loadRegistration(ss(name))) {
        Text1->setText(QString::fromStdString(r->match));
        Text2->setPlainText(QString::fromStdString(r->block).replace("\r\n", "\n"));
    }
}

void GyoHenkanFrm::done(int result)
{
    // However it closes, the name shown is the one remembered.
    commands_.rememberRegistration(ss(Combo1->currentText()));
    QDialog::done(result);
}

} // namespace tarvex
