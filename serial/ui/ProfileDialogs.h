#pragma once
#include "serial/DeviceProfile.h"

#include <QDialog>
#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvex {

class FileSystem;
class MessageBox;
class SettingsStore;
class TextCodec;

// What the profile dialogs work with: the profile in use, the files, the
// message box, the settings store and the main window's profile box.
struct ProfileDialogContext {
    DeviceProfile& profile;
    FileSystem& fs;
    const TextCodec& codec;
    const std::string& progDir;
    MessageBox& messageBox;
    SettingsStore& settings;
    QComboBox* Combo5;
};

// The communication settings dialog PropatyFrm: shows the profile in use,
// saves it under the name in the main window's profile box or a new one.
class PropatyFrm final : public QDialog {
    Q_OBJECT
public:
    PropatyFrm(ProfileDialogContext context, QWidget* parent = nullptr);

    ProfileControls controls() const;
    // Saves the controls under a name: false when the name is refused.
    bool saveAs(const std::string& name);

    std::array<QComboBox*, 7> Combo1;
    QComboBox* Combo2;
    std::array<std::array<QLineEdit*, 2>, 4> codeBoxes; // Text1(k) … Text4(k): [code][0 input, 1 output]
    QLineEdit* Text5;
    QLineEdit* Text6;
    // The device the selected port number leads to on this machine (e.g. /dev/ttyUSB0).
    QLineEdit* PortDevice;
    QLabel* XonNote; // shown when the transfer handles DC1/DC3 itself under XOn/XOff
    QPushButton* Command5;
    std::array<QPushButton*, 3> Command40;

private:
    void Combo2_Click();
    void Command40_Click(int index);

    ProfileDialogContext context_;
};

// Registers the settings of PropatyFrm under a new name.
class SetSaveFrm final : public QDialog {
    Q_OBJECT
public:
    SetSaveFrm(PropatyFrm& settings, ProfileDialogContext context);
    QComboBox* Combo1;
    std::array<QPushButton*, 2> Command1;

private:
    void register_();
    PropatyFrm& settings_;
    ProfileDialogContext context_;
};

// Puncher details: spaces as feed characters on output, ignored on input.
class PunProFrm final : public QDialog {
    Q_OBJECT
public:
    PunProFrm(SettingsStore& settings, QWidget* parent = nullptr);
    void done(int result) override;
    QCheckBox* Check1;
    QCheckBox* Check2;
    QLineEdit* Text1;

private:
    SettingsStore& settings_;
};

} // namespace tarvex
