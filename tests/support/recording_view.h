// A LinkView that records what the link shows.
#pragma once

#include "link/link_view.h"

#include <QList>

namespace kt::test {

class RecordingView : public link::LinkView {
  public:
    void showEcho(const QByteArray& frame) override { echoes.append(frame); }
    void showLinkState(link::LinkState state) override { states.append(state); }
    void showErrorCount(std::int32_t count) override { errorCounts.append(count); }
    void setActivity(bool running) override { activity.append(running); }

    QList<QByteArray> echoes;
    QList<link::LinkState> states;
    QList<std::int32_t> errorCounts;
    QList<bool> activity;
};

} // namespace kt::test
