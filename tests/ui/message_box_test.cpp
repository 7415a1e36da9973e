// The message box lays itself out in twips from its title, text and buttons,
// and every text on it reads at 4.5 : 1 or better.
#include "support/wait_for.h"
#include "ui/frm_msg_box.h"
#include "ui/message_layout.h"

#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <optional>

namespace {

using kt::shell::MsgAnswer;
using kt::shell::MsgButtons;
using kt::shell::MsgStyle;
using kt::ui::frmMsgBox;

double twipsOf(const QWidget* w, int pixels) {
    return pixels * 1440.0 / w->logicalDpiX();
}

// The buttons shown, the default one marked "*", and where the box ends
// below them; a Cancel alone stands where OK would.
TEST(MessageBox, ButtonLayouts) {
    kt::ui::setMessageButtonTexts({});
    frmMsgBox box(nullptr);
    const auto shown = [&] {
        QStringList buttons;
        for (const QPushButton* button : box.findChildren<QPushButton*>())
            if (!button->isHidden())
                buttons.append((button->isDefault() ? "*" : "") + button->text());
        return buttons.join(u'|');
    };
    const std::tuple<MsgButtons, const char*, int> cases[] = {
        {MsgButtons::Ok, "*OK(&O)", 1800},
        {MsgButtons::OkCancel, "*OK(&O)|Cancel(&C)", 2280},
        {MsgButtons::RestoreCancel, "Restore(&R)|*Cancel(&C)", 2280},
        {MsgButtons::ReplaceCancel, "Replace(&R)|*Cancel(&C)", 2280},
        {MsgButtons::StopGoOn, "Stop and close(&S)|*Go on(&G)", 2280},
        {MsgButtons::StopJobGoOn, "Stop(&S)|*Go on(&G)", 2280},
        {MsgButtons::Cancel, "*Cancel(&C)", 1800}}; // last: for where it stands
    for (const auto& [buttons, expected, bottom] : cases) {
        SCOPED_TRACE(expected);
        box.load("Title", MsgStyle::Information, buttons, "Short text.");
        EXPECT_EQ(shown(), expected);
        EXPECT_EQ(box.intButtonBottom, bottom);
        EXPECT_EQ(box.heightTwips(), bottom + 210);
    }
    EXPECT_NEAR(twipsOf(&box, box.findChild<QPushButton*>("cmdCancel")->y()),
                kt::ui::MsgBoxDesign::okTop, 15);
}

// As wide as the wider of title and text, within two thirds of the screen.
TEST(MessageBox, WidthFollowsTheWiderOfTitleAndTextWithinTheScreen) {
    frmMsgBox box(nullptr);
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

    // A long text wraps at about 70 characters.
    const QString longText = QString("The device /dev/serial/by-id/usb-FTDI_FT232R ").repeated(20);
    box.load("Title", MsgStyle::Critical, MsgButtons::Ok, longText);
    EXPECT_LE(box.width(), box.screen()->availableGeometry().width() * 2 / 3);
    EXPECT_LE(message->width(), 70 * message->fontMetrics().averageCharWidth());
    EXPECT_LE(message->x() + message->width(), box.width());
    EXPECT_GT(message->height(), 3 * message->fontMetrics().height()); // wrapped on lines
    box.load("Title", MsgStyle::Critical, MsgButtons::Ok, "Short.");
    EXPECT_LT(message->height(), 2 * message->fontMetrics().height());
}

// WCAG's contrast of a text on a picture of the box: its colour, found in
// the text's area, against the colour most of the rest of that area shows,
// which lies behind it (a face drawn as a gradient, as Windows' style does,
// shows each of its colours less than the text shows its one). 0 when the
// text's colour is nowhere in the area, 1 when nothing else is.
double textContrast(const QImage& image, const QRect& area, QColor text) {
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y) & 0xffffff];
    const QRgb colour = text.rgb() & 0xffffff;
    if (!counts.remove(colour))
        return 0;
    if (counts.isEmpty())
        return 1;
    const auto luminance = [](QRgb c) {
        const auto channel = [](int v) {
            const double s = v / 255.0;
            return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
    };
    const double a = luminance(colour);
    const double b = luminance(std::max_element(counts.cbegin(), counts.cend()).key());
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

// Measured on the box as drawn, for each kind of message in each language:
// the title, the message and the button captions, each in its own colour.
TEST(MessageBox, EveryTextReadsAtFourAndAHalfToOneOrBetter) {
    const std::pair<const char*, QString> languages[] = {
        {"KT560AX Data Backup System V2.00",
         "Communication error: the controller does not answer."},
        {"KT560AX 資料備份系統 V2.00", "通訊錯誤：控制器沒有回應。"},
        {"KT560AX 数据备份系统 V2.00", "通讯错误：控制器没有响应。"}};
    for (const MsgStyle style :
         {MsgStyle::Critical, MsgStyle::Question, MsgStyle::Exclamation, MsgStyle::Information})
        for (const auto& [title, message] : languages) {
            SCOPED_TRACE(QString("style %1: %2").arg(int(style)).arg(message).toStdString());
            frmMsgBox box(nullptr);
            box.load(title, style, MsgButtons::OkCancel, message);
            box.show();
            const QImage image = box.grab().toImage();
            for (const char* name : {"lblTitle(0)", "lblMessage", "cmdOk"}) {
                const auto* control = box.findChild<QWidget*>(name);
                const bool button = qobject_cast<const QPushButton*>(control);
                EXPECT_GE(textContrast(image, control->geometry().adjusted(3, 3, -3, -3),
                                       control->palette().color(button ? QPalette::ButtonText
                                                                       : QPalette::WindowText)),
                          4.5)
                    << name;
            }
        }
}

// Enter presses the default button: OK, or Cancel before a restore, a
// replaced backup or a stopped job. Escape means Cancel where Cancel is
// offered and closes a box that has only OK.
TEST(MessageBox, EnterAndEscapeAnswerAsTheButtonsSay) {
    const std::tuple<MsgButtons, Qt::Key, MsgAnswer> cases[] = {
        {MsgButtons::Ok, Qt::Key_Return, MsgAnswer::Ok},
        {MsgButtons::RestoreCancel, Qt::Key_Return, MsgAnswer::Cancel},
        {MsgButtons::ReplaceCancel, Qt::Key_Return, MsgAnswer::Cancel},
        {MsgButtons::StopGoOn, Qt::Key_Return, MsgAnswer::Cancel},
        {MsgButtons::StopJobGoOn, Qt::Key_Return, MsgAnswer::Cancel},
        {MsgButtons::OkCancel, Qt::Key_Escape, MsgAnswer::Cancel},
        {MsgButtons::Ok, Qt::Key_Escape, MsgAnswer::Ok}};
    for (const auto& [buttons, key, answer] : cases) {
        SCOPED_TRACE(int(buttons) * 100 + int(key == Qt::Key_Escape));
        std::optional<MsgAnswer> given;
        kt::ui::ShowMessage(nullptr, "Title", MsgStyle::Question, buttons, "Sure?",
                            [&](MsgAnswer a, bool) { given = a; });
        ASSERT_TRUE(kt::test::waitFor([] { return QApplication::activeModalWidget(); }, 10000));
        QTest::keyClick(QApplication::activeModalWidget(), key);
        ASSERT_TRUE(kt::test::waitFor([&] { return given.has_value(); }, 2000));
        EXPECT_EQ(*given, answer);
    }
}

} // namespace
