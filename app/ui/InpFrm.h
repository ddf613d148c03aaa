#pragma once
#include "platform/UiServices.h"

#include <QDialog>

class QLineEdit;

namespace tarvex {

// The data input box "入力ボックス": one line of text, preset by the caller.
// Enter, Escape or the close box end it; the text is returned either way.
class InpFrm final : public QDialog {
    Q_OBJECT
public:
    explicit InpFrm(QWidget* parent = nullptr);
    QLineEdit* Text1;
};

class QtInputBox final : public InputBox {
public:
    std::string ask(const std::string& preset) override;
};

} // namespace tarvex
