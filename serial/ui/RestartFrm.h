#pragma once
#include "platform/qt/QtImageSurface.h"
#include "program/Restart.h"

#include <QDialog>
#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace tarvex {

// What the restart window asks of the program.
struct RestartActions {
    // The program read up to the block, once per block chosen.
    std::function<RestartScan(std::size_t line)> scan;
    std::function<std::optional<std::size_t>(const std::string& number)> findBlock;
    // Draws the path into the window's own picture (and the main plot), the
    // part before the line dimmed and the restart point marked; none ends it.
    std::function<void(std::optional<std::size_t> line, DrawingSurface& picture)> preview;
    // The window has closed.
    std::function<void()> closed;
};

// What the user confirmed.
struct RestartChoice {
    RestartPlan plan;
    std::string preamble; // lines ended by CR LF
    bool tapeRun = false;
};

// "ここから出力": the block to restart from and the proposed preamble to read
// and edit; "出力" confirms them, and the caller starts the output once the
// window has closed.
class RestartFrm final : public QDialog {
    Q_OBJECT
public:
    RestartFrm(RestartActions actions, std::size_t line, bool tapeRun, QWidget* parent = nullptr);
    ~RestartFrm() override;

    QLineEdit* LineText;     // the line number, from 1
    QLineEdit* BlockText;    // a sequence number to look for
    QPushButton* FindButton;
    QRadioButton* ToController;
    QRadioButton* ToTape;
    QLineEdit* ClearanceText;
    QPlainTextEdit* OpeningText;
    QPlainTextEdit* PreambleText;
    QLineEdit* FirstBlockText;
    QPlainTextEdit* NotesText;
    QLabel* RefusalLabel;
    QLabel* PreviewImage; // the path with the restart point, in sight whatever covers the plot
    QPushButton* SendButton;
    std::optional<RestartChoice> choice;

private:
    void choose(std::size_t line);
    void replan();
    void show(const QString& missing);
    void send();
    QTimer* typing_;
    QtImageSurface picture_;
    QString missing_; // a line or block number that is not there
    RestartActions actions_;
    std::optional<RestartScan> scan_;
    RestartPlan plan_;
    std::size_t line_ = 0;
    // The preamble as last proposed: a text the user changed is kept.
    QString proposed_;
};

} // namespace tarvex
