#pragma once
#include <QDialog>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tarvex {

class TextCodec;

// The open and save chooser. File names on Linux are bytes: those that are
// not UTF-8 (programs copied from a Windows machine carry cp932 names) are
// listed by their cp932 reading and chosen by their real bytes, which Qt's
// own dialog cannot do (it leaves such files out).
class FileDialog final : public QDialog {
    Q_OBJECT
public:
    FileDialog(const TextCodec& codec, bool save, QWidget* parent = nullptr);

    // "description|pattern|description|pattern", patterns separated by ";".
    void setFilter(const std::string& filter);
    // Appended to a name saved without an extension (".dxf" or "dxf").
    void setDefaultExt(const std::string& ext);
    // The folder shown first and the name proposed in it (bytes).
    void propose(const std::string& path, const std::string& fallbackFolder);
    // The chosen file's full path (bytes), after the dialog was accepted.
    const std::string& chosenPath() const { return chosen_; }
    const std::string& folder() const { return folder_; }
    void setFolder(const std::string& folder);

    QLineEdit* folderEdit;
    QPushButton* upButton;
    QTreeWidget* fileList;
    QLineEdit* nameEdit;
    QComboBox* typeBox;
    QPushButton* okButton;
    QPushButton* cancelButton;

    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry {
        std::string name; // bytes
        QString shown;
        bool folder;
    };
    void refresh();
    void enter(QTreeWidgetItem* item);
    std::string typedName() const;
    QString shown(const std::string& bytes) const;

    const TextCodec& codec_;
    bool save_;
    std::vector<std::pair<QString, std::vector<std::string>>> filters_;
    std::string defaultExt_;
    std::string folder_; // ends in "/"
    std::vector<Entry> entries_;
    std::string chosen_;
};

} // namespace tarvex
