#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "serial/NetworkSerialDevice.h"
#include "serial/TelnetCodec.h"
#include "tests/support/FakeTcpStream.h"

namespace tarvok {
namespace {

using testing::FakeTcpStream;
using Bytes = std::vector<uint8_t>;

constexpr int64_t kMs = 1000;
constexpr int64_t kAckWait = NetworkSerialDevice::kAcknowledgementWaitUs;
constexpr uint32_t kGone = FakeTcpStream::kGoneError;

// What the client sends on connecting: WILL BINARY, DO BINARY, DO SGA, WILL COM-PORT-OPTION.
const Bytes kOffer = {0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x00, 0xFF, 0xFD, 0x03, 0xFF, 0xFB, 0x2C};
// SET-MODEMSTATE-MASK 0xFF (doubled), sent once the server takes the option.
const Bytes kModemMask = {0xFF, 0xFA, 0x2C, 0x0B, 0xFF, 0xFF, 0xFF, 0xF0};

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) {
    all.insert(all.end(), p.begin(), p.end());
  }
  return all;
}

// A server that takes the COM port option (or refuses it) and answers each command after a
// round trip with its reply code and the value it uses: the asked one, or what `answer` says.
// Commands for which `answer` gives nullopt are not answered.
class Rfc2217Server : private TelnetSink {
 public:
  explicit Rfc2217Server(FakeTcpStream& stream) : stream_(stream) {
    stream_.responder = [this](FakeTcpStream&, const Bytes& piece) {
      parser_.Feed(piece.data(), piece.size(), *this);
    };
  }
  int64_t roundTripUs = 20 * kMs;
  bool agree = true;
  std::function<std::optional<Bytes>(ComPortCommand, const Bytes&)> answer;
  Bytes data;  // what reached the server's line

 private:
  void OnData(const uint8_t* bytes, size_t length) override {
    data.insert(data.end(), bytes, bytes + length);
  }
  void OnNegotiation(uint8_t verb, uint8_t option) override {
    if (verb == kTelnetWill && option == kOptionComPort) {
      stream_.Arrive(roundTripUs, {kTelnetIac, agree ? kTelnetDo : kTelnetDont, option});
    }
  }
  void OnSubnegotiation(uint8_t, const std::vector<uint8_t>& payload) override {
    const auto command = static_cast<ComPortCommand>(payload[0]);
    const Bytes value(payload.begin() + 1, payload.end());
    const std::optional<Bytes> reply = answer ? answer(command, value) : value;
    if (reply) {
      Bytes bytes = {kTelnetIac, kTelnetSb, kOptionComPort,
                     static_cast<uint8_t>(payload[0] + kComPortReplyOffset)};
      AppendTelnetData(bytes, reply->data(), reply->size());
      bytes.insert(bytes.end(), {kTelnetIac, kTelnetSe});
      stream_.Arrive(roundTripUs, bytes);
    }
  }
  FakeTcpStream& stream_;
  TelnetParser parser_;
};

struct Connection {
  FakeTcpStream* stream;
  std::unique_ptr<Rfc2217Server> server;  // before the device, which outlives it in use
  std::unique_ptr<NetworkSerialDevice> device;
};

// A device over a fresh fake connection; `before` scripts the server before the client's
// first byte.
Connection Connect(NetworkScheme scheme,
                   const std::function<void(FakeTcpStream&)>& before = nullptr) {
  auto stream = std::make_unique<FakeTcpStream>();
  FakeTcpStream* raw = stream.get();
  if (before) {
    before(*raw);
  }
  return {raw, nullptr, std::make_unique<NetworkSerialDevice>(std::move(stream), scheme)};
}

// A device over RFC 2217 to a server that answers everything (Rfc2217Server).
Connection ConnectToServer(int64_t roundTripUs = 20 * kMs) {
  auto stream = std::make_unique<FakeTcpStream>();
  FakeTcpStream* raw = stream.get();
  auto server = std::make_unique<Rfc2217Server>(*raw);
  server->roundTripUs = roundTripUs;
  return {raw, std::move(server),
          std::make_unique<NetworkSerialDevice>(std::move(stream), NetworkScheme::kRfc2217)};
}

LineSettings Line(uint32_t rate, uint8_t parity = kNoParity) {
  LineSettings line;
  line.baudRate = rate;
  line.parity = parity;
  line.flags = kFlagBinary | kFlagDtrControlEnable | kFlagRtsControlEnable;
  return line;
}

Bytes ReadAll(NetworkSerialDevice& device) {
  device.SetTimeouts({.readTotalConstant = 100});
  Bytes all;
  uint8_t buffer[64];
  uint32_t got = 0;
  while (device.Read(buffer, sizeof buffer, got) && got > 0) {
    all.insert(all.end(), buffer, buffer + got);
  }
  return all;
}

struct NegotiationCase {
  const char* name;
  std::vector<Bytes> server;  // what the server says, a piece a millisecond
  Bytes answers;              // what the client answers after its offer
  uint32_t setError;          // SetLineSettings' error, the server answering no command
  int64_t setTakesUs;
  bool agreed;  // the set's commands went out
};

TEST(NetworkSerialDevice, NegotiationAnswersOnceAndToleratesRefusals) {
  const NegotiationCase cases[] = {
      {.name = "a server that agrees to all is answered only with the modem mask",
       .server = {{0xFF, 0xFD, 0x00}, {0xFF, 0xFB, 0x00}, {0xFF, 0xFB, 0x03}, {0xFF, 0xFD, 0x2C}},
       .answers = kModemMask,
       .setError = kNetworkErrorNoAcknowledgement,
       .setTakesUs = kAckWait,
       .agreed = true},
      {.name = "refusals of all are not answered, and the line cannot be set",
       .server = {{0xFF, 0xFE, 0x00}, {0xFF, 0xFC, 0x00}, {0xFF, 0xFC, 0x03}, {0xFF, 0xFE, 0x2C}},
       .answers = {},
       .setError = kNetworkErrorNoComPortOption,
       .setTakesUs = 0,
       .agreed = false},
      {.name = "the server's own requests: SGA taken, echo and terminal type refused",
       .server = {{0xFF, 0xFB, 0x01}, {0xFF, 0xFD, 0x03}, {0xFF, 0xFD, 0x18}, {0xFF, 0xFD, 0x2C}},
       .answers = Cat({{0xFF, 0xFE, 0x01},  // DONT ECHO
                       {0xFF, 0xFB, 0x03},  // WILL SGA
                       {0xFF, 0xFC, 0x18},  // WONT TERMINAL-TYPE
                       kModemMask}),
       .setError = kNetworkErrorNoAcknowledgement,
       .setTakesUs = kAckWait,
       .agreed = true},
      {.name = "repeats change nothing; a switch-off is acknowledged once",
       .server = {{0xFF, 0xFD, 0x2C},
                  {0xFF, 0xFD, 0x2C},
                  {0xFF, 0xFB, 0x00},
                  {0xFF, 0xFC, 0x00},
                  {0xFF, 0xFC, 0x00},
                  {0xFF, 0xFE, 0x2C}},
       .answers = Cat({kModemMask,
                       {0xFF, 0xFE, 0x00},    // DONT BINARY after its WONT
                       {0xFF, 0xFC, 0x2C}}),  // WONT COM-PORT-OPTION after its DONT
       .setError = kNetworkErrorNoComPortOption,
       .setTakesUs = 0,
       .agreed = false},
      {.name = "a silent server: the set waits its bound",
       .server = {},
       .answers = {},
       .setError = kNetworkErrorNoAcknowledgement,
       .setTakesUs = kAckWait,
       .agreed = false},
  };
  for (const NegotiationCase& c : cases) {
    SCOPED_TRACE(c.name);
    Connection link = Connect(NetworkScheme::kRfc2217, [&](FakeTcpStream& s) {
      for (size_t k = 0; k < c.server.size(); ++k) {
        s.Arrive(static_cast<int64_t>(k + 1) * kMs, c.server[k]);
      }
    });
    EXPECT_EQ(ReadAll(*link.device), Bytes{});
    EXPECT_EQ(link.stream->sent, Cat({kOffer, c.answers}));
    const int64_t start = link.stream->Now();
    EXPECT_FALSE(link.device->SetLineSettings(Line(115200)));
    EXPECT_EQ(link.device->LastError(), c.setError);
    EXPECT_EQ(link.stream->Now() - start, c.setTakesUs);
    EXPECT_EQ(link.stream->sent.size(), kOffer.size() + c.answers.size() + (c.agreed ? 52 : 0));
  }
}

TEST(NetworkSerialDevice, SettingsGoOutOnlyWhenChangedAndWaitForTheirAcknowledgement) {
  Connection link = ConnectToServer();
  // The server's line goes up to 3 Mbaud and answers with the rate it took.
  link.server->answer = [](ComPortCommand command, const Bytes& value) -> std::optional<Bytes> {
    if (command == ComPortCommand::kSetBaudRate && value == Bytes{0x00, 0x3D, 0x09, 0x00}) {
      return Bytes{0x00, 0x2D, 0xC6, 0xC0};
    }
    return value;
  };
  struct Step {
    const char* name;
    LineSettings line;
    Bytes sent;
    int64_t takesUs;
    uint32_t readBackRate;
  };
  LineSettings noDtr = Line(65535, kEvenParity);
  noDtr.flags &= ~kFlagDtrControlMask;
  const Step steps[] = {
      {.name = "the first set sends all, once the option is agreed",
       .line = Line(115200),
       .sent = Cat({kModemMask,
                    {0xFF, 0xFA, 0x2C, 0x01,  // SET-BAUDRATE
                     0x00, 0x01, 0xC2, 0x00,  //   115200
                     0xFF, 0xF0},
                    {0xFF, 0xFA, 0x2C, 0x02, 0x08, 0xFF, 0xF0},    // SET-DATASIZE 8
                    {0xFF, 0xFA, 0x2C, 0x03, 0x01, 0xFF, 0xF0},    // SET-PARITY NONE
                    {0xFF, 0xFA, 0x2C, 0x04, 0x01, 0xFF, 0xF0},    // SET-STOPSIZE 1
                    {0xFF, 0xFA, 0x2C, 0x05, 0x01, 0xFF, 0xF0},    // SET-CONTROL no flow
                    {0xFF, 0xFA, 0x2C, 0x05, 0x08, 0xFF, 0xF0},    // SET-CONTROL DTR ON
                    {0xFF, 0xFA, 0x2C, 0x05, 0x0B, 0xFF, 0xF0}}),  // SET-CONTROL RTS ON
       .takesUs = 40 * kMs,  // the option's answer, then the settings' acknowledgements
       .readBackRate = 115200},
      {.name = "a change sends only what changed; 0xFF in a value is doubled",
       .line = Line(65535, kEvenParity),
       .sent = Cat({{0xFF, 0xFA, 0x2C, 0x01,                       // SET-BAUDRATE
                     0x00, 0x00, 0xFF, 0xFF,                       //   65535
                     0xFF, 0xFF, 0xFF, 0xF0},                      //   (each 0xFF doubled)
                    {0xFF, 0xFA, 0x2C, 0x03, 0x03, 0xFF, 0xF0}}),  // SET-PARITY EVEN
       .takesUs = 20 * kMs,
       .readBackRate = 65535},
      {.name = "the same settings send nothing",
       .line = Line(65535, kEvenParity),
       .sent = {},
       .takesUs = 0,
       .readBackRate = 65535},
      {.name = "DTR dropped: sent, not waited for",
       .line = noDtr,
       .sent = {0xFF, 0xFA, 0x2C, 0x05, 0x09, 0xFF, 0xF0},  // SET-CONTROL DTR OFF
       .takesUs = 0,
       .readBackRate = 65535},
      {.name = "the read-back tells the rate the server answered",
       .line = Line(4'000'000, kEvenParity),
       .sent = Cat({{0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x3D, 0x09, 0x00, 0xFF, 0xF0},
                    {0xFF, 0xFA, 0x2C, 0x05, 0x08, 0xFF, 0xF0}}),  // DTR ON again
       .takesUs = 20 * kMs,
       .readBackRate = 3'000'000},
  };
  size_t mark = link.stream->sent.size();
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    const int64_t start = link.stream->Now();
    EXPECT_TRUE(link.device->SetLineSettings(s.line));
    EXPECT_EQ(link.stream->Now() - start, s.takesUs);
    EXPECT_EQ(Bytes(link.stream->sent.begin() + static_cast<long>(mark), link.stream->sent.end()),
              s.sent);
    mark = link.stream->sent.size();
    LineSettings back;
    EXPECT_TRUE(link.device->ReadBackLineSettings(back));
    EXPECT_EQ(back.baudRate, s.readBackRate);
    LineSettings host;
    EXPECT_TRUE(link.device->GetLineSettings(host));
    EXPECT_EQ(host.baudRate, s.line.baudRate);
  }
  EXPECT_EQ(link.device->RoundTripMs(), 20u);
}

TEST(NetworkSerialDevice, AnUnacknowledgedSettingFailsAtItsBoundAndIsSentAgain) {
  Connection link = ConnectToServer();
  bool answerRate = false;
  link.server->answer = [&](ComPortCommand command, const Bytes& value) -> std::optional<Bytes> {
    return command == ComPortCommand::kSetBaudRate && !answerRate ? std::nullopt
                                                                  : std::optional(value);
  };
  ASSERT_TRUE(link.device->SetLineSettings(Line(9600)) == false);
  EXPECT_EQ(link.device->LastError(), kNetworkErrorNoAcknowledgement);
  // The host's copy is unchanged: the next set sends everything again.
  answerRate = true;
  const size_t mark = link.stream->sent.size();
  EXPECT_TRUE(link.device->SetLineSettings(Line(9600)));
  EXPECT_EQ(link.stream->sent.size() - mark, 52u);
}

struct ReceiveCase {
  const char* name;
  std::vector<Bytes> pieces;  // each arrives as one receive
  Bytes data;
  uint32_t modem;  // 0: no notification, the query fails
  uint32_t errors;
};

TEST(NetworkSerialDevice, TelnetIsTakenOutOfTheReceivedStreamAcrossAnySplit) {
  const ReceiveCase cases[] = {
      {.name = "a doubled 0xFF split across receives is one data byte",
       .pieces = {{0x41, 0xFF}, {0xFF, 0x42}},
       .data = {0x41, 0xFF, 0x42},
       .modem = 0,
       .errors = 0},
      {.name = "a subnegotiation split across receives",
       .pieces = {{0x10, 0xFF, 0xFA, 0x2C}, {0x6B, 0xB0, 0xFF}, {0xF0, 0x55}},
       .data = {0x10, 0x55},
       .modem = kModemDcd | kModemDsr | kModemCts,
       .errors = 0},
      {.name = "a doubled 0xFF in a notification's value, delta bits dropped",
       .pieces = {{0xFF, 0xFA, 0x2C, 0x6B, 0xFF, 0xFF, 0xFF, 0xF0}},
       .data = {},
       .modem = kModemDcd | kModemRing | kModemDsr | kModemCts,
       .errors = 0},
      {.name = "commands between data bytes",
       .pieces = {{0x01, 0xFF, 0xF1, 0x02, 0xFF, 0xFD, 0x2C, 0x03}},
       .data = {0x01, 0x02, 0x03},
       .modem = 0,
       .errors = 0},
      {.name = "line errors from NOTIFY-LINESTATE",
       .pieces = {{0xFF, 0xFA, 0x2C, 0x6A, 0x1A, 0xFF, 0xF0, 0x07}},
       .data = {0x07},
       .modem = 0,
       .errors = kErrorBreak | kErrorFrame | kErrorOverrun},
  };
  for (const ReceiveCase& c : cases) {
    SCOPED_TRACE(c.name);
    Connection link = Connect(NetworkScheme::kRfc2217, [&](FakeTcpStream& s) {
      for (const Bytes& piece : c.pieces) {
        s.Arrive(1 * kMs, piece);
      }
    });
    link.device->Sleep(2);
    CommStatus status;
    ASSERT_TRUE(link.device->ClearError(status));
    EXPECT_EQ(status.inputCount, c.data.size());
    EXPECT_EQ(status.errors, c.errors);
    EXPECT_EQ(ReadAll(*link.device), c.data);
    uint32_t lines = 0;
    EXPECT_EQ(link.device->GetModemStatus(lines), c.modem != 0);
    EXPECT_EQ(lines, c.modem);
    if (c.modem == 0) {
      EXPECT_EQ(link.device->LastError(), kNetworkErrorNoModemState);
    }
  }
}

// A station looks at a board's line right after connecting: the first look waits up to its
// bound for the server's first word on the lines, and only the first.
TEST(NetworkSerialDevice, TheFirstLookAtTheModemLinesWaitsForTheServerOnce) {
  constexpr int64_t kBound = NetworkSerialDevice::kFirstModemStateWaitUs;
  const struct {
    const char* name;
    std::optional<int64_t> toldAfterUs;  // when the server tells the lines; nullopt: never
    bool known;
    int64_t waitedUs;
  } cases[] = {
      {.name = "told after 300 ms", .toldAfterUs = 300 * kMs, .known = true, .waitedUs = 300 * kMs},
      {.name = "never told", .toldAfterUs = std::nullopt, .known = false, .waitedUs = kBound},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Connection link = ConnectToServer(1 * kMs);
    link.device->Sleep(5);  // the option agreed, the mask asked for
    if (c.toldAfterUs) {
      // NOTIFY-MODEMSTATE: DSR and CTS
      link.stream->Arrive(*c.toldAfterUs, {0xFF, 0xFA, 0x2C, 0x6B, 0x30, 0xFF, 0xF0});
    }
    const int64_t start = link.stream->Now();
    uint32_t lines = 0;
    EXPECT_EQ(link.device->GetModemStatus(lines), c.known);
    EXPECT_EQ(link.stream->Now() - start, c.waitedUs);
    EXPECT_EQ(lines, c.known ? kModemDsr | kModemCts : 0u);
    const int64_t again = link.stream->Now();
    EXPECT_EQ(link.device->GetModemStatus(lines), c.known);
    EXPECT_EQ(link.stream->Now(), again);  // the second look does not wait
  }
}

TEST(NetworkSerialDevice, WrittenDataIsEscapedOnlyOverTelnet) {
  const Bytes data = {0x01, 0xFF, 0x0D, 0x00, 0xFF, 0xFF};
  Connection telnet = Connect(NetworkScheme::kRfc2217);
  Connection raw = Connect(NetworkScheme::kRawTcp);
  for (Connection* link : {&telnet, &raw}) {
    uint32_t accepted = 0;
    ASSERT_TRUE(link->device->Write(data.data(), static_cast<uint32_t>(data.size()), accepted));
    EXPECT_EQ(accepted, data.size());
  }
  // CR NUL goes as it is, binary or not.
  EXPECT_EQ(telnet.stream->sent,
            Cat({kOffer, {0x01, 0xFF, 0xFF, 0x0D, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}}));
  EXPECT_EQ(raw.stream->sent, data);

  // A send cut between the halves of a doubled 0xFF: the byte counts as taken, its second
  // half goes first next time.
  telnet.stream->sendLimits = {2};
  const size_t mark = telnet.stream->sent.size();
  uint32_t accepted = 0;
  ASSERT_TRUE(telnet.device->Write(data.data(), 3, accepted));
  EXPECT_EQ(accepted, 2u);
  ASSERT_TRUE(telnet.device->Write(data.data() + 2, 1, accepted));
  EXPECT_EQ(Bytes(telnet.stream->sent.begin() + static_cast<long>(mark), telnet.stream->sent.end()),
            (Bytes{0x01, 0xFF, 0xFF, 0x0D}));
}

struct PurgeCase {
  const char* name;
  uint32_t actions;
  Bytes sent;
  Bytes left;  // what can be read after the purge
};

TEST(NetworkSerialDevice, PurgeDiscardsWhatCameBeforeTheServersAcknowledgement) {
  const PurgeCase cases[] = {
      {.name = "input: the server's receive buffer",
       .actions = kPurgeInput,
       .sent = {0xFF, 0xFA, 0x2C, 0x0C, 0x01, 0xFF, 0xF0},
       .left = {0xCC}},
      {.name = "all: both of the server's buffers",
       .actions = kPurgeAll,
       .sent = {0xFF, 0xFA, 0x2C, 0x0C, 0x03, 0xFF, 0xF0},
       .left = {0xCC}},
      {.name = "output only: the input stays",
       .actions = kPurgeTxClear,
       .sent = {0xFF, 0xFA, 0x2C, 0x0C, 0x02, 0xFF, 0xF0},
       .left = {0xAA, 0xBB, 0xCC}},
      {.name = "an abort without a clear: nothing to do",
       .actions = kPurgeRxAbort,
       .sent = {},
       .left = {0xAA, 0xBB}},
  };
  for (const PurgeCase& c : cases) {
    SCOPED_TRACE(c.name);
    Connection link = Connect(NetworkScheme::kRfc2217, [](FakeTcpStream& s) {
      s.Arrive(1 * kMs, {0xFF, 0xFD, 0x2C});
    });
    link.device->Sleep(2);
    CommStatus status;
    link.device->ClearError(status);
    const size_t mark = link.stream->sent.size();
    // Bytes still on their way from the server's line, then its acknowledgement, then new
    // ones in the same receive.
    link.stream->responder = [](FakeTcpStream& s, const Bytes& piece) {
      if (piece.size() > 4 && piece[3] == 0x0C) {
        s.Arrive(5 * kMs, {0xAA, 0xBB, 0xFF, 0xFA, 0x2C, 0x70, piece[4], 0xFF, 0xF0, 0xCC});
      }
    };
    EXPECT_TRUE(link.device->Purge(c.actions));
    EXPECT_EQ(Bytes(link.stream->sent.begin() + static_cast<long>(mark), link.stream->sent.end()),
              c.sent);
    if (c.sent.empty()) {
      link.stream->Arrive(0, {0xAA, 0xBB});
    }
    EXPECT_EQ(ReadAll(*link.device), c.left);
  }
}

TEST(NetworkSerialDevice, UnacknowledgedPurgeFailsAtItsBound) {
  Connection link = Connect(NetworkScheme::kRfc2217, [](FakeTcpStream& s) {
    s.Arrive(1 * kMs, {0xFF, 0xFD, 0x2C});
  });
  link.device->Sleep(2);
  uint32_t lines = 0;
  link.device->GetModemStatus(lines);
  const int64_t start = link.stream->Now();
  EXPECT_FALSE(link.device->Purge(kPurgeInput));
  EXPECT_EQ(link.device->LastError(), kNetworkErrorNoAcknowledgement);
  EXPECT_EQ(link.stream->Now() - start, kAckWait);
}

struct DrainCase {
  const char* name;
  NetworkScheme scheme;
  uint32_t rate;
  std::vector<uint32_t> writes;  // sizes written one after another
  std::optional<int64_t> ackUs;  // the server TCP's own (delayed) acknowledgement
  bool serverAnswers;            // the server answers commands after its 5 ms round trip
  DrainResult result;
  int64_t takesUs;  // from the first write
};

TEST(NetworkSerialDevice, DrainWaitsTheWireTimeAndTheServersAcknowledgement) {
  constexpr int64_t kChar9600 = 1042;  // 10 bits at 9600 baud, rounded up
  constexpr int64_t kChar921600 = 11;
  // SET-LINESTATE-MASK 0: answered at once, changes nothing.
  const Bytes probe = {0xFF, 0xFA, 0x2C, 0x0A, 0x00, 0xFF, 0xF0};
  const DrainCase cases[] = {
      {.name = "the wire time of what was written, two characters more",
       .scheme = NetworkScheme::kRfc2217,
       .rate = 9600,
       .writes = {100},
       .ackUs = 40 * kMs,
       .serverAnswers = true,
       .result = DrainResult::kDrained,
       .takesUs = 102 * kChar9600},
      {.name = "two writes queue up on the wire",
       .scheme = NetworkScheme::kRfc2217,
       .rate = 9600,
       .writes = {50, 50},
       .ackUs = 40 * kMs,
       .serverAnswers = true,
       .result = DrainResult::kDrained,
       .takesUs = 102 * kChar9600},
      {.name = "a short wire time: the answer's round trip, not the delayed acknowledgement",
       .scheme = NetworkScheme::kRfc2217,
       .rate = 921600,
       .writes = {100},
       .ackUs = 40 * kMs,
       .serverAnswers = true,
       .result = DrainResult::kDrained,
       .takesUs = 5 * kMs},
      {.name = "a server that does not answer: its delayed acknowledgement",
       .scheme = NetworkScheme::kRfc2217,
       .rate = 921600,
       .writes = {100},
       .ackUs = 40 * kMs,
       .serverAnswers = false,
       .result = DrainResult::kDrained,
       .takesUs = 40 * kMs},
      {.name = "without a count of unacknowledged bytes, the measured round trip",
       .scheme = NetworkScheme::kRfc2217,
       .rate = 921600,
       .writes = {10},
       .ackUs = std::nullopt,
       .serverAnswers = false,
       .result = DrainResult::kDrained,
       .takesUs = 5 * kMs},
      {.name = "never acknowledged: time-out after twice the wire time and the margin",
       .scheme = NetworkScheme::kRfc2217,
       .rate = 9600,
       .writes = {100},
       .ackUs = 3600 * 1000 * kMs,
       .serverAnswers = false,
       .result = DrainResult::kTimedOut,
       .takesUs = 2 * 100 * kChar9600 + 2000 * kMs},
      {.name = "raw TCP: the wire time alone",
       .scheme = NetworkScheme::kRawTcp,
       .rate = 921600,
       .writes = {1000},
       .ackUs = 3600 * 1000 * kMs,
       .serverAnswers = false,
       .result = DrainResult::kDrained,
       .takesUs = 1002 * kChar921600},
  };
  for (const DrainCase& c : cases) {
    SCOPED_TRACE(c.name);
    Connection link =
        c.scheme == NetworkScheme::kRawTcp ? Connect(c.scheme) : ConnectToServer(5 * kMs);
    ASSERT_TRUE(link.device->SetLineSettings(Line(c.rate)));
    link.stream->ackDelayUs = c.ackUs;
    if (!c.serverAnswers) {
      link.stream->responder = nullptr;
    }
    const int64_t start = link.stream->Now();
    const size_t mark = link.stream->sent.size();
    Bytes written;
    for (const uint32_t size : c.writes) {
      const Bytes block(size, 0x5A);
      written.insert(written.end(), block.begin(), block.end());
      uint32_t accepted = 0;
      ASSERT_TRUE(link.device->Write(block.data(), size, accepted));
    }
    EXPECT_EQ(link.device->Drain(), c.result);
    EXPECT_EQ(link.stream->Now() - start, c.takesUs);
    EXPECT_EQ(Bytes(link.stream->sent.begin() + static_cast<long>(mark), link.stream->sent.end()),
              c.scheme == NetworkScheme::kRawTcp || !c.ackUs ? written : Cat({written, probe}));
    if (c.result == DrainResult::kTimedOut) {
      EXPECT_EQ(link.device->LastError(), kNetworkErrorDrainTimedOut);
    } else {
      // Nothing written since: nothing to wait for.
      const int64_t drained = link.stream->Now();
      EXPECT_EQ(link.device->Drain(), DrainResult::kDrained);
      EXPECT_EQ(link.stream->Now(), drained);
    }
  }
}

struct ReadCase {
  const char* name;
  std::vector<std::pair<int64_t, Bytes>> arrivals;  // at, bytes
  uint32_t length;
  Timeouts timeouts;
  Bytes read;
  int64_t takesUs;
};

TEST(NetworkSerialDevice, ReadsKeepThePortsTimeOutRules) {
  const ReadCase cases[] = {
      {.name = "what is waiting returns at once, short of the count",
       .arrivals = {{0, {0x01, 0x02}}},
       .length = 4,
       .timeouts = {.readTotalConstant = 500},
       .read = {0x01, 0x02},
       .takesUs = 0},
      {.name = "no time-outs: an empty read returns at once",
       .arrivals = {{10 * kMs, {0x01}}},
       .length = 4,
       .timeouts = {},
       .read = {},
       .takesUs = 0},
      {.name = "an empty queue is waited on until the whole count is in",
       .arrivals = {{50 * kMs, {0x01}}, {120 * kMs, {0x02, 0x03, 0x04}}},
       .length = 4,
       .timeouts = {.readTotalMultiplier = 10, .readTotalConstant = 100},
       .read = {0x01, 0x02, 0x03, 0x04},
       .takesUs = 120 * kMs},
      {.name = "or until the total time-out",
       .arrivals = {{50 * kMs, {0x01}}, {200 * kMs, {0x02}}},
       .length = 4,
       .timeouts = {.readTotalMultiplier = 10, .readTotalConstant = 100},
       .read = {0x01},
       .takesUs = 140 * kMs},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    Connection link = Connect(NetworkScheme::kRawTcp);
    for (const auto& [at, bytes] : c.arrivals) {
      link.stream->Arrive(at, bytes);
    }
    link.device->SetTimeouts(c.timeouts);
    const int64_t start = link.stream->Now();
    Bytes buffer(c.length);
    uint32_t got = 0;
    ASSERT_TRUE(link.device->Read(buffer.data(), c.length, got));
    buffer.resize(got);
    EXPECT_EQ(buffer, c.read);
    EXPECT_EQ(link.stream->Now() - start, c.takesUs);
  }
}

TEST(NetworkSerialDevice, AClosedConnectionFailsEveryCallWithTheGoneCode) {
  Connection link = Connect(NetworkScheme::kRfc2217);
  link.stream->Arrive(100 * kMs, {0x11});
  link.stream->CloseAt(200 * kMs);
  link.device->SetTimeouts({.readTotalConstant = 1000});
  uint8_t buffer[4];
  uint32_t got = 0;
  // What arrived before the close is not lost; the close ends the wait.
  ASSERT_TRUE(link.device->Read(buffer, 4, got));
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(link.stream->Now(), 1'000'000 + 200 * kMs);
  EXPECT_FALSE(link.device->Read(buffer, 4, got));
  EXPECT_EQ(link.device->LastError(), kGone);
  uint32_t accepted = 0;
  EXPECT_FALSE(link.device->Write(buffer, 1, accepted));
  EXPECT_EQ(link.device->Drain(), DrainResult::kFailed);
  uint32_t lines = 0;
  EXPECT_FALSE(link.device->GetModemStatus(lines));
  EXPECT_EQ(link.device->LastError(), kGone);
  CommStatus status;
  EXPECT_FALSE(link.device->ClearError(status));
  EXPECT_FALSE(link.device->SetLineSettings(Line(9600)));
  EXPECT_EQ(link.device->LastError(), kGone);
}

TEST(NetworkSerialDevice, AConnectionLostWhileWaitingForAnAcknowledgement) {
  Connection link = Connect(NetworkScheme::kRfc2217, [](FakeTcpStream& s) {
    s.Arrive(1 * kMs, {0xFF, 0xFD, 0x2C});
    s.CloseAt(30 * kMs);
  });
  EXPECT_FALSE(link.device->SetLineSettings(Line(9600)));
  EXPECT_EQ(link.device->LastError(), kGone);
  EXPECT_EQ(link.stream->Now(), 1'000'000 + 30 * kMs);
}

TEST(NetworkSerialDevice, RawTcpKeepsTheServersRateAndHasNoModemLines) {
  Connection link = Connect(NetworkScheme::kRawTcp);
  EXPECT_TRUE(link.device->SetLineSettings(Line(115200)));
  LineSettings sevenBits = Line(115200);
  sevenBits.byteSize = 7;
  EXPECT_TRUE(link.device->SetLineSettings(sevenBits));
  EXPECT_FALSE(link.device->SetLineSettings(Line(921600)));
  EXPECT_EQ(link.device->LastError(), kNetworkErrorFixedLine);
  LineSettings host;
  link.device->GetLineSettings(host);
  EXPECT_EQ(host.baudRate, 115200u);
  uint32_t lines = 0;
  EXPECT_FALSE(link.device->GetModemStatus(lines));
  EXPECT_EQ(link.device->LastError(), kNetworkErrorNoModemState);
  link.stream->Arrive(0, {0xFF, 0xFF, 0x01});
  EXPECT_TRUE(link.device->Purge(kPurgeAll));
  link.stream->Arrive(0, {0xFF, 0xFF});
  EXPECT_EQ(ReadAll(*link.device), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(link.stream->sent, Bytes{});  // no Telnet, no commands
}

}  // namespace
}  // namespace tarvok
