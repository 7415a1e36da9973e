#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include "device_port.h"

#include "shell/text_format.h"

#include <QWinEventNotifier>

#include <algorithm>
#include <iterator>
#include <utility>

#include <windows.h>

namespace kt::link {

namespace {

constexpr DWORD kReadSize = 4096;
constexpr DWORD kQueueSize = 4096;
// A read that got nothing ends after this time, and the next one starts.
constexpr DWORD kIdleReadMs = 1000;
// The time a write may take beyond what its bytes need on the line.
constexpr DWORD kWriteSlackMs = 2000;
// How long an operation cancelled at the close may take to end: a cancelled
// operation ends at once on a sound driver, and one that does not is left
// to end on its own rather than holding the event loop.
constexpr DWORD kEndWaitMs = 50;

// The system's text for an error code, without the closing full stop that
// the messages around it add themselves.
QString systemText(DWORD error) {
    wchar_t text[512];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, DWORD(std::size(text)), nullptr);
    QString result = QString::fromWCharArray(text, qsizetype(length)).trimmed();
    if (result.endsWith(u'.'))
        result.chop(1);
    return result.isEmpty() ? QStringLiteral("system error %1").arg(error) : result;
}

// A read that ended by its total timeout; some drivers report it as an
// error rather than as zero bytes.
bool isTimeout(DWORD error) {
    return error == ERROR_TIMEOUT || error == WAIT_TIMEOUT || error == ERROR_SEM_TIMEOUT ||
           error == ERROR_COUNTER_TIMEOUT;
}

// Errors of an unplugged adapter or a vanished device.
bool meansGone(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_IO_DEVICE:
    case ERROR_NOT_READY:
    case ERROR_OPERATION_ABORTED:
        return true;
    default:
        return false;
    }
}

BYTE parityOf(PortSettings::Parity parity) {
    switch (parity) {
    case PortSettings::Parity::None:
        return NOPARITY;
    case PortSettings::Parity::Even:
        return EVENPARITY;
    case PortSettings::Parity::Odd:
        return ODDPARITY;
    case PortSettings::Parity::Mark:
        return MARKPARITY;
    case PortSettings::Parity::Space:
        break;
    }
    return SPACEPARITY;
}

BYTE stopBitsOf(PortSettings::StopBits stopBits) {
    switch (stopBits) {
    case PortSettings::StopBits::One:
        return ONESTOPBIT;
    case PortSettings::StopBits::OneAndHalf:
        return ONE5STOPBITS;
    case PortSettings::StopBits::Two:
        break;
    }
    return TWOSTOPBITS;
}

// Milliseconds a byte may take to send: a character is at most 12 bits
// (start, 8 data, parity, 2 stop), rounded up generously.
DWORD writeMsPerByte(int baudRate) {
    return 1 + 12000 / DWORD(std::max(baudRate, 1));
}

// Sets the line up on the open `port`: the settings, no flow control, the
// timeouts the reads and writes rely on, and nothing left from before.
DWORD configure(HANDLE port, const PortSettings& settings) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb))
        return GetLastError();
    dcb.BaudRate = DWORD(settings.baudRate);
    dcb.ByteSize = BYTE(settings.dataBits);
    dcb.Parity = parityOf(settings.parity);
    dcb.fParity = settings.parity != PortSettings::Parity::None;
    dcb.StopBits = stopBitsOf(settings.stopBits);
    dcb.fBinary = TRUE;
    // No flow control of any kind: a line without handshake wires must not
    // hold the bytes back. DTR and RTS stay raised for adapters powered by them.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    // Every byte arrives as it came: NUL bytes and bytes with a parity
    // error included, and an error does not stop the port.
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    // A pseudo-terminal under Wine that a previous open left with parity
    // refuses parity again ("invalid parameter") unless it was switched off
    // first. A real port takes the extra step before any byte moves.
    if (settings.parity != PortSettings::Parity::None) {
        DCB plain = dcb;
        plain.Parity = NOPARITY;
        plain.fParity = FALSE;
        SetCommState(port, &plain);
    }
    if (!SetCommState(port, &dcb))
        return GetLastError();
    // Failures here are harmless: a port without modem lines (a
    // pseudo-terminal under Wine) refuses DTR, and the queue sizes are a wish.
    EscapeCommFunction(port, SETDTR);
    EscapeCommFunction(port, SETRTS);
    SetupComm(port, kQueueSize, kQueueSize);

    // A read returns as soon as a byte is there, or with nothing after
    // kIdleReadMs; a write that the line cannot take ends short in time.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = kIdleReadMs;
    timeouts.WriteTotalTimeoutMultiplier = writeMsPerByte(settings.baudRate);
    timeouts.WriteTotalTimeoutConstant = kWriteSlackMs;
    if (!SetCommTimeouts(port, &timeouts))
        return GetLastError();
    // Bytes that waited before the open are not a reply.
    PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    return ERROR_SUCCESS;
}

// Clears an operation block for its next use, keeping its event.
void rearm(OVERLAPPED& operation) {
    const HANDLE event = operation.hEvent;
    operation = OVERLAPPED{};
    operation.hEvent = event;
}

// Waits at most `ms` for the operation to end; true when it has.
bool waitEnd(OVERLAPPED& operation, DWORD ms) {
    WaitForSingleObject(operation.hEvent, ms);
    return HasOverlappedIoCompleted(&operation);
}

// The handle of an open port, its read and write operations and the read
// buffer; it lives from a successful open to the close.
struct Io {
    HANDLE port = INVALID_HANDLE_VALUE;
    OVERLAPPED read{};
    OVERLAPPED write{};
    bool reading = false; // a read was started and its result not yet taken
    bool writing = false; // likewise for a write
    QByteArray unsent;    // what the write in progress sends; the system reads it until it ends
    QByteArray queued;    // what was written meanwhile, sent when that write ends
    DWORD failed = 0;     // how a write that ended in the background failed
    char buffer[kReadSize];

    Io() {
        read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~Io() {
        if (port != INVALID_HANDLE_VALUE)
            CloseHandle(port);
        if (read.hEvent)
            CloseHandle(read.hEvent);
        if (write.hEvent)
            CloseHandle(write.hEvent);
    }
    Io(const Io&) = delete;
    Io& operator=(const Io&) = delete;

    // Starts a read: of what waits, which ends at once, or of one byte when
    // nothing waits. Windows ends a read with the first byte that comes under
    // these timeouts, but Wine only when the buffer is full: a one-byte read
    // ends with the first byte on both.
    DWORD startRead() {
        DWORD size = 1;
        DWORD errors = 0;
        COMSTAT status{};
        if (ClearCommError(port, &errors, &status) && status.cbInQue > 0)
            size = std::min(status.cbInQue, kReadSize);
        rearm(read);
        if (!ReadFile(port, buffer, size, nullptr, &read)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING)
                return error;
        }
        reading = true;
        return ERROR_SUCCESS;
    }

    // Takes the result of the write that has ended.
    DWORD endWrite() {
        DWORD sent = 0;
        const bool done = GetOverlappedResult(port, &write, &sent, FALSE);
        const DWORD error = done ? ERROR_SUCCESS : GetLastError();
        const bool whole = qsizetype(sent) == unsent.size();
        writing = false;
        unsent.clear();
        if (!done)
            return error;
        // A write that ends short ran out of its time.
        return whole ? ERROR_SUCCESS : ERROR_TIMEOUT;
    }
};

} // namespace

// The open port, the notifier of its reads, and the count of opens and
// closes. Error codes are Windows system error codes; 0 is none.
struct DevicePort::System {
    explicit System(DevicePort& owner) : owner(owner), readDone(&owner), writeDone(&owner) {
        QObject::connect(&readDone, &QWinEventNotifier::activated, &owner,
                         [this] { onReadDone(); });
        QObject::connect(&writeDone, &QWinEventNotifier::activated, &owner,
                         [this] { onWriteDone(); });
    }

    DevicePort& owner;
    std::unique_ptr<Io> io;
    QWinEventNotifier readDone;  // signals a completed read
    QWinEventNotifier writeDone; // signals a completed write, while one is under way
    // Counts opens and closes, so that a loss noticed during a call and
    // reported later is dropped once the caller has closed or reopened.
    quint64 generation = 0;

    // Moves what finished reads brought into the owner's input and keeps one
    // read outstanding; `fresh` tells whether bytes came. Returns the read error.
    DWORD pump(bool& fresh) {
        Io& port = *io;
        for (;;) {
            if (!port.reading) {
                if (const DWORD error = port.startRead(); error != ERROR_SUCCESS)
                    return error;
            }
            DWORD count = 0;
            if (!GetOverlappedResult(port.port, &port.read, &count, FALSE)) {
                const DWORD error = GetLastError();
                if (error == ERROR_IO_INCOMPLETE)
                    return ERROR_SUCCESS;
                port.reading = false;
                if (!isTimeout(error))
                    return error;
                count = 0;
            } else {
                port.reading = false;
            }
            // A read that timed out with nothing: the next one wakes the
            // notifier when it ends, however soon that is.
            if (count == 0)
                return port.startRead();
            owner.received_.append(port.buffer, qsizetype(count));
            keepNewest(owner.received_);
            fresh = true;
        }
    }

    void onReadDone() {
        if (!io)
            return;
        bool fresh = false;
        if (const DWORD error = pump(fresh); error != ERROR_SUCCESS) {
            emit owner.lost(goneAway(error));
            return;
        }
        if (fresh)
            emit owner.arrived();
    }

    // Starts writing `bytes`; a write that does not end at once is taken by
    // onWriteDone. Returns the write's error.
    DWORD startWrite(const QByteArray& bytes) {
        Io& port = *io;
        port.unsent = bytes;
        rearm(port.write);
        if (!WriteFile(port.port, port.unsent.constData(), DWORD(port.unsent.size()), nullptr,
                       &port.write)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                port.unsent.clear();
                return error;
            }
        }
        port.writing = true;
        // Most writes end at once; a failure is then the caller's.
        if (HasOverlappedIoCompleted(&port.write))
            return port.endWrite();
        writeDone.setHandle(port.write.hEvent);
        writeDone.setEnabled(true);
        return ERROR_SUCCESS;
    }

    // A write ended in the background: what was written meanwhile follows
    // it; a failure is told by the next write.
    void onWriteDone() {
        if (!io || !io->writing || !HasOverlappedIoCompleted(&io->write))
            return;
        writeDone.setEnabled(false);
        DWORD error = io->endWrite();
        if (error == ERROR_SUCCESS && !io->queued.isEmpty())
            error = startWrite(std::exchange(io->queued, {}));
        if (error == ERROR_SUCCESS)
            return;
        io->queued.clear();
        if (meansGone(error))
            return queueLost(goneAway(error));
        io->failed = error;
    }

    bool writeFailed(DWORD error) {
        if (meansGone(error)) {
            queueLost(goneAway(error));
            return false;
        }
        return owner.fail(shell::fillIn(QStringLiteral("Writing to %1 failed (%2)."),
                                        {owner.device_, systemText(error)}));
    }

    // Closes the port that failed in use; returns the description.
    QString goneAway(DWORD error) {
        shutDown();
        owner.fail(shell::fillIn(QStringLiteral("The adapter %1%2 went away (%3)."),
                                 {owner.device_, owner.label_, systemText(error)}));
        return owner.errorString();
    }

    // Emits lost() from the event loop, unless the port was closed or
    // reopened meanwhile.
    void queueLost(const QString& description) {
        QMetaObject::invokeMethod(
            &owner,
            [this, description, current = generation] {
                if (current == generation)
                    emit owner.lost(description);
            },
            Qt::QueuedConnection);
    }

    // Closes without counting as the caller's close.
    void shutDown() {
        owner.received_.clear();
        if (!io)
            return;
        readDone.setEnabled(false);
        writeDone.setEnabled(false);
        CancelIoEx(io->port, nullptr);
        const bool ended = (!io->reading || waitEnd(io->read, kEndWaitMs)) &&
                           (!io->writing || waitEnd(io->write, kEndWaitMs));
        CloseHandle(io->port);
        io->port = INVALID_HANDLE_VALUE;
        if (ended)
            io.reset();
        else
            // The system may still fill the buffer of an operation that did
            // not end: its memory must stay valid.
            (void)io.release();
    }
};

DevicePort::DevicePort(QObject* parent)
    : SerialPort(parent), system_(std::make_unique<System>(*this)) {}

DevicePort::~DevicePort() {
    system_->shutDown();
}

bool DevicePort::open() {
    if (system_->io)
        close();
    ++system_->generation;
    if (device_.isEmpty())
        return fail(QStringLiteral("No port has been chosen."));
    if (!settingsReady())
        return false;

    const auto cannotOpen = [this](DWORD error) {
        setOpenError(OpenError::Other, device_);
        return fail(shell::fillIn(QStringLiteral("The port %1%2 cannot be opened: %3."),
                                  {device_, label_, systemText(error)}));
    };
    auto io = std::make_unique<Io>();
    if (!io->read.hEvent || !io->write.hEvent)
        return cannotOpen(GetLastError());
    const QString path =
        device_.startsWith(QLatin1String("\\\\")) ? device_ : QStringLiteral("\\\\.\\") + device_;
    io->port =
        CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_READ | GENERIC_WRITE, 0,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (io->port == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            setOpenError(OpenError::Missing, device_);
            return fail(shell::fillIn(
                QStringLiteral("The port %1%2 does not exist. Check that the serial adapter is "
                               "plugged in and which COM number Windows gave it (Device Manager, "
                               "Ports)."),
                {device_, label_}));
        }
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
            setOpenError(OpenError::Busy, device_);
            return fail(
                shell::fillIn(QStringLiteral("The port %1%2 is busy: another program is using "
                                             "it. Close that program and try again (%3)."),
                              {device_, label_, systemText(error)}));
        }
        return cannotOpen(error);
    }
    if (const DWORD error = configure(io->port, *settings()); error != ERROR_SUCCESS)
        return cannotOpen(error);

    system_->io = std::move(io);
    received_.clear();
    // A read that ends at once signals its event, so the notifier takes it.
    system_->readDone.setHandle(system_->io->read.hEvent);
    if (const DWORD error = system_->io->startRead(); error != ERROR_SUCCESS) {
        system_->shutDown();
        return cannotOpen(error);
    }
    system_->readDone.setEnabled(true);
    setOpenError(OpenError::None, {});
    clearError();
    return true;
}

void DevicePort::close() {
    dropOpen();
    ++system_->generation;
    system_->shutDown();
}

bool DevicePort::isOpen() const {
    return system_->io != nullptr;
}

// The overlapped read stays under way, watched or not: it is what wakes the
// event loop when bytes come.
void DevicePort::setWatching(bool) {}

QByteArray DevicePort::readAll() {
    if (!system_->io)
        return {};
    bool fresh = false;
    const DWORD error = system_->pump(fresh);
    QByteArray data;
    data.swap(received_);
    if (error != ERROR_SUCCESS)
        system_->queueLost(system_->goneAway(error));
    return data;
}

bool DevicePort::write(const QByteArray& bytes) {
    if (!system_->io)
        return fail(QStringLiteral("The port is not open."));
    Io& io = *system_->io;
    if (const DWORD error = std::exchange(io.failed, 0); error != ERROR_SUCCESS)
        return system_->writeFailed(error);
    // One write at a time: what comes meanwhile follows it, unless more than
    // kMaxUnsent would be waiting.
    if (io.writing) {
        if (io.unsent.size() + io.queued.size() + bytes.size() > kMaxUnsent)
            return fail(QStringLiteral("Writing to %1 failed.").arg(device_));
        io.queued += bytes;
        return true;
    }
    if (bytes.isEmpty())
        return true;
    if (const DWORD error = system_->startWrite(bytes); error != ERROR_SUCCESS)
        return system_->writeFailed(error);
    return true;
}

} // namespace kt::link
