// The job log as a table, newest first, so that a technician sees what was
// done on this PC without a terminal: time, job, controller, port, file,
// records and outcome.
#pragma once

#include "engine/job_log.h"

#include <QDialog>
#include <functional>

class QTableWidget;

namespace kt::ui {

class JobLogWindow : public QDialog {
    Q_OBJECT
  public:
    // The newest jobs of `log`, in texts of `text` (Language.ini keys).
    JobLogWindow(const engine::JobLog& log, const std::function<QString(const char*)>& text,
                 QWidget* parent = nullptr);

    // At most this many jobs are shown.
    static constexpr int kShown = 1000;

  private:
    QTableWidget* tblJobLog = nullptr;
};

} // namespace kt::ui
