#include "app/ui/TarvexFrm.h"
#include "app/ui/AboutFrm.h"
#include "app/ui/AppSetFrm.h"
#include "editor/LineEnds.h"
#include "editor/ui/CompFrm.h"
#include "editor/ui/RichTextBox.h"
#include "platform/FileSystem.h"
#include "platform/TextCodec.h"
#include "platform/qt/QtUiServices.h"
#include "editor/ui/TextDialogs.h"
#include "serial/ui/CommPanel.h"
#include "serial/ui/ProfileDialogs.h"
#include "serial/ui/RestartFrm.h"
#include "serial/ui/MonitorFrm.h"
#include "view/ui/ColorFrm.h"
#include "view/ui/LengFrm.h"
#include "view/ui/MEditFrm.h"
#include "view/ui/PlotPicture.h"

#include <Qsci/qscicommandset.h>

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QInputDialog>
#include <QShortcut>
#include <climits>
#include <QTimer>
#include <cmath>

// The toolbar images live in a resource of a static library: it is
// registered by hand, outside any namespace.
static void registerIcons() { Q_INIT_RESOURCE(icons); }

namespace tarvex {

TarvexFrm::TarvexFrm(ProcessState& state, FileSystem& fs, const TextCodec& codec, UiServices& ui,
                     const SystemFolders& folders, SerialPort& MSComm1, SerialPort& MSComm2)
    : state_(state), fs_(fs), codec_(codec), ui_(ui)
{
    registerIcons();
    setObjectName("TarvexFrm");
    setWindowTitle(" Tarvex ");
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        dpiX_ = std::max(1, qRound(screen->logicalDotsPerInchX()));
        dpiY_ = std::max(1, qRound(screen->logicalDotsPerInchY()));
    }
    auto* central = new QWidget(this);
    central->setObjectName("central");
    setCentralWidget(central);
    RichTextBox1 = new RichTextBox(central);
    Frame1 = new CommPanel(dpiX_, central);
    Picture1 = new PlotPicture(central);
    Picture2 = new PlotStrip(central);

    panel1_ = new QLabel(this);
    panel1_->setObjectName("StatusBar1.Panel1");
    panel2_ = new QLabel(this);
    panel2_->setObjectName("StatusBar1.Panel2");
    panel2_->setMinimumWidth(px(1440));
    statusBar()->setObjectName("StatusBar1");
    statusBar()->setSizeGripEnabled(false);
    panel3_ = new QLabel(this);
    panel3_->setObjectName("StatusBar1.Panel3");
    statusBar()->addWidget(panel1_, 1);
    statusBar()->addWidget(panel2_);
    statusBar()->addWidget(panel3_);

    buildMenus();

    main_ = std::make_unique<TarvexMain>(state, fs, codec, ui, folders, *this, *RichTextBox1, MSComm1, MSComm2);
    // A byte or a line event ends the transfer's wait at once.
    MSComm1.onActivity = [&events = ui.events] { events.wake(); };
    MSComm2.onActivity = [&events = ui.events] { events.wake(); };
    Transfers& t = main_->transfers();
    CommPanel* f = Frame1;
    const std::pair<QPushButton*, void (Transfers::*)()> commands[] = {
        {f->Command1, &Transfers::Command1_Click},   {f->Command10, &Transfers::Command10_Click},
        {f->Command11, &Transfers::Command11_Click}, {f->Command2, &Transfers::Command2_Click},
        {f->Command20, &Transfers::Command20_Click}, {f->Command21, &Transfers::Command21_Click},
        {f->CommandCancel, &Transfers::CommandCancel_Click},
    };
    for (auto [button, command] : commands) {
        // An input adds to the editor's text: a changed text is offered to be saved first.
        const bool input = button == f->Command2 || button == f->Command20 || button == f->Command21;
        connect(button, &QPushButton::clicked, this, [this, &t, command, input] {
            if (!input || t.running() || main_->mayInput())
                (t.*command)();
        });
    }
    // The save point left or reached again: the caption follows.
    connect(RichTextBox1, &QsciScintilla::modificationChanged, this, [this] { main_->textEdited(); });
    // The output and tape-run buttons offer the restart on their context menu;
    // a disabled button (a transfer runs) shows none.
    for (auto [button, tapeRun] : {std::pair{f->Command1, false}, {f->Command11, true}}) {
        button->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(button, &QWidget::customContextMenuRequested, this, [this, button, tapeRun](QPoint at) {
            QMenu menu(this);
            menu.addAction("ここから出力...", this, [this, tapeRun] { restartFromHere(tapeRun); });
            menu.exec(button->mapToGlobal(at));
        });
    }
    connect(f->Check1, &QCheckBox::toggled, this, [&t](bool on) { t.Check1_Click(on); });
    connect(RichTextBox1, &RichTextBox::filesDropped, this, [this](const QList<QByteArray>& files) {
        std::vector<std::string> paths;
        for (const QByteArray& f : files)
            paths.push_back(f.toStdString());
        main_->document().dropFiles(paths);
    });
    connect(Picture2, &PlotStrip::Image1_Click, this, [this](int index) { main_->Image1_Click(index); });
    // The replay goes on between the window's other events, a step per tick.
    replayTimer_ = new QTimer(this);
    replayTimer_->setSingleShot(true);
    replayTimer_->setTimerType(Qt::PreciseTimer);
    connect(replayTimer_, &QTimer::timeout, this, [this] { main_->replayTick(); });
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    esc->setContext(Qt::WindowShortcut);
    connect(esc, &QShortcut::activated, this, [this] { main_->stopReplay(); });
    connect(Picture2, &PlotStrip::Toolbar1_ButtonClick, this,
            [this](ToolKey key, bool pressed) { main_->Toolbar1_ButtonClick(key, pressed); });
    // The mouse on the plot arrives in toolpath units.
    auto toUser = [this](QPointF at, auto handler) {
        float x, y;
        if (main_->graphics().userPoint(at.x(), at.y(), Picture1->width(), Picture1->height(), x, y))
            (main_.get()->*handler)(x, y);
    };
    connect(Picture1, &PlotPicture::mouseDown, this, [toUser](QPointF at) { toUser(at, &TarvexMain::Picture1_MouseDown); });
    connect(Picture1, &PlotPicture::mouseMove, this, [toUser](QPointF at) { toUser(at, &TarvexMain::Picture1_MouseMove); });
    connect(Frame1->Combo5, &QComboBox::activated, this,
            [this](int index) { main_->Combo5_Click(Frame1->Combo5->itemText(index).toStdString()); });
    connect(Frame1->Combo5, &QComboBox::editTextChanged, this, [this] { main_->Combo5_Change(); });
    connect(Frame1->Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
}

void TarvexFrm::restartFromHere(bool tapeRun)
{
    TarvexMain& m = *main_;
    if (m.transfers().running())
        return;
    std::optional<RestartChoice> choice;
    {
        RestartFrm dialog({[&m](std::size_t line) { return m.restartScan(line); },
                           [&m](const std::string& n) { return m.findBlock(n); },
                           [&m](std::optional<std::size_t> line, DrawingSurface& picture) {
                               m.restartPreview(line, &picture);
                           },
                           [&m] { m.restartClosed(); }},
                          m.caretLine(), tapeRun, this);
        // Over the editor; the window shows the path in its own picture too.
        dialog.move(mapToGlobal(QPoint(0, menuBar()->height())));
        dialog.exec();
        choice = dialog.choice;
    }
    if (choice)
        m.sendFromBlock(choice->plan, choice->preamble, choice->tapeRun);
}

void TarvexFrm::Command5_Click()
{
    {
        PropatyFrm dialog({state_.profile, fs_, codec_, state_.progDir, ui_.messageBox, state_.settings, Frame1->Combo5},
                          this);
        dialog.exec();
    }
    // However the dialog closed, the profile file is the truth again.
    main_->Combo5_Click(Frame1->Combo5->currentText().toStdString());
}

TarvexFrm::~TarvexFrm() = default;

void TarvexFrm::buildMenus()
{
    QMenu* levelMenu[3] = {nullptr, nullptr, nullptr};
    for (std::size_t i = 0; i < menuTree.size(); ++i) {
        const MenuEntry& e = menuTree[i];
        const QString caption = QString::fromUtf8(e.caption);
        const bool hasItems = i + 1 < menuTree.size() && menuTree[i + 1].level > e.level;
        QAction* action;
        if (e.level == 0 || hasItems) {
            QMenu* menu = e.level == 0 ? menuBar()->addMenu(caption) : levelMenu[e.level - 1]->addMenu(caption);
            menu->setObjectName(e.name);
            levelMenu[e.level] = menu;
            action = menu->menuAction();
        } else {
            action = levelMenu[e.level - 1]->addAction(caption);
            connect(action, &QAction::triggered, this, [this, id = e.id] { onMenu(id); });
        }
        action->setObjectName(e.name);
        if (*e.keys)
            action->setShortcut(QKeySequence(QString::fromLatin1(e.keys)));
        action->setCheckable(e.check);
        action->setEnabled(e.built);
        if (e.separatorAfter)
            levelMenu[e.level - 1]->addSeparator();
        actions_[e.id] = action;
    }
    // Select all is the window's item, not the editor's own key; Esc is the
    // window's too (it stops a replay wherever the focus is).
    for (int key : {QKeyCombination(Qt::ControlModifier, Qt::Key_A).toCombined(), int(Qt::Key_Escape)})
        if (QsciCommand* own = RichTextBox1->standardCommands()->boundTo(key))
            own->setKey(0);
}

void TarvexFrm::onMenu(Menu item)
{
    // A shortcut of an item whose menu is locked (a transfer runs) does nothing.
    for (std::size_t i = 0, top = 0; i < menuTree.size(); ++i) {
        if (menuTree[i].level == 0)
            top = i;
        if (menuTree[i].id == item && !actions_[menuTree[top].id]->isEnabled())
            return;
    }
    TarvexMain& m = *main_;
    switch (item) {
    case Menu::fileload: m.document().fileload_Click(); break;
    case Menu::MnuOverwrite: m.document().saveInPlace(); break;
    case Menu::MnuRecent0: case Menu::MnuRecent1: case Menu::MnuRecent2: case Menu::MnuRecent3:
    case Menu::MnuRecent4: case Menu::MnuRecent5: case Menu::MnuRecent6: case Menu::MnuRecent7:
        m.openRecent(static_cast<int>(item) - static_cast<int>(Menu::MnuRecent0));
        break;
    case Menu::MnuUndo: RichTextBox1->undo(); break;
    case Menu::MnuRedo: RichTextBox1->redo(); break;
    case Menu::MnuCut: RichTextBox1->cut(); break;
    case Menu::MnuCopy: RichTextBox1->copy(); break;
    case Menu::MnuPaste: RichTextBox1->paste(); break;
    case Menu::MnuSelectAll: RichTextBox1->selectAll(); break;
    case Menu::MnuFindNext:
    case Menu::MnuFindPrev:
        // Without a string found before, the find dialog asks for one.
        if (!m.textCommands().findAgain(item == Menu::MnuFindPrev))
            onMenu(Menu::MnuKensaku);
        break;
    case Menu::MnuGoto: goToLine(); break;
    case Menu::MnuHelpText: showHelp(this); break;
    case Menu::MnuAppendLoad: m.document().MnuAppendLoad_Click(); break;
    case Menu::MnuSave: m.document().MnuSave_Click(); break;
    case Menu::clea: m.document().clea_Click(); break;
    case Menu::endprogram: close(); break;
    case Menu::MnuSubDel: m.MnuSubDel_Click(); break;
    case Menu::MnuExitSubDel: m.MnuExitSubDel_Click(); break;
    case Menu::MnuFont: m.MnuFont_Click(); break;
    case Menu::MnuGrph: m.MnuGrph_Click(); break;
    case Menu::MnuG90: m.MnuG90_Click(); break;
    case Menu::MnuG91: m.MnuG91_Click(); break;
    case Menu::MnuDxfSave: m.MnuDxfSave_Click(); break;
    case Menu::MnuTusin: m.MnuTusin_Click(); break;
    case Menu::MnuKensaku: KensakuFrm(m.textCommands(), this).exec(); break;
    case Menu::MnuHenkan: HenkanFrm(m.textCommands(), this).exec(); break;
    case Menu::MnuGyoHenkan: GyoHenkanFrm(m.textCommands(), this).exec(); break;
    case Menu::MnuRenumber: RenumFrm(m.textCommands(), this).exec(); break;
    case Menu::MnuCompare: m.MnuCompare_Click(); break;
    case Menu::MnuColours: {
        ColourFrm dialog(m.wordColours(), this);
        if (dialog.exec() == QDialog::Accepted)
            m.setWordColours(dialog.colours());
        break;
    }
    case Menu::MnuSpDel: m.textCommands().MnuSpDel_Click(); break;
    case Menu::MnuISOCheck: m.textCommands().MnuISOCheck_Click(); break;
    case Menu::MnuEIACheck: m.textCommands().MnuEIACheck_Click(); break;
    case Menu::MnuMEdit: MnuMEdit_Click(); break;
    case Menu::MnuApSet: {
        QtFileChooser own(codec_); // the dialog's own chooser: the shared one keeps its folder
        AppSetFrm(m.appRegister(), own, ui_.messageBox, [&m] { m.refreshAppMenu(); }, this).exec();
        break;
    }
    case Menu::MnuRestart: restartFromHere(false); break;
    case Menu::MnuMonitor: {
        if (!monitorWindow_) {
            // Its own chooser: the shared one's file name is the caption's.
            if (!monitorChooser_)
                monitorChooser_ = std::make_unique<QtFileChooser>(codec_);
            monitorWindow_ = new MonitorFrm(m.lineMonitor(), *monitorChooser_, fs_, ui_.messageBox, this);
        }
        monitorWindow_->show();
        monitorWindow_->raise();
        break;
    }
    case Menu::MnuWWW: m.MnuWWW_Click(); break;
    case Menu::MnuHomePage: m.MnuHomePage_Click(); break;
    case Menu::MnuMorlex: m.MnuMorlex_Click(); break;
    case Menu::MnuVar: MnuVar_Click(); break;
    case Menu::MnuApp0: case Menu::MnuApp1: case Menu::MnuApp2: case Menu::MnuApp3: case Menu::MnuApp4:
    case Menu::MnuApp5: case Menu::MnuApp6: case Menu::MnuApp7: case Menu::MnuApp8: case Menu::MnuApp9:
        m.MnuApp_Click(static_cast<int>(item) - static_cast<int>(Menu::MnuApp0));
        break;
    default: break;
    }
}

void TarvexFrm::repaintStatus() { statusBar()->repaint(); }

void TarvexFrm::setToolButton(ToolKey key, bool pressed) { Picture2->setToolButton(key, pressed); }
void TarvexFrm::setToolbarEnabled(bool enabled) { Picture2->setToolbarEnabled(enabled); }

void TarvexFrm::setPlotCursor(PlotCursor cursor)
{
    switch (cursor) {
    case PlotCursor::Default: Picture1->unsetCursor(); break;
    case PlotCursor::Move: Picture1->setCursor(Qt::SizeAllCursor); break;
    case PlotCursor::Cross: Picture1->setCursor(Qt::CrossCursor); break;
    case PlotCursor::Zoom: {
        const QPixmap glass(":/icons/zoomcursor.svg");
        Picture1->setCursor(glass.isNull() ? QCursor(Qt::CrossCursor) : QCursor(glass, 12, 12));
        break;
    }
    }
}

void TarvexFrm::openLengthWindow(bool open)
{
    if (!open) {
        if (lengthWindow_)
            lengthWindow_->close();
        return;
    }
    if (lengthWindow_ && lengthWindow_->isVisible()) // a closed one is only waiting to be deleted
        return;
    lengthWindow_ = new Leng_Frm(
        toolWindowContext(), [this](int mode) { main_->setLengthTool(mode); }, [this] { main_->lengthWindowClosed(); },
        this);
    lengthWindow_->show();
}

ToolWindowContext TarvexFrm::toolWindowContext()
{
    return {state_.settings, [this](int t, bool v) { return px(t, v); }, [this](int p, bool v) { return twips(p, v); },
            screenWidth(), screenHeight(),
            QRect(RichTextBox1->mapToGlobal(QPoint(0, 0)), RichTextBox1->size())};
}

void TarvexFrm::openColourWindow(bool open)
{
    if (!open) {
        if (colourWindow_)
            colourWindow_->close();
        return;
    }
    if (colourWindow_ && colourWindow_->isVisible())
        return;
    colourWindow_ = new ColorFrm(toolWindowContext(),
                                 DisplayColours(state_.conditions, ui_.colourChooser, ui_.inputBox,
                                                [this] { main_->replot(); }),
                                 [this] { main_->colourWindowClosed(); }, this);
    colourWindow_->show();
}

void TarvexFrm::showHelp(QWidget* over)
{
    HlpFrm help(QSize(px(11220), px(9000, true)),
                [this](const std::string& text) {
                    // A copy of the text as it was when the window closed; the window shows
                    // the built-in document again next time.
                    fs_.writeFile(joinPath(state_.progDir, "Tarvex.txt"), normaliseLineEnds(codec_.encode(text)));
                },
                over);
    help.exec();
}

void TarvexFrm::MnuVar_Click()
{
    frmAbout(QFileInfo(QCoreApplication::applicationFilePath()).fileName(), [this](QWidget* over) { showHelp(over); },
             this)
        .exec();
}

void TarvexFrm::goToLine()
{
    const long lines = main_->textCommands().lineCount();
    bool ok = false;
    const int line = QInputDialog::getInt(this, "行へ移動", QString("行番号（1～%1）").arg(lines),
                                          static_cast<int>(main_->caretLine()), 1,
                                          static_cast<int>(std::min<long>(lines, INT_MAX)), 1, &ok);
    if (ok)
        main_->textCommands().goToLine(static_cast<std::size_t>(line));
    RichTextBox1->setFocus();
}

void TarvexFrm::MnuMEdit_Click()
{
    if (markingEditor_ && markingEditor_->isVisible()) {
        markingEditor_->raise();
        markingEditor_->activateWindow();
        return;
    }
    markingEditor_ = new M_EditFrm(MarkingEditor(fs_, codec_, state_.progDir, ui_.messageBox), ui_.colourChooser,
                                   QSize(px(5985), px(4230, true)), this);
    markingEditor_->show();
}

Leng_Frm* TarvexFrm::lengthWindow() const { return lengthWindow_; }
ColorFrm* TarvexFrm::colourWindow() const { return colourWindow_; }
M_EditFrm* TarvexFrm::markingEditor() const { return markingEditor_; }

void TarvexFrm::setLengthReport(const std::string& text)
{
    if (lengthWindow_)
        lengthWindow_->Text1->setText(QString::fromStdString(text));
}

void TarvexFrm::setTimeReport(const std::string& text)
{
    if (lengthWindow_)
        lengthWindow_->Text2->setText(QString::fromStdString(text));
}

std::string TarvexFrm::statusText(int panel) const
{
    return (panel == 1 ? panel1_ : panel == 2 ? panel2_ : panel3_)->text().toStdString();
}

int TarvexFrm::px(int twips, bool vertical) const
{
    return static_cast<int>(std::lround(twips * (vertical ? dpiY_ : dpiX_) / 1440.0));
}

int TarvexFrm::twips(int px, bool vertical) const
{
    return static_cast<int>(std::lround(px * 1440.0 / (vertical ? dpiY_ : dpiX_)));
}

void TarvexFrm::setMenuChecked(Menu item, bool checked) { actions_.at(item)->setChecked(checked); }
void TarvexFrm::setMenuEnabled(Menu item, bool enabled) { actions_.at(item)->setEnabled(enabled); }

void TarvexFrm::setMenuCaption(Menu item, const std::string& caption, bool visible)
{
    actions_.at(item)->setText(QString::fromStdString(caption));
    actions_.at(item)->setVisible(visible);
}

void TarvexFrm::setCaption(const std::string& caption) { setWindowTitle(QString::fromStdString(caption)); }

void TarvexFrm::setStatusText(int panel, const std::string& text)
{
    (panel == 1 ? panel1_ : panel == 2 ? panel2_ : panel3_)->setText(QString::fromStdString(text));
}

int TarvexFrm::screenWidth() const
{
    QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    return s ? twips(s->geometry().width()) : 1 << 20;
}

int TarvexFrm::screenHeight() const
{
    QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    return s ? twips(s->geometry().height(), true) : 1 << 20;
}

Rect TarvexFrm::windowRect() const
{
    const QMargins m = frameMargins();
    const QRect f = geometry().marginsAdded(m);
    // Still as we sized it, also when the window manager's frame came since
    // and the fit to it is yet to run: the size we set, not that plus the frame.
    if (f == setGeometry_ || (!setGeometry_.isNull() && size() == setClientSize_ && m != setMargins_))
        return setRect_;
    return {twips(f.x()), twips(f.y(), true), twips(f.width()), twips(f.height(), true)};
}

QMargins TarvexFrm::frameMargins() const
{
    const QRect outer = frameGeometry(), inner = geometry();
    const QMargins m{inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                     outer.bottom() - inner.bottom()};
    // While the window manager makes its frame, the frame may be smaller
    // than the window for a moment (1 by 1): no frame is known yet. Taken as
    // it stands, the window would grow by the difference.
    if (m.left() < 0 || m.top() < 0 || m.right() < 0 || m.bottom() < 0)
        return {};
    return m;
}

void TarvexFrm::setWindowRect(const Rect& r)
{
    // Twips give the outer rectangle; the window manager's frame is outside
    // the client area. Before the window is first shown the frame is not
    // known yet: fitFrame() corrects the size once the window manager has
    // framed the window.
    const QMargins m = frameMargins();
    move(px(r.left), px(r.top, true));
    resize(std::max(1, px(r.width) - m.left() - m.right()), std::max(1, px(r.height, true) - m.top() - m.bottom()));
    setRect_ = r;
    setGeometry_ = geometry().marginsAdded(m);
    setMargins_ = m;
    setClientSize_ = size();
}

void TarvexFrm::fitFrame()
{
    // Only while the window is still as we sized it: a size the user gave
    // it since is the user's.
    if (setGeometry_.isNull() || isMinimized() || isMaximized() || size() != setClientSize_)
        return;
    if (frameMargins() != setMargins_)
        setWindowRect(setRect_);
}

int TarvexFrm::menuBarHeight() const
{
    return menuBar()->isVisible() ? menuBar()->height() : menuBar()->sizeHint().height();
}

int TarvexFrm::innerWidth() const { return twips(width()); }

int TarvexFrm::innerHeight() const { return twips(height() - menuBarHeight(), true); }

int TarvexFrm::statusBarHeight() const
{
    return twips(statusBar()->isVisible() ? statusBar()->height() : statusBar()->sizeHint().height(), true);
}

bool TarvexFrm::isMinimized() const { return windowState() & Qt::WindowMinimized; }
bool TarvexFrm::isMaximized() const { return windowState() & Qt::WindowMaximized; }
void TarvexFrm::restoreWindow() { showNormal(); }

void TarvexFrm::place(Area area, const Rect& r, bool visible)
{
    QWidget* w = area == Area::Editor     ? static_cast<QWidget*>(RichTextBox1)
                 : area == Area::Frame1   ? static_cast<QWidget*>(Frame1)
                 : area == Area::Picture1 ? static_cast<QWidget*>(Picture1)
                                          : static_cast<QWidget*>(Picture2);
    w->setGeometry(px(r.left), px(r.top, true), px(r.width), px(r.height, true));
    w->setVisible(visible);
}

void TarvexFrm::setProfileList(const std::vector<std::string>& names, int selected)
{
    Frame1->Combo5->clear();
    for (const auto& n : names)
        Frame1->Combo5->addItem(QString::fromStdString(n));
    Frame1->Combo5->setCurrentIndex(selected);
    if (selected < 0)
        Frame1->Combo5->setEditText({});
}

std::string TarvexFrm::profileText() const { return Frame1->Combo5->currentText().toStdString(); }

void TarvexFrm::arrangePanel(const PanelArrangement& arrangement) { Frame1->arrange(arrangement); }
void TarvexFrm::setSlider1(int value) { Frame1->Slider1->setValue(value); }
void TarvexFrm::setCommand5Enabled(bool enabled) { Frame1->Command5->setEnabled(enabled); }

QWidget* TarvexFrm::panelControl(PanelControl control) const
{
    CommPanel* f = Frame1;
    QWidget* w = nullptr;
    switch (control) {
    case PanelControl::Command1: w = f->Command1; break;
    case PanelControl::Command2: w = f->Command2; break;
    case PanelControl::Command5: w = f->Command5; break;
    case PanelControl::Command10: w = f->Command10; break;
    case PanelControl::Command11: w = f->Command11; break;
    case PanelControl::Command20: w = f->Command20; break;
    case PanelControl::Command21: w = f->Command21; break;
    case PanelControl::Check1: w = f->Check1; break;
    case PanelControl::Slider1: w = f->Slider1; break;
    }
    return w;
}

void TarvexFrm::setPanelEnabled(PanelControl control, bool enabled) { panelControl(control)->setEnabled(enabled); }
bool TarvexFrm::panelEnabled(PanelControl control) const { return panelControl(control)->isEnabled(); }

void TarvexFrm::setCancelEnabled(bool enabled) { Frame1->CommandCancel->setEnabled(enabled); }
void TarvexFrm::setProfileBoxEnabled(bool enabled) { Frame1->Combo5->setEnabled(enabled); }
void TarvexFrm::setPlotEnabled(bool enabled) { Picture1->setEnabled(enabled); }
int TarvexFrm::slider1() const { return Frame1->Slider1->value(); }
void TarvexFrm::focusEditor() { RichTextBox1->setFocus(); }

void TarvexFrm::setSlider2(int value) { Picture2->Slider2->setValue(value); }
int TarvexFrm::slider2() const { return Picture2->Slider2->value(); }

void TarvexFrm::setLabel2(const std::string& text) { Frame1->Label2->setText(QString::fromStdString(text)); }

void TarvexFrm::erasePlot() { Picture1->erase(); }

void TarvexFrm::replayTimer(std::optional<std::chrono::microseconds> after)
{
    if (!after)
        return replayTimer_->stop();
    replayTimer_->start(static_cast<int>((after->count() + 999) / 1000));
}
DrawingSurface& TarvexFrm::plotSurface() { return Picture1->surface(); }

void TarvexFrm::showWindow()
{
    if (!isVisible())
        show();
}

void TarvexFrm::showComparison(const std::string& firstTitle, const std::string& secondTitle,
                               std::unique_ptr<Comparison> comparison)
{
    // Each comparison its own window: two may stand side by side.
    auto* window = new CompFrm(firstTitle, secondTitle, std::move(comparison), RichTextBox1->currentFont(),
                                RichTextBox1->wordColours(), this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
}

void TarvexFrm::resizeEvent(QResizeEvent* e)
{
    QMainWindow::resizeEvent(e);
    fitFrame();
    if (inResize_)
        return;
    inResize_ = true;
    main_->Form_Resize();
    inResize_ = false;
}

void TarvexFrm::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    fitFrame();
    main_->Form_Resize();
}

bool TarvexFrm::event(QEvent* e)
{
    const bool done = QMainWindow::event(e);
    // The window manager's frame may arrive without moving the client area
    // (where it places the frame around it): look again whenever the window
    // is exposed or activated.
    if (e->type() == QEvent::Expose || e->type() == QEvent::ActivationChange || e->type() == QEvent::WindowStateChange)
        fitFrame();
    return done;
}

void TarvexFrm::moveEvent(QMoveEvent* e)
{
    QMainWindow::moveEvent(e);
    // A window manager that frames the window moves the client area inside its frame.
    fitFrame();
}

void TarvexFrm::closeEvent(QCloseEvent* e)
{
    if (!closed_) {
        if (!main_->mayClose())
            return e->ignore();
        closed_ = true;
        main_->closeRequest();
    }
    e->accept();
    emit ended();
}

} // namespace tarvex
