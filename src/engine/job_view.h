// What a transfer job tells its front end: its texts and questions, how far
// it is, that it runs, and what a job that stopped short did. What the link
// tells of itself comes with it.
#pragma once

#include "link/link_view.h"
#include "shell/message_codes.h"

#include <QString>

namespace kt::engine {

class JobView : public link::LinkView {
  public:
    // The current language's text of a key, trimmed.
    virtual QString languageText(const char* key) const = 0;
    // A message or a question for the user; returns the answer.
    virtual shell::MsgAnswer showMessage(shell::MsgStyle style, shell::MsgButtons buttons,
                                         const QString& text) = 0;
    // A question with one option that the user may tick or clear: `ticked`
    // holds its state before and after. A front end without such options
    // asks the question alone and leaves the option as it is.
    virtual shell::MsgAnswer askWithOption(shell::MsgStyle style, shell::MsgButtons buttons,
                                           const QString& text, const QString& /*option*/,
                                           bool& /*ticked*/) {
        return showMessage(style, buttons, text);
    }
    // How far the job is, in steps of the chosen categories.
    virtual void showProgress(double value, double max) = 0;
    // The record or group the job is at ("Card Data- Card No: 12").
    virtual void showJobCaption(const QString& caption) = 0;
    // A job starts, or has ended; what a front end lets a user change
    // meanwhile is its own affair.
    virtual void showJobRunning(bool running) = 0;
    // What a job that stopped short did ("Backup stopped: 812 of 2559
    // records saved").
    virtual void showJobSummary(const QString& summary) = 0;
    // The Language.ini key of what to check when no controller answered at
    // all: the front end's own way of choosing the address.
    virtual const char* noAnswerHintKey() const { return "CheckControllerId"; }
};

} // namespace kt::engine
