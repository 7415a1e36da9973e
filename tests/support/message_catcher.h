// Answers the program's modal message boxes during a test: records the
// title, text and buttons of each and presses a button.
#pragma once

#include "ui/frm_msg_box.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <functional>

namespace kt::test {

class MessageCatcher {
  public:
    struct Message {
        QString title;
        QString text;
        QString buttons; // the captions shown, without "&", the default one marked "*"
    };

    explicit MessageCatcher(const char* button = "cmdOk") : button_(button) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<ui::frmMsgBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            QStringList buttons;
            for (const QPushButton* button : box->findChildren<QPushButton*>())
                if (button->isVisible())
                    buttons.append((button->isDefault() ? "*" : "") +
                                   QString(button->text()).remove(u'&'));
            messages.append({box->findChild<QLabel*>("lblTitle(0)")->text(),
                             box->findChild<QLabel*>("lblMessage")->text(), buttons.join(u'|')});
            box->findChild<QPushButton*>(button_)->click();
            if (answered)
                answered();
        });
        timer_.start();
    }

    QList<Message> messages;
    // Called right after each answer.
    std::function<void()> answered;

  private:
    const char* button_;
    QTimer timer_;
};

} // namespace kt::test
