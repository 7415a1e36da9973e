// Fuzz target for the reply check and the link's reply wait. The input
// gives a data field, how to damage the frame, noise around it and the
// chunks it arrives in; the harness builds the frame with its right CRC, so
// that the fuzzer gets past the check. An accepted reply must be a frame
// from the request's address whose CRC is right, and its data must be the
// data field of that frame.
#include "link/frame.h"
#include "link/link_transaction.h"
#include "sim/memory_port.h"
#include "support/quiet_views.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

// CRC-16/ARC bit by bit, independent of the tables.
QByteArray referenceCrc(const QByteArray& bytes) {
    std::uint16_t crc = 0;
    for (const char c : bytes) {
        crc ^= std::uint8_t(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
    }
    return QByteArray::number(crc, 16).toUpper().rightJustified(4, '0');
}

void checkAccepted(const kt::link::ReplyCheck& result, const QByteArray& request) {
    if (!result.accepted())
        return;
    const QByteArray& f = result.frame;
    check(f.size() >= 11 && f.front() == kt::link::ETX && f.back() == kt::link::CR);
    check(f.mid(1, 2) == request.mid(1, 2));
    check(f[f.size() - 6] == kt::link::EOT);
    check(f.mid(f.size() - 5, 4) == referenceCrc(f.left(f.size() - 5)));
    check(result.data == f.mid(5, f.size() - 11));
    check(!f.contains(kt::link::SO) && f.count(kt::link::CR) == 1);
    check(f.mid(3, 2) == request.mid(3, 2));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 4)
        return 0;
    const std::uint8_t flags = bytes[0];
    const std::uint8_t noise = bytes[1] % 16;
    const std::uint8_t chunkSeed = bytes[2];
    const QByteArray rest(reinterpret_cast<const char*>(bytes + 3), qsizetype(size - 3));
    const QByteArray data = rest.mid(noise);

    const QByteArray request = kt::link::buildRequestFrame("01DC");
    QByteArray body = kt::link::ETX + QByteArray(flags & 1 ? "02" : "01") + "DC" + data +
                      (flags & 2 ? 'X' : kt::link::EOT);
    QByteArray crc = kt::link::CRC16(body);
    if (flags & 4)
        crc = crc.toLower();
    if (flags & 8)
        crc[0] = crc[0] == '0' ? '1' : '0';
    const QByteArray stream = rest.left(noise) + body + crc + kt::link::CR;

    checkAccepted(kt::link::checkReply(stream, request), request);

    // The same bytes through the link, in chunks at fuzzer-chosen times.
    kt::sim::RecordStore store;
    kt::sim::VirtualController controller(store, {});
    kt::sim::VirtualClock clock;
    kt::sim::MemoryPort port(controller, clock);
    port.open();
    const kt::link::LineTimes times{.txDelayMs = 10, .rxDelayMs = 10, .rxTimeOutMs = 200};
    kt::test::QuietJobView view;
    kt::link::LinkTransaction link(port, clock, view, times);
    double at = 20;
    std::uint32_t state = chunkSeed * 2654435761u + 1;
    for (qsizetype pos = 0; pos < stream.size();) {
        state = state * 1103515245u + 12345u;
        const qsizetype length = 1 + qsizetype(state >> 16) % 24;
        const QByteArray piece = stream.mid(pos, length);
        clock.callAt(at, [&port, piece] { port.inject(piece); });
        at += (state >> 8) % 40;
        pos += length;
    }
    kt::link::TxResult result;
    bool reported = false;
    const auto pending = link.lsubTransaction("01DC", [&](const kt::link::TxResult& r) {
        check(!reported);
        reported = true;
        result = r;
    });
    clock.run([&] { return reported; });
    check(reported);
    check(link.errorCount() <= kt::link::LinkTransaction::kMaxTries);
    if (result.accepted())
        check(stream.contains(result.data));
    return 0;
}
