#pragma once
#include "program/Colouring.h"

#include <QDialog>
#include <array>

class QCheckBox;
class QComboBox;
class QSpinBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tarvex {

class TextCommands;

// Find next: "文字列検索".
class KensakuFrm final : public QDialog {
    Q_OBJECT
public:
    KensakuFrm(TextCommands& commands, QWidget* parent = nullptr);
    QLineEdit* Text1;
    std::array<QPushButton*, 2> Command1; // 次を検索, 閉じる
};

// Replace all: " 置換". Its two buttons lie on top of each other; either
// replaces. It has no close button: the window's close box (or Escape) closes it.
class HenkanFrm final : public QDialog {
    Q_OBJECT
public:
    HenkanFrm(TextCommands& commands, QWidget* parent = nullptr);
    QLineEdit* Text1;
    QLineEdit* Text2;
    std::array<QPushButton*, 2> Command2; // 置き換え, 置換
};

// Renumbering: "シーケンス番号の付け直し", from a number by a step, or the
// N words taken away.
class RenumFrm final : public QDialog {
    Q_OBJECT
public:
    RenumFrm(TextCommands& commands, QWidget* parent = nullptr);
    QSpinBox* Start;
    QSpinBox* Step;
    QSpinBox* Width;     // digits at least (0: as the number is)
    QSpinBox* Every;     // every n-th block
    QCheckBox* Existing; // only blocks that have an N
    QCheckBox* Remove;
    std::array<QPushButton*, 2> Command1; // 実行, キャンセル
};

// The editor's word colours: "色分けの設定", a colour for each kind of
// word, all of them on or off.
class ColourFrm final : public QDialog {
    Q_OBJECT
public:
    ColourFrm(const nc::WordColours& colours, QWidget* parent = nullptr);
    const nc::WordColours& colours() const { return colours_; }
    QCheckBox* On;
    std::array<QPushButton*, nc::wordKinds> Colour{}; // none for plain text
    QPushButton* Standard;
    QLabel* Warning; // a colour hard to read on white (under 3:1), still allowed
    std::array<QPushButton*, 2> Command1; // OK, キャンセル

private:
    void show(int kind);
    nc::WordColours colours_;
};

// Line replace with its registrations: " 置換".
class GyoHenkanFrm final : public QDialog {
    Q_OBJECT
public:
    GyoHenkanFrm(TextCommands& commands, QWidget* parent = nullptr);
    void done(int result) override;
    QLineEdit* Text1;
    QPlainTextEdit* Text2;
    QLabel* Label1;
    QComboBox* Combo1;
    std::array<QPushButton*, 2> Command1; // 登録, 削除
    std::array<QPushButton*, 2> Command2; // 実行, ｷｬﾝｾﾙ

private:
    void select(const QString& name);
    TextCommands& commands_;
};

} // namespace tarvex
