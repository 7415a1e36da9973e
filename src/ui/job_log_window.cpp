#include "job_log_window.h"

#include "link/trace.h"
#include "shell/language.h"
#include "shell/text_format.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kt::ui {

namespace {

// The Language.ini key of a job log word, or nullptr for a word of none.
const char* keyOf(const QString& word) {
    if (const auto outcome = engine::outcomeFromId(word))
        return engine::wordsOf(*outcome).nameKey;
    static const std::pair<const char*, const char*> words[] = {
        {"save", "LogSave"}, {"load", "LogLoad"}, {"verify", "LogVerify"}, {"push", "LogPush"}};
    for (const auto& [name, key] : words)
        if (word == QLatin1String(name))
            return key;
    return nullptr;
}

} // namespace

JobLogWindow::JobLogWindow(const engine::JobLog& log,
                           const std::function<QString(const char*)>& text, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmJobLog"));
    setWindowTitle(text("LogTitle"));
    // The log is a file anyone may have written to: its texts are shown
    // with control characters by name, and its words in the user's language
    // when they are the program's own.
    const auto shown = [&](const QJsonObject& entry, const char* field) {
        const QString word = entry.value(field).toString();
        const char* key = keyOf(word);
        return key ? text(key) : link::displayText(word);
    };
    const QList<QJsonObject> entries = log.last(kShown);
    const char* headers[] = {"LogTime", "LogDirection", "LogController", "LogPort",
                             "LogFile", "LogRecords",   "LogOutcome"};
    tblJobLog = new QTableWidget(int(entries.size()), int(std::size(headers)), this);
    tblJobLog->setObjectName(QStringLiteral("tblJobLog"));
    tblJobLog->setAccessibleName(windowTitle());
    QStringList labels;
    for (const char* key : headers)
        labels.append(text(key));
    tblJobLog->setHorizontalHeaderLabels(labels);
    tblJobLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblJobLog->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblJobLog->verticalHeader()->hide();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QJsonObject& e = entries[entries.size() - 1 - i]; // newest first
        // "differences (%1)" takes the count of a verify's differences.
        QString outcome =
            shell::fillIn(shown(e, "outcome"), {QString::number(e.value("differences").toInt())});
        if (e.contains("error"))
            outcome += QStringLiteral(": ") + link::displayText(e.value("error").toString());
        const QString controller =
            e.contains("address")
                ? QString::fromLatin1(shell::formatDigits(e.value("address").toInt(), 2))
                : QString();
        const QString cells[] = {
            link::displayText(e.value("start").toString().left(19).replace(u'T', u' ')),
            shown(e, "direction"),
            controller,
            link::displayText(e.value("port").toString()),
            link::displayText(e.value("file").toString()),
            e.contains("records") ? QString::number(e.value("records").toInt()) : QString(),
            outcome};
        for (int column = 0; column < int(std::size(cells)); ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            if (column == 4)
                item->setToolTip(cells[column]);
            tblJobLog->setItem(int(i), column, item);
        }
    }
    tblJobLog->resizeColumnsToContents();
    tblJobLog->horizontalHeader()->setStretchLastSection(true);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* cmdClose = buttons->addButton(text("OK"), QDialogButtonBox::AcceptRole);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tblJobLog);
    layout->addWidget(buttons);
    resize(900, 420);
}

} // namespace kt::ui
