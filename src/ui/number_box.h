// A number box that shows its value with leading zeros ("07", "0042") and
// takes a typed number: the controller ID and the card count, beside their
// scroll bars, reachable with Tab.
#pragma once

#include <QSpinBox>

class QScrollBar;

namespace kt::ui {

class NumberBox final : public QSpinBox {
    Q_OBJECT
  public:
    NumberBox(int minimum, int maximum, int digits, QWidget* parent = nullptr);

    // Keeps this box and the scroll bar on one value.
    void follow(QScrollBar* bar);

  protected:
    QString textFromValue(int value) const override;

  private:
    int digits_;
};

} // namespace kt::ui
