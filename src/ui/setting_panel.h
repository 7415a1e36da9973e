// The settings panel (fraSetting): the language and the link times, and
// whether a restore verifies itself. It edits the window's settings in
// place, so that a changed time applies from the next pause of a job; OK
// hands them back to the window to be kept.
#pragma once

#include "shell/settings.h"

#include <QGroupBox>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kt::ui {

class SettingPanel : public QGroupBox {
    Q_OBJECT
  public:
    SettingPanel(shell::Settings& settings, QWidget* parent = nullptr);

    // Fills the fields from the settings and shows the panel.
    void open();
    // Captions and accessible names from the current language's texts.
    void applyLanguage(const std::function<QString(const char*)>& text, const QString& ok);
    // The controls a running job disables.
    QList<QObject*> controls() const;

  signals:
    // OK was pressed: the settings hold the panel's values.
    void accepted();

  private:
    // Takes a time from its box; a box holds only a number.
    void timeBoxChanged(QLineEdit* box, float* value);

    shell::Settings& settings_;
    QGroupBox* fraLanguage = nullptr;
    QRadioButton* opLanguage[3] = {};
    QLabel* lblTxDelay = nullptr;
    QLabel* lblRxDelay = nullptr;
    QLabel* lblTxTimeOut = nullptr;
    QLineEdit* txtTxDelay = nullptr;
    QLineEdit* txtRxDelay = nullptr;
    QLineEdit* txtRxTimeOut = nullptr;
    QCheckBox* chkVerifyAfterLoad = nullptr;
    QPushButton* cmdOk = nullptr;
};

} // namespace kt::ui
