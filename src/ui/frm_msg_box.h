// frmMsgBox: the program's own message box. It lays itself out in twips
// around its title and text, centres itself on its owner window inside a
// shaded frame, stays above that window, and animates its icon and title
// shadow until OK or Cancel is pressed. The title stands on a dark band and the
// message on a plate that keeps its colour readable.
#pragma once

#include "shell/message_codes.h"

#include <QDialog>
#include <QTimer>
#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;

namespace kt::ui {

// A further button that shows more of what the message tells (a list, a
// report) over the box, which stays open; none when `caption` is empty.
// `show` opens a window over the box and returns it; once it closes, the
// box's default button has the focus again.
struct MsgDetails {
    QString caption;
    std::function<QDialog*(QWidget* box)> show;
};

// An option under the message that the user may tick or clear, such as
// "Back up the controller first"; none when `text` is empty. `ticked` is
// its state when the box opens.
struct MsgOption {
    QString text;
    bool ticked = false;
};

// The button that closed a box and whether its option was ticked then.
using MsgAnswered = std::function<void(shell::MsgAnswer answer, bool ticked)>;

class frmMsgBox final : public QDialog {
    Q_OBJECT
  public:
    // Over `owner`, modal to it alone; over the screen, modal to the
    // program, without one.
    explicit frmMsgBox(QWidget* owner);

    // Dialog load: takes the message and lays the dialog out afresh.
    void load(const QString& title, shell::MsgStyle style, shell::MsgButtons buttons,
              const QString& text, const MsgDetails& details = {}, const MsgOption& option = {});
    // Whether the option is ticked now.
    bool optionTicked() const;

    // The dialog's size in twips, as last laid out.
    int widthTwips() const { return widthTwips_; }
    int heightTwips() const { return heightTwips_; }
    int intButtonBottom = 0;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void reject() override;

  private:
    // Sizes the message to its text, wrapping lines the screen cannot hold.
    void fitMessage();
    void relayout();
    QPushButton* defaultButton() const;
    void tmrImage_Timer();
    void finish(shell::MsgAnswer answer);
    int px(double twips) const;
    double twips(int pixels) const;
    void place(QWidget* widget, int left, int top);

    QLabel* lblTitle_[2];
    QLabel* imgIcon_[2];
    QLabel* lblMessage_;
    QPushButton* cmdOk_;
    QPushButton* cmdCancel_;
    QPushButton* cmdDetails_;
    QCheckBox* chkOption_;
    MsgDetails details_;
    QColor plate_; // behind the message
    QTimer tmrImage_;
    int shadowLeft_ = 0;
    int widthTwips_ = 0;
    int heightTwips_ = 0;
};

// Texts of the buttons, set with the language, with their mnemonics.
struct MessageButtonTexts {
    QString ok = QStringLiteral("OK(&O)");
    QString cancel = QStringLiteral("Cancel(&C)");
    QString restore = QStringLiteral("Restore(&R)");     // RestoreCancel's OK
    QString replace = QStringLiteral("Replace(&R)");     // ReplaceCancel's OK
    QString stop = QStringLiteral("Stop and close(&S)"); // StopGoOn's OK
    QString goOn = QStringLiteral("Go on(&G)");          // StopGoOn's and StopJobGoOn's Cancel
    QString stopJob = QStringLiteral("Stop(&S)");        // StopJobGoOn's OK
};
void setMessageButtonTexts(const MessageButtonTexts& texts);

// Sounds the beep, opens the message over `owner` and returns at once;
// `answered`, when given, gets the answer once the box has closed. One box
// at a time: a message raised while a box is open opens once the boxes
// before it have closed.
void ShowMessage(QWidget* owner, const QString& title, shell::MsgStyle style,
                 shell::MsgButtons buttons, const QString& text, MsgAnswered answered = {},
                 const MsgDetails& details = {}, const MsgOption& option = {});
// Whether a box is open or waits to open.
bool messagesPending();

} // namespace kt::ui
