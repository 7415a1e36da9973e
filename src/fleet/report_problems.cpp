#include "report_problems.h"

#include "shell/text_format.h"

namespace kt::fleet {

QString problemListHtml(const QList<ProblemGroup>& groups, const PageLanguage& language) {
    if (groups.isEmpty())
        return {};
    const auto text = [&](const char* key, const QStringList& values = {}) {
        return shell::fillIn(language.text(key), values).toHtmlEscaped();
    };
    QString html = QStringLiteral("<h2 id=\"problems\">%1</h2>\n<ul class=\"problems\">\n")
                       .arg(text("ReportProblems"));
    for (const ProblemGroup& group : groups) {
        const QString what = group.state == ControllerState::Failing
                                 ? text(engine::wordsOf(group.outcome).nameKey)
                                 : text(wordsOf(group.state).key);
        QString members = group.members.mid(0, kListedMembers).join(QStringLiteral(", "));
        if (group.members.size() > kListedMembers)
            members +=
                u' ' + shell::fillIn(language.text("ReportGroupMore"),
                                     {QString::number(group.members.size() - kListedMembers)});
        html += QStringLiteral("<li><span class=\"state %1\">%2</span> ")
                    .arg(QLatin1String(wordsOf(group.state).id), what);
        if (!group.where.isEmpty())
            html += QStringLiteral("<span class=\"nowrap\">%1</span> ")
                        .arg(group.where.toHtmlEscaped());
        html += group.members.size() == 1
                    ? QStringLiteral("<strong>%1</strong>").arg(members.toHtmlEscaped())
                    : text("ReportGroupCount", {QString::number(group.members.size()), members});
        html += QStringLiteral("</li>\n");
    }
    return html + QStringLiteral("</ul>\n");
}

} // namespace kt::fleet
