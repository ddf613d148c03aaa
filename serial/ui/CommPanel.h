#pragma once
#include "serial/DeviceProfile.h"

#include <QFrame>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

namespace tarvex {

// The communication panel Frame1: profile box, settings and cancel buttons,
// the output and input places, the scroll box, the speed slider and Label2.
class CommPanel final : public QFrame {
    Q_OBJECT
public:
    explicit CommPanel(int dpi, QWidget* parent = nullptr);

    // The buttons of the partner kind to the front of their places.
    void arrange(const PanelArrangement& arrangement);

    QComboBox* Combo5;
    QPushButton* Command5;
    QPushButton* CommandCancel;
    // Output place: controller output, puncher output, tape run.
    QPushButton* Command1;
    QPushButton* Command10;
    QPushButton* Command11;
    // Input place: controller, puncher, inspection input.
    QPushButton* Command2;
    QPushButton* Command20;
    QPushButton* Command21;
    QCheckBox* Check1;
    QSlider* Slider1;
    QLabel* Label2;
};

} // namespace tarvex
