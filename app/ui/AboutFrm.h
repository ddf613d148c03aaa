#pragma once
#include <QDialog>
#include <functional>
#include <string>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace tarvex {

// The version window "Tarvexのﾊﾞｰｼﾞｮﾝ情報": the program's name, file, maker and
// version; "説明" opens the help text.
class frmAbout final : public QDialog {
    Q_OBJECT
public:
    // showHelp: opens the help window (modal) over this one.
    frmAbout(const QString& fileName, std::function<void(QWidget*)> showHelp, QWidget* parent);
    QLabel* lblTitle;
    QLabel* lblVersion;
    QPushButton* Command1; // 閉じる
    QPushButton* Command2; // 説明

private:
    std::function<void(QWidget*)> showHelp_;
};

// The help text " TARVEX　": the built-in document, editable; what it holds
// when it closes is handed to save (the document itself shows again next time).
class HlpFrm final : public QDialog {
    Q_OBJECT
public:
    HlpFrm(QSize size, std::function<void(const std::string&)> save, QWidget* parent);
    QPlainTextEdit* RichTextBox1;

    // The document as built in.
    static QString document();

protected:
    void done(int result) override;

private:
    std::function<void(const std::string&)> save_;
};

} // namespace tarvex
