// The main window, offscreen: menus, layout, and the document commands
// driven through the real widgets.
#include "serial/DeviceProfile.h"
#include "serial/ui/CommPanel.h"
#include "tests/ui/window_world.h"
#include "toolpath/Graphics.h"
#include "view/ui/PlotPicture.h"

#include <QAccessible>
#include <QCheckBox>
#include <QRadioButton>
#include <QColorDialog>
#include <QComboBox>
#include <QMenu>
#include <QMimeData>
#include <QToolButton>
#include <QUrl>
#include <QDeadlineTimer>
#include <QFontDatabase>
#include <QFontDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include "platform/qt/QtFileDialog.h"
#include "editor/ui/CompFrm.h"
#include "editor/ui/RichTextBox.h"
#include "editor/ui/TextDialogs.h"
#include "view/ui/LengFrm.h"
#include <QElapsedTimer>
#include <QSlider>
#include <cmath>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QClipboard>
#include <QLabel>
#include <QListView>
#include <QSpinBox>
#include <QTableWidget>
#include "app/ui/AboutFrm.h"
#include "app/ui/InpFrm.h"
#include "view/ui/ColorFrm.h"
#include "view/ui/MEditFrm.h"
#include "serial/TapeCode.h"
#include "serial/ui/RestartFrm.h"
#include "serial/ui/MonitorFrm.h"

using namespace tarvex;

namespace {

// The menu bar as the user sees it, one line per item: indented by level,
// "[x]" for a check item, "---" for a separator.
QString menuText(QMenuBar* bar)
{
    QString out;
    std::function<void(const QList<QAction*>&, int)> walk = [&](const QList<QAction*>& actions, int level) {
        for (QAction* a : actions) {
            out += QString(level, ' ');
            if (a->isSeparator()) {
                out += "---\n";
                continue;
            }
            out += a->objectName() + "|" + a->text() + (a->isCheckable() ? " [x]" : "") + "\n";
            if (a->menu())
                walk(a->menu()->actions(), level + 1);
        }
    };
    walk(bar->actions(), 0);
    return out;
}

// Runs fn on the next modal dialog of type T once it is up (fn must close
// it); gives up after ten seconds.
template <class T> void whenModal(std::function<void(T*)> fn)
{
    auto* timer = new QTimer;
    auto deadline = std::make_shared<QDeadlineTimer>(10000);
    QObject::connect(timer, &QTimer::timeout, [timer, deadline, fn] {
        T* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!dialog && !deadline->hasExpired())
            return;
        timer->stop();
        timer->deleteLater();
        if (dialog)
            fn(dialog);
    });
    timer->start(20);
}

QTreeWidgetItem* listed(FileDialog* d, const QString& name)
{
    const auto items = d->fileList->findItems(name, Qt::MatchExactly);
    return items.isEmpty() ? nullptr : items.front();
}

} // namespace

class TarvexFrmTest : public QObject {
    Q_OBJECT

    using World = testing::WindowWorld;

    // A drop reaches only the widget that accepted the drag's entry.
    static void dragAndDrop(QWidget* target, QMimeData* mime)
    {
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
    }

private slots:
    void menusCarryTheirCaptionsSeparatorsAndChecks()
    {
        World w;
        TarvexFrm& f = w.start();
        // The menu tree as the program's documentation gives it.
        const QString expected = QString::fromUtf8(R"(filemenu|ファイル(&F)
 fileload|ファィルの読み込み...
 MnuAppendLoad|ファィルの追加読み込み...
 MnuCompare|プログラムの比較...
 ---
 MnuOverwrite|上書き保存
 MnuSave|名前を付けて保存...
 ---
 MnuDxfSave|DXF形式で保存
 ---
 MnuSubPro|サブプロの削除
  MnuSubDel|今すぐに削除
  MnuExitSubDel|Tarvex終了時に削除 [x]
 ---
 clea|クリア
 ---
 MnuRecent|最近使ったファイル
  MnuRecent(0)|
  MnuRecent(1)|
  MnuRecent(2)|
  MnuRecent(3)|
  MnuRecent(4)|
  MnuRecent(5)|
  MnuRecent(6)|
  MnuRecent(7)|
 ---
 endprogram|終了
MnuEdit|編集(&E)
 MnuUndo|元に戻す
 MnuRedo|やり直し
 ---
 MnuCut|切り取り
 MnuCopy|コピー
 MnuPaste|貼り付け
 MnuSelectAll|すべて選択
 ---
 MnuKensaku|検索...
 MnuFindNext|次を検索
 MnuFindPrev|前を検索
 MnuHenkan|置換...
 MnuGyoHenkan|行置換...
 MnuGoto|行へ移動...
 ---
 MnuSpDel|スペースの削除
 ---
 MnuPartyCheck|キャラクターチェック
  MnuISOCheck|ISOコードチェック
  MnuEIACheck|EIAコードチェック
 ---
 MnuFont|フォント...
MnuView|表示(&V)
 MnuTusin|通信ボックス [x]
 ---
 MnuGrph|グラフィックス [x]
 ---
 MnuGrhGcode|グラフィックスモード
  MnuG90|G90 アブソリュート [x]
  MnuG91|G91 インクレメンタル [x]
  ---
  MnuMEdit|Mコードエディタ
MnuOption|オプション(&O)
 MnuRestart|ここから出力...
 MnuMonitor|通信モニタ...
 MnuRenumber|シーケンス番号の付け直し...
 MnuColours|色分けの設定...
 ---
 MnuWWW|ブラウザの選択...
 ---
 MnuApSet|外部アプリの設定...
 ---
 MnuMorlex|NCコンバータ
 MnuApp(0)|
 MnuApp(1)|
 MnuApp(2)|
 MnuApp(3)|
 MnuApp(4)|
 MnuApp(5)|
 MnuApp(6)|
 MnuApp(7)|
 MnuApp(8)|
 MnuApp(9)|
MnuHelp|ヘルプ(&H)
 MnuHelpText|使い方...
 MnuHomePage|ホームページへ接続
 MnuVar|バージョン情報(&V)
)");
        QCOMPARE(menuText(f.menuBar()), expected);
        QVERIFY(f.menuAction(Menu::MnuGrph)->isChecked());
        QVERIFY(f.menuAction(Menu::MnuTusin)->isChecked());
        QVERIFY(!f.menuAction(Menu::MnuExitSubDel)->isChecked());
        QVERIFY(f.menuAction(Menu::MnuG90)->isChecked());
        QVERIFY(!f.menuAction(Menu::MnuAppendLoad)->isEnabled());
        QVERIFY(f.menuAction(Menu::fileload)->isEnabled());
        QVERIFY(!f.menuAction(appMenu(0))->isVisible());
        QCOMPARE(f.frame1()->Combo5->currentText(), QString("FANUC"));
    }

    void realChoosersListCp932NamesAndKeepTheirOwnExtension()
    {
        World w(true);
        const std::string raw = "O1000\x83\x65\x83\x58\x83\x67.nc"; // "O1000テスト.nc" as a Windows machine names it
        w.write(raw, "O1000\r\nG01X10.Y5.\r\nM30\r\n");
        TarvexFrm& f = w.start();
        const std::string folder = w.path("");

        // Open: the file is listed by its reading and opened by its bytes.
        QString filterShown;
        bool found = false;
        whenModal<FileDialog>([&](FileDialog* d) {
            d->setFolder(folder);
            filterShown = d->typeBox->itemText(0);
            if (QTreeWidgetItem* item = listed(d, "O1000テスト.nc")) {
                found = true;
                item->setSelected(true);
            }
            d->okButton->click();
            if (d->isVisible())
                d->reject();
        });
        f.menuAction(Menu::fileload)->trigger();
        QVERIFY(found);
        QCOMPARE(filterShown, QString("全てのﾌｧｲﾙ(*.*)"));
        QCOMPARE(w.text(), std::string("O1000\r\nG01X10.Y5.\r\nM30\r\n"));
        QCOMPARE(f.windowTitle(), QString(" Tarvex　[ O1000テスト.nc ]"));

        // The DXF export proposes the program's name as a drawing, and adds
        // its extension to a bare name.
        QString dxfProposed;
        whenModal<FileDialog>([&](FileDialog* d) {
            filterShown = d->typeBox->itemText(0);
            dxfProposed = d->nameEdit->text();
            d->nameEdit->setText("drawing");
            d->okButton->click();
            if (d->isVisible())
                d->reject();
        });
        f.menuAction(Menu::MnuDxfSave)->trigger();
        QCOMPARE(filterShown, QString("DXF形式(*.dxf)"));
        QCOMPARE(dxfProposed, QString("O1000テスト.dxf"));
        QVERIFY(QFile::exists(QString::fromStdString(w.path("drawing.dxf"))));

        // Save afterwards writes the program under its own name, after asking to replace it.
        static_cast<TextEditor*>(f.editor())->setText("O1000\r\nG01X20.\r\n");
        QString proposed, question;
        whenModal<FileDialog>([&](FileDialog* d) {
            proposed = d->nameEdit->text();
            whenModal<QMessageBox>([&](QMessageBox* box) {
                question = box->text();
                box->button(QMessageBox::Yes)->click();
            });
            d->okButton->click();
            if (d->isVisible())
                d->reject();
        });
        f.menuAction(Menu::MnuSave)->trigger();
        QCOMPARE(proposed, QString("O1000テスト.nc"));
        QCOMPARE(question, QString("O1000テスト.nc は既に存在します。\n上書きしますか?"));
        std::string saved;
        QVERIFY(!w.fs.readFile(w.path(raw), saved));
        QCOMPARE(saved, std::string("O1000\r\nG01X20.\r\n"));
        QVERIFY(!w.fs.exists(w.path(raw + ".dxf")));

        // The applications' filter lists the programs of this system: executable files.
        w.write("tool", "#!/bin/sh\n");
        QFile(QString::fromStdString(w.path("tool"))).setPermissions(QFileDevice::ExeOwner | QFileDevice::ReadOwner);
        FileDialog apps(w.codec, false, nullptr);
        apps.setFilter("ｱﾌﾟﾘｹｰｼｮﾝ(*.EXE)|*.EXE|全て(*.*)|*.*");
        apps.setFolder(folder);
        QVERIFY(listed(&apps, "tool") && !listed(&apps, "drawing.dxf"));
    }

    void textToolsThroughTheirDialogs()
    {
        World w;
        TarvexFrm& f = w.start();
        TextEditor& ed = *f.editor();
        ed.setText("G00 X1.\r\n(加工)G00 X2.\r\n");
        // Find next: the hit is selected in the editor.
        QString selected;
        whenModal<KensakuFrm>([&](KensakuFrm* d) {
            d->Text1->setText("G00");
            d->Command1[0]->click();
            selected = f.editor()->selectedText();
            d->Command1[1]->click();
        });
        f.menuAction(Menu::MnuKensaku)->trigger();
        QCOMPARE(selected, QString("G00"));
        QCOMPARE(f.editor()->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART), 17L); // bytes, after "(加工)"
        // F3 looks for it again; Ctrl+F opens the dialog on it. A transfer's
        // lock takes the keys with the menus.
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        ed.selectBytes(0, 0);
        QTest::keyClick(f.editor(), Qt::Key_F3);
        QCOMPARE(f.editor()->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART), 17L);
        QString proposed;
        whenModal<KensakuFrm>([&](KensakuFrm* d) {
            proposed = d->Text1->text();
            d->reject();
        });
        QTest::keyClick(f.editor(), Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(proposed, QString("G00"));
        f.activateWindow(); // the dialog's end leaves none active here
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.logic().Control(false);
        for (auto [key, mod] : {std::pair{Qt::Key_A, Qt::ControlModifier}, {Qt::Key_F3, Qt::NoModifier},
                                {Qt::Key_F, Qt::ControlModifier}, {Qt::Key_O, Qt::ControlModifier}}) {
            ed.selectBytes(0, 0);
            QTest::keyClick(f.editor(), key, mod);
            QCOMPARE(f.editor()->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONEND), 0L);
            QVERIFY(!QApplication::activeModalWidget());
        }
        f.logic().Control(true);
        QTest::keyClick(f.editor(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(f.editor()->selectedText(), f.editor()->QsciScintilla::text());
        // Replace all, then Ctrl+Z brings the program back in one step.
        whenModal<HenkanFrm>([&](HenkanFrm* d) {
            d->Text1->setText("X");
            d->Text2->setText("X-");
            QTest::keyClick(d->Text2, Qt::Key_Return); // Enter replaces
            d->reject();
        });
        f.menuAction(Menu::MnuHenkan)->trigger();
        QCOMPARE(w.text(), std::string("G00 X-1.\r\n(加工)G00 X-2.\r\n"));
        QCOMPARE(w.box.shown.back().text, std::string("[ 2 ]個を変換しました。"));
        QTest::keyClick(f.editor(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(w.text(), std::string("G00 X1.\r\n(加工)G00 X2.\r\n"));
        // Line replace: register, execute, delete; the list follows.
        QStringList afterRegister, afterDelete;
        w.box.answer = MsgAnswer::Yes;
        whenModal<GyoHenkanFrm>([&](GyoHenkanFrm* d) {
            d->Combo1->setEditText("SEQ");
            d->Text1->setText("G00");
            d->Text2->setPlainText("N#G00\n");
            d->Command1[0]->click();
            for (int k = 0; k < d->Combo1->count(); ++k)
                afterRegister << d->Combo1->itemText(k);
            d->Command2[0]->click();
            d->Command1[1]->click();
            for (int k = 0; k < d->Combo1->count(); ++k)
                afterDelete << d->Combo1->itemText(k);
            d->Command2[1]->click();
        });
        f.menuAction(Menu::MnuGyoHenkan)->trigger();
        QCOMPARE(afterRegister, QStringList{"SEQ"});
        QVERIFY(afterDelete.isEmpty());
        QCOMPARE(w.text(), std::string("N1G00\r\nN2G00\r\n"));
        // Renumbering from the option menu, one step to undo.
        whenModal<RenumFrm>([&](RenumFrm* d) {
            d->Start->setValue(100);
            d->Step->setValue(5);
            d->Width->setValue(4);
            d->Command1[0]->click();
        });
        f.menuAction(Menu::MnuRenumber)->trigger();
        QCOMPARE(w.text(), std::string("N0100G00\r\nN0105G00\r\n"));
        QTest::keyClick(f.editor(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(w.text(), std::string("N1G00\r\nN2G00\r\n"));
        // The words in their colours as shown; a colour chosen, then none at all.
        auto foreAt = [&](long position) {
            f.editor()->repaint();
            const long style = f.editor()->SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, position);
            return style == 0 ? -1L : f.editor()->SendScintilla(QsciScintillaBase::SCI_STYLEGETFORE, style);
        };
        QCOMPARE(foreAt(2), 0xC00000L); // G in blue (Scintilla's BGR)
        QCOMPARE(foreAt(0), 0x6A6A6AL);
        whenModal<ColourFrm>([&](ColourFrm* d) {
            whenModal<QColorDialog>([](QColorDialog* c) {
                c->setCurrentColor(QColor(0x12, 0x34, 0x56));
                c->accept();
            });
            d->Colour[1]->click();
            d->Command1[0]->click();
        });
        f.menuAction(Menu::MnuColours)->trigger();
        QCOMPARE(foreAt(2), 0x563412L);
        QCOMPARE(w.settings.read("Tarvex", "ColourG", ""), std::string("#123456"));
        // Far down a long program only what is shown is styled: text pasted
        // there is coloured whole, and the start once it is shown again.
        std::string big;
        for (int i = 0; i < 9000; ++i)
            big += "N1G00X1.\r\n";
        f.editor()->setText(big);
        f.editor()->SendScintilla(QsciScintillaBase::SCI_DOCUMENTEND);
        QCOMPARE(foreAt(static_cast<long>(big.size()) - 8), 0x563412L);
        const long at = static_cast<long>(big.size()) - 30;
        f.editor()->SendScintilla(QsciScintillaBase::SCI_GOTOPOS, at);
        f.editor()->SendScintilla(QsciScintillaBase::SCI_REPLACESEL, 0UL, "G01X1.\r\nM03\r\nS1.\r\n");
        QCOMPARE(foreAt(at + 8), 0x9A009AL);
        QCOMPARE(foreAt(at + 13), 0x00458AL);
        f.editor()->SendScintilla(QsciScintillaBase::SCI_DOCUMENTSTART);
        QCOMPARE(foreAt(2), 0x563412L);
        whenModal<ColourFrm>([&](ColourFrm* d) {
            // A colour hard to read on white is named, and still taken.
            whenModal<QColorDialog>([](QColorDialog* c) {
                c->setCurrentColor(QColor(0xFF, 0xFF, 0x00));
                c->accept();
            });
            d->Colour[1]->click();
            QVERIFY(d->Warning->text().contains("1.1:1"));
            d->On->setChecked(false);
            d->Command1[0]->click();
        });
        f.menuAction(Menu::MnuColours)->trigger();
        QCOMPARE(foreAt(2), -1L);
    }

    void comparisonMarksAndMovesTogether()
    {
        World w;
        std::string a = "%\r\nO0012\r\n", b = "O12\r\n";
        for (int i = 0; i < 200; ++i) {
            const std::string block = "N" + std::to_string(i) + "G01X" + std::to_string(i) + ".\r\n";
            a += block;
            b += i == 50 ? "G04P500\r\n" + block : i == 120 ? std::string() : i == 180 ? "N180G01X999.\r\n" : block;
        }
        w.write("back.nc", b);
        TarvexFrm& f = w.start();
        f.editor()->setText(a);
        w.chooser.answers.push_back({FileChooser::Outcome::Chosen, w.path("back.nc")});
        f.menuAction(Menu::MnuCompare)->trigger();
        auto* c = f.findChild<CompFrm*>();
        QVERIFY(c && c->isVisible());
        QVERIFY(f.screen()->availableGeometry().contains(c->frameGeometry()));
        QCOMPARE(c->Label1->text(), QString("相違のあるブロック: 左 2、右 2"));
        // A changed block shows its changed word: X180. against X999.
        const long changed = c->Text1[1]->SendScintilla(QsciScintillaBase::SCI_POSITIONFROMLINE, 181) + 8;
        QVERIFY(c->Text1[1]->SendScintilla(QsciScintillaBase::SCI_INDICATORVALUEAT, 10, changed) != 0);
        QVERIFY(c->Text1[1]->SendScintilla(QsciScintillaBase::SCI_INDICATORVALUEAT, 10, changed - 4) == 0);
        auto marked = [&](int side, long line) {
            return c->Text1[side]->SendScintilla(QsciScintillaBase::SCI_MARKERGET, line) != 0;
        };
        QVERIFY(marked(1, 51) && marked(0, 122) && !marked(0, 52) && !marked(1, 52));
        // The difference stepped to is framed, and only that one.
        auto framed = [&](int side, long line) {
            const long at = c->Text1[side]->SendScintilla(QsciScintillaBase::SCI_POSITIONFROMLINE, line);
            return c->Text1[side]->SendScintilla(QsciScintillaBase::SCI_INDICATORVALUEAT, 9, at) != 0;
        };
        c->Command1[1]->click();
        QVERIFY(framed(1, 51) && !framed(0, 122));
        c->Command1[1]->click();
        QVERIFY(!framed(1, 51) && framed(0, 122));
        // A filler row faces the added block and the removed one; the rows
        // stay paired (the left's "%" faces nothing), the same block on top.
        auto rows = [&](int side, long line) {
            return c->Text1[side]->SendScintilla(QsciScintillaBase::SCI_ANNOTATIONGETLINES, line);
        };
        QVERIFY(rows(0, 51) == 1 && rows(1, 121) == 1 && rows(0, 50) == 0 && rows(1, 181) == 0);
        auto top = [&](int side) { return c->Text1[side]->SendScintilla(QsciScintillaBase::SCI_GETFIRSTVISIBLELINE); };
        auto topText = [&](int side) {
            return c->Text1[side]->QsciScintilla::text(static_cast<int>(
                c->Text1[side]->SendScintilla(QsciScintillaBase::SCI_DOCLINEFROMVISIBLE, top(side))));
        };
        for (long left : {30L, 80L, 150L}) {
            c->Text1[0]->SendScintilla(QsciScintillaBase::SCI_SETFIRSTVISIBLELINE, left);
            QTRY_COMPARE(top(1), left - 1);
            QCOMPARE(topText(1), topText(0));
        }
        c->Command1[2]->click();
    }

    void plotMouseInEachTool()
    {
        World w;
        w.write("square.nc", "G01X10.F600\r\nY10.\r\nX0\r\nY0\r\n"); // a minute for 600 mm
        TarvexFrm& f = w.start(w.path("square.nc"));
        PlotPicture* plot = f.picture1();
        const Graphics& g = f.logic().graphics();
        auto pixel = [&](float x, float y) {
            return QPoint(static_cast<int>((x - g.plotLeft) / (g.plotRight - g.plotLeft) * plot->width()),
                          static_cast<int>((y - g.plotTop) / (g.plotBottom - g.plotTop) * plot->height()));
        };
        // The pointer's position, in toolpath units.
        QTest::mouseMove(plot, pixel(2.5f, 7.5f));
        const QString shown = QString::fromStdString(f.statusText(2));
        QVERIFY2(shown.startsWith("X2.") && shown.contains(" Y7."), qPrintable(shown));
        // Move: the clicked point becomes the centre.
        f.picture2()->toolButton(ToolKey::moov)->click();
        QCOMPARE(plot->cursor().shape(), Qt::SizeAllCursor);
        QTest::mouseClick(plot, Qt::LeftButton, {}, pixel(8, 8));
        QVERIFY(std::fabs(g.view.centreX - 8) < 0.2f && std::fabs(g.view.centreY - 8) < 0.2f);
        // Zoom: half the width about the clicked point.
        const float width = g.view.maxX - g.view.minX;
        f.picture2()->toolButton(ToolKey::zoom)->click();
        QVERIFY(!f.picture2()->toolButton(ToolKey::moov)->isChecked());
        QTest::mouseClick(plot, Qt::RightButton, {}, pixel(5, 5)); // every button acts alike
        QCOMPARE(g.view.maxX - g.view.minX, width / 2);
        f.picture2()->toolButton(ToolKey::ref)->click();
        // Measure: the path length window, one element, then the whole chain.
        f.picture2()->toolButton(ToolKey::lng)->click();
        Leng_Frm* lengths = f.lengthWindow();
        QVERIFY(lengths && lengths->isVisible());
        QVERIFY(!f.picture2()->toolButton(ToolKey::zoom)->isChecked());
        lengths->tansen->click();
        QCOMPARE(plot->cursor().shape(), Qt::CrossCursor);
        QTest::mouseClick(plot, Qt::LeftButton, {}, pixel(5, 0.3f));
        QCOMPARE(lengths->Text1->text(), QString("選択周長 : 10.0㎜"));
        // Beside the selection's time the whole program's, also in the status bar.
        QCOMPARE(lengths->Text2->text(), QString("加工時間 : 0:00:01 ／ 全体 0:00:04"));
        QCOMPARE(f.statusText(3), std::string("全体の加工時間 0:00:04"));
        lengths->lenzoku->click();
        QVERIFY(!lengths->tansen->isChecked());
        QTest::mouseClick(plot, Qt::LeftButton, {}, pixel(9.7f, 5));
        QCOMPARE(lengths->Text1->text(), QString("選択周長 : 40.0㎜"));
        QCOMPARE(lengths->Text2->text(), QString("加工時間 : 0:00:04 ／ 全体 0:00:04"));
        // Drawn again at another feed: a release takes away what its selection added.
        f.editor()->setText("G01X10.F1200\r\nY10.\r\nX0\r\nY0\r\n");
        f.picture2()->toolButton(ToolKey::ref)->click();
        lengths->Option1[1]->click();
        lengths->tansen->click();
        QTest::mouseClick(plot, Qt::LeftButton, {}, pixel(5, 0.3f));
        QCOMPARE(lengths->Text2->text(), QString("加工時間 : 0:00:03 ／ 全体 0:00:02"));
        // Closing it clears the selection and releases its button.
        lengths->close();
        QVERIFY(!f.picture2()->toolButton(ToolKey::lng)->isChecked());
        QCOMPARE(f.logic().plotTools().selectedLength, 0.0);
        QVERIFY(w.settings.has("LengLeft") && w.settings.has("LengHeight")); // where it reopens
        // A place beyond the screen's right edge reopens on the screen; a zoom
        // chosen while the window is open outlives it.
        w.settings.write("Tarvex", "LengLeft", "1000000");
        f.picture2()->toolButton(ToolKey::lng)->click();
        QVERIFY(f.lengthWindow()->frameGeometry().left() < f.screen()->geometry().width());
        f.picture2()->toolButton(ToolKey::zoom)->click();
        f.lengthWindow()->close();
        QCOMPARE(f.logic().plotTools().toolMode, tool::zoom);
        QVERIFY(f.picture2()->toolButton(ToolKey::zoom)->isChecked());
    }

    // The replay runs between the window's other events; Esc ends it (the
    // focus in the editor, as it mostly is), the key pressed again, and
    // closing the window.
    void theReplayEndsByEscapeOrClosing()
    {
        World w;
        std::string program;
        for (int k = 0; k < 200; ++k)
            program += "G01X" + std::to_string(k % 20) + ".Y" + std::to_string(k % 13) + ".\r\n";
        w.write("long.nc", program);
        TarvexFrm& f = w.start(w.path("long.nc"));
        f.picture2()->Slider2->setValue(100); // 0.1 s an element: 20 s in all
        enum { Escape, Again, Close };
        for (int how : {Escape, Again, Close}) {
            f.picture2()->toolButton(ToolKey::play)->click();
            QVERIFY(f.logic().graphics().replaying());
            QVERIFY(!f.picture2()->toolButton(ToolKey::ref)->isEnabled());
            f.activateWindow();
            f.editor()->setFocus();
            QTRY_VERIFY(f.editor()->hasFocus());
            if (how == Escape)
                QTest::keyClick(f.editor()->viewport(), Qt::Key_Escape);
            else if (how == Again)
                f.picture2()->toolButton(ToolKey::play)->click();
            else
                f.close();
            QVERIFY(!f.logic().graphics().replaying());
            QVERIFY(!f.picture2()->toolButton(ToolKey::play)->isChecked());
        }
        QVERIFY(!f.isVisible());
    }

    void displayColoursAndTheMarkingEditor()
    {
        World w;
        w.write("TARVEX.RGB", "\"T1\",255\r\n");
        w.write("square.nc", "T1\r\nG01X10.\r\nY10.\r\nX0\r\nY0\r\n");
        TarvexFrm& f = w.start(w.path("square.nc"));
        auto count = [&](QRgb colour) {
            const QImage& image = f.picture1()->image();
            int n = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    n += image.pixel(x, y) == colour;
            return n;
        };
        QVERIFY(count(qRgb(255, 0, 0)) > 100);
        // The grid: a click on the show cell hides the condition, one on the
        // colour cell takes the chooser's colour; closing shows all again.
        f.picture2()->toolButton(ToolKey::vw)->click();
        ColorFrm* colours = f.colourWindow();
        QVERIFY(colours && colours->isVisible());
        QTableWidget* grid = colours->MSFlexGrid1;
        QCOMPARE(grid->item(0, 0)->text(), QString("T1"));
        QCOMPARE(grid->item(0, 1)->background().color(), QColor(255, 0, 0));
        QCOMPARE(grid->item(1, 2)->text(), QString());
        auto click = [grid](int row, int column) {
            QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualItemRect(grid->item(row, column)).center());
        };
        click(0, 2);
        QCOMPARE(grid->item(0, 2)->text(), QString("OFF"));
        QCOMPARE(grid->item(0, 2)->foreground().color(), QColor(255, 0, 0));
        QCOMPARE(count(qRgb(255, 0, 0)), 0);
        click(0, 2);
        w.colours.answer = 0x00FF00;
        click(0, 1);
        QCOMPARE(grid->item(0, 1)->background().color(), QColor(0, 255, 0));
        QVERIFY(count(qRgb(0, 255, 0)) > 100);
        click(0, 2);
        colours->close();
        QVERIFY(!f.picture2()->toolButton(ToolKey::vw)->isChecked());
        QVERIFY(w.state->conditions.conditionVisible[1]);
        QVERIFY(count(qRgb(0, 255, 0)) > 100);
        QVERIFY(w.settings.has("ClLeft") && w.settings.has("ClHeight"));

        // The input box returns its text on Enter, and on its close box unchanged.
        whenModal<InpFrm>([](InpFrm* box) {
            box->Text1->end(false);
            QTest::keyClicks(box->Text1, "2");
            QTest::keyClick(box->Text1, Qt::Key_Return);
        });
        QCOMPARE(QtInputBox().ask("D1"), std::string("D12"));
        whenModal<InpFrm>([](InpFrm* box) { box->close(); });
        QCOMPARE(QtInputBox().ask("T1"), std::string("T1"));

        // The marking editor: a saved marking is listed, and loads back.
        f.menuAction(Menu::MnuMEdit)->trigger();
        M_EditFrm* editor = f.markingEditor();
        QVERIFY(editor && editor->isVisible());
        editor->Combo1->setEditText("M08");
        editor->Combo2->setCurrentIndex(2);
        w.colours.answer = 255;
        QTest::mouseClick(editor->Picture2, Qt::LeftButton);
        editor->RichTextBox1->setPlainText("G01X1.\nY1.");
        QTest::mouseClick(editor->Command1, Qt::LeftButton);
        std::ifstream in(w.path("Mcode/M08"), std::ios::binary);
        QCOMPARE(std::string(std::istreambuf_iterator<char>(in), {}), std::string(" 3 \r\n 255 \r\nG01X1.\r\nY1.\r\n"));
        QCOMPARE(w.box.shown.back().text, std::string("M08を保存しました"));
        editor->close();
        f.menuAction(Menu::MnuMEdit)->trigger();
        editor = f.markingEditor();
        QVERIFY(editor->Combo1->findText("M08") >= 0);
        editor->Combo1_Click("M08");
        QCOMPARE(editor->RichTextBox1->toPlainText(), QString("G01X1.\nY1."));
        QCOMPARE(editor->Combo2->currentIndex(), 2);
        QCOMPARE(editor->colour(), 255u);
        // The preview draws it in its colour, the main plot keeps its path.
        const QImage& preview = editor->Picture1->image();
        int red = 0;
        for (int y = 0; y < preview.height(); ++y)
            for (int x = 0; x < preview.width(); ++x)
                red += preview.pixel(x, y) == qRgb(255, 0, 0);
        QVERIFY(red > 10);
        QCOMPARE(w.state->segments.segmentCount, 3);
        // A new name is typed as it is, and Enter neither lists it nor clears the drawing.
        editor->Combo1->clearEditText();
        QTest::keyClicks(editor->Combo1->lineEdit(), "M0");
        QCOMPARE(editor->Combo1->currentText(), QString("M0"));
        QTest::keyClick(editor->Combo1->lineEdit(), Qt::Key_Return);
        QCOMPARE(editor->Combo1->count(), 1);
        QCOMPARE(editor->RichTextBox1->toPlainText(), QString("G01X1.\nY1."));
        editor->close();
    }

    void versionAndHelpWindows()
    {
        World w;
        TarvexFrm& f = w.start();
        QString title, version, helpTitle;
        whenModal<frmAbout>([&](frmAbout* about) {
            title = about->windowTitle();
            version = about->lblVersion->text();
            whenModal<HlpFrm>([&](HlpFrm* help) {
                helpTitle = help->windowTitle();
                help->RichTextBox1->moveCursor(QTextCursor::End);
                help->RichTextBox1->insertPlainText("\nメモ");
                help->close();
            });
            about->Command2->click();
            about->Command1->click();
        });
        f.menuAction(Menu::MnuVar)->trigger();
        QCOMPARE(title, QString("Tarvexのﾊﾞｰｼﾞｮﾝ情報"));
        QCOMPARE(version, QString("Ver 2.1.25"));
        QCOMPARE(helpTitle, QString(" TARVEX\u3000"));
        // The text as it was at the close, edits included, in cp932 with CR LF.
        std::ifstream in(w.path("Tarvex.txt"), std::ios::binary);
        const std::string saved(std::istreambuf_iterator<char>(in), {});
        QVERIFY(saved.ends_with("\r\n\x83\x81\x83\x82"));
        QVERIFY(saved.find("\r\n") != std::string::npos);
        QCOMPARE(std::count(saved.begin(), saved.end(), '\n'), std::count(saved.begin(), saved.end(), '\r'));
        // The help names every menu item as the menus show it; F1 opens it at once.
        QString help;
        whenModal<HlpFrm>([&](HlpFrm* h) {
            help = h->RichTextBox1->toPlainText();
            h->close();
        });
        f.activateWindow();
        QTRY_VERIFY(f.isActiveWindow());
        QTest::keyClick(&f, Qt::Key_F1);
        QVERIFY(!help.isEmpty());
        for (const MenuEntry& e : menuTree) {
            const QString caption = QString::fromUtf8(e.caption).remove(QRegularExpression("\\(&.\\)|\\.\\.\\.$"));
            QVERIFY2(help.contains(caption), qPrintable(caption));
        }
        QVERIFY(HlpFrm::document().startsWith("ご使用の前に"));
        // It calls things by the names the screens give them.
        for (const char* word : {partnerEntries[0], partnerEntries[1], partnerEntries[2], "起動ｺｰﾄﾞ", "終了ｺｰﾄﾞ",
                                 "上書き保存", "別の名前で保存", "ここから出力", "通信モニタ", "rfc2217://"})
            QVERIFY2(HlpFrm::document().contains(QString::fromUtf8(word)), word);
    }

    void fontChooserOpensOnTheFontInUse()
    {
        installFontSubstitutes();
        installJapaneseTranslations(*qApp);
        // A name this machine draws with a substitute, and a family of many styles.
        for (const char* name : {"ＭＳ 明朝", "DejaVu Serif"}) {
            if (!QFontDatabase::hasFamily(familyInUse(name)))
                continue;
            World w(true);
            w.settings.write("Tarvex", "FontName", name);
            TarvexFrm& f = w.start();
            QFont shown, other;
            QStringList buttons;
            whenModal<QFontDialog>([&](QFontDialog* d) {
                shown = d->currentFont();
                for (auto* b : d->findChildren<QPushButton*>())
                    buttons << b->text();
                d->accept();
            });
            f.menuAction(Menu::MnuFont)->trigger();
            QCOMPARE(shown.family(), familyInUse(name));
            QVERIFY2(!shown.bold() && !shown.italic(), qPrintable(shown.toString()));
            // Another family, one without a style of the same name, as the user picks it.
            whenModal<QFontDialog>([&](QFontDialog* d) {
                auto* families = d->findChildren<QListView*>().value(0);
                const QModelIndexList hit = families->model()->match(families->model()->index(0, 0), Qt::DisplayRole,
                                                                     "DejaVu Sans Mono", 1, Qt::MatchExactly);
                if (!hit.isEmpty())
                    families->setCurrentIndex(hit[0]);
                QCoreApplication::processEvents();
                other = d->currentFont();
                d->reject();
            });
            f.menuAction(Menu::MnuFont)->trigger();
            QVERIFY2(!other.bold() && !other.italic(), qPrintable(other.toString()));
            QCOMPARE(shown.pointSize(), 12);
            // OK without a change changes nothing.
            QCOMPARE(w.settings.get("FontName"), std::string(name));
            QCOMPARE(w.settings.get("FontBold"), std::string("False"));
            QCOMPARE(w.settings.get("FontItalic"), std::string("False"));
            QVERIFY2(buttons.contains("キャンセル"), qPrintable(buttons.join(",")));
        }
    }

    void layoutFollowsTheRowsAndTheMinimumSize()
    {
        World w;
        w.settings.write("Tarvex", "Width", "8000");
        w.settings.write("Tarvex", "Height", "6000");
        TarvexFrm& f = w.start();
        QCOMPARE(f.windowRect(), (Rect{0, 0, 8000, 6000}));
        // Panel right, both areas shown: the editor left, the panel above the plot.
        QCOMPARE(f.frame1()->size(), QSize(f.px(5415), f.px(1935, true)));
        QCOMPARE(f.frame1()->x(), f.editor()->width());
        QCOMPARE(f.picture1()->x(), f.frame1()->x());
        QCOMPARE(f.picture1()->y(), f.px(1935, true));
        QCOMPARE(f.picture2()->height(), f.px(435, true));
        QCOMPARE(f.picture2()->y(), f.picture1()->y() + f.picture1()->height());
        QVERIFY(f.frame1()->isVisible() && f.picture1()->isVisible());

        // The panel switch: left column, large plot.
        f.picture2()->image1(0)->click();
        QCOMPARE(f.frame1()->x(), 0);
        QCOMPARE(f.editor()->y(), f.px(1935, true));
        QCOMPARE(f.picture1()->x(), f.px(5415));
        QCOMPARE(f.picture1()->y(), 0);
        f.picture2()->image1(1)->click();
        QVERIFY(f.frame1()->x() > 0);

        // Too small: snaps back to 5540 x 5000 twips.
        f.resize(100, 100);
        QTRY_VERIFY(f.windowRect().width >= 5540 - 15 && f.windowRect().height >= 5000 - 15);

        f.close();
        QCOMPARE(w.settings.get("Cmd"), std::string("1"));
        QVERIFY(w.settings.has("Width"));
    }

    void appendLoadIsEnabledByTheFirstOpen()
    {
        World w;
        w.write("a.nc", "G00X1.\r\nM30");
        w.write("b.nc", "(B)\r\n");
        TarvexFrm& f = w.start();
        QVERIFY(!f.menuAction(Menu::MnuAppendLoad)->isEnabled());
        w.chooser.answers.push_back({FileChooser::Outcome::Chosen, w.path("a.nc")});
        f.menuAction(Menu::fileload)->trigger();
        QVERIFY(f.menuAction(Menu::MnuAppendLoad)->isEnabled());
        QCOMPARE(f.windowTitle(), QString(" Tarvex　[ a.nc ]"));
        QCOMPARE(f.statusText(2), std::string("a.nc"));
        // Appending joins the last line of the document to the file's first;
        // the document is still a.nc, changed.
        w.chooser.answers.push_back({FileChooser::Outcome::Chosen, w.path("b.nc")});
        f.menuAction(Menu::MnuAppendLoad)->trigger();
        QCOMPARE(w.text(), std::string("G00X1.\r\nM30(B)\r\n"));
        QCOMPARE(f.windowTitle(), QString(" Tarvex　[ a.nc* ]"));
        // Clearing, opening and dropping over the changed text ask first;
        // キャンセル keeps it all.
        w.box.answer = MsgAnswer::Cancel;
        f.menuAction(Menu::clea)->trigger();
        f.menuAction(Menu::fileload)->trigger();
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(w.path("b.nc")))});
        dragAndDrop(f.editor()->viewport(), &mime);
        QCOMPARE(w.box.shown.size(), std::size_t(3));
        QCOMPARE(w.box.shown[0].text, std::string("変更を保存しますか？"));
        QCOMPARE(w.text(), std::string("G00X1.\r\nM30(B)\r\n"));
        // はい saves it in place (Ctrl+S alike), then clears.
        w.box.answer = MsgAnswer::Yes;
        f.menuAction(Menu::clea)->trigger();
        std::string saved;
        QVERIFY(!w.fs.readFile(w.path("a.nc"), saved));
        QCOMPARE(saved, std::string("G00X1.\r\nM30(B)\r\n"));
        QCOMPARE(w.text(), std::string());
        QCOMPARE(f.windowTitle(), QString(" Tarvex "));
        // The file menu keeps what was opened, the newest first.
        QCOMPARE(f.menuAction(recentMenu(0))->text(), QString::fromStdString("&1 " + w.path("a.nc")));
    }

    void droppedFileOpens()
    {
        World w;
        w.write("drop.nc", "O2(\x83\x68\x83\x8D\x83\x62\x83\x76)\r\n");
        TarvexFrm& f = w.start();
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(w.path("drop.nc")))});
        dragAndDrop(f.editor()->viewport(), &mime);
        QCOMPARE(w.text(), std::string("O2(ドロップ)\r\n"));
        QCOMPARE(f.windowTitle(), QString(" Tarvex　[ drop.nc ]"));
        QVERIFY(f.menuAction(Menu::MnuAppendLoad)->isEnabled());

        // Text without a file list is not a file drop.
        QMimeData plain;
        plain.setText("G00");
        dragAndDrop(f.editor()->viewport(), &plain);
        QCOMPARE(f.windowTitle(), QString(" Tarvex　[ drop.nc* ]"));
        w.box.answer = MsgAnswer::No; // the next drop replaces it: not kept

        // A file named in cp932, as a file manager sends it: percent-encoded bytes.
        w.write("\x83\x68\x83\x8D.nc", "G01X3.\r\n");
        QMimeData windowsName;
        windowsName.setUrls({QUrl::fromEncoded("file://" + QUrl::toPercentEncoding(QByteArray::fromStdString(w.path("")), "/")
                                               + "%83h%83%8D.nc")});
        dragAndDrop(f.editor()->viewport(), &windowsName);
        QCOMPARE(w.text(), std::string("G01X3.\r\n"));
        QCOMPARE(f.windowTitle(), QString(" Tarvex　[ ドロ.nc ]"));
    }

    void openingInGraphicsModeDrawsThePath()
    {
        World w;
        w.write("square.nc", "G01X10.\r\nY10.\r\nX0\r\nY0\r\n");
        TarvexFrm& f = w.start();
        w.chooser.answers.push_back({FileChooser::Outcome::Chosen, w.path("square.nc")});
        f.menuAction(Menu::fileload)->trigger();
        QCOMPARE(w.state->segments.segmentCount, 3);
        // White lines on black: the plot holds the path.
        const QImage& image = f.picture1()->image();
        int white = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                white += image.pixel(x, y) == qRgb(255, 255, 255);
        QVERIFY(white > 100);
        f.menuAction(Menu::clea)->trigger();
        QCOMPARE(f.picture1()->image().pixel(image.width() / 2, image.height() / 2), qRgb(0, 0, 0));
    }

    void graphicsMenuSwitchesTheLayoutAndTheWidth()
    {
        World w;
        TarvexFrm& f = w.start();
        f.menuAction(Menu::MnuGrph)->trigger();
        QVERIFY(!f.menuAction(Menu::MnuGrph)->isChecked());
        QVERIFY(!f.picture1()->isVisible());
        QCOMPARE(f.windowRect().width, 5540);
        QCOMPARE(f.frame1()->x(), 0);
        f.menuAction(Menu::MnuGrph)->trigger();
        QVERIFY(f.picture1()->isVisible());
        QCOMPARE(f.windowRect().width, 10530);
        f.close();
        QCOMPARE(w.settings.get("GrCheck"), std::string("True"));
    }

    void coordinateModeItemsStayComplementary()
    {
        World w;
        TarvexFrm& f = w.start();
        Graphics& g = f.logic().graphics();
        f.menuAction(Menu::MnuG90)->trigger();
        QVERIFY(!f.menuAction(Menu::MnuG90)->isChecked());
        QVERIFY(f.menuAction(Menu::MnuG91)->isChecked());
        QCOMPARE(g.coordMode, short(91));
        f.menuAction(Menu::MnuG91)->trigger();
        QVERIFY(f.menuAction(Menu::MnuG90)->isChecked());
        QVERIFY(!f.menuAction(Menu::MnuG91)->isChecked());
        QCOMPARE(g.coordMode, short(90));
        f.menuAction(Menu::MnuG90)->trigger();
        QCOMPARE(g.coordMode, short(91));
    }

    void dxfMenuWritesTheDrawingWhereTheUserSays()
    {
        World w;
        TarvexFrm& f = w.start();
        static_cast<TextEditor*>(f.editor())->setText("G01X1.Y1.\r\n");
        w.chooser.answers.push_back({FileChooser::Outcome::Chosen, w.path("out.dxf")});
        f.menuAction(Menu::MnuDxfSave)->trigger();
        QCOMPARE(w.chooser.asked.back().title, std::string("ＤＸＦ形式で保存"));
        QCOMPARE(w.chooser.asked.back().filter, std::string("DXF形式(*.dxf)|*.dxf"));
        QCOMPARE(w.chooser.defaultExt, std::string(".dxf"));
        std::string dxf;
        QVERIFY(!w.fs.readFile(w.path("out.dxf"), dxf));
        QVERIFY(dxf.find("LINE") != std::string::npos);
        QVERIFY(w.box.shown.empty());
        // Cancelling leaves the drawing in the work file and says nothing.
        w.chooser.answers.push_back({FileChooser::Outcome::Cancelled, {}});
        f.menuAction(Menu::MnuDxfSave)->trigger();
        QVERIFY(w.box.shown.empty());
    }

    // Typing and moving the caret in a million-line program: the text, the
    // changed flag the plot relies on, the caption and the bytes saved.
    void aLineOfMegabytesIsEditedLikeAnyOther()
    {
        World w;
        std::string longLine;
        for (int k = 0; longLine.size() < 300'000; ++k)
            longLine += k % 500 == 0 ? "(\x89\xC1\x8D\x48)" : "G01X1.Y2."; // (加工) in cp932
        const std::string program = "O1\r\n" + longLine + "\r\nM30\r\n";
        w.write("long.nc", program);
        TarvexFrm& f = w.start();
        w.chooser.answers.push_back({FileChooser::Outcome::Chosen, w.path("long.nc")});
        f.menuAction(Menu::fileload)->trigger();
        RichTextBox& ed = *f.editor();
        TextEditor& te = ed;
        const std::string text = te.text();
        QVERIFY(ed.lines() > 10); // held in pieces
        QVERIFY(text.find('\xFF') == std::string::npos && text.size() + 2 * (ed.lines() - 4) ==
                static_cast<std::size_t>(ed.SendScintilla(QsciScintillaBase::SCI_GETLENGTH)));
        // The margin counts the program's lines; a piece that goes on gets no number.
        auto margin = [&](int line) {
            char shown[24] = {};
            ed.SendScintilla(QsciScintillaBase::SCI_MARGINGETTEXT, static_cast<unsigned long>(line), shown);
            return std::string(shown);
        };
        QCOMPARE(margin(1), std::string("2"));
        QCOMPARE(margin(2), std::string());
        // Offsets of the program's text, in bytes and in characters, far into the line.
        const std::size_t at = text.find("G01", 200'000);
        te.selectBytes(at, 4);
        QCOMPARE(te.caretByte(), at);
        QCOMPARE(ed.selectedText().toStdString(), text.substr(at, 4));
        const std::size_t chars = te.selStart();
        te.setSelection(0, 0);
        te.setSelection(chars, 4);
        QCOMPARE(ed.selectedText().toStdString(), text.substr(at, 4));
        // Across a piece's end: selection, copy, Backspace and typing as on one line.
        const long breakAt = ed.SendScintilla(QsciScintillaBase::SCI_GETLINEENDPOSITION, 1UL) - 1; // its "↩"
        const std::size_t real = static_cast<std::size_t>(breakAt); // the first: no other before it
        te.selectBytes(real - 3, 6);
        ed.copy();
        QCOMPARE(QApplication::clipboard()->text().toStdString(), text.substr(real - 3, 6));
        ed.SendScintilla(QsciScintillaBase::SCI_GOTOPOS, breakAt + 2);
        QTest::keyClick(ed.viewport(), Qt::Key_Backspace);
        QTest::keyClicks(ed.viewport(), "Z");
        std::string expected = text;
        expected.replace(real - 1, 1, "Z");
        QVERIFY(te.text() == expected);
        // A rewrite and its undo keep the pieces right.
        te.replaceText(expected + "M02\r\n");
        QTest::keyClick(ed.viewport(), Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(te.text() == expected);
        // A long line received bit by bit is held in pieces too.
        te.setText("%\r\n");
        for (int k = 0; k < 10; ++k)
            te.appendText(longLine.substr(static_cast<std::size_t>(k) * 30'000, 30'000));
        QVERIFY(ed.lines() > 5 && te.text() == "%\r\n" + longLine.substr(0, 300'000));
    }

    void millionLineProgramEditsInPlace()
    {
        World w;
        std::string program = "%\r\nO0001(\xC3\xBD\xC4)\r\n"; // (ﾃｽﾄ)
        program.reserve(24'000'000);
        char line[40];
        for (int n = 1; n <= 1'000'000; ++n) {
            std::snprintf(line, sizeof line, "N%dG01X%d.Y1.\r\n", n, n % 1000);
            program += line;
            if (n == 500'000)
                program += "(\x80\xFF)\r\n"; // no cp932 character: kept as it is
        }
        w.write("big.nc", program);
        TarvexFrm& f = w.start();
        w.chooser.answers.push_back({FileChooser::Outcome::Chosen, w.path("big.nc")});
        f.menuAction(Menu::fileload)->trigger();
        const QString caption = f.windowTitle();
        QCOMPARE(caption, QString(" Tarvex　[ big.nc ]"));
        RichTextBox& ed = *f.editor();
        QVERIFY(!static_cast<TextEditor&>(ed).modified());

        auto type = [&](const QString& keys) {
            QTest::keyClicks(ed.viewport(), keys);
        };
        QTest::keyClick(ed.viewport(), Qt::Key_End, Qt::ControlModifier);
        type("M30");
        QVERIFY(static_cast<TextEditor&>(ed).modified());
        QTest::keyClick(ed.viewport(), Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(ed.viewport(), Qt::Key_Down);
        QTest::keyClick(ed.viewport(), Qt::Key_End);
        type("A");
        // The middle: the line after the undecodable bytes; typing undone, then typed again.
        ed.setCursorPosition(500'003, 0);
        type("XY");
        QTest::keyClick(ed.viewport(), Qt::Key_Z, Qt::ControlModifier);
        type("B");
        QTest::keyClick(ed.viewport(), Qt::Key_PageDown);
        QTest::keyClick(ed.viewport(), Qt::Key_Left);
        QCOMPARE(f.windowTitle(), QString(" Tarvex　[ big.nc* ]"));

        std::string expected = program + "M30";
        expected.insert(expected.find("\r\nN1G01"), "A"); // after "O0001(ﾃｽﾄ)"
        expected.insert(expected.find("\x80\xFF)\r\n") + 5, "B");
        w.chooser.answers.push_back({FileChooser::Outcome::Chosen, w.path("saved.nc")});
        f.menuAction(Menu::MnuSave)->trigger();
        std::string saved;
        QVERIFY(!w.fs.readFile(w.path("saved.nc"), saved));
        QVERIFY(saved == expected);
        QCOMPARE(f.windowTitle(), QString(" Tarvex　[ saved.nc ]"));

        // A screen reader starting gets the editor's text interface.
        ed.useFullAccessibility();
        QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(&ed);
        QVERIFY(a11y && a11y->textInterface());
        QCOMPARE(a11y->textInterface()->text(0, 5), QString("%\r\nO0"));
    }

    // The restart window: the plot dims the path already cut while it is up,
    // and what the user edited in the preamble is what the controller gets.
    void restartFromABlockSendsTheEditedPreamble()
    {
        World w;
        TarvexFrm& f = w.start();
        const std::string program = "%\r\nO1\r\nG00X0Y0Z5.\r\nG01X10.F100.\r\nY10.\r\nX20.\r\nY0\r\nM30\r\n%\r\n";
        static_cast<TextEditor*>(f.editor())->setText(program);
        f.logic().expandAndPlot();
        w.state->profile.outCodes = {"-", "-", "-", "-"};
        w.state->profile.code = 2;
        f.logic().transfers().endPause = std::chrono::milliseconds(0);
        f.editor()->setCursorPosition(5, 2); // in "X20."

        int grey = 0, white = 0, red = 0;
        QString firstBlock;
        whenModal<RestartFrm>([&](RestartFrm* d) {
            // A line number typed without Enter: 出力 waits until its plan is shown.
            auto typeLine = [&](const char* n, const char* block) {
                d->LineText->selectAll();
                QTest::keyClicks(d->LineText, n);
                QVERIFY(!d->SendButton->isEnabled());
                QTRY_COMPARE(d->FirstBlockText->text(), QString(block));
            };
            typeLine("4", "G01X10.F100.");
            typeLine("6", "X20.");
            firstBlock = d->FirstBlockText->text();
            // The window's own picture: the path before the block dimmed, the restart point red.
            const QImage image = d->PreviewImage->pixmap().toImage();
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QRgb p = image.pixel(x, y);
                    grey += p == qRgb(85, 85, 85);
                    white += p == qRgb(255, 255, 255);
                    red += p == qRgb(255, 0, 0);
                }
            QVERIFY(!d->SendButton->isEnabled()); // Z moves: a clearance first
            d->ClearanceText->setText("10");
            QVERIFY(d->SendButton->isEnabled());
            // A sequence number that is not there keeps 出力 back, whatever the clearance.
            d->BlockText->setText("N999");
            d->FindButton->click();
            d->ClearanceText->setText("11");
            QVERIFY(!d->SendButton->isEnabled() && d->RefusalLabel->text().contains("N999"));
            d->ClearanceText->setText("10");
            typeLine("6", "X20.");
            QTRY_VERIFY(d->SendButton->isEnabled());
            d->PreambleText->setPlainText(d->PreambleText->toPlainText().replace("G01Z5.F100.", "G01Z5.F20."));
            d->SendButton->click();
        });
        f.menuAction(Menu::MnuRestart)->trigger();
        QCOMPARE(firstBlock, QString("X20."));
        QVERIFY(grey > 20 && white > 20 && red > 20);
        const std::string sent = "%\r\nO1\r\nG40\r\nG00G90Z10.\r\nX10.Y10.\r\nG01Z5.F20.\r\nG01F100.\r\n"
                                 "X20.\r\nY0\r\nM30\r\n%\r\n%";
        QCOMPARE(QByteArray::fromStdString(w.port1.written), QByteArray::fromStdString(encodeForLine(sent, TapeCode::Iso, {})));
        // The plot is whole again.
        const QImage after = f.picture1()->image();
        for (int y = 0; y < after.height(); ++y)
            for (int x = 0; x < after.width(); ++x)
                QVERIFY(after.pixel(x, y) != qRgb(85, 85, 85));
    }

    // The line monitor follows a running transfer and saves what it shows.
    void lineMonitorFillsDuringATransferAndSaves()
    {
        World w;
        TarvexFrm& f = w.start();
        f.menuAction(Menu::MnuMonitor)->trigger();
        auto* opened = f.findChild<MonitorFrm*>();
        QVERIFY(opened && opened->isVisible());
        opened->close();

        MonitorFrm m(f.logic().lineMonitor(), w.chooser, w.fs, w.box);
        static_cast<TextEditor*>(f.editor())->setText(std::string(300, 'N'));
        w.state->profile.outCodes = {"-", "&H11", "&H93", "&H14"};
        f.logic().transfers().endPause = std::chrono::milliseconds(0);
        QString during, listed;
        int written = 0;
        w.port1.onWrite = [&](std::uint8_t) {
            if (++written == 150) {
                QTest::qWait(400); // the window's own timer, as while a real line runs
                during = m.LogText->toPlainText();
                listed = m.RecordList->currentText();
            }
        };
        f.frame1()->Command1->click();
        QVERIFY2(during.contains("開始: 出力（NC装置）"), qPrintable(during));
        QCOMPARE(listed, QString("出力（NC装置）（通信中）"));
        m.refresh();
        QVERIFY(m.LogText->toPlainText().contains("送信 301 文字"));
        QVERIFY(m.LogText->toPlainText().contains("終了: 送信を終了しました。"));

        w.chooser.answers.push_back({FileChooser::Outcome::Chosen, w.path("line.txt")});
        m.SaveButton->click();
        std::string saved;
        QVERIFY(!w.fs.readFile(w.path("line.txt"), saved));
        QCOMPARE(QString::fromUtf8(saved), m.LogText->toPlainText() + "\n");
    }

    void editorSelectionCountsCharacters()
    {
        World w;
        TarvexFrm& f = w.start();
        TextEditor& ed = *f.editor();
        ed.setText("(加工)G01\r\n");
        ed.setSelection(1, 2);
        QCOMPARE(ed.selStart(), std::size_t(1));
        QCOMPARE(ed.selLength(), std::size_t(2));
        QCOMPARE(f.editor()->selectedText(), QString("加工"));
        ed.setReadOnly(true);
        ed.setText("X"); // the program may still replace the text
        QCOMPARE(w.text(), std::string("X"));
    }
};

QTEST_MAIN(TarvexFrmTest)
#include "tarvexfrm_test.moc"
