// Where a fleet's history is pushed, as Remote= gives it: a path, a URL or
// an ssh address (user@host:path). A URL may carry a user name and a
// password; they leave this class only towards git, so that a message, the
// job log, the state, the report, the metrics and the hooks show the remote
// without them.
#pragma once

#include <QString>
#include <utility>

namespace kt::fleet {

class RemoteAddress {
  public:
    RemoteAddress() = default;
    explicit RemoteAddress(QString text) : text_(std::move(text)) {}

    bool isEmpty() const { return text_.isEmpty(); }
    // The address without its user information, whether or not it parses
    // as a URL: after "scheme://", everything up to the last '@' (a
    // password may hold '/', '#', '?', '[' or '@'); in an ssh address,
    // everything up to the last '@' that a ':' follows.
    QString shown() const;
    // `message` (of git, or of the program that pushed) with this remote's
    // credentials taken out, wherever and however it quotes them, and the
    // user information of any URL in it.
    QString scrubbed(const QString& message) const;
    // The whole text, credentials and all: for git alone.
    const QString& forGit() const { return text_; }

    bool operator==(const RemoteAddress&) const = default;

  private:
    QString text_;
};

} // namespace kt::fleet
