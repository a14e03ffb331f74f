#include "serial/NetworkSerialDevice.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "serial/LineTiming.h"

namespace tarvok {
namespace {

constexpr size_t kReceiveChunk = 4096;
// Chunks taken at most by one look at what has arrived, so that a server that never stops
// sending cannot hold a call.
constexpr int kMaxChunksAvailable = 64;
constexpr uint32_t kModemLines = kModemCts | kModemDsr | kModemRing | kModemDcd;

uint8_t ParityCode(uint8_t parity) {
  return parity <= kSpaceParity ? static_cast<uint8_t>(parity + 1) : 1;
}

uint8_t ParityOf(uint8_t code) {
  return code >= 1 && code <= 5 ? static_cast<uint8_t>(code - 1) : kNoParity;
}

uint8_t StopSizeCode(uint8_t stopBits) {
  return stopBits == kTwoStopBits ? 2 : stopBits == kOne5StopBits ? 3 : 1;
}

uint8_t StopBitsOf(uint8_t code) {
  return code == 2 ? kTwoStopBits : code == 3 ? kOne5StopBits : kOneStopBit;
}

std::vector<uint8_t> BigEndian32(uint32_t value) {
  return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
          static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

// The modem-control outputs the flag word asks for: ON when enabled, OFF when disabled,
// nothing for a handshake (which the server's line does not do here).
void AppendControl(std::vector<ComPortCommandValue>& commands, uint32_t flags, uint32_t mask,
                   uint32_t enable, uint8_t on, uint8_t off) {
  if ((flags & mask) == enable) {
    commands.push_back({ComPortCommand::kSetControl, {on}});
  } else if ((flags & mask) == 0) {
    commands.push_back({ComPortCommand::kSetControl, {off}});
  }
}

}  // namespace

NetworkSerialDevice::NetworkSerialDevice(std::unique_ptr<TcpStream> stream, NetworkScheme scheme)
    : stream_(std::move(stream)), scheme_(scheme) {
  line_.flags = kFlagBinary | kFlagDtrControlEnable | kFlagRtsControlEnable;
  acknowledged_ = line_;
  if (scheme_ != NetworkScheme::kRfc2217) {
    return;
  }
  // What common clients offer: binary both ways, no go-aheads, and the COM port option. The
  // answers come in the background of later calls; a server may refuse any of them.
  std::vector<uint8_t> offer;
  AppendTelnetCommand(offer, kTelnetWill, kOptionBinary);
  AppendTelnetCommand(offer, kTelnetDo, kOptionBinary);
  AppendTelnetCommand(offer, kTelnetDo, kOptionSuppressGoAhead);
  AppendTelnetCommand(offer, kTelnetWill, kOptionComPort);
  ours_[kOptionBinary] = OptionState::kWantYes;
  theirs_[kOptionBinary] = OptionState::kWantYes;
  theirs_[kOptionSuppressGoAhead] = OptionState::kWantYes;
  ours_[kOptionComPort] = OptionState::kWantYes;
  SendAll(offer, stream_->NowUs() + kAcknowledgementWaitUs);
}

NetworkSerialDevice::~NetworkSerialDevice() {
  Close();
}

void NetworkSerialDevice::Close() {
  if (stream_ != nullptr) {
    stream_->Close();
  }
}

bool NetworkSerialDevice::Fail(uint32_t error) {
  lastError_ = error;
  return false;
}

bool NetworkSerialDevice::FailGone() {
  return Fail(goneError_);
}

bool NetworkSerialDevice::FlushBacklog(int64_t deadlineUs) {
  if (backlog_.empty()) {
    return true;
  }
  size_t sent = 0;
  if (!stream_->Send(backlog_.data(), backlog_.size(), sent, deadlineUs)) {
    gone_ = true;
    goneError_ = stream_->LastError();
    return false;
  }
  backlog_.erase(backlog_.begin(), backlog_.begin() + static_cast<std::ptrdiff_t>(sent));
  return true;
}

bool NetworkSerialDevice::SendAll(const std::vector<uint8_t>& bytes, int64_t deadlineUs) {
  if (gone_ || !FlushBacklog(deadlineUs)) {
    return false;
  }
  if (!backlog_.empty()) {
    backlog_.insert(backlog_.end(), bytes.begin(), bytes.end());
    return false;
  }
  size_t sent = 0;
  if (!stream_->Send(bytes.data(), bytes.size(), sent, deadlineUs)) {
    gone_ = true;
    goneError_ = stream_->LastError();
    return false;
  }
  // What did not go in time still goes first later: a command is never cut.
  backlog_.insert(backlog_.end(), bytes.begin() + static_cast<std::ptrdiff_t>(sent), bytes.end());
  return backlog_.empty();
}

bool NetworkSerialDevice::Pump(int64_t deadlineUs, size_t& received) {
  received = 0;
  if (gone_) {
    return false;
  }
  uint8_t chunk[kReceiveChunk];
  if (!stream_->Receive(chunk, sizeof chunk, received, deadlineUs)) {
    gone_ = true;
    goneError_ = stream_->LastError();
    return false;
  }
  if (scheme_ == NetworkScheme::kRfc2217) {
    parser_.Feed(chunk, received, *this);
  } else {
    OnData(chunk, received);
  }
  return true;
}

bool NetworkSerialDevice::Pump(int64_t deadlineUs) {
  size_t received = 0;
  return Pump(deadlineUs, received);
}

bool NetworkSerialDevice::PumpAvailable() {
  size_t received = 0;
  for (int k = 0; k < kMaxChunksAvailable; ++k) {
    if (!Pump(stream_->NowUs(), received)) {
      return false;
    }
    if (received == 0) {
      break;
    }
  }
  return true;
}

void NetworkSerialDevice::OnData(const uint8_t* data, size_t length) {
  input_.insert(input_.end(), data, data + length);
}

size_t NetworkSerialDevice::Available() const {
  return input_.size() - inputStart_;
}

void NetworkSerialDevice::DiscardInput() {
  input_.clear();
  inputStart_ = 0;
}

size_t NetworkSerialDevice::TakeInput(uint8_t* buffer, size_t length) {
  const size_t count = std::min(length, Available());
  if (count > 0) {
    std::memcpy(buffer, input_.data() + inputStart_, count);
  }
  inputStart_ += count;
  if (inputStart_ == input_.size()) {
    DiscardInput();
  }
  return count;
}

// Option negotiation without loops: a request that would change nothing is not answered, an
// answer to our own request is not answered again, and a switch-off is acknowledged once.
void NetworkSerialDevice::OnNegotiation(uint8_t verb, uint8_t option) {
  const bool serverSide = verb == kTelnetWill || verb == kTelnetWont;
  const bool enable = verb == kTelnetWill || verb == kTelnetDo;
  OptionState& state = serverSide ? theirs_[option] : ours_[option];
  const bool welcome = serverSide ? option == kOptionBinary || option == kOptionSuppressGoAhead
                                  : option == kOptionBinary || option == kOptionSuppressGoAhead ||
                                        option == kOptionComPort;
  const uint8_t yes = serverSide ? kTelnetDo : kTelnetWill;
  const uint8_t no = serverSide ? kTelnetDont : kTelnetWont;
  std::vector<uint8_t> reply;
  if (enable) {
    if (state == OptionState::kYes) {
      return;
    }
    if (state == OptionState::kWantYes || welcome) {
      if (state == OptionState::kNo) {
        AppendTelnetCommand(reply, yes, option);
      }
      state = OptionState::kYes;
      if (!serverSide && option == kOptionComPort) {
        // Every change of CTS, DSR, RI and DCD is to be told.
        AppendComPortCommand(reply, ComPortCommand::kSetModemStateMask, {0xFF});
      }
    } else {
      AppendTelnetCommand(reply, no, option);
    }
  } else {
    if (state == OptionState::kNo) {
      return;
    }
    if (state == OptionState::kYes) {
      AppendTelnetCommand(reply, no, option);
    }
    state = OptionState::kNo;
  }
  SendAll(reply, stream_->NowUs() + kAcknowledgementWaitUs);
}

void NetworkSerialDevice::OnSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload) {
  // The server's own requests (codes below the reply offset) ask for nothing this client needs.
  if (option != kOptionComPort || payload.empty() || payload[0] < kComPortReplyOffset) {
    return;
  }
  const auto command = static_cast<ComPortCommand>(payload[0] - kComPortReplyOffset);
  OnComPortReply(command, std::vector<uint8_t>(payload.begin() + 1, payload.end()));
}

void NetworkSerialDevice::OnComPortReply(ComPortCommand command,
                                         const std::vector<uint8_t>& value) {
  const bool one = value.size() == 1;
  switch (command) {
    case ComPortCommand::kNotifyModemState:
      if (one) {
        modemLines_ = value[0] & kModemLines;
        modemKnown_ = true;
      }
      return;
    case ComPortCommand::kNotifyLineState:
      if (one) {
        lineErrors_ |= ((value[0] & kLineStateBreak) != 0 ? kErrorBreak : 0) |
                       ((value[0] & kLineStateFraming) != 0 ? kErrorFrame : 0) |
                       ((value[0] & kLineStateParity) != 0 ? kErrorParity : 0) |
                       ((value[0] & kLineStateOverrun) != 0 ? kErrorOverrun : 0);
      }
      return;
    case ComPortCommand::kSetBaudRate:
      if (value.size() == 4) {
        const uint32_t rate = uint32_t{value[0]} << 24 | uint32_t{value[1]} << 16 |
                              uint32_t{value[2]} << 8 | value[3];
        acknowledged_.baudRate = rate != 0 ? rate : acknowledged_.baudRate;
      }
      break;
    case ComPortCommand::kSetDataSize:
      acknowledged_.byteSize =
          one && value[0] >= 5 && value[0] <= 8 ? value[0] : acknowledged_.byteSize;
      break;
    case ComPortCommand::kSetParity:
      acknowledged_.parity = one ? ParityOf(value[0]) : acknowledged_.parity;
      break;
    case ComPortCommand::kSetStopSize:
      acknowledged_.stopBits = one ? StopBitsOf(value[0]) : acknowledged_.stopBits;
      break;
    case ComPortCommand::kPurgeData:
      // The server sends in order: what came before the acknowledgement was received before
      // the purge.
      if (purgeInputOnReply_) {
        DiscardInput();
        purgeInputOnReply_ = false;
      }
      break;
    default:
      break;
  }
  const auto awaited = std::find(awaited_.begin(), awaited_.end(), command);
  if (awaited == awaited_.end()) {
    return;
  }
  awaited_.erase(awaited);
  if (timingRoundTrip_) {
    // The server answers a setting at once: the first answer to a batch times the round trip.
    const int64_t us = stream_->NowUs() - commandSentUs_;
    roundTripMs_ = static_cast<uint32_t>(std::max<int64_t>(1, (us + 500) / 1000));
    timingRoundTrip_ = false;
  }
}

bool NetworkSerialDevice::Command(const std::vector<ComPortCommandValue>& commands,
                                  const std::vector<ComPortCommandValue>& unawaited) {
  // The awaited first: the server answers in order, so that an answer to an unawaited command
  // of the same code can come only after theirs.
  std::vector<uint8_t> bytes;
  for (const auto& [command, value] : commands) {
    AppendComPortCommand(bytes, command, value);
    awaited_.push_back(command);
  }
  for (const auto& [command, value] : unawaited) {
    AppendComPortCommand(bytes, command, value);
  }
  commandSentUs_ = stream_->NowUs();
  timingRoundTrip_ = true;
  const int64_t deadline = commandSentUs_ + kAcknowledgementWaitUs;
  if (!SendAll(bytes, deadline) && gone_) {
    return FailGone();
  }
  while (!awaited_.empty()) {
    if (stream_->NowUs() >= deadline) {
      awaited_.clear();
      timingRoundTrip_ = false;
      purgeInputOnReply_ = false;
      return Fail(kNetworkErrorNoAcknowledgement);
    }
    if (!FlushBacklog(deadline) || !Pump(deadline)) {
      return FailGone();
    }
  }
  return true;
}

bool NetworkSerialDevice::ComPortAgreed(int64_t deadlineUs) {
  while (ours_[kOptionComPort] == OptionState::kWantYes) {
    if (stream_->NowUs() >= deadlineUs) {
      return Fail(kNetworkErrorNoAcknowledgement);
    }
    if (!Pump(deadlineUs)) {
      return FailGone();
    }
  }
  return ours_[kOptionComPort] == OptionState::kYes || Fail(kNetworkErrorNoComPortOption);
}

NetworkSerialDevice::ServerWord NetworkSerialDevice::AwaitServer(int64_t waitUs) {
  const int64_t deadline = stream_->NowUs() + waitUs;
  while (scheme_ == NetworkScheme::kRfc2217 && ours_[kOptionComPort] == OptionState::kWantYes) {
    if (stream_->NowUs() >= deadline) {
      return ServerWord::kSilent;
    }
    if (!Pump(deadline)) {
      return ServerWord::kGone;
    }
  }
  return ServerWord::kAnswered;
}

bool NetworkSerialDevice::GetLineSettings(LineSettings& settings) {
  settings = line_;
  return true;
}

bool NetworkSerialDevice::SetLineSettings(const LineSettings& settings) {
  if (gone_) {
    return FailGone();
  }
  if (scheme_ == NetworkScheme::kRawTcp) {
    return SetRawTcpLine(settings);
  }
  if (!ComPortAgreed(stream_->NowUs() + kAcknowledgementWaitUs)) {
    return false;
  }
  const bool all = !lineSetOnce_;
  if (settings.baudRate != line_.baudRate && !SettleBeforeRateChange()) {
    return false;
  }
  std::vector<ComPortCommandValue> commands;
  if ((all || settings.baudRate != line_.baudRate) && settings.baudRate != 0) {
    commands.push_back({ComPortCommand::kSetBaudRate, BigEndian32(settings.baudRate)});
  }
  if (all || settings.byteSize != line_.byteSize) {
    commands.push_back({ComPortCommand::kSetDataSize, {settings.byteSize}});
  }
  if (all || settings.parity != line_.parity) {
    commands.push_back({ComPortCommand::kSetParity, {ParityCode(settings.parity)}});
  }
  if (all || settings.stopBits != line_.stopBits) {
    commands.push_back({ComPortCommand::kSetStopSize, {StopSizeCode(settings.stopBits)}});
  }
  // DTR and RTS go last and are not waited for: a server whose line has no modem-control
  // outputs (a pseudo-terminal behind it) leaves them unanswered, as a local pseudo-terminal
  // ignores them.
  std::vector<ComPortCommandValue> lines;
  if (all || ((settings.flags ^ line_.flags) & kFlagDtrControlMask) != 0) {
    AppendControl(lines, settings.flags, kFlagDtrControlMask, kFlagDtrControlEnable, kControlDtrOn,
                  kControlDtrOff);
  }
  if (all || ((settings.flags ^ line_.flags) & kFlagRtsControlMask) != 0) {
    AppendControl(lines, settings.flags, kFlagRtsControlMask, kFlagRtsControlEnable, kControlRtsOn,
                  kControlRtsOff);
  }
  if (all) {
    commands.push_back({ComPortCommand::kSetControl, {kControlNoFlowControl}});
  }
  if ((!commands.empty() || !lines.empty()) && !Command(commands, lines)) {
    return false;
  }
  line_ = settings;
  lineSetOnce_ = true;
  return true;
}

// The server's line is fixed: the first set tells the rate it runs at, and only settings at
// that rate can be had.
bool NetworkSerialDevice::SetRawTcpLine(const LineSettings& settings) {
  if (lineSetOnce_ && settings.baudRate != line_.baudRate) {
    return Fail(kNetworkErrorFixedLine);
  }
  line_ = settings;
  acknowledged_ = settings;
  lineSetOnce_ = true;
  return true;
}

bool NetworkSerialDevice::ReadBackLineSettings(LineSettings& settings) {
  if (gone_) {
    return FailGone();
  }
  PumpAvailable();
  settings = acknowledged_;
  settings.flags = line_.flags;
  return true;
}

bool NetworkSerialDevice::SetQueueSizes(uint32_t, uint32_t) {
  return true;  // the sockets size their own buffers
}

bool NetworkSerialDevice::SetTimeouts(const Timeouts& timeouts) {
  timeouts_ = timeouts;
  return true;
}

bool NetworkSerialDevice::ClearError(CommStatus& status) {
  PumpAvailable();
  if (gone_ && Available() == 0) {
    return FailGone();
  }
  status.inputCount = static_cast<uint32_t>(Available());
  status.errors = lineErrors_;
  lineErrors_ = 0;
  return true;
}

bool NetworkSerialDevice::ClearBreak() {
  return true;  // no break is ever set
}

bool NetworkSerialDevice::GetModemStatus(uint32_t& lines) {
  if (scheme_ == NetworkScheme::kRawTcp) {
    return Fail(kNetworkErrorNoModemState);
  }
  if (!PumpAvailable()) {
    return FailGone();
  }
  // The server tells the lines once the option is agreed and then on every change: the first
  // look waits a moment for that first word, so that a station watching a line does not take
  // a server that has not spoken yet for one that never will.
  if (!modemKnown_ && !modemAwaited_ && ours_[kOptionComPort] != OptionState::kNo) {
    modemAwaited_ = true;
    const int64_t deadline = stream_->NowUs() + kFirstModemStateWaitUs;
    while (!modemKnown_ && ours_[kOptionComPort] != OptionState::kNo &&
           stream_->NowUs() < deadline) {
      if (!Pump(deadline)) {
        return FailGone();
      }
    }
  }
  if (!modemKnown_) {
    return Fail(kNetworkErrorNoModemState);
  }
  lines = modemLines_;
  return true;
}

bool NetworkSerialDevice::Purge(uint32_t actions) {
  const bool input = (actions & kPurgeRxClear) != 0;
  const bool output = (actions & kPurgeTxClear) != 0;
  if (gone_) {
    return FailGone();
  }
  if (input) {
    PumpAvailable();
    DiscardInput();
  }
  if (output) {
    // Whatever the server still held is gone; what is on its way to it is not.
    wireBusyUntilUs_ = std::min(wireBusyUntilUs_, stream_->NowUs());
  }
  if (scheme_ != NetworkScheme::kRfc2217 || ours_[kOptionComPort] != OptionState::kYes ||
      (!input && !output)) {
    return true;
  }
  const uint8_t which = input && output ? kPurgeServerBoth
                        : input         ? kPurgeServerReceive
                                        : kPurgeServerTransmit;
  purgeInputOnReply_ = input;
  return Command({{ComPortCommand::kPurgeData, {which}}});
}

void NetworkSerialDevice::AddWireTime(uint32_t bytes) {
  const int64_t now = stream_->NowUs();
  wireBusyUntilUs_ = std::max(wireBusyUntilUs_, now) + int64_t{bytes} * CharacterTimeUs(line_);
  lastWriteUs_ = now;
  writtenSinceSettle_ = true;
}

bool NetworkSerialDevice::Write(const uint8_t* data, uint32_t length, uint32_t& accepted) {
  accepted = 0;
  if (gone_) {
    return FailGone();
  }
  const int64_t deadline =
      stream_->NowUs() +
      (int64_t{timeouts_.writeTotalMultiplier} * length + timeouts_.writeTotalConstant) * 1000;
  if (!FlushBacklog(deadline)) {
    return FailGone();
  }
  if (!backlog_.empty()) {
    return true;  // time-out: the connection took nothing new
  }
  std::vector<uint8_t> bytes;
  if (scheme_ == NetworkScheme::kRfc2217) {
    // Raw bytes even when the server refused binary: serial servers pass a line's bytes
    // through as they are, and a CR followed by NUL would reach the chip as two bytes.
    AppendTelnetData(bytes, data, length);
  } else {
    bytes.assign(data, data + length);
  }
  size_t sent = 0;
  if (!stream_->Send(bytes.data(), bytes.size(), sent, deadline)) {
    gone_ = true;
    goneError_ = stream_->LastError();
    return FailGone();
  }
  if (sent == bytes.size() || scheme_ != NetworkScheme::kRfc2217) {
    accepted = sent == bytes.size() ? length : static_cast<uint32_t>(sent);
  } else {
    // Count the data bytes that went; a doubled 0xFF cut in half counts, its second half goes
    // first thing next.
    size_t k = 0;
    while (k < sent) {
      k += data[accepted] == kTelnetIac ? 2 : 1;
      ++accepted;
    }
    if (k > sent) {
      backlog_.push_back(kTelnetIac);
    }
  }
  AddWireTime(accepted);
  return true;
}

bool NetworkSerialDevice::Read(uint8_t* buffer, uint32_t length, uint32_t& received) {
  received = 0;
  const bool waits = timeouts_.readTotalMultiplier != 0 || timeouts_.readTotalConstant != 0;
  const int64_t deadline =
      stream_->NowUs() +
      (int64_t{timeouts_.readTotalMultiplier} * length + timeouts_.readTotalConstant) * 1000;
  // Bytes already waiting are returned at once; an empty queue is waited on until the whole
  // count has arrived or the time-out has passed.
  if (Available() == 0) {
    PumpAvailable();
  }
  received = static_cast<uint32_t>(TakeInput(buffer, length));
  if (received > 0) {
    return true;
  }
  if (gone_) {
    return FailGone();
  }
  while (waits && received < length && stream_->NowUs() < deadline) {
    if (!Pump(deadline)) {
      return received > 0 || FailGone();  // what arrived before the close is not lost
    }
    received += static_cast<uint32_t>(TakeInput(buffer + received, length - received));
  }
  return true;
}

// A drain costs the wire time of what was written, and no more: it is asked for after every
// write, and the chip's answer to a block comes a round trip after the block's wire time
// anyway. Whether the server has the bytes matters only before the line's rate changes
// (SettleBeforeRateChange).
DrainResult NetworkSerialDevice::Drain() {
  const int64_t start = stream_->NowUs();
  const int64_t deadline =
      start + 2 * std::max<int64_t>(0, wireBusyUntilUs_ - start) + kAcknowledgementWaitUs;
  if (gone_ || !FlushBacklog(deadline)) {
    FailGone();
    return DrainResult::kFailed;
  }
  if (!backlog_.empty()) {
    Fail(kNetworkErrorDrainTimedOut);
    return DrainResult::kTimedOut;
  }
  const int64_t until = wireBusyUntilUs_ + 2 * CharacterTimeUs(line_);
  if (until > stream_->NowUs()) {
    stream_->WaitUntilUs(until);
  }
  return DrainResult::kDrained;
}

// How a rate change is kept from overtaking the bytes before it. The connection keeps order up
// to the server, and the server reads its connection in order, but it applies SET-BAUDRATE as
// it reads it, while its serial port may still be sending earlier bytes from its own queue.
// So before the command goes: (1) a question the server answers at once (SET-BAUDRATE with
// the value 0, which asks for the rate and changes nothing) is sent behind the bytes, and its
// answer proves that the server has read them all and handed them to its port; (2) their wire time
// then passes, counted from when they can have reached the server, half a round trip after they
// were written. The loader protocol adds its own proof: every rate switch of a burn follows the
// chip's answer to the bytes before it.
bool NetworkSerialDevice::SettleBeforeRateChange() {
  if (!writtenSinceSettle_) {
    return true;
  }
  if (!Command({{ComPortCommand::kSetBaudRate, BigEndian32(0)}}, {})) {
    return false;
  }
  const int64_t until =
      wireBusyUntilUs_ + int64_t{roundTripMs_} * 1000 / 2 + 2 * CharacterTimeUs(line_);
  if (until > stream_->NowUs()) {
    stream_->WaitUntilUs(until);
  }
  writtenSinceSettle_ = false;
  return true;
}

void NetworkSerialDevice::Sleep(uint32_t ms) {
  stream_->WaitUntilUs(stream_->NowUs() + int64_t{ms} * 1000);
}

uint64_t NetworkSerialDevice::ClockMs() const {
  return static_cast<uint64_t>(stream_->NowUs() / 1000);
}

}  // namespace tarvok
