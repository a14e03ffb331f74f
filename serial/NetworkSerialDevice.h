// The serial-device interface over a serial server on the network: RFC 2217 (Telnet with the
// COM port control option), where the server sets its line as told, or raw TCP, where the
// line is as the server set it. Platform-free: it talks through a TcpStream, and keeps time
// on the stream's clock.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "serial/NetworkPortName.h"
#include "serial/SerialDevice.h"
#include "serial/TcpStream.h"
#include "serial/TelnetCodec.h"

namespace tarvok {

// The codes of this device's own failures, as LastError gives them. Bit 29 marks a code an
// application defines on Windows, and lies far above any errno, so that no system code is
// mistaken for one of these.
inline constexpr uint32_t kNetworkErrorBase = 0x2A170000;
// The server refused the COM port option: data flows, the line cannot be set.
inline constexpr uint32_t kNetworkErrorNoComPortOption = kNetworkErrorBase + 1;
// The server did not acknowledge a setting or a purge in time (or not yet the option).
inline constexpr uint32_t kNetworkErrorNoAcknowledgement = kNetworkErrorBase + 2;
// A raw TCP connection cannot change the line's settings (the server's line is fixed).
inline constexpr uint32_t kNetworkErrorFixedLine = kNetworkErrorBase + 3;
// The server has not told the modem lines (or cannot: raw TCP).
inline constexpr uint32_t kNetworkErrorNoModemState = kNetworkErrorBase + 4;
// Written bytes were not taken by the server within the drain's deadline.
inline constexpr uint32_t kNetworkErrorDrainTimedOut = kNetworkErrorBase + 5;

// A COM port command with its value.
using ComPortCommandValue = std::pair<ComPortCommand, std::vector<uint8_t>>;

class NetworkSerialDevice : public SerialDevice, private TelnetSink {
 public:
  // Over an open connection; for RFC 2217 the option negotiation starts at once and goes on
  // in the background of every call.
  NetworkSerialDevice(std::unique_ptr<TcpStream> stream, NetworkScheme scheme);
  ~NetworkSerialDevice() override;
  NetworkSerialDevice(const NetworkSerialDevice&) = delete;
  NetworkSerialDevice& operator=(const NetworkSerialDevice&) = delete;

  // How long the server has to acknowledge a setting or a purge.
  static constexpr int64_t kAcknowledgementWaitUs = 3'000'000;
  // How long the first look at the modem lines waits for the server to tell them.
  static constexpr int64_t kFirstModemStateWaitUs = 1'000'000;

  // How the server has answered the offer of the COM port option so far, waiting for its
  // answer up to `waitUs`: kAnswered (taken or refused: the server speaks Telnet), kSilent (no
  // word in that time), kGone (it closed the connection).
  enum class ServerWord : uint8_t { kAnswered, kSilent, kGone };
  ServerWord AwaitServer(int64_t waitUs);

  bool GetLineSettings(LineSettings& settings) override;
  bool SetLineSettings(const LineSettings& settings) override;
  bool ReadBackLineSettings(LineSettings& settings) override;
  bool SetQueueSizes(uint32_t inputBytes, uint32_t outputBytes) override;
  bool SetTimeouts(const Timeouts& timeouts) override;
  bool ClearError(CommStatus& status) override;
  bool ClearBreak() override;
  bool GetModemStatus(uint32_t& lines) override;
  bool Purge(uint32_t actions) override;
  bool Write(const uint8_t* data, uint32_t length, uint32_t& accepted) override;
  bool Read(uint8_t* buffer, uint32_t length, uint32_t& received) override;
  DrainResult Drain() override;
  void Sleep(uint32_t ms) override;
  uint64_t ClockMs() const override;
  uint32_t LastError() const override { return lastError_; }
  uint32_t RoundTripMs() const override { return roundTripMs_; }
  void Close() override;

 private:
  // The negotiation state of one option on one side (RFC 1143, without the queue).
  enum class OptionState : uint8_t { kNo, kYes, kWantYes };

  void OnData(const uint8_t* data, size_t length) override;
  void OnNegotiation(uint8_t verb, uint8_t option) override;
  void OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload) override;
  void OnComPortReply(ComPortCommand command, const std::vector<uint8_t>& value);

  bool Fail(uint32_t error);
  bool FailGone();
  // Sends what is left of earlier sends, as far as it goes until `deadlineUs`; false once the
  // connection is gone.
  bool FlushBacklog(int64_t deadlineUs);
  // Sends bytes that must all go (commands, answers); what does not go by `deadlineUs` goes
  // first thing later, so that nothing is ever cut. True when all went.
  bool SendAll(const std::vector<uint8_t>& bytes, int64_t deadlineUs);
  // Takes and parses what arrives, waiting for it until `deadlineUs` (not at all once it has
  // passed); false once the connection is gone.
  bool Pump(int64_t deadlineUs, size_t& received);
  bool Pump(int64_t deadlineUs);
  // Takes and parses what has arrived already.
  bool PumpAvailable();
  // Sends `commands`, then the `unawaited` ones, and waits for the acknowledgements of
  // `commands`.
  bool Command(const std::vector<ComPortCommandValue>& commands,
               const std::vector<ComPortCommandValue>& unawaited = {});
  // Waits until the server agreed to or refused the COM port option: false (with the code)
  // when it refused, did not answer, or the connection is gone.
  bool ComPortAgreed(int64_t deadlineUs);
  bool SetRawTcpLine(const LineSettings& settings);
  void AddWireTime(uint32_t bytes);
  // Before a change of rate: the server has the bytes written so far, and they have left.
  bool SettleBeforeRateChange();
  size_t TakeInput(uint8_t* buffer, size_t length);
  size_t Available() const;
  void DiscardInput();

  std::unique_ptr<TcpStream> stream_;
  const NetworkScheme scheme_;
  TelnetParser parser_;
  std::array<OptionState, 256> ours_{};    // what we do (WILL/WONT)
  std::array<OptionState, 256> theirs_{};  // what the server does (DO/DONT from us)

  uint32_t lastError_ = 0;
  bool gone_ = false;
  uint32_t goneError_ = 0;
  Timeouts timeouts_;
  LineSettings line_;                    // as the host last set them
  LineSettings acknowledged_;            // as the server last said it uses them
  bool lineSetOnce_ = false;             // a first set sends every setting
  std::vector<uint8_t> input_;           // received data not yet read
  size_t inputStart_ = 0;                // where the unread data in input_ begins
  std::vector<ComPortCommand> awaited_;  // commands sent, not yet acknowledged
  bool purgeInputOnReply_ = false;       // discard input up to the purge's acknowledgement
  int64_t commandSentUs_ = 0;
  bool timingRoundTrip_ = false;
  uint32_t roundTripMs_ = 0;
  bool modemKnown_ = false;
  uint32_t modemLines_ = 0;
  uint32_t lineErrors_ = 0;
  int64_t wireBusyUntilUs_ = 0;  // when the server's UART will likely have sent all written
  int64_t lastWriteUs_ = 0;
  bool writtenSinceSettle_ = false;  // bytes written since the last settle before a rate change
  bool modemAwaited_ = false;        // the first look at the modem lines has waited for the server
  std::vector<uint8_t> backlog_;     // bytes that must go before anything else
};

}  // namespace tarvok
