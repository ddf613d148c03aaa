#pragma once
#include <QDialog>
#include <array>
#include <functional>

class QListWidget;
class QPushButton;

namespace tarvex {

class ExternalApps;
class FileChooser;
class MessageBox;

// "外部アプリケーションの設定": registers and removes the programs of the
// option menu, with a file chooser of its own.
class AppSetFrm final : public QDialog {
    Q_OBJECT
public:
    // closed: brings the option menu up to date.
    AppSetFrm(ExternalApps& apps, FileChooser& chooser, MessageBox& box, std::function<void()> closed,
              QWidget* parent);
    QListWidget* List1;
    std::array<QPushButton*, 3> Command1; // 追加, 削除, 閉じる

protected:
    void done(int result) override;

private:
    void add();
    void remove();

    ExternalApps& apps_;
    FileChooser& chooser_;
    MessageBox& box_;
    std::function<void()> closed_;
};

} // namespace tarvex
