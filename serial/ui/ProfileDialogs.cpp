#include "serial/ui/ProfileDialogs.h"
#include "platform/SettingsStore.h"
#include "platform/UiServices.h"
#include "serial/ProfileFolder.h"
#include "serial/Transfers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvex {
namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }
std::string ss(const QString& s) { return s.toStdString(); }

template <std::size_t N> QComboBox* list(QWidget* parent, const char* name, const std::array<const char*, N>& entries)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    for (const char* e : entries)
        box->addItem(QString::fromUtf8(e));
    return box;
}

// Whether the main window's profile box has an entry of this name.
bool hasEntry(QComboBox* box, const QString& name)
{
    for (int k = 0; k < box->count(); ++k)
        if (box->itemText(k) == name)
            return true;
    return false;
}

} // namespace

PropatyFrm::PropatyFrm(ProfileDialogContext context, QWidget* parent) : QDialog(parent), context_(context)
{
    setObjectName("PropatyFrm");
    setWindowTitle(" 通信設定 [ " + context.Combo5->currentText() + " ]");
    setModal(true);

    Combo1 = {list(this, "Combo1(0)", portEntries),      list(this, "Combo1(1)", baudEntries),
              list(this, "Combo1(2)", parityEntries),    list(this, "Combo1(3)", dataBitEntries),
              list(this, "Combo1(4)", stopBitEntries),   list(this, "Combo1(5)", handshakeEntries),
              list(this, "Combo1(6)", codeEntries)};
    Combo2 = list(this, "Combo2", partnerEntries);
    const char* lineLabels[] = {"ポート", "ボーレート", "パリティ", "データビット", "ストップビット", "フロー制御", "コード"};
    auto* line = new QGridLayout;
    for (int k = 0; k < 7; ++k) {
        line->addWidget(new QLabel(QString::fromUtf8(lineLabels[k]), this), k + (k > 0), 0);
        line->addWidget(Combo1[k], k + (k > 0), 1);
    }
    PortDevice = new QLineEdit(this);
    PortDevice->setObjectName("PortDevice");
    line->addWidget(new QLabel("デバイス", this), 1, 0);
    line->addWidget(PortDevice, 1, 1);
    line->addWidget(new QLabel("相手機器", this), 8, 0);
    line->addWidget(Combo2, 8, 1);
    // XOn/XOff with DC1/DC3 as the output's codes: the driver leaves those to the transfer.
    XonNote = new QLabel("出力の起動・要求・停止コードが DC1/DC3 なので、XOn/XOff でも送信の一時停止はドライバではなく"
                         "転送自身が行います。",
                         this);
    XonNote->setObjectName("XonNote");
    XonNote->setWordWrap(true);
    line->addWidget(XonNote, 9, 0, 1, 2);

    const char* codeLabels[] = {"起動ｺｰﾄﾞ", "要求ｺｰﾄﾞ", "停止ｺｰﾄﾞ", "終了ｺｰﾄﾞ"};
    QGroupBox* frames[2] = {new QGroupBox("入力コード", this), new QGroupBox("出力コード", this)};
    Text5 = new QLineEdit(this);
    Text5->setObjectName("Text5");
    Text6 = new QLineEdit(this);
    Text6->setObjectName("Text6");
    for (int side = 0; side < 2; ++side) {
        auto* grid = new QGridLayout(frames[side]);
        for (int k = 0; k < 4; ++k) {
            codeBoxes[k][side] = new QLineEdit(frames[side]);
            codeBoxes[k][side]->setObjectName(QString("Text%1(%2)").arg(k + 1).arg(side));
            grid->addWidget(new QLabel(QString::fromUtf8(codeLabels[k]), frames[side]), k, 0);
            grid->addWidget(codeBoxes[k][side], k, 1);
        }
        grid->addWidget(new QLabel(side == 0 ? "ﾀｲﾑｱｳﾄ" : "ｳｪｲﾄ", frames[side]), 4, 0);
        grid->addWidget(side == 0 ? Text5 : Text6, 4, 1);
    }

    Command5 = new QPushButton("ﾊﾟﾝﾁ詳細", this);
    Command5->setObjectName("Command5");
    // No button of this dialog answers Enter: in a field, Enter only tidies that field.
    Command5->setAutoDefault(false);
    const char* commands[] = {"上書き保存", "別の名前で保存", "キャンセル"};
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Command5);
    buttons->addStretch();
    for (int k = 0; k < 3; ++k) {
        Command40[k] = new QPushButton(QString::fromUtf8(commands[k]), this);
        Command40[k]->setObjectName(QString("Command40(%1)").arg(k));
        Command40[k]->setAutoDefault(false);
        buttons->addWidget(Command40[k]);
        connect(Command40[k], &QPushButton::clicked, this, [this, k] { Command40_Click(k); });
    }

    auto* top = new QHBoxLayout;
    top->addLayout(line);
    top->addWidget(frames[0]);
    top->addWidget(frames[1]);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addLayout(buttons);

    // Tab goes down the line settings, then down the input codes and the output codes, then the buttons.
    QList<QWidget*> order = {Combo1[0], PortDevice};
    for (int k = 1; k < 7; ++k)
        order << Combo1[k];
    order << Combo2;
    for (int side = 0; side < 2; ++side) {
        for (int k = 0; k < 4; ++k)
            order << codeBoxes[k][side];
        order << (side == 0 ? Text5 : Text6);
    }
    order << Command5 << Command40[0] << Command40[1] << Command40[2];
    for (qsizetype k = 0; k + 1 < order.size(); ++k)
        setTabOrder(order[k], order[k + 1]);

    // The profile in use.
    const ProfileControls c = controlsFor(context.profile);
    const int indices[] = {c.port, c.baud, c.parity, c.dataBits, c.stopBits, c.handshake, c.code};
    for (int k = 0; k < 7; ++k)
        Combo1[k]->setCurrentIndex(indices[k]);
    Combo2->setCurrentIndex(c.partner);
    for (int k = 0; k < 4; ++k) {
        codeBoxes[k][0]->setText(qs(c.inCodes[k]));
        codeBoxes[k][1]->setText(qs(c.outCodes[k]));
    }
    Text5->setText(qs(c.timeout));
    Text6->setText(qs(c.wait));
    Combo2_Click();
    auto showNote = [this] { XonNote->setVisible(transferHandlesDcCodes(profileFrom(controls()))); };
    showNote();
    connect(Combo1[5], &QComboBox::currentIndexChanged, this, showNote);
    for (int k = 0; k < 3; ++k)
        connect(codeBoxes[k][1], &QLineEdit::textChanged, this, showNote);

    connect(Combo2, &QComboBox::currentIndexChanged, this, [this] { Combo2_Click(); });
    // The device of a port is a setting of this machine, kept as soon as it is typed.
    auto showDevice = [this] {
        const int port = Combo1[0]->currentIndex() + 1;
        PortDevice->setEnabled(port > 0);
        PortDevice->setText(port > 0 ? qs(portDevice(context_.settings, port)) : QString());
    };
    showDevice();
    connect(Combo1[0], &QComboBox::currentIndexChanged, this, showDevice);
    connect(PortDevice, &QLineEdit::editingFinished, this, [this] {
        if (const int port = Combo1[0]->currentIndex() + 1; port > 0)
            setPortDevice(context_.settings, port, ss(PortDevice->text()));
    });
    // The limits apply when a field is left, and on Enter.
    connect(Text5, &QLineEdit::editingFinished, this, [this] { Text5->setText(qs(limitTimeout(ss(Text5->text())))); });
    connect(Text6, &QLineEdit::editingFinished, this, [this] { Text6->setText(qs(limitWait(ss(Text6->text())))); });
    connect(Command5, &QPushButton::clicked, this, [this] { PunProFrm(context_.settings, this).exec(); });
}

void PropatyFrm::Combo2_Click()
{
    // The puncher has details; an inspection device takes no output settings.
    const int partner = Combo2->currentIndex();
    const bool output = partner != 2;
    Command5->setEnabled(partner == 0);
    QList<QLineEdit*> outputs = {Text5, Text6};
    for (int k = 0; k < 4; ++k)
        outputs << codeBoxes[k][1];
    for (QLineEdit* box : outputs) {
        box->setEnabled(output);
        QPalette p = box->palette();
        p.setColor(QPalette::Base, output ? palette().color(QPalette::Base) : palette().color(QPalette::Button));
        box->setPalette(p);
    }
}

ProfileControls PropatyFrm::controls() const
{
    ProfileControls c;
    int* indices[] = {&c.port, &c.baud, &c.parity, &c.dataBits, &c.stopBits, &c.handshake, &c.code};
    for (int k = 0; k < 7; ++k)
        *indices[k] = Combo1[k]->currentIndex();
    c.partner = Combo2->currentIndex();
    for (int k = 0; k < 4; ++k) {
        c.inCodes[k] = ss(codeBoxes[k][0]->text());
        c.outCodes[k] = ss(codeBoxes[k][1]->text());
    }
    c.timeout = ss(Text5->text());
    c.wait = ss(Text6->text());
    return c;
}

bool PropatyFrm::saveAs(const std::string& name)
{
    context_.profile = profileFrom(controls());
    if (Error e = SaveProfile(name, context_.profile, context_.fs, context_.codec, context_.progDir)) {
        context_.messageBox.show(e.description + "\n" + name, "TARVEX", MsgIcon::Exclamation);
        return false;
    }
    if (!hasEntry(context_.Combo5, qs(name)))
        context_.Combo5->addItem(qs(name));
    setWindowTitle(" 通信設定 [ " + qs(name) + " ]"); // the dialog edits that profile now
    return true;
}

void PropatyFrm::Command40_Click(int index)
{
    if (index == 0) {
        const std::string name = ss(context_.Combo5->currentText());
        if (!saveAs(name))
            return;
        context_.messageBox.show("通信設定 [ " + name + " ] を登録しました。");
        accept();
    } else if (index == 1) {
        SetSaveFrm(*this, context_).exec();
    } else {
        reject();
    }
}

SetSaveFrm::SetSaveFrm(PropatyFrm& settings, ProfileDialogContext context)
    : QDialog(&settings), settings_(settings), context_(context)
{
    setObjectName("SetSaveFrm");
    setWindowTitle("通信設定の登録");
    setModal(true);
    Combo1 = new QComboBox(this);
    Combo1->setObjectName("Combo1");
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    for (const auto& name : ListProfiles(context.fs, context.progDir).value_or(std::vector<std::string>{}))
        Combo1->addItem(qs(name));
    Combo1->setEditText({});
    Command1 = {new QPushButton("登録", this), new QPushButton("取り消し", this)};
    Command1[0]->setObjectName("Command1(0)");
    Command1[1]->setObjectName("Command1(1)");
    auto* all = new QVBoxLayout(this);
    all->addWidget(new QLabel("新しい登録名を入力して下さい", this));
    all->addWidget(Combo1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1[0]);
    buttons->addWidget(Command1[1]);
    all->addLayout(buttons);
    connect(Command1[0], &QPushButton::clicked, this, [this] { register_(); });
    connect(Command1[1], &QPushButton::clicked, this, &QDialog::reject);
}

void SetSaveFrm::register_()
{
    const std::string name = ss(Combo1->currentText());
    if (name.empty())
        return; // nothing to register under: the dialog stays open
    if (!settings_.saveAs(name))
        return;
    context_.messageBox.show(name + " を登録しました。");
    context_.Combo5->setCurrentIndex(context_.Combo5->findText(qs(name)));
    accept();
}

PunProFrm::PunProFrm(SettingsStore& settings, QWidget* parent) : QDialog(parent), settings_(settings)
{
    setObjectName("PunProFrm");
    setWindowTitle("パンチャー詳細設定");
    setModal(true);
    auto* output = new QGroupBox("出力", this);
    Check1 = new QCheckBox("スペースをフィードに変換する", output);
    Check1->setObjectName("Check1");
    Text1 = new QLineEdit(output);
    Text1->setObjectName("Text1");
    auto* outLayout = new QVBoxLayout(output);
    outLayout->addWidget(Check1);
    auto* feed = new QHBoxLayout;
    feed->addWidget(new QLabel("一個のスペースに対し", output));
    feed->addWidget(Text1);
    feed->addWidget(new QLabel("個出力", output));
    outLayout->addLayout(feed);
    auto* input = new QGroupBox("入力　/ 比較", this);
    Check2 = new QCheckBox("スペースを無視する", input);
    Check2->setObjectName("Check2");
    (new QVBoxLayout(input))->addWidget(Check2);
    auto* all = new QVBoxLayout(this);
    all->addWidget(output);
    all->addWidget(input);

    Check1->setChecked(settings.read("Tarvex", "Pcheck1", "0") == "1");
    Check2->setChecked(settings.read("Tarvex", "Pcheck2", "0") == "1");
    Text1->setText(qs(settings.read("Tarvex", "Feed", "10")));
    Text1->setEnabled(Check1->isChecked());
    connect(Check1, &QCheckBox::toggled, Text1, &QLineEdit::setEnabled);
}

void PunProFrm::done(int result)
{
    // However the dialog closes, the values go back to the settings store.
    settings_.write("Tarvex", "Pcheck1", Check1->isChecked() ? "1" : "0");
    settings_.write("Tarvex", "Pcheck2", Check2->isChecked() ? "1" : "0");
    settings_.write("Tarvex", "Feed", ss(Text1->text()));
    QDialog::done(result);
}

} // namespace tarvex
