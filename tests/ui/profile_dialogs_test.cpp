// The communication panel and the profile dialogs, offscreen.
#include "serial/ProfileFolder.h"
#include "serial/ui/CommPanel.h"
#include "serial/ui/ProfileDialogs.h"
#include "tests/ui/window_world.h"
#include "view/ui/PlotPicture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

using namespace tarvex;

class ProfileDialogsTest : public QObject {
    Q_OBJECT

    struct World : testing::WindowWorld {
        World() { start(); }
        std::string profilePath(const std::string& name) const { return state->progDir + "RS232C/" + name; }
        void writeProfile(const std::string& name, const std::string& partner, int wait)
        {
            std::string text = sampleProfileText();
            text.replace(text.find("\r\n1\r\n&H12"), 5, "\r\n" + partner + "\r\n");
            text.replace(text.rfind("0\r\n"), 3, std::to_string(wait) + "\r\n");
            std::ofstream(profilePath(name), std::ios::binary) << text;
            frm->frame1()->Combo5->addItem(QString::fromStdString(name));
        }
        void select(const std::string& name)
        {
            QComboBox* combo = frm->frame1()->Combo5;
            const int index = combo->findText(QString::fromStdString(name));
            combo->setCurrentIndex(index);
            emit combo->activated(index);
        }
        ProfileDialogContext context()
        {
            return {state->profile, fs, codec, state->progDir, box, settings, frm->frame1()->Combo5};
        }
        std::string file(const std::string& path) const
        {
            std::ifstream in(path, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        }
    };

private slots:
    void selectingAProfileArrangesThePanelByPartner()
    {
        World w;
        CommPanel* p = w.frm->frame1();
        w.writeProfile("PUNCH", "0", 300);
        w.writeProfile("CHECK", "2", 10);
        w.select("PUNCH");
        QVERIFY(p->Command10->isVisibleTo(p) && !p->Command1->isVisibleTo(p) && !p->Command11->isVisibleTo(p));
        QVERIFY(p->Command20->isVisibleTo(p) && !p->Command2->isVisibleTo(p));
        QVERIFY(p->Command10->isEnabled() && p->Command20->isEnabled() && p->Slider1->isEnabled());
        QCOMPARE(p->Slider1->value(), 300);
        w.select("CHECK");
        QVERIFY(p->Command1->isVisibleTo(p) && !p->Command1->isEnabled());
        QVERIFY(p->Command21->isVisibleTo(p) && p->Command21->isEnabled());
        QVERIFY(!p->Slider1->isEnabled() && !p->Check1->isEnabled());
        p->Check1->setEnabled(true);
        p->Check1->setChecked(true);
        w.select("FANUC");
        QVERIFY(p->Command1->isVisibleTo(p) && p->Command1->isEnabled() && p->Command2->isVisibleTo(p));
        QVERIFY(p->Check1->isEnabled() && !p->Check1->isChecked());
        QCOMPARE(w.state->profile.partner, std::string("1"));
    }

    void dialogShowsTheProfileLimitsItsFieldsAndEnablesByPartner()
    {
        World w;
        PropatyFrm d(w.context());
        QCOMPARE(d.windowTitle(), QString(" 通信設定 [ FANUC ]"));
        QCOMPARE(d.Combo1[0]->currentText(), QString("Com1"));
        QCOMPARE(d.Combo1[1]->currentText(), QString("4800"));
        QCOMPARE(d.Combo1[6]->currentText(), QString("ISO"));
        QCOMPARE(d.Combo2->currentText(), QString("制御装置"));
        QCOMPARE(d.codeBoxes[2][0]->text(), QString("&H93"));
        QCOMPARE(d.Text5->text(), QString("3.0"));
        QVERIFY(!d.Command5->isEnabled());
        d.Text5->setText("12");
        emit d.Text5->editingFinished();
        QCOMPARE(d.Text5->text(), QString("10.0"));
        d.Text6->setText("1500");
        emit d.Text6->editingFinished();
        QCOMPARE(d.Text6->text(), QString("1000"));
        d.Text6->setText("-5");
        emit d.Text6->editingFinished();
        QCOMPARE(d.Text6->text(), QString("0"));
        d.Combo2->setCurrentIndex(2);
        QVERIFY(!d.Text5->isEnabled() && !d.Text6->isEnabled() && !d.codeBoxes[0][1]->isEnabled());
        QVERIFY(d.codeBoxes[0][0]->isEnabled());
        d.Combo2->setCurrentIndex(0);
        QVERIFY(d.Command5->isEnabled() && d.Text6->isEnabled());
    }

    void enterTidiesTheFieldAndTabFollowsTheControlsOnScreen()
    {
        World w;
        w.writeProfile("PUNCH", "0", 300);
        w.select("PUNCH");
        PropatyFrm d(w.context());
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        // Enter in any field: the field is tidied, no dialog opens, this one stays.
        // A dialog that opens all the same is closed again, so that the test fails rather than waits.
        QStringList opened;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            if (auto* other = qobject_cast<QDialog*>(QApplication::activeModalWidget()); other && other != &d) {
                opened << other->objectName();
                other->reject();
            }
        });
        closer.start(20);
        QList<QLineEdit*> fields = d.findChildren<QLineEdit*>();
        QVERIFY(fields.size() >= 11);
        for (QLineEdit* field : fields) {
            if (!field->isEnabled())
                continue;
            field->setFocus();
            QTest::keyClick(field, Qt::Key_Return);
            QVERIFY2(opened.isEmpty(), qPrintable(field->objectName() + " opened " + opened.join(",")));
            QVERIFY(d.isVisible());
        }
        d.Text5->setFocus();
        d.Text5->setText("12");
        QTest::keyClick(d.Text5, Qt::Key_Enter);
        QCOMPARE(d.Text5->text(), QString("10.0"));
        // Tab walks the controls as they stand on screen.
        const QStringList expected = {"Combo1(0)", "PortDevice", "Combo1(1)", "Combo1(2)", "Combo1(3)", "Combo1(4)",
                                      "Combo1(5)", "Combo1(6)", "Combo2",    "Text1(0)",  "Text2(0)",  "Text3(0)",
                                      "Text4(0)",  "Text5",     "Text1(1)",  "Text2(1)",  "Text3(1)",  "Text4(1)",
                                      "Text6",     "Command5",  "Command40(0)", "Command40(1)", "Command40(2)"};
        d.Combo1[0]->setFocus();
        QStringList visited = {QApplication::focusWidget()->objectName()};
        for (int k = 1; k < expected.size(); ++k) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, expected);
        d.reject();
    }

    void savingUnderAnExistingNameAddsNoSecondEntry()
    {
        World w;
        QComboBox* combo = w.frm->frame1()->Combo5;
        PropatyFrm d(w.context());
        d.Text5->setText("2.5");
        d.Command40[0]->click();
        QCOMPARE(combo->count(), 1);
        QCOMPARE(w.box.shown.back().text, std::string("通信設定 [ FANUC ] を登録しました。"));
        QVERIFY(w.file(w.profilePath("FANUC")).find("\r\n 2.5 \r\n 0 \r\n") != std::string::npos);
        // A name that would leave the profile folder is refused, and nothing is written.
        combo->setEditText("../evil");
        PropatyFrm d2(w.context());
        d2.Command40[0]->click();
        QCOMPARE(w.box.shown.back().title, std::string("TARVEX"));
        QVERIFY(!QFile::exists(QString::fromStdString(w.state->progDir + "evil")));
        QCOMPARE(combo->count(), 1);
    }

    void registeringUnderANewName()
    {
        World w;
        PropatyFrm d(w.context());
        SetSaveFrm s(d, w.context());
        QCOMPARE(s.windowTitle(), QString("通信設定の登録"));
        QCOMPARE(s.Combo1->count(), 1);
        QCOMPARE(s.Combo1->currentText(), QString());
        s.show();
        s.Command1[0]->click(); // empty name: stays open, writes nothing
        QVERIFY(s.isVisible());
        QVERIFY(w.box.shown.empty());
        s.Combo1->setEditText("OKUMA");
        s.Command1[0]->click();
        QVERIFY(!s.isVisible());
        QCOMPARE(w.box.shown.back().text, std::string("OKUMA を登録しました。"));
        QCOMPARE(w.frm->frame1()->Combo5->currentText(), QString("OKUMA"));
        QCOMPARE(d.windowTitle(), QString(" 通信設定 [ OKUMA ]"));
        QCOMPARE(w.frm->frame1()->Combo5->count(), 2);
        QVERIFY(QFile::exists(QString::fromStdString(w.profilePath("OKUMA"))));
    }

    void aTransferLocksTheWindowAndUnlocksIt()
    {
        World w;
        TarvexFrm& f = *w.frm;
        CommPanel* p = f.frame1();
        static_cast<TextEditor*>(f.editor())->setText("G1\r\n");
        w.state->profile.outCodes = {"-", "&H11", "&H93", "&H14"};
        f.logic().transfers().endPause = std::chrono::milliseconds(0);
        bool lockedDuring = false;
        w.port1.onWrite = [&](std::uint8_t) {
            lockedDuring = f.editor()->isReadOnly() && !f.menuAction(Menu::filemenu)->isEnabled()
                           && !p->Combo5->isEnabled() && !p->Command1->isEnabled() && !p->Command2->isEnabled()
                           && p->CommandCancel->isEnabled() && !f.picture1()->isEnabled();
        };
        p->Command1->click();
        QVERIFY(lockedDuring);
        QCOMPARE(w.port1.written, std::string("\x47\xB1\x8D\x0A\xA5\x14"));
        QVERIFY(!f.editor()->isReadOnly());
        QVERIFY(f.menuAction(Menu::filemenu)->isEnabled() && p->Combo5->isEnabled() && p->Command1->isEnabled());
        QVERIFY(!p->CommandCancel->isEnabled());
        QVERIFY(f.menuAction(Menu::MnuVar)->isEnabled()); // locked with the menus, and back
        QCOMPARE(QString::fromStdString(f.statusText(1)), QString("送信を終了しました。"));
        QCOMPARE(f.windowTitle(), QString(" Tarvex ")); // no file: no empty brackets
        // An input into changed text asks first: キャンセル starts nothing,
        // いいえ adds what came on a line of its own.
        QTest::keyClick(f.editor()->viewport(), Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(f.editor()->viewport(), "M30");
        QCOMPARE(f.windowTitle(), QString(" Tarvex *"));
        w.state->profile.code = 0;
        w.state->profile.inCodes = {"-", "-", "-", "&H14"};
        w.port1.receive("G2\r\n\x14");
        for (MsgAnswer answer : {MsgAnswer::Cancel, MsgAnswer::No}) {
            w.box.answer = answer;
            w.box.shown.clear();
            p->Command2->click();
            QCOMPARE(w.box.shown.size(), std::size_t(1));
            QCOMPARE(w.box.shown[0].text, std::string("変更を保存しますか？"));
            QCOMPARE(w.text(), std::string(answer == MsgAnswer::Cancel ? "G1\r\nM30" : "G1\r\nM30\r\nG2\r\n"));
        }
    }

    void noSecondTransferStartsDuringATapeRun()
    {
        World w;
        TarvexFrm& f = *w.frm;
        CommPanel* p = f.frame1();
        static_cast<TextEditor*>(f.editor())->setText("G1X2\r\n");
        w.state->profile.outCodes = {"-", "&H11", "&H93", "-"};
        QPushButton* starts[] = {p->Command1, p->Command2, p->Command10, p->Command11, p->Command20, p->Command21};
        std::vector<bool> before;
        for (QPushButton* b : starts)
            before.push_back(b->isEnabled());
        bool allLocked = true;
        w.port2.onWrite = [&](std::uint8_t) {
            for (QPushButton* b : starts) {
                allLocked = allLocked && !b->isEnabled();
                b->click(); // a disabled button does nothing
            }
            f.logic().transfers().Command11_Click(); // nor does a start from elsewhere
        };
        p->Command11->click();
        QVERIFY(allLocked);
        QCOMPARE(w.port2.written, std::string("\x47\xB1\xD8\xB2\x8D\x0A")); // once, nothing twice
        QVERIFY(!w.port1.opened && w.port1.written.empty());
        for (std::size_t k = 0; k < std::size(starts); ++k)
            QCOMPARE(starts[k]->isEnabled(), bool(before[k]));
        QVERIFY(p->CommandCancel->isEnabled() == false);
    }

    void puncherDetailsAreWrittenOnClose()
    {
        World w;
        w.settings.write("Tarvex", "Feed", "10");
        PunProFrm p(w.settings);
        QVERIFY(!p.Check1->isChecked() && !p.Text1->isEnabled());
        QCOMPARE(p.Text1->text(), QString("10"));
        p.Check1->setChecked(true);
        QVERIFY(p.Text1->isEnabled());
        p.Text1->setText("25");
        p.Check2->setChecked(true);
        p.show();
        p.close();
        QCOMPARE(w.settings.get("Pcheck1"), std::string("1"));
        QCOMPARE(w.settings.get("Pcheck2"), std::string("1"));
        QCOMPARE(w.settings.get("Feed"), std::string("25"));
    }
};

QTEST_MAIN(ProfileDialogsTest)
#include "profile_dialogs_test.moc"
