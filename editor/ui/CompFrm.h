#pragma once
#include "platform/UiServices.h"
#include "program/Compare.h"

#include <QWidget>
#include <array>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QPushButton;

namespace tarvex {

class RichTextBox;

// "プログラムの比較": two programs side by side, the blocks that differ
// marked, the two moving together.
class CompFrm final : public QWidget {
    Q_OBJECT
public:
    CompFrm(const std::string& firstTitle, const std::string& secondTitle, std::unique_ptr<Comparison> comparison,
            const FontSpec& font, const std::vector<std::uint32_t>& wordColours, QWidget* parent = nullptr);
    ~CompFrm() override;
    std::array<RichTextBox*, 2> Text1;
    QLabel* Label1; // how many blocks differ, or that none does
    std::array<QPushButton*, 3> Command1; // 前の相違, 次の相違, 閉じる

protected:
    void showEvent(QShowEvent* e) override;

private:
    void fill();
    void follow(int from);
    void step(int direction);
    std::unique_ptr<Comparison> comparison_;
    std::vector<std::pair<int, long>> marked_; // each difference: its side and editor line
    int current_ = -1;
    long echo_[2] = {-1, -1}; // a side's first row as set to follow the other
    long top_[2] = {};        // filler rows a side would show above its first line
    bool shown_ = false;
};

} // namespace tarvex
