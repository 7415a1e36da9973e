// The message box lays itself out in twips from its title, text and buttons.
#include "support/message_catcher.h"
#include "ui/frm_msg_box.h"
#include "ui/message_layout.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

namespace {

using kt::shell::MsgAnswer;
using kt::shell::MsgButtons;
using kt::shell::MsgStyle;
using kt::ui::frmMsgBox;
using kt::ui::MsgBoxDesign;

double twipsOf(const QWidget* w, int pixels) {
    return pixels * 1440.0 / w->logicalDpiX();
}

// The buttons shown, the default one and where the box ends below them; a
// Cancel alone stands where OK would.
TEST(MessageBox, ButtonLayouts) {
    frmMsgBox box;
    auto* ok = box.findChild<QPushButton*>("cmdOk");
    auto* cancel = box.findChild<QPushButton*>("cmdCancel");
    const std::tuple<MsgButtons, bool, bool, int> cases[] = {
        {MsgButtons::Ok, true, false, 1800},
        {MsgButtons::Cancel, false, true, 1800},
        {MsgButtons::OkCancel, true, true, 2280},
    };
    for (const auto& [buttons, okShown, cancelShown, bottom] : cases) {
        SCOPED_TRACE(int(buttons));
        box.load("Title", MsgStyle::Information, buttons, "Short text.");
        EXPECT_EQ(ok->isHidden(), !okShown);
        EXPECT_EQ(cancel->isHidden(), !cancelShown);
        EXPECT_TRUE((okShown ? ok : cancel)->isDefault());
        EXPECT_EQ(box.intButtonBottom, bottom);
        EXPECT_EQ(box.heightTwips(), bottom + 210);
    }
    box.load("Title", MsgStyle::Information, MsgButtons::Cancel, "Short text.");
    EXPECT_NEAR(twipsOf(&box, cancel->y()), MsgBoxDesign::okTop, 15);
}

TEST(MessageBox, WidthFollowsTheWiderOfTitleAndTextWithinTheScreen) {
    frmMsgBox box;
    box.load("T", MsgStyle::Exclamation, MsgButtons::Ok,
             "A message text that is clearly much wider than the title.");
    const QLabel* message = box.findChild<QLabel*>("lblMessage");
    EXPECT_EQ(box.widthTwips(),
              int(std::nearbyint(twipsOf(&box, message->x() + message->width()))) + 330);

    box.load("A title that is clearly much wider than the text", MsgStyle::Exclamation,
             MsgButtons::Ok, "Hi.");
    const QLabel* shadow = box.findChild<QLabel*>("lblTitle(1)");
    const int wide = box.widthTwips();
    EXPECT_EQ(wide, int(std::nearbyint(105 + twipsOf(&box, shadow->width()))) + 330);
    // The shadow's hop to the upper left makes the window 30 twips narrower.
    EXPECT_TRUE(QTest::qWaitFor([&] { return box.widthTwips() != wide; }, 3000));
    EXPECT_EQ(box.widthTwips(), wide - 30);

    // A long text wraps within the screen.
    const QString longText = QString("The device /dev/serial/by-id/usb-FTDI_FT232R ").repeated(20);
    box.load("Title", MsgStyle::Critical, MsgButtons::Ok, longText);
    const QRect screen = box.screen()->availableGeometry();
    EXPECT_LE(box.width(), screen.width());
    EXPECT_LE(message->x() + message->width(), box.width());
    EXPECT_GT(message->height(), 3 * message->fontMetrics().height()); // wrapped on lines
    box.load("Title", MsgStyle::Critical, MsgButtons::Ok, "Short.");
    EXPECT_LT(message->height(), 2 * message->fontMetrics().height());
}

TEST(MessageBox, EnterPressesTheDefaultButton) {
    QTimer::singleShot(50,
                       [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return); });
    EXPECT_EQ(kt::ui::ShowMessage("Title", MsgStyle::Information, MsgButtons::Ok, "Done."),
              MsgAnswer::Ok);
    kt::test::MessageCatcher cancel("cmdCancel");
    EXPECT_EQ(kt::ui::ShowMessage("Title", MsgStyle::Question, MsgButtons::OkCancel, "Sure?"),
              MsgAnswer::Cancel);
}

} // namespace
