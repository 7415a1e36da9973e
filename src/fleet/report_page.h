// The fleet's report page: one self-contained HTML file (its style and
// pictures inline, nothing loaded from elsewhere, no script), built for
// triage: the controllers that need someone first, each with its port, its
// error, its recent runs, and a section of its versions from the history.
// It names card slots and counts, never a card record or the PIN.
#pragma once

#include "fleet_state.h"
#include "history.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <functional>

namespace kt::fleet {

// The page's language: its texts by Language.ini key, and its language tag
// (en, zh-Hant, zh-Hans).
struct PageLanguage {
    std::function<QString(const char*)> text;
    QString tag = QStringLiteral("en");
};

// A fleet on the page, with its history when it keeps one.
struct ReportSource {
    const LoadedFleet* fleet = nullptr;
    const History* history = nullptr;
};

// How many versions a controller's section lists.
inline constexpr int kReportVersions = 30;

// A change line of the history or the state ("UserCardDatabase; cards
// added 21; now 21 cards, 23 records") in the page's language.
QString translatedChanges(const QString& line, const PageLanguage& language);

// How the page sets out its fleets: as one list, or as a site whose
// totals come first, then a section for each gateway's fleet.
enum class ReportLayout { Fleets, Site };

QByteArray reportPage(const QList<ReportSource>& fleets, const PageLanguage& language,
                      const QDateTime& made, ReportLayout layout = ReportLayout::Fleets);

} // namespace kt::fleet
