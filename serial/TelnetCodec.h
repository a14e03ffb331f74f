// The Telnet byte stream (RFC 854) and the COM port control option (RFC 2217) it carries:
// the codes, the encoders for what a client sends, and a parser that splits what a server
// sends into data, option negotiation and subnegotiations, across any split of the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvok {

inline constexpr uint8_t kTelnetIac = 255;
inline constexpr uint8_t kTelnetDont = 254;
inline constexpr uint8_t kTelnetDo = 253;
inline constexpr uint8_t kTelnetWont = 252;
inline constexpr uint8_t kTelnetWill = 251;
inline constexpr uint8_t kTelnetSb = 250;
inline constexpr uint8_t kTelnetSe = 240;

inline constexpr uint8_t kOptionBinary = 0;
inline constexpr uint8_t kOptionEcho = 1;
inline constexpr uint8_t kOptionSuppressGoAhead = 3;
inline constexpr uint8_t kOptionComPort = 44;

// The client's commands of the COM port option; the server answers each with its code plus
// kComPortReplyOffset and the value it now uses.
enum class ComPortCommand : uint8_t {
  kSignature = 0,
  kSetBaudRate = 1,
  kSetDataSize = 2,
  kSetParity = 3,
  kSetStopSize = 4,
  kSetControl = 5,
  kNotifyLineState = 6,
  kNotifyModemState = 7,
  kFlowControlSuspend = 8,
  kFlowControlResume = 9,
  kSetLineStateMask = 10,
  kSetModemStateMask = 11,
  kPurgeData = 12,
};
inline constexpr uint8_t kComPortReplyOffset = 100;

// Values of SET-CONTROL.
inline constexpr uint8_t kControlNoFlowControl = 1;
inline constexpr uint8_t kControlDtrOn = 8;
inline constexpr uint8_t kControlDtrOff = 9;
inline constexpr uint8_t kControlRtsOn = 11;
inline constexpr uint8_t kControlRtsOff = 12;

// Values of PURGE-DATA.
inline constexpr uint8_t kPurgeServerReceive = 1;
inline constexpr uint8_t kPurgeServerTransmit = 2;
inline constexpr uint8_t kPurgeServerBoth = 3;

// Bits of NOTIFY-LINESTATE.
inline constexpr uint8_t kLineStateBreak = 0x10;
inline constexpr uint8_t kLineStateFraming = 0x08;
inline constexpr uint8_t kLineStateParity = 0x04;
inline constexpr uint8_t kLineStateOverrun = 0x02;

// Data as it goes on the stream: each 0xFF doubled.
void AppendTelnetData(std::vector<uint8_t>& out, const uint8_t* data, size_t length);
// IAC verb option.
void AppendTelnetCommand(std::vector<uint8_t>& out, uint8_t verb, uint8_t option);
// IAC SB COM-PORT-OPTION command value... IAC SE, 0xFF in the value doubled.
void AppendComPortCommand(std::vector<uint8_t>& out, ComPortCommand command,
                          const std::vector<uint8_t>& value);

// What the parser hands on, in the order it was on the stream.
class TelnetSink {
 public:
  virtual ~TelnetSink() = default;
  virtual void OnData(const uint8_t* data, size_t length) = 0;
  // DO, DONT, WILL or WONT for `option`.
  virtual void OnNegotiation(uint8_t verb, uint8_t option) = 0;
  // A whole subnegotiation; `payload` follows the option byte, 0xFF undoubled.
  virtual void OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload) = 0;
};

class TelnetParser {
 public:
  // Parses the next piece of the stream; a command or subnegotiation cut off at its end is
  // finished by the next piece.
  void Feed(const uint8_t* bytes, size_t length, TelnetSink& sink);

 private:
  enum class State { kData, kIac, kVerb, kSubOption, kSub, kSubIac };
  // A byte inside a subnegotiation; false when it starts a command to be taken again.
  bool FeedSubnegotiation(uint8_t b, TelnetSink& sink);
  // A longer subnegotiation than any the COM port option has is dropped, not collected.
  static constexpr size_t kMaxPayload = 64;

  State state_ = State::kData;
  uint8_t verb_ = 0;
  uint8_t subOption_ = 0;
  bool subTooLong_ = false;
  std::vector<uint8_t> payload_;
};

}  // namespace tarvok
