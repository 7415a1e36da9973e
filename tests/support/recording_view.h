// A LinkView that records what the link shows.
#pragma once

#include "link/link_view.h"

#include <QList>
#include <QString>

namespace kt::test {

class RecordingView : public link::LinkView {
  public:
    void showEcho(const QByteArray& frame) override { echoes.append(frame); }
    void showLinkState(link::LinkState state) override { states.append(state); }
    void showErrorCount(std::int32_t count) override { errorCounts.append(count); }
    void setActivity(bool running) override { activity.append(running); }
    QString languageText(const char* key) const override {
        return QString::fromLatin1(key) == "CommunicationError" ? "Communication failed" : "";
    }
    shell::MsgAnswer showMessage(shell::MsgStyle style, shell::MsgButtons buttons,
                                 const QString& text) override {
        messages.append(QString("%1/%2/%3").arg(int(style)).arg(int(buttons)).arg(text));
        return shell::MsgAnswer::Ok;
    }

    QList<QByteArray> echoes;
    QList<link::LinkState> states;
    QList<std::int32_t> errorCounts;
    QList<bool> activity;
    QStringList messages;
};

inline const QString kGiveUpMessage = "3/1/Communication failed.";

} // namespace kt::test
