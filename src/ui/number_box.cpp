#include "number_box.h"

#include <QScrollBar>

namespace kt::ui {

NumberBox::NumberBox(int minimum, int maximum, int digits, QWidget* parent)
    : QSpinBox(parent), digits_(digits) {
    setRange(minimum, maximum);
    setAlignment(Qt::AlignCenter);
    setButtonSymbols(QAbstractSpinBox::NoButtons); // the scroll bar steps it
    setKeyboardTracking(false);                    // a number takes effect once typed whole
    setAccelerated(true);
}

void NumberBox::follow(QScrollBar* bar) {
    connect(bar, &QScrollBar::valueChanged, this, &QSpinBox::setValue);
    connect(this, &QSpinBox::valueChanged, bar, &QScrollBar::setValue);
    setValue(bar->value());
}

QString NumberBox::textFromValue(int value) const {
    return QString::number(value).rightJustified(digits_, u'0');
}

} // namespace kt::ui
