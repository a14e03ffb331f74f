#include "serial/Win32SerialDevice.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "serial/PreciseClock.h"
#include "serial/QueueDrain.h"
#include "serial/Win32Text.h"

namespace tarvok {
namespace {

// The bit-field word of the DCB follows its BaudRate.
constexpr std::size_t kFlagWordOffset = offsetof(DCB, BaudRate) + sizeof(DWORD);
static_assert(offsetof(DCB, wReserved) == kFlagWordOffset + sizeof(uint32_t));
static_assert(sizeof(DCB) <= 32);

uint32_t FlagWordOf(const DCB& dcb) {
  uint32_t flags = 0;
  std::memcpy(&flags, reinterpret_cast<const char*>(&dcb) + kFlagWordOffset, sizeof(flags));
  return flags;
}

void SetFlagWord(DCB& dcb, uint32_t flags) {
  std::memcpy(reinterpret_cast<char*>(&dcb) + kFlagWordOffset, &flags, sizeof(flags));
}

OpenResult Failed(OpenFailure failure, const std::string& path, DWORD error) {
  return FailedOpen(failure, path, "permission denied", "error " + std::to_string(error));
}

OpenFailure FailureOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NOT_READY:
      return OpenFailure::kMissing;
    // A COM port that another program holds answers ERROR_ACCESS_DENIED; a port has no
    // other access rule a user could lack.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return OpenFailure::kBusy;
    case ERROR_PRIVILEGE_NOT_HELD:
      return OpenFailure::kForbidden;
    default:
      return OpenFailure::kOther;
  }
}

HANDLE Handle(void* handle) {
  return static_cast<HANDLE>(handle);
}

}  // namespace

std::string Win32DevicePath(const std::string& path) {
  return path.rfind("\\\\", 0) == 0 ? path : "\\\\.\\" + path;
}

OpenResult OpenLocalSerialDevice(const std::string& path) {
  return Win32SerialDevice::Open(path);
}

OpenResult Win32SerialDevice::Open(const std::string& path) {
  const std::string device = Win32DevicePath(path);
  const HANDLE handle = CreateFileW(WideFromUtf8(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return Failed(FailureOf(error), device, error);
  }
  // Only a communications device has a comm status. (Its comm state is no test: Wine
  // cannot read it from a pseudo-terminal, whose modem lines do not exist.)
  DWORD errors = 0;
  COMSTAT status{};
  if (GetFileType(handle) != FILE_TYPE_CHAR || !ClearCommError(handle, &errors, &status)) {
    const DWORD error = GetLastError();
    CloseHandle(handle);
    return Failed(OpenFailure::kNotATty, device, error);
  }
  // Until time-outs are set, a read returns at once with what is waiting.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  SetCommTimeouts(handle, &timeouts);
  OpenResult result;
  result.device.reset(new Win32SerialDevice(handle));
  return result;
}

Win32SerialDevice::Win32SerialDevice(void* handle) : handle_(handle) {
  line_.flags = kFlagBinary | kFlagDtrControlEnable | kFlagRtsControlEnable;
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  if (GetCommState(Handle(handle_), &dcb)) {
    std::memcpy(&lastState_, &dcb, sizeof(dcb));
    ReadBackLineSettings(line_);
  } else {
    // What a port that cannot show its state gets: the host's settings, XON/XOFF off with
    // the usual characters (equal ones are refused).
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    std::memcpy(&lastState_, &dcb, sizeof(dcb));
  }
}

Win32SerialDevice::~Win32SerialDevice() {
  Close();
}

void Win32SerialDevice::Close() {
  if (handle_ != nullptr) {
    CloseHandle(Handle(handle_));
    handle_ = nullptr;
  }
}

bool Win32SerialDevice::Fail() {
  lastError_ = GetLastError();
  return false;
}

bool Win32SerialDevice::GetLineSettings(LineSettings& line) {
  if (handle_ == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return Fail();
  }
  line = line_;
  return true;
}

bool Win32SerialDevice::ReadBackLineSettings(LineSettings& line) {
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  if (!GetCommState(Handle(handle_), &dcb)) {
    return Fail();
  }
  line.baudRate = dcb.BaudRate;
  line.byteSize = dcb.ByteSize;
  line.parity = dcb.Parity;
  line.stopBits = dcb.StopBits;
  line.flags = FlagWordOf(dcb);
  return true;
}

bool Win32SerialDevice::SetLineSettings(const LineSettings& line) {
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  if (!GetCommState(Handle(handle_), &dcb)) {
    std::memcpy(&dcb, &lastState_, sizeof(dcb));  // the rest as last written
  }
  dcb.BaudRate = line.baudRate;
  dcb.ByteSize = line.byteSize;
  dcb.Parity = line.parity;
  dcb.StopBits = line.stopBits;
  SetFlagWord(dcb, line.flags);
  if (!SetCommState(Handle(handle_), &dcb)) {
    // Raising DTR or RTS fails where the port has no modem lines (a pseudo-terminal under
    // Wine) after the rate and framing have gone in: that alone does not fail the call.
    const DWORD error = GetLastError();
    LineSettings actual;
    if (!ReadBackLineSettings(actual) || actual.baudRate != line.baudRate ||
        actual.byteSize != line.byteSize || actual.parity != line.parity ||
        actual.stopBits != line.stopBits) {
      SetLastError(error);
      return Fail();
    }
  }
  std::memcpy(&lastState_, &dcb, sizeof(dcb));
  line_ = line;
  return true;
}

bool Win32SerialDevice::SetQueueSizes(uint32_t inputBytes, uint32_t outputBytes) {
  return SetupComm(Handle(handle_), inputBytes, outputBytes) != 0 || Fail();
}

bool Win32SerialDevice::SetTimeouts(const Timeouts& timeouts) {
  COMMTIMEOUTS commTimeouts{};
  commTimeouts.ReadIntervalTimeout = timeouts.readInterval;
  commTimeouts.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplier;
  commTimeouts.ReadTotalTimeoutConstant = timeouts.readTotalConstant;
  commTimeouts.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplier;
  commTimeouts.WriteTotalTimeoutConstant = timeouts.writeTotalConstant;
  // All zero would make Windows wait without bound; here it means "return at once".
  if (timeouts.readTotalMultiplier == 0 && timeouts.readTotalConstant == 0) {
    commTimeouts.ReadIntervalTimeout = MAXDWORD;
  }
  return SetCommTimeouts(Handle(handle_), &commTimeouts) != 0 || Fail();
}

bool Win32SerialDevice::QueryStatus(uint32_t& inputCount, uint32_t& outputCount) {
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(Handle(handle_), &errors, &status)) {
    return Fail();
  }
  pendingErrors_ |= errors;
  inputCount = status.cbInQue;
  outputCount = status.cbOutQue;
  return true;
}

bool Win32SerialDevice::ClearError(CommStatus& status) {
  uint32_t outputCount = 0;
  if (!QueryStatus(status.inputCount, outputCount)) {
    return false;
  }
  // The line-error bits of ClearCommError are the ones of CommStatus. Kept are the five that
  // say received bytes were lost or garbled since the last query: CE_RXOVER (the driver's
  // input queue was full), CE_OVERRUN (the UART overran before the driver read it),
  // CE_RXPARITY, CE_FRAME (a wrong rate or a garbled stop bit) and CE_BREAK. Any of them
  // makes SerialPort::GetInputCount report failure (2): the bytes waiting are not all the
  // chip sent, so their count is no answer; the query has cleared the error, and the
  // handshake polling the count asks again. They are the five the Linux device derives from
  // the driver's counters. Left out are CE_TXFULL (about sending: a write reports what it
  // took), CE_MODE and the parallel-port flags (CE_PTO, CE_IOE, CE_DNS, CE_OOP).
  status.errors = pendingErrors_ &
                  (kErrorRxOverflow | kErrorOverrun | kErrorParity | kErrorFrame | kErrorBreak);
  pendingErrors_ = 0;
  return true;
}

bool Win32SerialDevice::ClearBreak() {
  ClearCommBreak(Handle(handle_));  // refused by a port without a break to clear
  return true;
}

bool Win32SerialDevice::GetModemStatus(uint32_t& lines) {
  DWORD bits = 0;
  if (GetCommModemStatus(Handle(handle_), &bits) == 0) {
    return Fail();
  }
  lines = bits & (kModemCts | kModemDsr | kModemRing | kModemDcd);  // the MS_*_ON bits
  return true;
}

bool Win32SerialDevice::Purge(uint32_t actions) {
  // The purge bits are the ones of PurgeComm.
  return PurgeComm(Handle(handle_), actions & kPurgeAll) != 0 || Fail();
}

bool Win32SerialDevice::Read(uint8_t* buffer, uint32_t length, uint32_t& received) {
  received = 0;
  uint32_t queued = 0;
  uint32_t outputCount = 0;
  if (!QueryStatus(queued, outputCount)) {
    return false;
  }
  // What is waiting comes back at once. Only an empty queue is left to the driver's read
  // time-out, which waits until the whole count has arrived or the time has passed (Wine
  // would wait out the time-out even for bytes already queued).
  const DWORD asked = queued > 0 ? std::min(queued, length) : length;
  DWORD got = 0;
  if (!ReadFile(Handle(handle_), buffer, asked, &got, nullptr)) {
    return Fail();
  }
  received = got;
  return true;
}

bool Win32SerialDevice::Write(const uint8_t* data, uint32_t length, uint32_t& accepted) {
  DWORD written = 0;
  const BOOL ok = WriteFile(Handle(handle_), data, length, &written, nullptr);
  accepted = written;
  if (written > 0) {
    writtenSinceDrain_ = true;
  }
  // A write time-out is not a failure: it reports what the driver took.
  return ok != 0 || GetLastError() == ERROR_TIMEOUT || GetLastError() == ERROR_SEM_TIMEOUT ||
         Fail();
}

DrainResult Win32SerialDevice::Drain() {
  const auto count = [this](uint32_t& queued) {
    uint32_t inputCount = 0;
    return QueryStatus(inputCount, queued);
  };
  const auto timedOut = [this] {
    SetLastError(ERROR_TIMEOUT);
    Fail();
  };
  return DrainQueue(line_, writtenSinceDrain_, {count, timedOut});
}

uint64_t Win32SerialDevice::ClockMs() const {
  return static_cast<uint64_t>(MonotonicUs() / 1000);
}

void Win32SerialDevice::Sleep(uint32_t ms) {
  ::Sleep(ms);  // 0 gives up the rest of the time slice
}

}  // namespace tarvok
