// Answers the program's modal message boxes during a test: records the
// title and text of each and presses a button.
#pragma once

#include "ui/frm_msg_box.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace kt::test {

class MessageCatcher {
  public:
    struct Message {
        QString title;
        QString text;
    };

    explicit MessageCatcher(const char* button = "cmdOk") : button_(button) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<ui::frmMsgBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            messages.append({box->findChild<QLabel*>("lblTitle(0)")->text(),
                             box->findChild<QLabel*>("lblMessage")->text()});
            box->findChild<QPushButton*>(button_)->click();
        });
        timer_.start();
    }

    QList<Message> messages;

  private:
    const char* button_;
    QTimer timer_;
};

} // namespace kt::test
