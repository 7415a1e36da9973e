// The serial port seam: the operations the link uses. The program uses a
// LinePort (a serial device or a serial device server); tests use an
// in-memory port or a pseudo-terminal.
#pragma once

#include "clock.h"
#include "port_settings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace kt::link {

class SerialPort : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

    // What a port keeps of the bytes that arrived and were not yet taken:
    // far more than any reply, so that a line that floods with garbage
    // costs a bounded amount of memory. The oldest bytes go first.
    static constexpr qsizetype kMaxBuffered = 64 * 1024;
    // What may wait to be sent before a peer that does not read counts as
    // a lost port.
    static constexpr qsizetype kMaxUnsent = 64 * 1024;

    // The settings text for the next open, such as "19200,e,8,1". Returns
    // false, with a description, when the text is not a valid setting.
    bool setSettings(const QByteArray& text);
    void setSettings(const PortSettings& settings) { settings_ = settings; }
    // The settings given for the next open, if any.
    const std::optional<PortSettings>& settings() const { return settings_; }
    // Opens the chosen port with the chosen settings, discarding anything
    // that waited before the open, and reports through `clock`: done(true)
    // once it is open, done(false) with a description once it cannot be.
    // Never reports inside this call; a close() before the report drops it.
    virtual void startOpen(Clock& clock, std::function<void(bool opened)> done) = 0;
    // An open has started and has not been reported.
    virtual bool isOpening() const { return openCall_ && openCall_->pending(); }
    // Closes the port, or drops the open under way.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Everything waiting in the input buffer (empty when nothing waits).
    virtual QByteArray readAll() = 0;
    // While not watching, bytes that arrive wait in the system: `arrived`
    // is not emitted for them, and readAll() still takes them. The link
    // stops watching while the controller gets its time to answer and while
    // the line settles, when what comes waits to be judged at the phase's
    // end: the event loop then wakes less, and polls fewer ports each time.
    // A port that cannot stop watching keeps on; an open port watches.
    virtual void setWatching(bool) {}
    // Writes all bytes; false when the port is closed or the write fails.
    virtual bool write(const QByteArray& bytes) = 0;
    // The description of the last failure, for a technician to act on.
    virtual QString errorString() const { return error_; }
    // A serial device server reached over the network, rather than a
    // device of this computer.
    virtual bool isServer() const { return false; }

    // What kind of failure the last open was, so that a front end can say
    // it in its own words; the device or server it concerns, for a
    // permission the group that owns the device, and the system's own words
    // for why, without advice ("Connection refused"; empty when the port
    // gives none).
    enum class OpenError { None, Missing, Denied, Busy, Server, Other };
    OpenError openError() const { return openError_; }
    QString errorDevice() const { return errorDevice_; }
    QString errorGroup() const { return errorGroup_; }
    QString errorReason() const { return errorReason_; }
    // A stable English identifier of the kind, for summaries that programs read.
    static const char* openErrorId(OpenError kind) {
        static const char* const ids[] = {"none", "missing", "denied", "busy", "server", "other"};
        return ids[int(kind)];
    }

  protected:
    // The call of `clock` that an open waits on, in place of any open under
    // way: its deadline or its report.
    ClockCall& beginOpen(Clock& clock) {
        openCall_ = std::make_unique<ClockCall>(clock);
        return *openCall_;
    }
    // The clock of the open begun last.
    Clock& openClock() const { return openCall_->clock(); }
    // Reports the end of the open begun last, from its clock.
    void reportOpen(bool opened, std::function<void(bool)> done) {
        openCall_->at(openCall_->clock().nowMs(),
                      [opened, done = std::move(done)] { done(opened); });
    }
    // For a port whose open needs no waiting: reports `opened` from `clock`.
    void reportAtOnce(Clock& clock, bool opened, std::function<void(bool)> done) {
        beginOpen(clock);
        reportOpen(opened, std::move(done));
    }
    // The open under way ends unreported.
    void dropOpen() { openCall_.reset(); }
    // Records the failure for errorString(); returns false.
    bool fail(const QString& description) {
        error_ = description;
        return false;
    }
    void clearError() { error_.clear(); }
    // For an open: false, with a description, when no valid settings were given.
    bool settingsReady() {
        return settings_ ||
               (error_.isEmpty() ? fail(QStringLiteral("No settings have been given.")) : false);
    }
    // Drops the oldest bytes of `buffer` beyond kMaxBuffered.
    static void keepNewest(QByteArray& buffer) {
        if (buffer.size() > kMaxBuffered)
            buffer.remove(0, buffer.size() - kMaxBuffered);
    }
    void setOpenError(OpenError kind, const QString& device, const QString& group = {},
                      const QString& reason = {}) {
        openError_ = kind;
        errorDevice_ = device;
        errorGroup_ = group;
        errorReason_ = reason;
    }

  private:
    std::unique_ptr<ClockCall> openCall_;
    std::optional<PortSettings> settings_;
    QString error_;
    OpenError openError_ = OpenError::None;
    QString errorDevice_;
    QString errorGroup_;
    QString errorReason_;

  signals:
    // Bytes have arrived for readAll(). Never emitted from inside readAll().
    void arrived();
    // The open port failed while in use (device unplugged, other end gone)
    // and has been closed.
    void lost(const QString& description);
};

} // namespace kt::link
