// The telnet stream decoder and the RFC 2217 client session, byte by byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rfc2217_session.h"
#include "telnet_decoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using telnet::Event;

Bytes B(std::initializer_list<int> v) { return Bytes(v.begin(), v.end()); }
Bytes S(const std::string& s) { return Bytes(s.begin(), s.end()); }
Event Neg(int verb, int option) {
    return {Event::Kind::Negotiation, std::uint8_t(verb), std::uint8_t(option), {}, false};
}
Event Sub(int option, Bytes payload, bool truncated = false) {
    return {Event::Kind::Subnegotiation, telnet::kSb, std::uint8_t(option), std::move(payload), truncated};
}

constexpr int IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254;

struct DecodeCase {
    const char* name;
    std::vector<Bytes> chunks;  // one Feed each
    Bytes data;
    std::vector<Event> events;
};

class Decode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, SplitsDataFromCommands) {
    telnet::Decoder decoder;
    Bytes data;
    std::vector<Event> events;
    for (const Bytes& chunk : GetParam().chunks) {
        decoder.Feed(chunk.data(), chunk.size(), data, events);
    }
    EXPECT_EQ(data, GetParam().data);
    EXPECT_EQ(events, GetParam().events);
}

const Bytes kLongSb = [] {
    Bytes b = B({IAC, SB, 44, 107});
    b.insert(b.end(), 100, 'x');
    b.insert(b.end(), {IAC, SE});
    return b;
}();

INSTANTIATE_TEST_SUITE_P(
    Cases, Decode,
    ::testing::Values(
        DecodeCase{"iac_iac_split", {B({'a', IAC}), B({IAC, 'b'})}, B({'a', 0xFF, 'b'}), {}},
        DecodeCase{"negotiation_split_three_ways", {B({'x', IAC}), B({WILL}), B({3, 'y'})}, S("xy"),
                   {Neg(WILL, 3)}},
        DecodeCase{"all_four_verbs", {B({IAC, WILL, 0, IAC, WONT, 1, IAC, DO, 3, IAC, DONT, 44, 's', '\r', '\n'})},
                   S("s\r\n"), {Neg(WILL, 0), Neg(WONT, 1), Neg(DO, 3), Neg(DONT, 44)}},
        DecodeCase{"other_commands_dropped", {B({'a', IAC, 241, 'b', IAC, 249, IAC, 246, 'c'})}, S("abc"), {}},
        DecodeCase{"stray_se_dropped", {B({'a', IAC, SE, 'b'})}, S("ab"), {}},
        DecodeCase{"subnegotiation", {B({'a', IAC, SB, 44, 101, 0, 1, 0xC2, 0, IAC, SE, 'b'})}, S("ab"),
                   {Sub(44, B({101, 0, 1, 0xC2, 0}))}},
        DecodeCase{"subnegotiation_split_with_escaped_ff",
                   {B({IAC}), B({SB}), B({44, 101, IAC}), B({IAC, 0, IAC}), B({SE, 'z'})}, S("z"),
                   {Sub(44, B({101, 0xFF, 0}))}},
        DecodeCase{"unterminated_subnegotiation_abandoned",
                   {B({IAC, SB, 44, 1, 2, IAC, WILL, 3, 'k'})}, S("k"), {Neg(WILL, 3)}},
        DecodeCase{"long_subnegotiation_cut", {kLongSb, S("ok")}, S("ok"),
                   {Sub(44, [] { Bytes p{107}; p.insert(p.end(), 63, 'x'); return p; }(), true)}}),
    [](const ::testing::TestParamInfo<DecodeCase>& p) { return std::string(p.param.name); });

// A session fed what a server sends; the answers it writes.
Bytes Answer(Rfc2217Session& session, const Bytes& fromServer) {
    telnet::Decoder decoder;
    Bytes data, out;
    std::vector<Event> events;
    decoder.Feed(fromServer.data(), fromServer.size(), data, events);
    for (const Event& e : events) {
        session.Handle(e, out);
    }
    return out;
}

TEST(Rfc2217Session, AgreesWithAServerThatOffersEverythingAndRefusesEcho) {
    Rfc2217Session session;
    Bytes out;
    session.Start(out);
    EXPECT_EQ(out, B({IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 3, IAC, DO, 3, IAC, WILL, 44}));
    EXPECT_FALSE(session.Settled());

    // ser2net's greeting, which also answers every request; then the same once more.
    const Bytes greeting =
        B({IAC, WILL, 3, IAC, DO, 3, IAC, WILL, 1, IAC, DONT, 1, IAC, DO, 0, IAC, WILL, 0, IAC, DO, 44});
    EXPECT_EQ(Answer(session, greeting), B({IAC, DONT, 1}));
    EXPECT_TRUE(session.Settled());
    EXPECT_TRUE(session.ComPortAccepted());
    EXPECT_EQ(Answer(session, greeting), B({IAC, DONT, 1}));  // requests in force are not answered

    // Unknown options are refused; an option switched off is acknowledged once.
    EXPECT_EQ(Answer(session, B({IAC, DO, 24, IAC, WILL, 31})), B({IAC, WONT, 24, IAC, DONT, 31}));
    EXPECT_EQ(Answer(session, B({IAC, DONT, 0, IAC, DONT, 0})), B({IAC, WONT, 0}));
}

TEST(Rfc2217Session, AServerRefusingEverythingSettlesWithoutTheComPort) {
    Rfc2217Session session;
    Bytes out;
    session.Start(out);
    EXPECT_EQ(Answer(session, B({IAC, WONT, 0, IAC, DONT, 0, IAC, WONT, 3, IAC, DONT, 3, IAC, DONT, 44})), Bytes{});
    EXPECT_TRUE(session.Settled());
    EXPECT_FALSE(session.ComPortAccepted());
}

TEST(Rfc2217Session, LineSettingsGoOutEscapedAndAreConfirmedWithoutSetControl) {
    Rfc2217Session session;
    Bytes out;
    session.SetLine(Rfc2217Session::LineSettings{}, out);
    EXPECT_EQ(out, B({IAC, SB, 44, 1, 0, 1, 0xC2, 0, IAC, SE, IAC, SB, 44, 2, 8, IAC, SE, IAC, SB, 44, 3, 1, IAC, SE,
                      IAC, SB, 44, 4, 1, IAC, SE, IAC, SB, 44, 5, 1, IAC, SE}));
    Rfc2217Session::LineSettings odd;
    odd.baud = 0xFF00;
    out.clear();
    session.SetLine(odd, out);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 11), B({IAC, SB, 44, 1, 0, 0, IAC, IAC, 0, IAC, SE}));

    EXPECT_FALSE(session.LineConfirmed());
    Answer(session, B({IAC, SB, 44, 101, 0, 0, IAC, IAC, 0, IAC, SE, IAC, SB, 44, 102, 8, IAC, SE, IAC, SB, 44, 103, 1,
                       IAC, SE}));
    EXPECT_FALSE(session.LineConfirmed());
    Answer(session, B({IAC, SB, 44, 104, 1, IAC, SE}));
    EXPECT_TRUE(session.LineConfirmed());
    EXPECT_EQ(session.LineDifference(), "");
}

// A server that answers with settings of its own keeps its line so: the open must say it.
TEST(Rfc2217Session, SettingsTheServerAnswersWithOtherThanAskedAreNamed) {
    const struct {
        Bytes answer;
        const char* difference;
    } cases[] = {
        {B({IAC, SB, 44, 101, 0, 1, 0xC2, 0, IAC, SE, IAC, SB, 44, 103, 1, IAC, SE}), ""},
        {B({IAC, SB, 44, 101, 0, 0, 0x25, 0x80, IAC, SE}), "9600 baud"},
        {B({IAC, SB, 44, 101, 0, 0, 0, 0, IAC, SE}), ""},  // 0: no value given
        {B({IAC, SB, 44, 102, 7, IAC, SE, IAC, SB, 44, 103, 3, IAC, SE, IAC, SB, 44, 104, 2, IAC, SE}),
         "7 data bits, even parity, 2 stop bits"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.difference);
        Rfc2217Session session;
        Bytes out;
        session.SetLine(Rfc2217Session::LineSettings{}, out);
        Answer(session, c.answer);
        EXPECT_EQ(session.LineDifference(), c.difference);
    }
}

}  // namespace
