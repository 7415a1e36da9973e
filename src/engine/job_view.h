// What a transfer job shows: the progress bar and caption, the controls of
// a running job and the summary of a stopped one. The link's view (frame
// echo, link state, language texts, messages and questions) comes with it.
#pragma once

#include "link/link_view.h"
#include "shell/message_codes.h"

#include <QString>

namespace kt::engine {

class JobView : public link::LinkView {
  public:
    // The current language's text of a key, trimmed.
    virtual QString languageText(const char* key) const = 0;
    // ShowMessage with the program's title; returns the button pressed.
    virtual shell::MsgAnswer showMessage(shell::MsgStyle style, shell::MsgButtons buttons,
                                         const QString& text) = 0;
    virtual void showProgress(double value, double max) = 0; // prbComm
    virtual void showJobCaption(const QString& caption) = 0; // lblComm
    // Sets the controls for a running job, or back for an idle window
    // (lsubSwitchControls).
    virtual void showJobRunning(bool running) = 0;
    // What a job that stopped short did, shown in status bar panel 1 until
    // the next frame is sent.
    virtual void showJobSummary(const QString& summary) = 0;
};

} // namespace kt::engine
