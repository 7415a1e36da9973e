#include "remote_address.h"

#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

namespace kt::fleet {

namespace {

// The span of `text`'s user information, from `begin` up to its '@', when
// it has any.
struct UserInfo {
    qsizetype begin = 0;
    qsizetype at = -1;
};

UserInfo userInfoOf(const QString& text) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    if (const QRegularExpressionMatch url = scheme.match(text); url.hasMatch()) {
        const qsizetype at = text.lastIndexOf(u'@');
        return {url.capturedLength(), at >= url.capturedLength() ? at : -1};
    }
    // user@host:path; a path without a ':' after an '@' is a folder's name.
    const qsizetype colon = text.lastIndexOf(u':');
    return {0, colon < 0 ? -1 : text.lastIndexOf(u'@', colon)};
}

QString decoded(const QString& text) {
    return QUrl::fromPercentEncoding(text.toUtf8());
}

// A secret shorter than this is taken out only where it stands before an
// '@': blanking its letters wherever they occur would spoil the message and
// tell the secret by the gaps.
constexpr qsizetype kShortestBlanked = 4;

} // namespace

QString RemoteAddress::shown() const {
    const UserInfo info = userInfoOf(text_);
    return info.at < 0 ? text_ : text_.left(info.begin) + text_.mid(info.at + 1);
}

QString RemoteAddress::scrubbed(const QString& message) const {
    QString text = message;
    if (const UserInfo info = userInfoOf(text_); info.at >= 0) {
        text.replace(text_, shown());
        const QString userInfo = text_.mid(info.begin, info.at - info.begin);
        QStringList secrets{userInfo, decoded(userInfo)};
        if (const qsizetype colon = userInfo.indexOf(u':'); colon >= 0)
            secrets += {userInfo.mid(colon + 1), decoded(userInfo.mid(colon + 1))};
        for (const QString& secret : std::as_const(secrets)) {
            if (secret.isEmpty())
                continue;
            text.replace(secret + u'@', QString());
            if (secret.size() >= kShortestBlanked)
                text.replace(secret, QStringLiteral("***"));
        }
    }
    // Any other URL in the message, as the library may have rewritten it.
    static const QRegularExpression url(QStringLiteral("([A-Za-z][A-Za-z0-9+.-]*://)[^\\s'\"]*@"));
    return text.replace(url, QStringLiteral("\\1"));
}

} // namespace kt::fleet
