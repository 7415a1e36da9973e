#include "differences_window.h"

#include "link/trace.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kt::ui {

DifferencesWindow::DifferencesWindow(const QList<engine::RecordDifference>& differences,
                                     const std::function<QString(const char*)>& text,
                                     QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmDifferences"));
    setWindowTitle(text("CompareTitle"));
    const char* headers[] = {"CompareCategory", "CompareRecord", "CompareInFile",
                             "CompareInController"};
    tblDifferences = new QTableWidget(int(differences.size()), int(std::size(headers)), this);
    tblDifferences->setObjectName(QStringLiteral("tblDifferences"));
    tblDifferences->setAccessibleName(windowTitle());
    QStringList labels;
    for (const char* key : headers)
        labels.append(text(key));
    tblDifferences->setHorizontalHeaderLabels(labels);
    tblDifferences->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblDifferences->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblDifferences->verticalHeader()->hide();
    for (qsizetype row = 0; row < differences.size(); ++row) {
        const engine::RecordDifference& d = differences[row];
        const engine::Category* category = engine::categoryOfKey(d.key);
        // Values as the file holds them and as a backup would store the
        // controller's, never re-encoded; a missing one stays empty.
        const QString cells[] = {category ? text(category->languageKey) : QString(),
                                 link::displayBytes(d.key), link::displayBytes(d.before),
                                 link::displayBytes(d.after)};
        for (int column = 0; column < int(std::size(cells)); ++column)
            tblDifferences->setItem(int(row), column, new QTableWidgetItem(cells[column]));
    }
    tblDifferences->resizeColumnsToContents();
    tblDifferences->horizontalHeader()->setStretchLastSection(true);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* cmdClose = buttons->addButton(text("OK"), QDialogButtonBox::AcceptRole);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tblDifferences);
    layout->addWidget(buttons);
    resize(760, 400);
}

} // namespace kt::ui
