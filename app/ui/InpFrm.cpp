#include "app/ui/InpFrm.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tarvex {

InpFrm::InpFrm(QWidget* parent) : QDialog(parent)
{
    setObjectName("InpFrm");
    setWindowTitle("入力ボックス");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* column = new QVBoxLayout(this);
    auto* label = new QLabel("データ入力", this);
    label->setObjectName("Label1");
    Text1 = new QLineEdit(this);
    Text1->setObjectName("Text1");
    column->addWidget(label);
    column->addWidget(Text1);
    connect(Text1, &QLineEdit::returnPressed, this, &QDialog::accept);
    setMinimumWidth(240);
}

std::string QtInputBox::ask(const std::string& preset)
{
    InpFrm box(QApplication::activeWindow());
    box.Text1->setText(QString::fromStdString(preset));
    box.Text1->selectAll();
    box.exec();
    return box.Text1->text().toStdString();
}

} // namespace tarvex
