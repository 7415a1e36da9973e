// The records in which a controller and its backup differ, as a table: the
// category as the window names it, the record, and both values as stored,
// control characters by name.
#pragma once

#include "engine/record_compare.h"

#include <QDialog>
#include <functional>

class QTableWidget;

namespace kt::ui {

class DifferencesWindow : public QDialog {
    Q_OBJECT
  public:
    // The differences of a compare, in texts of `text` (Language.ini keys).
    DifferencesWindow(const QList<engine::RecordDifference>& differences,
                      const std::function<QString(const char*)>& text, QWidget* parent = nullptr);

  private:
    QTableWidget* tblDifferences = nullptr;
};

} // namespace kt::ui
