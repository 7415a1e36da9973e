// What a transfer job needs of the window: the operator's choices, the
// progress bar and caption, and the controls of a running job. The link's
// view (status bar, language texts, messages) comes with it.
#pragma once

#include "link/link_view.h"

#include <QString>

namespace kt::engine {

class JobView : public link::LinkView {
  public:
    // Value of a category's check box by its object name: 0 unticked,
    // 1 ticked, 2 grayed.
    virtual int checkValue(const char* checkBox) const = 0;
    virtual int controllerId() const = 0;                    // vslControllerID, 1..99
    virtual int cardCount() const = 0;                       // vslCardNumber, 1..9999
    virtual QString saveFileText() const = 0;                // txtSave
    virtual QString loadFileText() const = 0;                // txtLoad
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
