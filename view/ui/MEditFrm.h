#pragma once
#include "view/MarkingEditor.h"

#include <QWidget>

class QComboBox;
class QPlainTextEdit;
class QPushButton;

namespace tarvex {

class ColourChooser;
class PlotPicture;

// The marking editor " M_マーキングエディタ": lists, loads, previews and saves
// the drawings of the marking folder. Modeless, above the main window.
class M_EditFrm final : public QWidget {
    Q_OBJECT
public:
    M_EditFrm(MarkingEditor editor, ColourChooser& colours, QSize size, QWidget* parent);

    QComboBox* Combo1;       // the marking's name
    QComboBox* Combo2;       // pen width 1 to 9
    QWidget* Picture2;       // the colour swatch
    QPlainTextEdit* RichTextBox1;
    PlotPicture* Picture1;   // the preview
    QPushButton* Command1;   // save

    std::uint32_t colour() const { return colour_; }
    void Combo1_Click(const QString& name);
    void Picture2_Click();
    void Command1_Click();
    void redrawPreview();

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void setColour(std::uint32_t colour);

    MarkingEditor editor_;
    ColourChooser& colours_;
    std::uint32_t colour_ = MarkingFile::maxColour;
    std::uint32_t lastChosen_ = 0; // the chooser starts from the colour last chosen here
};

} // namespace tarvex
