// The message box lays itself out in twips from its title, text and buttons,
// and every text on it reads at 4.5 : 1 or better.
#include "support/message_catcher.h"
#include "support/wait_for.h"
#include "ui/frm_msg_box.h"
#include "ui/message_layout.h"

#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <cmath>
#include <cstdio>
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

// The buttons shown, what they say, the default one and where the box ends
// below them; a Cancel alone stands where OK would, and the question before
// a restore defaults to Cancel.
TEST(MessageBox, ButtonLayouts) {
    kt::ui::setMessageButtonTexts("OK(&O)", "Cancel(&C)", "Restore(&R)");
    frmMsgBox box;
    auto* ok = box.findChild<QPushButton*>("cmdOk");
    auto* cancel = box.findChild<QPushButton*>("cmdCancel");
    const std::tuple<MsgButtons, bool, bool, const char*, bool, int> cases[] = {
        {MsgButtons::Ok, true, false, "OK(&O)", true, 1800},
        {MsgButtons::Cancel, false, true, "OK(&O)", false, 1800},
        {MsgButtons::OkCancel, true, true, "OK(&O)", true, 2280},
        {MsgButtons::RestoreCancel, true, true, "Restore(&R)", false, 2280},
    };
    for (const auto& [buttons, okShown, cancelShown, okText, okDefault, bottom] : cases) {
        SCOPED_TRACE(int(buttons));
        box.load("Title", MsgStyle::Information, buttons, "Short text.");
        EXPECT_EQ(ok->isHidden(), !okShown);
        EXPECT_EQ(cancel->isHidden(), !cancelShown);
        EXPECT_EQ(ok->text(), okText);
        EXPECT_TRUE((okDefault ? ok : cancel)->isDefault());
        EXPECT_FALSE((okDefault ? cancel : ok)->isDefault());
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
    EXPECT_TRUE(kt::test::waitFor([&] { return box.widthTwips() != wide; }, 10000));
    EXPECT_EQ(box.widthTwips(), wide - 30);

    // A long text wraps at about 70 characters, in two thirds of the screen.
    const QString longText = QString("The device /dev/serial/by-id/usb-FTDI_FT232R ").repeated(20);
    box.load("Title", MsgStyle::Critical, MsgButtons::Ok, longText);
    const QRect screen = box.screen()->availableGeometry();
    EXPECT_LE(box.width(), screen.width() * 2 / 3);
    EXPECT_LE(message->width(), 70 * message->fontMetrics().averageCharWidth());
    EXPECT_LE(message->x() + message->width(), box.width());
    EXPECT_GT(message->height(), 3 * message->fontMetrics().height()); // wrapped on lines
    box.load("Title", MsgStyle::Critical, MsgButtons::Ok, "Short.");
    EXPECT_LT(message->height(), 2 * message->fontMetrics().height());
}

// WCAG's contrast of two colours, from their relative luminance.
double contrast(QRgb a, QRgb b) {
    const auto luminance = [](QRgb c) {
        const auto channel = [](int v) {
            const double s = v / 255.0;
            return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of a text on a picture of the box: its colour, found in the
// text's area, against the colour that most of that area shows, which is
// what lies behind it. 0 when the text's colour is nowhere in the area.
double textContrast(const QImage& image, const QRect& area, QColor text) {
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y) & 0xffffff];
    const QRgb colour = text.rgb() & 0xffffff;
    if (!counts.contains(colour))
        return 0;
    return contrast(colour, std::max_element(counts.cbegin(), counts.cend()).key());
}

// Measured on the box as drawn, for each kind of message in each language:
// the title, the message in its colour, and the button captions.
TEST(MessageBox, EveryTextReadsAtFourAndAHalfToOneOrBetter) {
    const std::tuple<MsgStyle, const char*, QColor> styles[] = {
        {MsgStyle::Critical, "critical", QColor(255, 0, 0)},
        {MsgStyle::Question, "question", QColor(0, 0, 255)},
        {MsgStyle::Exclamation, "exclamation", QColor(255, 255, 0)},
        {MsgStyle::Information, "information", QColor(0, 0, 255)}};
    const std::tuple<const char*, QString, QString> languages[] = {
        {"en", "KT560AX Data Backup System V2.00",
         "Communication error: the controller does not answer."},
        {"zh_TW", "KT560AX 資料備份系統 V2.00", "通訊錯誤：控制器沒有回應。"},
        {"zh_CN", "KT560AX 数据备份系统 V2.00", "通讯错误：控制器没有响应。"}};
    for (const auto& [style, name, colour] : styles)
        for (const auto& [language, titleText, messageText] : languages) {
            SCOPED_TRACE(name);
            SCOPED_TRACE(language);
            frmMsgBox box;
            box.load(titleText, style, MsgButtons::OkCancel, messageText);
            box.show();
            const QImage image = box.grab().toImage();
            const auto area = [&](const char* control) {
                return box.findChild<QWidget*>(control)->geometry();
            };
            const double title = textContrast(image, area("lblTitle(0)"), QColor(224, 224, 224));
            const double message = textContrast(image, area("lblMessage"), colour);
            const auto* ok = box.findChild<QPushButton*>("cmdOk");
            const double button = textContrast(image, ok->geometry().adjusted(3, 3, -3, -3),
                                               ok->palette().color(QPalette::ButtonText));
            std::printf("%-12s %-5s title %5.2f : 1, message %5.2f : 1, button %5.2f : 1\n", name,
                        language, title, message, button);
            EXPECT_GE(title, 4.5);
            EXPECT_GE(message, 4.5);
            EXPECT_GE(button, 4.5);
        }
}

TEST(MessageBox, EnterPressesTheDefaultButton) {
    QTimer::singleShot(50,
                       [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return); });
    EXPECT_EQ(kt::ui::ShowMessage("Title", MsgStyle::Information, MsgButtons::Ok, "Done."),
              MsgAnswer::Ok);
    QTimer::singleShot(50,
                       [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return); });
    EXPECT_EQ(
        kt::ui::ShowMessage("Title", MsgStyle::Question, MsgButtons::RestoreCancel, "Restore?"),
        MsgAnswer::Cancel);
    kt::test::MessageCatcher cancel("cmdCancel");
    EXPECT_EQ(kt::ui::ShowMessage("Title", MsgStyle::Question, MsgButtons::OkCancel, "Sure?"),
              MsgAnswer::Cancel);
}

} // namespace
