// The fleet's report page: one self-contained HTML file (its style and
// pictures inline, nothing loaded from elsewhere, no script) that shows
// which controllers are fine, stale or failing, how the card count of each
// moved, and what changed lately. It names card slots and counts, never a
// card record or the PIN.
#pragma once

#include "fleet_file.h"
#include "fleet_status.h"
#include "history.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QStringList>
#include <functional>

namespace kt::fleet {

struct ReportRow {
    ControllerStatus status;
    QList<int> cards;    // card counts of its last versions, oldest first
    QStringList changes; // its last versions' changes, newest first
};

// How many versions the card line covers, and how many changes are listed.
inline constexpr int kReportVersions = 30;
inline constexpr int kReportChanges = 3;

// A controller's state in one word: failing when its last job failed, else
// stale when its last complete backup is too old or missing, else fine.
enum class ReportState { Fine, Stale, Failing };
ReportState reportState(const ControllerStatus& status);

// The rows of a fleet: its state, the card counts and changes from the
// history when there is one, else the card counts from the job log's
// finished backups. `log` is oldest first.
QList<ReportRow> reportRows(const Fleet& fleet, const QList<QJsonObject>& log,
                            const History* history, const QDateTime& now);

// The page, its texts by Language.ini key from `text`; `language` is the
// page's language tag (en, zh-Hant, zh-Hans).
QByteArray reportPage(const QList<ReportRow>& rows, const std::function<QString(const char*)>& text,
                      const QString& language, const QDateTime& made);

} // namespace kt::fleet
