// Serial ports reached over the network: a device server's port as "rfc2217://HOST:PORT" (the
// Telnet Com Port Control option, RFC 2217) or "socket://HOST:PORT" (raw TCP).
//
// RFC 2217 carries the line settings: Configure asks for the baud rate, data bits, parity and
// stop bits and checks what the server confirms, so that a setting it will not take is an
// error (Unsupported) rather than a download at a speed nobody asked for. Purge and DTR/RTS go
// through the same option; the server is asked to send no line or modem state notifications,
// and those it sends anyway are read (a line state with an error counts as a line error).
// Over raw TCP the settings are the server's own configuration: Configure changes nothing.
//
// The connection has a deadline of its own (kConnectDeadlineSeconds), for the name lookup,
// the connect and, over RFC 2217, the server's answer to the option. A server that closes the
// connection before Configure is a port that did not open; afterwards it is a lost line
// (Disconnected), as an unplugged adapter is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/SerialLine.h"

namespace tarvex {

inline constexpr int kConnectDeadlineSeconds = 5;

struct NetworkPortName {
    bool rfc2217 = false;  // else raw TCP
    std::string host;      // a name or an address; an IPv6 address without its brackets
    std::uint16_t port = 0;
};

// True for a name with one of the two schemes, in any letter case, whatever follows.
bool IsNetworkPortName(std::string_view name);
// The parts of a network port name; none when it is no network name or a bad one (no host,
// a port number outside 1..65535, a bracket left open).
std::optional<NetworkPortName> ParseNetworkPortName(std::string_view name);

std::unique_ptr<ISerialLine> MakeNetworkLine();

namespace telnet {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;
inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPortOption = 44;

// COM-PORT-OPTION commands, client to server; the server answers each with the command + 100.
enum ComPortCommand : std::uint8_t {
    kSetBaudRate = 1,
    kSetDataSize = 2,
    kSetParity = 3,
    kSetStopSize = 4,
    kSetControl = 5,
    kNotifyLineState = 6,
    kNotifyModemState = 7,
    kSetLineStateMask = 10,
    kSetModemStateMask = 11,
    kPurgeData = 12,
};
inline constexpr std::uint8_t kServerOffset = 100;

// Appends data to out with every IAC doubled.
void AppendEscaped(const std::uint8_t* data, std::size_t length, std::vector<std::uint8_t>& out);
// Appends IAC SB COM-PORT-OPTION command value... IAC SE, the value escaped.
void AppendComPort(std::uint8_t command, const std::vector<std::uint8_t>& value,
                   std::vector<std::uint8_t>& out);

// The receiving side of a Telnet connection as a client of a com port server: splits what
// arrives into data and commands, keeps the state of the options (RFC 1143: a request is
// answered only when it would change the state, and the answer to one of this end's own
// requests is not answered again, so that two ends never loop) and the server's
// COM-PORT-OPTION answers. A command split across two reads is put together. Data is binary
// both ways: CR and NUL are bytes like any other.
class Decoder {
  public:
    // The options this end offers (WILL) and asks of the server (DO).
    void Offer(std::uint8_t option, std::vector<std::uint8_t>& out);
    void Ask(std::uint8_t option, std::vector<std::uint8_t>& out);

    // Data goes to `data`; answers to the server's negotiation go to `reply`.
    void Feed(const std::uint8_t* in, std::size_t length, std::vector<std::uint8_t>& data,
              std::vector<std::uint8_t>& reply);

    // The server's answer to an option this end offered: true when it agreed, false when it
    // refused or later turned it off, none while it has not answered.
    std::optional<bool> ServerDoes(std::uint8_t option) const;
    // The last answer to a COM-PORT-OPTION command (by the client's command number); taken
    // answers are forgotten.
    std::optional<std::vector<std::uint8_t>> TakeAnswer(std::uint8_t command);
    // A NOTIFY-LINESTATE with overrun, parity, framing or break since the last call.
    bool TakeLineError();

  private:
    enum class State { Data, Iac, Verb, Sb, SbIac };
    // An option's state on one side; an option not in a map is No.
    enum class Option { No, WantYes, Yes };
    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    // A subnegotiation's bytes so far. COM-PORT-OPTION values are a few bytes (a signature is
    // text, but short): a server that sends more, or never ends one, is not kept in memory;
    // the answer is dropped at its end.
    static constexpr std::size_t kMaxSubnegotiation = 512;
    std::vector<std::uint8_t> sb_;
    bool sbTooLong_ = false;
    std::map<std::uint8_t, Option> us_;   // options this end does
    std::map<std::uint8_t, Option> him_;  // options the server does
    std::map<std::uint8_t, std::vector<std::uint8_t>> answers_;
    bool lineError_ = false;

    void Negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& reply);
    void Subnegotiation();
    void KeepSb(std::uint8_t b);
};

}  // namespace telnet
}  // namespace tarvex
