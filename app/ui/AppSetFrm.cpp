#include "app/ui/AppSetFrm.h"
#include "app/ExternalApps.h"
#include "platform/UiServices.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvex {

AppSetFrm::AppSetFrm(ExternalApps& apps, FileChooser& chooser, MessageBox& box, std::function<void()> closed,
                     QWidget* parent)
    : QDialog(parent), apps_(apps), chooser_(chooser), box_(box), closed_(std::move(closed))
{
    setObjectName("AppSetFrm");
    setWindowTitle("外部アプリケーションの設定");
    List1 = new QListWidget(this);
    List1->setObjectName("List1");
    for (int k = 0; k < apps_.count(); ++k)
        List1->addItem(QString::fromStdString(apps_.apps()[k].title));
    const char* captions[3] = {"追加", "削除", "閉じる"};
    auto* buttons = new QVBoxLayout;
    for (int k = 0; k < 3; ++k) {
        Command1[k] = new QPushButton(captions[k], this);
        Command1[k]->setObjectName(QString("Command1(%1)").arg(k));
        Command1[k]->setAutoDefault(false);
        buttons->addWidget(Command1[k]);
    }
    buttons->addStretch();
    Command1[1]->setEnabled(false);
    auto* row = new QHBoxLayout(this);
    row->addWidget(List1, 1);
    row->addLayout(buttons);
    connect(Command1[0], &QPushButton::clicked, this, &AppSetFrm::add);
    connect(Command1[1], &QPushButton::clicked, this, &AppSetFrm::remove);
    connect(Command1[2], &QPushButton::clicked, this, &QDialog::accept);
    connect(List1, &QListWidget::currentRowChanged, this, [this](int row) { Command1[1]->setEnabled(row >= 0); });
    resize(420, 260);
}

void AppSetFrm::add()
{
    chooser_.title = "外部アプリケーションの追加";
    chooser_.fileName.clear();
    chooser_.filter = "ｱﾌﾟﾘｹｰｼｮﾝ(*.EXE)|*.EXE|全て(*.*)|*.*";
    chooser_.defaultExt.clear();
    chooser_.cancelError = true;
    const auto outcome = chooser_.showOpen();
    if (outcome == FileChooser::Outcome::Failed) {
        box_.show(errorBoxText(chooser_.error), {}, MsgIcon::Exclamation);
        return;
    }
    if (outcome == FileChooser::Outcome::Cancelled || chooser_.fileName.empty())
        return;
    if (apps_.add(chooser_.fileName))
        List1->addItem(QString::fromStdString(apps_.apps()[apps_.count() - 1].title));
}

void AppSetFrm::remove()
{
    const int slot = List1->currentRow();
    if (slot < 0)
        return;
    const std::string& title = apps_.apps()[slot].title;
    if (box_.show("外部アプリケーション: " + title + " をメニューから削除しますか", {}, MsgIcon::Question,
                  MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    apps_.remove(slot);
    delete List1->takeItem(slot);
    List1->setCurrentRow(-1);
    Command1[1]->setEnabled(false);
}

void AppSetFrm::done(int result)
{
    // The menu follows the list however the dialog closes: an item left from
    // a removed slot would start the program that moved up into it.
    closed_();
    QDialog::done(result);
}

} // namespace tarvex
