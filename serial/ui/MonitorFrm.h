#pragma once
#include <QDialog>

class QComboBox;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace tarvex {

class FileChooser;
class FileSystem;
class LineMonitor;
class MessageBox;

// "通信モニタ": the log of each transfer kept by the monitor, the latest first,
// following the running one; saved as UTF-8 text or copied.
class MonitorFrm final : public QDialog {
    Q_OBJECT
public:
    MonitorFrm(LineMonitor& monitor, FileChooser& chooser, FileSystem& fs, MessageBox& box, QWidget* parent = nullptr);

    QComboBox* RecordList;
    QPlainTextEdit* LogText;
    QPushButton* SaveButton;
    QPushButton* CopyButton;

    // Shows the monitor as it stands now (otherwise a few times a second).
    void refresh();

private:
    void save();
    LineMonitor& monitor_;
    FileChooser& chooser_;
    FileSystem& fs_;
    MessageBox& box_;
    QTimer* timer_;
    bool dirty_ = true;
    // What the text box shows: the transfer, how many of its lines, and
    // whether its summary; new lines are appended, never the whole log again.
    std::size_t shownId_ = 0, shownLines_ = 0;
    bool summaryShown_ = false;
    int chosenIndex_ = 0;
};

} // namespace tarvex
