#include "frm_msg_box.h"

#include "image_list.h"
#include "message_layout.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <deque>

namespace kt::ui {

namespace {

using D = MsgBoxDesign;
using shell::MsgAnswer;
using shell::MsgButtons;
using shell::MsgStyle;

struct MessageState {
    QPointer<frmMsgBox> shown;                 // the box on screen, if any
    std::deque<std::function<void()>> waiting; // each opens a box, in turn
    MessageButtonTexts texts;
};

MessageState& state() {
    static MessageState s;
    return s;
}

QFont fontOf(qreal points) {
    QFont font = QApplication::font();
    font.setPointSizeF(points);
    font.setBold(false);
    return font;
}

// The message keeps the colour of its kind; the plate behind it is dark for
// red and yellow and white for blue, so that each reads at better than
// 4.5 : 1.
struct MessageColours {
    QColor text;
    QColor plate;
};

MessageColours messageColours(MsgStyle style) {
    const QColor dark(16, 16, 16);
    switch (style) {
    case MsgStyle::Critical:
        return {QColor(255, 0, 0), dark};
    case MsgStyle::Question:
    case MsgStyle::Information:
        return {QColor(0, 0, 255), Qt::white};
    case MsgStyle::Exclamation:
        break;
    }
    return {QColor(255, 255, 0), dark};
}

// The band behind the title: the title's light grey reads on it, and its
// grey shadow still shows.
const QColor kTitleBand(0, 0, 128);

} // namespace

frmMsgBox::frmMsgBox(QWidget* owner)
    : QDialog(owner ? owner->window() : nullptr, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName("frmMsgBox");
    setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);
    for (int i = 0; i < 2; ++i) {
        imgIcon_[i] = new QLabel(this);
        imgIcon_[i]->setObjectName(QStringLiteral("imgIcon(%1)").arg(i));
        imgIcon_[i]->setAccessibleName(QStringLiteral("Icon"));
    }
    // The shadow lies behind the title: it is created first.
    for (int i = 1; i >= 0; --i) {
        lblTitle_[i] = new QLabel(this);
        lblTitle_[i]->setObjectName(QStringLiteral("lblTitle(%1)").arg(i));
        lblTitle_[i]->setFont(fontOf(18));
        lblTitle_[i]->setAttribute(Qt::WA_TranslucentBackground);
        const QColor colour = i == 0 ? QColor(224, 224, 224) : QColor(128, 128, 128);
        lblTitle_[i]->setStyleSheet(
            QStringLiteral("color: %1; background: transparent;").arg(colour.name()));
    }
    lblMessage_ = new QLabel(this);
    lblMessage_->setObjectName("lblMessage");
    lblMessage_->setFont(fontOf(12));
    lblMessage_->setTextFormat(Qt::PlainText);
    lblMessage_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    cmdOk_ = new QPushButton(this);
    cmdOk_->setObjectName("cmdOk");
    cmdCancel_ = new QPushButton(this);
    cmdCancel_->setObjectName("cmdCancel");
    cmdDetails_ = new QPushButton(this);
    cmdDetails_->setObjectName("cmdDetails");
    for (QPushButton* button : {cmdOk_, cmdCancel_, cmdDetails_})
        button->setFont(fontOf(9.75));
    chkOption_ = new QCheckBox(this);
    chkOption_->setObjectName("chkOption");
    chkOption_->setFont(fontOf(9.75));
    connect(cmdOk_, &QPushButton::clicked, this, [this] { finish(MsgAnswer::Ok); });
    connect(cmdCancel_, &QPushButton::clicked, this, [this] { finish(MsgAnswer::Cancel); });
    connect(cmdDetails_, &QPushButton::clicked, this, [this] {
        if (!details_.show)
            return;
        if (QDialog* shown = details_.show(this))
            connect(shown, &QDialog::finished, this, [this] { defaultButton()->setFocus(); });
    });

    tmrImage_.setObjectName("tmrImage");
    tmrImage_.setInterval(500);
    connect(&tmrImage_, &QTimer::timeout, this, &frmMsgBox::tmrImage_Timer);
}

int frmMsgBox::px(double twips) const {
    return int(std::lround(twips * logicalDpiX() / kTwipsPerInch));
}

double frmMsgBox::twips(int pixels) const {
    return pixels * kTwipsPerInch / logicalDpiX();
}

void frmMsgBox::place(QWidget* widget, int left, int top) {
    widget->move(px(left), px(top));
}

bool frmMsgBox::optionTicked() const {
    return chkOption_->isChecked();
}

void frmMsgBox::load(const QString& title, MsgStyle style, MsgButtons buttons, const QString& text,
                     const MsgDetails& details, const MsgOption& option) {
    MessageState& s = state();
    // Its own sizes first: the dialog is loaded afresh for every message.
    place(imgIcon_[0], D::iconLeft, D::iconTop);
    place(imgIcon_[1], D::iconAltLeft, D::iconAltTop);
    imgIcon_[0]->setVisible(true);
    imgIcon_[1]->setVisible(false);
    place(lblTitle_[0], D::titleLeft, D::titleTop);
    shadowLeft_ = D::shadowLeft;
    place(lblTitle_[1], D::shadowLeft, D::shadowTop);
    place(lblMessage_, D::messageLeft, D::messageTop);
    for (QPushButton* button : {cmdOk_, cmdCancel_}) {
        button->resize(px(D::buttonWidth), px(D::buttonHeight));
        button->setVisible(false);
        button->setDefault(false);
        button->setAutoDefault(false);
    }
    place(cmdOk_, D::buttonLeft, D::okTop);

    lblTitle_[0]->setText(title);
    lblTitle_[1]->setText(lblTitle_[0]->text());
    setAccessibleName(title);
    lblTitle_[1]->setAccessibleName(title);
    for (QLabel* label : lblTitle_)
        label->adjustSize();
    const int iconPixels = px(D::iconSize);
    const QPixmap icon = picture(imlImage(int(style)), iconPixels, devicePixelRatioF());
    for (QLabel* image : imgIcon_) {
        image->setPixmap(icon);
        image->resize(iconPixels, iconPixels);
    }
    const MessageButtonTexts& t = s.texts;
    cmdOk_->setText((buttons == MsgButtons::RestoreCancel   ? t.restore
                     : buttons == MsgButtons::ReplaceCancel ? t.replace
                     : buttons == MsgButtons::StopGoOn      ? t.stop
                     : buttons == MsgButtons::StopJobGoOn   ? t.stopJob
                                                            : t.ok)
                        .trimmed());
    const bool goOn = buttons == MsgButtons::StopGoOn || buttons == MsgButtons::StopJobGoOn;
    cmdCancel_->setText((goOn ? t.goOn : t.cancel).trimmed());
    const MessageColours colours = messageColours(style);
    plate_ = colours.plate;
    lblMessage_->setStyleSheet(
        QStringLiteral("color: %1; background: transparent;").arg(colours.text.name()));

    const MsgBoxButtons b = msgBoxButtons(buttons);
    cmdOk_->setVisible(b.ok);
    cmdCancel_->setVisible(b.cancel);
    place(cmdCancel_, D::buttonLeft, b.cancelTop);
    (b.defaultButton == MsgAnswer::Ok ? cmdOk_ : cmdCancel_)->setDefault(true);
    defaultButton()->setFocus();
    intButtonBottom = b.buttonBottom;

    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lblMessage_->setText(shown);
    lblMessage_->setAccessibleName(shown);
    fitMessage();
    // The option goes under the message, in line with it.
    chkOption_->setVisible(!option.text.isEmpty());
    chkOption_->setText(option.text);
    chkOption_->setAccessibleName(option.text);
    chkOption_->setChecked(option.ticked);
    if (!option.text.isEmpty()) {
        const int top =
            int(std::lround(twips(lblMessage_->geometry().bottom()))) + D::buttonHeight / 3;
        chkOption_->adjustSize();
        place(chkOption_, D::messageLeft, top);
        intButtonBottom =
            std::max(intButtonBottom, top + int(std::lround(twips(chkOption_->height()))));
    }
    // The details button goes below the message and the other buttons.
    details_ = details;
    cmdDetails_->setVisible(!details.caption.isEmpty());
    cmdDetails_->setText(details.caption);
    if (!details.caption.isEmpty()) {
        const int top =
            std::max(intButtonBottom, int(std::lround(twips(lblMessage_->geometry().bottom())))) +
            D::buttonHeight / 3;
        cmdDetails_->resize(std::max(px(D::buttonWidth), cmdDetails_->sizeHint().width()),
                            px(D::buttonHeight));
        place(cmdDetails_, D::buttonLeft, top);
        intButtonBottom = top + D::buttonHeight;
    }
    lblTitle_[0]->raise();
    relayout();
    tmrImage_.start();
}

void frmMsgBox::fitMessage() {
    // As wide as its longest line, but no wider than reads well: longer
    // lines wrap at word boundaries.
    QRect screen(0, 0, 1024, 768);
    if (const QScreen* s = this->screen() ? this->screen() : QGuiApplication::primaryScreen())
        screen = s->availableGeometry();
    const QFontMetrics metrics(lblMessage_->font());
    const int room = messageWidthLimit(metrics.averageCharWidth(), screen.width(),
                                       px(D::messageLeft + D::marginRight));
    int natural = 0;
    for (const QString& line : lblMessage_->text().split(u'\n'))
        natural = std::max(natural, metrics.horizontalAdvance(line));
    const bool wrap = natural + 4 > room;
    lblMessage_->setWordWrap(wrap);
    lblMessage_->setMinimumSize(0, 0);
    lblMessage_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (wrap)
        lblMessage_->resize(room, lblMessage_->heightForWidth(room));
    else
        lblMessage_->adjustSize();
}

void frmMsgBox::relayout() {
    const QRect m = lblMessage_->geometry();
    const QRect t = lblTitle_[1]->geometry();
    msgBoxSize({twips(m.x()), twips(m.y()), twips(m.width()), twips(m.height())},
               {double(shadowLeft_), 0, twips(t.width()), twips(t.height())}, intButtonBottom,
               &widthTwips_, &heightTwips_);
    QRect screen(0, 0, 1024, 768);
    if (const QScreen* s = this->screen() ? this->screen() : QGuiApplication::primaryScreen())
        screen = s->availableGeometry();
    const int w = std::min(px(widthTwips_), screen.width());
    const int h = std::min(px(heightTwips_), screen.height());
    setFixedSize(w, h);
    // Centred on the owner, kept inside the screen.
    const QRect over = parentWidget() ? parentWidget()->frameGeometry() : screen;
    move(std::clamp(over.center().x() - w / 2, screen.left(), screen.right() + 1 - w),
         std::clamp(over.center().y() - h / 2, screen.top(), screen.bottom() + 1 - h));
    update();
}

QPushButton* frmMsgBox::defaultButton() const {
    return cmdCancel_->isDefault() ? cmdCancel_ : cmdOk_;
}

void frmMsgBox::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    // The title's band, then the message's plate, a little larger than its
    // text.
    const int titleBottom =
        std::max(lblTitle_[0]->geometry().bottom(), lblTitle_[1]->geometry().bottom());
    painter.fillRect(
        QRect(QPoint(0, 0),
              QPoint(width() - 1, std::max(titleBottom + 2, px(D::messageTop - D::titleBandGap)))),
        kTitleBand);
    const int pad = px(60);
    painter.fillRect(lblMessage_->geometry().adjusted(-pad, -pad / 2, pad, pad / 2), plate_);
    // A border 51 twips wide, from black at the edge to white inside.
    const double w = twips(width());
    const double h = twips(height());
    for (int i = 0; i <= 50; ++i) {
        const int g = int(std::nearbyint(i * 5.1));
        painter.setPen(QPen(QColor(g, g, g), 1));
        const int x0 = px(i), y0 = px(i);
        const int x1 = px(w - i) - 1, y1 = px(h - i) - 1;
        painter.drawRect(QRect(QPoint(x0, y0), QPoint(x1, y1)));
    }
}

void frmMsgBox::tmrImage_Timer() {
    const bool first = imgIcon_[0]->isVisible();
    imgIcon_[0]->setVisible(imgIcon_[1]->isVisible());
    imgIcon_[1]->setVisible(first);
    if (shadowLeft_ == D::shadowLeft) {
        shadowLeft_ = D::shadowAltLeft;
        place(lblTitle_[1], D::shadowAltLeft, D::shadowAltTop);
    } else {
        shadowLeft_ = D::shadowLeft;
        place(lblTitle_[1], D::shadowLeft, D::shadowTop);
    }
    relayout();
}

void frmMsgBox::reject() {
    // Escape means Cancel where Cancel is offered, and closes a box that
    // has only OK.
    if (cmdCancel_->isVisible())
        finish(MsgAnswer::Cancel);
    else if (cmdOk_->isVisible())
        finish(MsgAnswer::Ok);
}

void frmMsgBox::finish(MsgAnswer answer) {
    tmrImage_.stop();
    done(int(answer));
}

void setMessageButtonTexts(const MessageButtonTexts& texts) {
    state().texts = texts;
}

namespace {

void openNextMessage() {
    MessageState& s = state();
    if (s.shown || s.waiting.empty())
        return;
    const std::function<void()> open = std::move(s.waiting.front());
    s.waiting.pop_front();
    open();
}

} // namespace

void ShowMessage(QWidget* owner, const QString& title, MsgStyle style, MsgButtons buttons,
                 const QString& text, MsgAnswered answered, const MsgDetails& details,
                 const MsgOption& option) {
    QPointer<QWidget> over = owner;
    state().waiting.push_back([=] {
        if (owner && !over)
            return openNextMessage(); // its window has gone
        QApplication::beep();
        auto* box = new frmMsgBox(over);
        box->setAttribute(Qt::WA_DeleteOnClose);
        state().shown = box;
        box->load(title, style, buttons, text, details, option);
        QObject::connect(box, &QDialog::finished, [box, answered](int result) {
            state().shown = nullptr;
            if (answered)
                answered(result == int(MsgAnswer::Ok) ? MsgAnswer::Ok : MsgAnswer::Cancel,
                         box->optionTicked());
            openNextMessage();
        });
        box->open();
    });
    openNextMessage();
}

bool messagesPending() {
    return state().shown || !state().waiting.empty();
}

} // namespace kt::ui
