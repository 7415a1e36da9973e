// The head of the report page: what needs someone, grouped by cause as the
// run and status group it, in the page's language.
#pragma once

#include "problem_groups.h"
#include "report_page.h"

namespace kt::fleet {

// A heading and a list of the groups, each with its state, what went wrong,
// where, and its count and members, all in the page's language (what to
// check is told in each controller's error, below); empty when nothing
// needs someone.
QString problemListHtml(const QList<ProblemGroup>& groups, const PageLanguage& language);

} // namespace kt::fleet
