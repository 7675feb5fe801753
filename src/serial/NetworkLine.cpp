// The network lines: raw TCP, and RFC 2217 over the Telnet protocol (RFC 854 and 855, the
// option negotiation kept as RFC 1143 advises).
#include "serial/NetworkLine.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "platform/Text.h"
#include "serial/NetSocket.h"

namespace tarvex {
namespace telnet {

void AppendEscaped(const std::uint8_t* data, std::size_t length, std::vector<std::uint8_t>& out) {
    out.reserve(out.size() + length + 8);
    for (std::size_t i = 0; i < length; ++i) {
        out.push_back(data[i]);
        if (data[i] == kIac) {
            out.push_back(kIac);
        }
    }
}

void AppendComPort(std::uint8_t command, const std::vector<std::uint8_t>& value,
                   std::vector<std::uint8_t>& out) {
    const std::uint8_t head[] = {kIac, kSb, kComPortOption};
    out.insert(out.end(), std::begin(head), std::end(head));
    AppendEscaped(&command, 1, out);
    AppendEscaped(value.data(), value.size(), out);
    out.push_back(kIac);
    out.push_back(kSe);
}

namespace {

// What this client agrees to: binary transmission both ways (so that CR and IAC are data like
// any other byte), no go-ahead, and on its own side the com port option. Everything else (the
// server's echo, say) is declined.
bool WeWant(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
}
bool TheyMay(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead;
}

void Send3(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& out) {
    out.push_back(kIac);
    out.push_back(verb);
    out.push_back(option);
}

}  // namespace

void Decoder::Offer(std::uint8_t option, std::vector<std::uint8_t>& out) {
    Option& state = us_[option];
    if (state == Option::No) {
        state = Option::WantYes;
        Send3(kWill, option, out);
    }
}

void Decoder::Ask(std::uint8_t option, std::vector<std::uint8_t>& out) {
    Option& state = him_[option];
    if (state == Option::No) {
        state = Option::WantYes;
        Send3(kDo, option, out);
    }
}

std::optional<bool> Decoder::ServerDoes(std::uint8_t option) const {
    const auto it = us_.find(option);
    if (it == us_.end() || it->second == Option::WantYes) {
        return std::nullopt;
    }
    return it->second == Option::Yes;
}

std::optional<std::vector<std::uint8_t>> Decoder::TakeAnswer(std::uint8_t command) {
    const auto it = answers_.find(command);
    if (it == answers_.end()) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> value = std::move(it->second);
    answers_.erase(it);
    return value;
}

bool Decoder::TakeLineError() {
    return std::exchange(lineError_, false);
}

void Decoder::Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& reply) {
    // RFC 1143 without the queue bits (this end never changes its mind): a request that would
    // change the state is agreed to or refused; one that would not is not answered; and the
    // server's answer to a request of this end's settles it without a word back.
    const bool enable = verb == kDo || verb == kWill;
    const bool ours = verb == kDo || verb == kDont;
    std::map<std::uint8_t, Option>& side = ours ? us_ : him_;
    const auto it = side.find(option);
    const Option state = it == side.end() ? Option::No : it->second;
    const std::uint8_t yes = ours ? kWill : kDo;
    const std::uint8_t no = ours ? kWont : kDont;
    switch (state) {
        case Option::No:
            if (enable) {
                if (ours ? WeWant(option) : TheyMay(option)) {
                    side[option] = Option::Yes;
                    Send3(yes, option, reply);
                } else {
                    Send3(no, option, reply);
                }
            }
            break;
        case Option::WantYes:
            side[option] = enable ? Option::Yes : Option::No;
            break;
        case Option::Yes:
            if (!enable) {
                side[option] = Option::No;
                Send3(no, option, reply);
            }
            break;
    }
}

void Decoder::KeepSb(std::uint8_t b) {
    if (sb_.size() < kMaxSubnegotiation) {
        sb_.push_back(b);
    } else {
        sbTooLong_ = true;
    }
}

void Decoder::Subnegotiation() {
    if (sbTooLong_) {
        return;  // cut short while it came: no value of it can be trusted
    }
    if (sb_.size() < 2 || sb_[0] != kComPortOption || sb_[1] < kServerOffset) {
        return;  // another option's, or a request of the server's own: nothing to answer
    }
    const auto command = static_cast<std::uint8_t>(sb_[1] - kServerOffset);
    std::vector<std::uint8_t> value(sb_.begin() + 2, sb_.end());
    if (command == kNotifyLineState) {
        // Overrun, parity, framing error and break detected.
        constexpr std::uint8_t kErrors = 0x02 | 0x04 | 0x08 | 0x10;
        if (!value.empty() && (value[0] & kErrors) != 0) {
            lineError_ = true;
        }
        return;
    }
    if (command == kNotifyModemState) {
        return;  // the panel's modem lines mean nothing to the download
    }
    answers_[command] = std::move(value);
}

void Decoder::Feed(const std::uint8_t* in, std::size_t length, std::vector<std::uint8_t>& data,
                   std::vector<std::uint8_t>& reply) {
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t b = in[i];
        switch (state_) {
            case State::Data:
                if (b == kIac) {
                    state_ = State::Iac;
                } else {
                    data.push_back(b);
                }
                break;
            case State::Iac:
                if (b == kIac) {
                    data.push_back(b);
                    state_ = State::Data;
                } else if (b == kDo || b == kDont || b == kWill || b == kWont) {
                    verb_ = b;
                    state_ = State::Verb;
                } else if (b == kSb) {
                    sb_.clear();
                    sbTooLong_ = false;
                    state_ = State::Sb;
                } else {
                    state_ = State::Data;  // NOP, GA, a stray SE: nothing for a serial line
                }
                break;
            case State::Verb:
                Negotiate(verb_, b, reply);
                state_ = State::Data;
                break;
            case State::Sb:
                if (b == kIac) {
                    state_ = State::SbIac;
                } else {
                    KeepSb(b);
                }
                break;
            case State::SbIac:
                if (b == kSe) {
                    Subnegotiation();
                    state_ = State::Data;
                } else {
                    KeepSb(b);  // IAC IAC: a 255 in the value
                    state_ = State::Sb;
                }
                break;
        }
    }
}

}  // namespace telnet

bool IsNetworkPortName(std::string_view name) {
    const auto starts = [name](std::string_view scheme) {
        return name.size() >= scheme.size() &&
               EqualsIgnoringCase(name.substr(0, scheme.size()), scheme);
    };
    return starts("rfc2217://") || starts("socket://");
}

std::optional<NetworkPortName> ParseNetworkPortName(std::string_view name) {
    if (!IsNetworkPortName(name)) {
        return std::nullopt;
    }
    NetworkPortName parsed;
    parsed.rfc2217 = name[0] == 'r' || name[0] == 'R';
    std::string_view rest = name.substr(name.find("://") + 3);
    std::string_view host;
    std::string_view port;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            return std::nullopt;
        }
        host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
    } else {
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string_view::npos) {
            return std::nullopt;
        }
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        if (host.find(':') != std::string_view::npos) {
            return std::nullopt;  // an IPv6 address goes in brackets
        }
    }
    // A trailing slash or options after the port are not taken: better refused than ignored.
    if (host.empty() || port.empty() || port.size() > 5 ||
        host.find_first_of(" \t/?#@") != std::string_view::npos) {
        return std::nullopt;
    }
    unsigned long number = 0;
    for (const char c : port) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    if (number == 0 || number > 65535) {
        return std::nullopt;
    }
    parsed.host = std::string(host);
    parsed.port = static_cast<std::uint16_t>(number);
    return parsed;
}

namespace {

using Clock = LineClock;
using namespace telnet;

// How long the server may take to confirm the line settings.
constexpr auto kConfirmTime = std::chrono::seconds(kConnectDeadlineSeconds);
// How long a raw server is given to turn the connection away (ser2net closes at once when
// its device does not open).
constexpr auto kRawSettle = std::chrono::milliseconds(30);

std::vector<std::uint8_t> Be32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

class CNetworkLine final : public ISerialLine {
  public:
    SerialError Open(const std::string& path) override;
    bool IsOpen() const override { return socket_.IsOpen(); }
    SerialError ReadState() override { return IsOpen() ? SerialError::None : SerialError::NotOpen; }
    SerialError Configure(const LineSettings& settings) override;
    SerialError Write(const std::uint8_t* data, std::size_t length, const LineWait& wait,
                      std::size_t& written) override;
    SerialError Read(std::uint8_t* buffer, std::size_t length, const LineWait& wait,
                     std::size_t& received) override;
    SerialError Purge(LineQueue queue) override;
    SerialError SetModemLines(bool dtr, bool rts) override;
    // The server drives its own port; its RS-485 mode is its configuration.
    SerialError RequestRs485(bool /*hearOwnFrames*/) override { return SerialError::Rs485Remote; }
    bool LineErrorSeen() override { return decoder_.TakeLineError(); }
    void Close() override;

  private:
    NetSocket socket_;
    bool rfc2217_ = false;
    Decoder decoder_;
    std::vector<std::uint8_t> in_;  // data received and not yet read
    std::size_t inPos_ = 0;
    std::vector<std::uint8_t> out_;  // bytes for the server not yet sent
    std::size_t outPos_ = 0;

    // Sends what is queued; None with bytes left when `until` came first.
    SerialError Flush(std::optional<Clock::time_point> until);
    // Takes what the server sent (one receive, waiting until `until`) into in_.
    SerialError Take(std::optional<Clock::time_point> until, std::size_t& got);
    std::size_t Buffered() const { return in_.size() - inPos_; }
    SerialError AwaitAnswers(const std::vector<std::uint8_t>& commands,
                             std::map<std::uint8_t, std::vector<std::uint8_t>>& answers);
};

SerialError CNetworkLine::Open(const std::string& path) {
    Close();
    const std::optional<NetworkPortName> name = ParseNetworkPortName(path);
    if (!name) {
        return SerialError::BadName;
    }
    rfc2217_ = name->rfc2217;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(kConnectDeadlineSeconds);
    if (const SerialError e = socket_.Connect(name->host, name->port, deadline);
        e != SerialError::None) {
        return e;
    }
    SerialError e = SerialError::None;
    if (rfc2217_) {
        decoder_.Offer(kBinary, out_);
        decoder_.Ask(kBinary, out_);
        decoder_.Offer(kSuppressGoAhead, out_);
        decoder_.Ask(kSuppressGoAhead, out_);
        decoder_.Offer(kComPortOption, out_);
        e = Flush(deadline);
        while (e == SerialError::None && !decoder_.ServerDoes(kComPortOption)) {
            if (Clock::now() >= deadline) {
                e = SerialError::ConnectTimeout;
                break;
            }
            std::size_t got = 0;
            e = Take(deadline, got);
        }
        if (e == SerialError::None && !*decoder_.ServerDoes(kComPortOption)) {
            e = SerialError::Unsupported;  // a Telnet server, but no com port server
        }
    } else {
        std::size_t got = 0;
        e = Take(Clock::now() + kRawSettle, got);
    }
    if (e == SerialError::Disconnected) {
        e = SerialError::Refused;  // turned away before anything was sent: not opened
    }
    if (e != SerialError::None) {
        Close();
    }
    return e;
}

SerialError CNetworkLine::Flush(std::optional<Clock::time_point> until) {
    while (outPos_ < out_.size()) {
        std::size_t sent = 0;
        const SerialError e =
            socket_.Send(out_.data() + outPos_, out_.size() - outPos_, until, sent);
        if (e != SerialError::None) {
            return e;
        }
        if (sent == 0) {
            return SerialError::None;  // the time is up
        }
        outPos_ += sent;
    }
    out_.clear();
    outPos_ = 0;
    return SerialError::None;
}

SerialError CNetworkLine::Take(std::optional<Clock::time_point> until, std::size_t& got) {
    got = 0;
    std::uint8_t raw[4096];
    std::size_t n = 0;
    if (const SerialError e = socket_.Receive(raw, sizeof raw, until, n); e != SerialError::None) {
        return e;
    }
    if (inPos_ == in_.size()) {
        in_.clear();
        inPos_ = 0;
    }
    const std::size_t before = in_.size();
    if (rfc2217_) {
        std::vector<std::uint8_t> reply;
        decoder_.Feed(raw, n, in_, reply);
        if (!reply.empty()) {
            out_.insert(out_.end(), reply.begin(), reply.end());
            if (const SerialError e = Flush(until); e != SerialError::None) {
                return e;
            }
        }
    } else {
        in_.insert(in_.end(), raw, raw + n);
    }
    got = in_.size() - before;
    return SerialError::None;
}

SerialError CNetworkLine::AwaitAnswers(const std::vector<std::uint8_t>& commands,
                                       std::map<std::uint8_t, std::vector<std::uint8_t>>& answers) {
    const Clock::time_point deadline = Clock::now() + kConfirmTime;
    if (const SerialError e = Flush(deadline); e != SerialError::None) {
        return e;
    }
    for (;;) {
        for (const std::uint8_t c : commands) {
            if (!answers.count(c)) {
                if (std::optional<std::vector<std::uint8_t>> a = decoder_.TakeAnswer(c)) {
                    answers[c] = std::move(*a);
                }
            }
        }
        if (answers.size() == commands.size()) {
            return SerialError::None;
        }
        if (Clock::now() >= deadline) {
            return SerialError::Timeout;
        }
        std::size_t got = 0;
        if (const SerialError e = Take(deadline, got); e != SerialError::None) {
            return e;
        }
    }
}

SerialError CNetworkLine::Configure(const LineSettings& s) {
    if (!IsOpen()) {
        return SerialError::NotOpen;
    }
    if (!rfc2217_) {
        return SerialError::None;  // the server's own configuration holds
    }
    // RFC 2217's codes: parity 1 none, 2 odd, 3 even, 4 mark, 5 space; stop size 1 one,
    // 2 two, 3 one and a half.
    if (s.parityCode > 4 || s.stopBitsCode > 2 || s.dataBits < 5 || s.dataBits > 8 ||
        s.baudRate == 0) {
        return SerialError::Unsupported;
    }
    const std::uint8_t parity = static_cast<std::uint8_t>(s.parityCode + 1);
    constexpr std::uint8_t kStop[] = {1, 3, 2};
    const std::uint8_t stop = kStop[s.stopBitsCode];
    AppendComPort(kSetBaudRate, Be32(s.baudRate), out_);
    AppendComPort(kSetDataSize, {s.dataBits}, out_);
    AppendComPort(kSetParity, {parity}, out_);
    AppendComPort(kSetStopSize, {stop}, out_);
    // No flow control; no notifications of line and modem state, which the download does not
    // wait for (the server may send them all the same: they are read and set aside).
    AppendComPort(kSetControl, {1}, out_);
    AppendComPort(kSetControl, {9}, out_);   // DTR off
    AppendComPort(kSetControl, {12}, out_);  // RTS off
    AppendComPort(kSetLineStateMask, {0}, out_);
    AppendComPort(kSetModemStateMask, {0}, out_);
    std::map<std::uint8_t, std::vector<std::uint8_t>> answers;
    const SerialError e =
        AwaitAnswers({kSetBaudRate, kSetDataSize, kSetParity, kSetStopSize}, answers);
    if (e != SerialError::None) {
        return e;
    }
    const std::vector<std::uint8_t>& baud = answers[kSetBaudRate];
    if (baud != Be32(s.baudRate) ||
        answers[kSetDataSize] != std::vector<std::uint8_t>{s.dataBits} ||
        answers[kSetParity] != std::vector<std::uint8_t>{parity} ||
        answers[kSetStopSize] != std::vector<std::uint8_t>{stop}) {
        return SerialError::Unsupported;
    }
    (void)decoder_.TakeLineError();  // errors count from the new settings on
    return SerialError::None;
}

SerialError CNetworkLine::Write(const std::uint8_t* data, std::size_t length, const LineWait& wait,
                                std::size_t& written) {
    written = 0;
    if (!IsOpen()) {
        return SerialError::NotOpen;
    }
    // What an earlier write left goes first, so that the frame then goes out in one send.
    if (const SerialError e = Flush(wait.Until()); e != SerialError::None) {
        return e;
    }
    if (outPos_ < out_.size()) {
        return SerialError::None;
    }
    if (rfc2217_) {
        AppendEscaped(data, length, out_);
    } else {
        out_.assign(data, data + length);
    }
    // The block is the line's from here on: what the system does not take now goes with the
    // next write or read.
    written = length;
    return Flush(wait.Until());
}

SerialError CNetworkLine::Read(std::uint8_t* buffer, std::size_t length, const LineWait& wait,
                               std::size_t& received) {
    received = 0;
    if (!IsOpen()) {
        return SerialError::NotOpen;
    }
    if (const SerialError e = Flush(wait.Until()); e != SerialError::None) {
        return e;
    }
    if (Buffered() == 0) {
        std::size_t got = 0;
        if (const SerialError e = Take(wait.Until(), got); e != SerialError::None) {
            return e;
        }
    }
    received = std::min(length, Buffered());
    if (received == 0) {
        // Nothing came before the wait ended; the buffer may not even be allocated yet.
        return SerialError::None;
    }
    std::memcpy(buffer, in_.data() + inPos_, received);
    inPos_ += received;
    return SerialError::None;
}

SerialError CNetworkLine::Purge(LineQueue queue) {
    if (!IsOpen()) {
        return SerialError::NotOpen;
    }
    if (queue == LineQueue::Input) {
        // What is here already, and what the server still holds of the panel's bytes.
        for (;;) {
            std::size_t got = 0;
            const SerialError e = Take(Clock::now(), got);
            if (e != SerialError::None) {
                return e;
            }
            if (got == 0) {
                break;
            }
        }
        in_.clear();
        inPos_ = 0;
    } else {
        if (outPos_ < out_.size() && !rfc2217_) {
            out_.clear();
            outPos_ = 0;
        }
    }
    if (rfc2217_) {
        AppendComPort(kPurgeData, {static_cast<std::uint8_t>(queue == LineQueue::Input ? 1 : 2)},
                      out_);
        return Flush(Clock::now() + kConfirmTime);
    }
    return SerialError::None;
}

SerialError CNetworkLine::SetModemLines(bool dtr, bool rts) {
    if (!IsOpen()) {
        return SerialError::NotOpen;
    }
    if (!rfc2217_) {
        return SerialError::None;  // raw TCP carries no modem lines
    }
    AppendComPort(kSetControl, {static_cast<std::uint8_t>(dtr ? 8 : 9)}, out_);
    AppendComPort(kSetControl, {static_cast<std::uint8_t>(rts ? 11 : 12)}, out_);
    return Flush(Clock::now() + kConfirmTime);
}

void CNetworkLine::Close() {
    socket_.Close();
    decoder_ = Decoder{};
    in_.clear();
    inPos_ = 0;
    out_.clear();
    outPos_ = 0;
}

}  // namespace

std::unique_ptr<ISerialLine> MakeNetworkLine() {
    return std::make_unique<CNetworkLine>();
}

}  // namespace tarvex
