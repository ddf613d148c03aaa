// The main window, offscreen: menus, layout, and the document commands
// driven through the real widgets.
#include "serial/ui/CommPanel.h"
#include "tests/ui/window_world.h"
#include "toolpath/Graphics.h"
#include "view/ui/PlotPicture.h"

#include <QComboBox>
#include <QMenu>
#include <QMimeData>
#include <QToolButton>
#include <QUrl>

using namespace tarvex;

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
        QMenu* levelMenu[3] = {};
        for (std::size_t i = 0; i < menuTree.size(); ++i) {
            const MenuEntry& e = menuTree[i];
            QAction* a = f.menuAction(e.id);
            if (auto* own = f.findChild<QMenu*>(e.name))
                levelMenu[e.level] = own;
            QCOMPARE(a->objectName(), QString(e.name));
            if (e.level > 0 && QString(e.name).startsWith("MnuApp("))
                continue;
            QCOMPARE(a->text(), QString::fromUtf8(e.caption));
            QCOMPARE(a->isCheckable(), e.check);
            if (e.level == 0)
                continue;
            // The item's place in its menu, and a separator after it where there is one.
            QMenu* menu = levelMenu[e.level - 1];
            const auto actions = menu->actions();
            const qsizetype at = actions.indexOf(a);
            QVERIFY(at >= 0);
            const bool separator = at + 1 < actions.size() && actions[at + 1]->isSeparator();
            QCOMPARE(separator, e.separatorAfter);
        }
        QVERIFY(f.menuAction(Menu::MnuGrph)->isChecked());
        QVERIFY(f.menuAction(Menu::MnuTusin)->isChecked());
        QVERIFY(!f.menuAction(Menu::MnuExitSubDel)->isChecked());
        QVERIFY(f.menuAction(Menu::MnuG90)->isChecked());
        QVERIFY(!f.menuAction(Menu::MnuAppendLoad)->isEnabled());
        QVERIFY(f.menuAction(Menu::fileload)->isEnabled());
        QVERIFY(!f.menuAction(Menu::MnuKensaku)->isEnabled()); // its command is still to come
        QVERIFY(!f.menuAction(appMenu(0))->isVisible());
        QCOMPARE(f.frame1()->Combo5->currentText(), QString("FANUC"));
    }

    void layoutFollowsTheRowsAndTheMinimumSize()
    {
        World w;
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
        // Appending joins the last line of the document to the file's first.
        w.chooser.answers.push_back({FileChooser::Outcome::Chosen, w.path("b.nc")});
        f.menuAction(Menu::MnuAppendLoad)->trigger();
        QCOMPARE(w.text(), std::string("G00X1.\r\nM30(B)\r\n"));
        QCOMPARE(f.windowTitle(), QString(" Tarvex　[ b.nc ]"));
        f.menuAction(Menu::clea)->trigger();
        QCOMPARE(w.text(), std::string());
        QCOMPARE(f.windowTitle(), QString(" Tarvex "));
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
        QCOMPARE(f.windowTitle(), QString("drop.nc"));
        QVERIFY(f.menuAction(Menu::MnuAppendLoad)->isEnabled());

        // Text without a file list is not a file drop.
        QMimeData plain;
        plain.setText("G00");
        dragAndDrop(f.editor()->viewport(), &plain);
        QCOMPARE(f.windowTitle(), QString("drop.nc"));
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
