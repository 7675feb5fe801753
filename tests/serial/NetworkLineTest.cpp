// The Telnet side of the RFC 2217 line, without a server: what the decoder makes of the bytes a
// com port server sends, however the reads cut them, and what it answers.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "serial/NetworkLine.h"

namespace tarvex {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace telnet;

constexpr std::uint8_t kEcho = 1;
constexpr std::uint8_t kUnknown = 99;

Bytes Cmd(std::uint8_t verb, std::uint8_t option) {
    return {kIac, verb, option};
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// The server's answer to a COM-PORT-OPTION command, as it goes on the wire.
Bytes Answer(std::uint8_t command, const Bytes& value) {
    Bytes out;
    AppendComPort(static_cast<std::uint8_t>(command + kServerOffset), value, out);
    return out;
}

struct Fed {
    Bytes data;
    Bytes reply;
};

// The decoder as the line opens it: WILL and DO binary and no go-ahead, WILL com port; what
// that sent is not part of any case.
Decoder Opened() {
    Decoder d;
    Bytes sent;
    for (const std::uint8_t o : {kBinary, kSuppressGoAhead}) {
        d.Offer(o, sent);
        d.Ask(o, sent);
    }
    d.Offer(kComPortOption, sent);
    return d;
}

Fed Feed(Decoder& d, const Bytes& in) {
    Fed f;
    d.Feed(in.data(), in.size(), f.data, f.reply);
    return f;
}

// A stream with a bit of everything a session brings: data with IAC and CR NUL in it,
// negotiation, answers whose values hold a 255, a modem state notification in between.
const Bytes kSession = Cat({
    Cmd(kDo, kBinary),
    Cmd(kWill, kBinary),
    Cmd(kDo, kComPortOption),
    {0x51, kIac, kIac, 0x0D, 0x00, 0x0D, 0x0A},
    Answer(kSetBaudRate, {0x00, 0x01, 0xFF, 0xFF}),
    Answer(kNotifyModemState, {0x30}),
    Cmd(kDo, kEcho),
    Answer(kSetParity, {kIac}),
    {kIac, kIac},
    {0x00, kIac, 241, 0x07},  // a NOP in the data
});
const Bytes kSessionData = {0x51, kIac, 0x0D, 0x00, 0x0D, 0x0A, kIac, 0x00, 0x07};
const Bytes kSessionReply = Cmd(kWont, kEcho);

void ExpectSessionDecoded(Decoder& d, const Fed& f, const std::string& how) {
    EXPECT_EQ(f.data, kSessionData) << how;
    EXPECT_EQ(f.reply, kSessionReply) << how;
    EXPECT_EQ(d.ServerDoes(kComPortOption), true) << how;
    EXPECT_EQ(d.TakeAnswer(kSetBaudRate), (Bytes{0x00, 0x01, 0xFF, 0xFF})) << how;
    EXPECT_EQ(d.TakeAnswer(kSetParity), (Bytes{kIac})) << how;
    EXPECT_EQ(d.TakeAnswer(kNotifyModemState), std::nullopt) << how;
    EXPECT_FALSE(d.TakeLineError()) << how;
}

TEST(TelnetDecoder, ASessionDecodesTheSameHoweverTheReadsCutIt) {
    {
        Decoder d = Opened();
        ExpectSessionDecoded(d, Feed(d, kSession), "in one read");
    }
    {
        Decoder d = Opened();
        Fed all;
        for (const std::uint8_t b : kSession) {
            const Fed f = Feed(d, {b});
            all.data.insert(all.data.end(), f.data.begin(), f.data.end());
            all.reply.insert(all.reply.end(), f.reply.begin(), f.reply.end());
        }
        ExpectSessionDecoded(d, all, "a byte a read");
    }
    for (std::size_t cut = 1; cut < kSession.size(); ++cut) {
        Decoder d = Opened();
        Fed first = Feed(d, Bytes(kSession.begin(), kSession.begin() + cut));
        const Fed second = Feed(d, Bytes(kSession.begin() + cut, kSession.end()));
        first.data.insert(first.data.end(), second.data.begin(), second.data.end());
        first.reply.insert(first.reply.end(), second.reply.begin(), second.reply.end());
        ExpectSessionDecoded(d, first, "cut after byte " + std::to_string(cut));
    }
}

// An answer that a read ends inside is not taken, and no byte of it is data, until its SE.
TEST(TelnetDecoder, AnAnswerWithoutItsEndIsHeldUntilTheNextRead) {
    Decoder d = Opened();
    const Bytes answer = Answer(kSetBaudRate, {0x00, 0x01, 0xC2, 0x00});
    const Fed head = Feed(d, Bytes(answer.begin(), answer.end() - 2));  // all but IAC SE
    EXPECT_TRUE(head.data.empty());
    EXPECT_EQ(d.TakeAnswer(kSetBaudRate), std::nullopt);
    const Fed tail = Feed(d, Cat({{kIac, kSe}, {0x41}}));
    EXPECT_EQ(tail.data, Bytes{0x41});
    EXPECT_EQ(d.TakeAnswer(kSetBaudRate), (Bytes{0x00, 0x01, 0xC2, 0x00}));
    EXPECT_EQ(d.TakeAnswer(kSetBaudRate), std::nullopt) << "an answer is taken once";
}

// A server that sends an answer longer than any real one (or never ends it) is not kept in
// memory: the answer is dropped at its end, and the data after it decodes as usual.
TEST(TelnetDecoder, AnOverlongAnswerIsDroppedAndTheDataAfterItKept) {
    Decoder d = Opened();
    Bytes value(1 << 20, 0x01);
    value.insert(value.begin(), {0x00, 0x01, 0xC2, 0x00});
    const Fed f = Feed(d, Cat({Answer(kSetBaudRate, value), {0x41, 0x42}}));
    EXPECT_EQ(f.data, (Bytes{0x41, 0x42}));
    EXPECT_EQ(d.TakeAnswer(kSetBaudRate), std::nullopt);
    // The next answer of a usual size is taken again.
    Feed(d, Answer(kSetBaudRate, {0x00, 0x01, 0xC2, 0x00}));
    EXPECT_EQ(d.TakeAnswer(kSetBaudRate), (Bytes{0x00, 0x01, 0xC2, 0x00}));
}

// What the server's negotiation gets back, from the state the line's opening leaves. No
// answer to an answer, and none to a request that changes nothing: otherwise two ends that
// both answer everything send the same pair to and fro for ever.
TEST(TelnetDecoder, NegotiationIsAnsweredOnlyWhenItChangesSomething) {
    struct Case {
        const char* what;
        Bytes in;
        Bytes reply;
        std::optional<bool> comPort;  // ServerDoes(kComPortOption) afterwards
    };
    const Case cases[] = {
        {"our offers accepted",
         Cat({Cmd(kDo, kBinary), Cmd(kWill, kBinary), Cmd(kDo, kComPortOption)}),
         {},
         true},
        {"our com port offer refused", Cmd(kDont, kComPortOption), {}, false},
        {"our binary request refused", Cmd(kWont, kBinary), {}, std::nullopt},
        {"an unknown option asked of us", Cmd(kDo, kUnknown), Cmd(kWont, kUnknown), std::nullopt},
        {"an unknown option offered", Cmd(kWill, kUnknown), Cmd(kDont, kUnknown), std::nullopt},
        {"the server's echo offered", Cmd(kWill, kEcho), Cmd(kDont, kEcho), std::nullopt},
        {"asked again after a refusal", Cat({Cmd(kDo, kUnknown), Cmd(kDo, kUnknown)}),
         Cat({Cmd(kWont, kUnknown), Cmd(kWont, kUnknown)}), std::nullopt},
        {"off what was never on", Cat({Cmd(kDont, kUnknown), Cmd(kWont, kEcho)}), {}, std::nullopt},
        {"an agreed option turned off", Cat({Cmd(kDo, kComPortOption), Cmd(kDont, kComPortOption)}),
         Cmd(kWont, kComPortOption), false},
        {"the server's binary turned off", Cat({Cmd(kWill, kBinary), Cmd(kWont, kBinary)}),
         Cmd(kDont, kBinary), std::nullopt},
        {"an agreed option asked again",
         Cat({Cmd(kDo, kBinary), Cmd(kDo, kBinary)}),
         {},
         std::nullopt},
    };
    for (const Case& c : cases) {
        Decoder d = Opened();
        const Fed f = Feed(d, c.in);
        EXPECT_EQ(f.reply, c.reply) << c.what;
        EXPECT_TRUE(f.data.empty()) << c.what;
        EXPECT_EQ(d.ServerDoes(kComPortOption), c.comPort) << c.what;
    }
}

// A server that opens the negotiation itself, before this end has said anything.
TEST(TelnetDecoder, AServerThatAsksFirstIsAgreedWithOnWhatTheLineWants) {
    Decoder d;
    const Fed f = Feed(d, Cat({Cmd(kDo, kBinary), Cmd(kWill, kSuppressGoAhead),
                               Cmd(kDo, kComPortOption), Cmd(kWill, kComPortOption)}));
    EXPECT_EQ(f.reply, Cat({Cmd(kWill, kBinary), Cmd(kDo, kSuppressGoAhead),
                            Cmd(kWill, kComPortOption), Cmd(kDont, kComPortOption)}));
    EXPECT_EQ(d.ServerDoes(kComPortOption), true);
    Bytes sent;
    d.Offer(kBinary, sent);
    d.Ask(kSuppressGoAhead, sent);
    EXPECT_TRUE(sent.empty()) << "an option already agreed is not asked for again";
}

TEST(TelnetDecoder, ALineStateWithAnErrorIsALineErrorOnce) {
    struct Case {
        std::uint8_t state;
        bool error;
    };
    // Data ready, overrun, parity, framing, break, holding and shift register empty, time-out.
    const Case cases[] = {{0x01, false}, {0x02, true},  {0x04, true}, {0x08, true},
                          {0x10, true},  {0x60, false}, {0x80, false}};
    for (const Case& c : cases) {
        Decoder d = Opened();
        const Fed f = Feed(d, Answer(kNotifyLineState, {c.state}));
        EXPECT_TRUE(f.data.empty());
        EXPECT_EQ(d.TakeLineError(), c.error) << int(c.state);
        EXPECT_FALSE(d.TakeLineError()) << int(c.state);
        EXPECT_EQ(d.TakeAnswer(kNotifyLineState), std::nullopt) << int(c.state);
    }
}

// What this end sends: data and values with every 255 doubled, so that the server's decoder
// cannot take a data byte for a command.
TEST(TelnetEncoder, EveryIacInDataAndValuesIsDoubled) {
    Bytes out;
    const Bytes data = {0x01, kIac, kIac, 0x02};
    AppendEscaped(data.data(), data.size(), out);
    EXPECT_EQ(out, (Bytes{0x01, kIac, kIac, kIac, kIac, 0x02}));
    out.clear();
    AppendComPort(kSetBaudRate, {0x00, 0x00, 0x00, kIac}, out);
    EXPECT_EQ(out, (Bytes{kIac, kSb, kComPortOption, kSetBaudRate, 0x00, 0x00, 0x00, kIac, kIac,
                          kIac, kSe}));
    // And back through a decoder, as the server's answer would come.
    Decoder d = Opened();
    const Fed f = Feed(d, Answer(kSetControl, {kIac, kSe, kIac}));
    EXPECT_TRUE(f.data.empty());
    EXPECT_EQ(d.TakeAnswer(kSetControl), (Bytes{kIac, kSe, kIac}));
}

}  // namespace
}  // namespace tarvex
