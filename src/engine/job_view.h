// What a transfer job tells its front end: its texts and questions, how far
// it is, that it runs, and what a job that stopped short did. What the link
// tells of itself comes with it.
#pragma once

#include "link/link_view.h"
#include "shell/message_codes.h"

#include <QString>
#include <functional>

namespace kt::engine {

class JobView : public link::LinkView {
  public:
    // The current language's text of a key, trimmed.
    virtual QString languageText(const char* key) const = 0;
    // What a message is: its look and buttons, an option under it that the
    // user may tick or clear (none when empty, `ticked` its state when it
    // opens), and whether it ends a job that found differences, which a
    // front end may offer to show.
    struct Question {
        shell::MsgStyle style = shell::MsgStyle::Information;
        shell::MsgButtons buttons = shell::MsgButtons::Ok;
        QString option;
        bool ticked = false;
        bool endsWithDifferences = false;
    };
    // The button that closed a message and the option's state then.
    using Answered = std::function<void(shell::MsgAnswer answer, bool ticked)>;
    // Shows a message or asks a question and returns; `answered`, when
    // given, is called once with the answer: later, from the front end's
    // event loop, or at once by a front end that asks nobody. A front end
    // without options asks the question alone and leaves the option as it
    // is.
    virtual void ask(const QString& text, const Question& kind, Answered answered) = 0;
    // A message that needs no answer.
    void tell(shell::MsgStyle style, const QString& text) {
        Question kind;
        kind.style = style;
        ask(text, kind, {});
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
