// The telnet stream decoder and the RFC 2217 session fed what a device server might send, in
// chunks as the socket delivers them. The first four input bytes choose the chunk sizes
// (1..64, used in turn). Checked: cutting the stream differently changes neither the data nor
// the events; a subnegotiation never outgrows its limit; each event gets at most one 3-byte
// answer; and data doubled for the wire decodes back to itself with no event.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "rfc2217_session.h"
#include "telnet_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    std::size_t sizes[4];
    for (int i = 0; i < 4; ++i) {
        sizes[i] = 1 + data[i] % 64;
    }
    data += 4;
    size -= 4;

    telnet::Decoder whole;
    std::vector<std::uint8_t> wholeData;
    std::vector<telnet::Event> wholeEvents;
    whole.Feed(data, size, wholeData, wholeEvents);

    telnet::Decoder chunked;
    Rfc2217Session session;
    std::vector<std::uint8_t> chunkData;
    std::vector<telnet::Event> chunkEvents;
    std::vector<std::uint8_t> answers;
    session.Start(answers);
    std::size_t pos = 0;
    for (int turn = 0; pos < size; ++turn) {
        const std::size_t n = std::min(sizes[turn % 4], size - pos);
        const std::size_t before = chunkEvents.size();
        chunked.Feed(data + pos, n, chunkData, chunkEvents);
        pos += n;
        for (std::size_t i = before; i < chunkEvents.size(); ++i) {
            const telnet::Event& e = chunkEvents[i];
            if (e.payload.size() > telnet::Decoder::kPayloadLimit) {
                __builtin_trap();
            }
            answers.clear();
            session.Handle(e, answers);
            if (answers.size() > 3) {
                __builtin_trap();
            }
        }
        if (session.ComPortAccepted()) {
            answers.clear();
            session.SetLine(Rfc2217Session::LineSettings{}, answers);
        }
        (void)session.Settled();
        (void)session.LineConfirmed();
    }
    if (chunkData != wholeData || chunkEvents != wholeEvents) {
        __builtin_trap();
    }
    if (wholeData.size() > size) {
        __builtin_trap();
    }

    // What the client sends: the input as data, 0xFF doubled, read back by a fresh decoder.
    std::vector<std::uint8_t> wire;
    Rfc2217Session::AppendData(data, size, wire);
    telnet::Decoder back;
    std::vector<std::uint8_t> backData;
    std::vector<telnet::Event> backEvents;
    back.Feed(wire.data(), wire.size(), backData, backEvents);
    if (!backEvents.empty() || backData != std::vector<std::uint8_t>(data, data + size)) {
        __builtin_trap();
    }
    return 0;
}
