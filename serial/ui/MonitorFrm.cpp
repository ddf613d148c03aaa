#include "serial/ui/MonitorFrm.h"
#include "platform/FileSystem.h"
#include "platform/UiServices.h"
#include "serial/LineMonitor.h"

#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace tarvex {

MonitorFrm::MonitorFrm(LineMonitor& monitor, FileChooser& chooser, FileSystem& fs, MessageBox& box, QWidget* parent)
    : QDialog(parent), monitor_(monitor), chooser_(chooser), fs_(fs), box_(box)
{
    setObjectName("MonitorFrm");
    setWindowTitle("通信モニタ");
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    RecordList = new QComboBox(this);
    RecordList->setObjectName("RecordList");
    LogText = new QPlainTextEdit(this);
    LogText->setObjectName("LogText");
    LogText->setReadOnly(true);
    LogText->setLineWrapMode(QPlainTextEdit::NoWrap);
    // One fixed-pitch font for digits and kana alike: the time column lines up.
    QFont fixed("IPAGothic");
    fixed.setStyleHint(QFont::Monospace);
    if (!QFontInfo(fixed).fixedPitch())
        fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    LogText->setFont(fixed);
    // The monitor keeps each log's first and last lines; so does the box.
    LogText->setMaximumBlockCount(static_cast<int>(LineMonitor::headLines + LineMonitor::tailLines) + 64);
    SaveButton = new QPushButton("保存...", this);
    SaveButton->setObjectName("SaveButton");
    CopyButton = new QPushButton("コピー", this);
    CopyButton->setObjectName("CopyButton");
    auto* close = new QPushButton("閉じる", this);
    close->setObjectName("CloseButton");

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(RecordList, 1);
    buttons->addWidget(SaveButton);
    buttons->addWidget(CopyButton);
    buttons->addWidget(close);
    auto* all = new QVBoxLayout(this);
    all->addLayout(buttons);
    all->addWidget(LogText, 1);

    connect(RecordList, &QComboBox::activated, this, [this] {
        dirty_ = true;
        refresh();
    });
    connect(SaveButton, &QPushButton::clicked, this, [this] { save(); });
    connect(CopyButton, &QPushButton::clicked, this, [this] {
        const auto& records = monitor_.records();
        if (chosenIndex_ < static_cast<int>(records.size()))
            QGuiApplication::clipboard()->setText(
                QString::fromStdString(records[records.size() - 1 - static_cast<std::size_t>(chosenIndex_)].text()));
    });
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    // The transfer reports each event; the window follows on a timer, so that
    // a busy line costs the transfer nothing but a flag.
    // The monitor may outlive the window, or the window the monitor: the
    // window is looked for, not kept.
    monitor_.onChange = [self = QPointer<MonitorFrm>(this)] {
        if (self)
            self->dirty_ = true;
    };
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, [this] {
        if (dirty_)
            refresh();
    });
    timer_->start(250);
    resize(640, 420);
    refresh();
}


void MonitorFrm::refresh()
{
    dirty_ = false;
    const auto& records = monitor_.records();
    // The list, latest first; a new transfer is followed, a chosen older one kept.
    const int chosen = RecordList->currentIndex();
    const bool followLatest = chosen <= 0 || RecordList->count() != static_cast<int>(records.size());
    RecordList->clear();
    for (auto it = records.rbegin(); it != records.rend(); ++it)
        RecordList->addItem(QString::fromStdString(it->title + (it->running ? "（通信中）" : "")));
    if (records.empty()) {
        LogText->setPlainText("通信の記録はまだありません。");
        return;
    }
    const int index = followLatest ? 0 : chosen;
    chosenIndex_ = index;
    RecordList->setCurrentIndex(index);
    const LineMonitor::Record& r = records[records.size() - 1 - static_cast<std::size_t>(index)];
    QScrollBar* bar = LogText->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    if (r.id != shownId_) {
        std::string text = r.title;
        for (const std::string& l : r.since(0))
            text += "\n" + l;
        LogText->setPlainText(QString::fromStdString(text));
        shownId_ = r.id;
        summaryShown_ = false;
    } else {
        for (const std::string& l : r.since(shownLines_))
            LogText->appendPlainText(QString::fromStdString(l));
    }
    shownLines_ = r.added;
    if (!r.running && !summaryShown_) {
        std::string summary = r.summary();
        if (!summary.empty() && summary.back() == '\n')
            summary.pop_back(); // a paragraph of its own already ends the line
        LogText->appendPlainText(QString::fromStdString(summary));
        summaryShown_ = true;
    }
    if (atEnd)
        bar->setValue(bar->maximum());
}

void MonitorFrm::save()
{
    chooser_.title = "通信モニタの保存";
    chooser_.filter = "テキスト(*.txt)|*.txt|全てのﾌｧｲﾙ(*.*)|*.*";
    chooser_.defaultExt = ".txt";
    chooser_.fileName = "monitor.txt";
    chooser_.cancelError = true;
    const auto outcome = chooser_.showSave();
    if (outcome == FileChooser::Outcome::Failed)
        box_.show(chooser_.error.description, "TARVEX", MsgIcon::Exclamation);
    if (outcome != FileChooser::Outcome::Chosen || chooser_.fileName.empty())
        return;
    const auto& records = monitor_.records();
    if (chosenIndex_ >= static_cast<int>(records.size()))
        return;
    if (Error e = fs_.writeFile(chooser_.fileName,
                                records[records.size() - 1 - static_cast<std::size_t>(chosenIndex_)].text()))
        box_.show(e.description, "TARVEX", MsgIcon::Exclamation);
}

} // namespace tarvex
