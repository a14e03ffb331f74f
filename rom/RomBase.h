// The command set of the TR7340's mask ROM. Every command byte is echoed by the ROM; words
// and halfwords travel most significant byte first and are sent back for checking.
//
// All operations are virtual and the higher ones call the lower ones through the virtual
// table, so a driver for another chip can replace any layer.
#pragma once

#include <cstdint>

#include "rom/StageCallbacks.h"
#include "serial/SerialPort.h"

namespace tarvok {

inline constexpr uint8_t kRomWriteHalfwords = 0xA1;
inline constexpr uint8_t kRomReadHalfwords = 0xA2;
inline constexpr uint8_t kRomChecksum = 0xA4;
inline constexpr uint8_t kRomExecute = 0xA8;
inline constexpr uint8_t kRomWriteWords = 0xAE;
inline constexpr uint8_t kRomReadWords = 0xAF;

// The loader bytes and the loader stage's callbacks, handed to Boot.
struct BootRequest {
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  StageStartFn startFn = nullptr;
  void* startUser = nullptr;
  StageProgressFn progressFn = nullptr;
  void* progressUser = nullptr;
};

class Rom_Base {
 public:
  virtual uint32_t Boot(SerialPort& port, const BootRequest& request) = 0;
  virtual ~Rom_Base() = default;

  // 1 command, 2 address, 3 count, 4 an element.
  virtual uint32_t WriteHalfwords(SerialPort& port, uint32_t address, const uint16_t* values,
                                  uint32_t count);
  virtual uint32_t ReadHalfwords(SerialPort& port, uint32_t address, uint16_t* out, uint32_t count);
  // Writes `length` bytes to chip memory and checks them with the ROM checksum; 0-10.
  virtual uint32_t WriteMemory(SerialPort& port, uint32_t address, const uint8_t* data,
                               uint32_t length, StageStartFn startFn, void* startUser,
                               StageProgressFn progressFn, void* progressUser);
  // Writes whole 256-byte blocks (a small program such as a boot stage, padded) with one echo
  // each and no halfword tail, and checks them with the ROM checksum. The codes are
  // WriteMemory's: 1 a length that is 0 or not whole blocks, 2-4 header, 6-8 a block,
  // 9 checksum command, 10 checksum differs.
  virtual uint32_t WriteBlocks(SerialPort& port, uint32_t address, const uint8_t* data,
                               uint32_t length);
  // `count` is in halfwords. 1 command, 2 address, 3 count, 4 answer not read.
  virtual uint32_t Checksum(SerialPort& port, uint32_t address, uint32_t count, uint16_t& out);
  // 1 command, 2 address.
  virtual uint32_t Execute(SerialPort& port, uint32_t address, bool verify);
  // 1 write failed, 2 nothing read, 3 echo differs.
  virtual uint32_t SendCommand(SerialPort& port, uint8_t command, uint8_t* echoOut);
  // 1 write failed, 2 read-back failed, 3 read-back differs.
  virtual uint32_t SendWord(SerialPort& port, uint32_t value, bool verify);
  virtual uint32_t SendHalfword(SerialPort& port, uint16_t value, bool verify);
  virtual uint32_t WriteWords(SerialPort& port, uint32_t address, const uint32_t* values,
                              uint32_t count);
  virtual uint32_t ReadWords(SerialPort& port, uint32_t address, uint32_t* out, uint32_t count);
  // The status of SerialPort::Write, unchanged.
  virtual uint32_t PutHalfword(SerialPort& port, uint16_t value);
  // Sets `out` to 0 first; 1 if the read failed.
  virtual uint32_t GetHalfword(SerialPort& port, uint16_t& out);
  virtual uint32_t PutWord(SerialPort& port, uint32_t value);
  virtual uint32_t GetWord(SerialPort& port, uint32_t& out);

 protected:
  Rom_Base() = default;
  Rom_Base(const Rom_Base&) = default;
  Rom_Base& operator=(const Rom_Base&) = default;

  // The opening of the addressed commands: the command byte, the address and the count, each
  // checked against its echo. 0; 1 command, 2 address, 3 count.
  uint32_t SendHeader(SerialPort& port, uint8_t command, uint32_t address, uint32_t count);

 private:
  // Sends `value` with `put` and, when `verify`, reads it back with `get` after `pauseMs`.
  // 0; 1 write failed, 2 read-back failed, 3 read-back differs.
  template <typename Value>
  uint32_t SendEchoed(SerialPort& port, Value value, bool verify, uint32_t pauseMs,
                      uint32_t (Rom_Base::*put)(SerialPort&, Value),
                      uint32_t (Rom_Base::*get)(SerialPort&, Value&));
  // An array command: the header, then `count` elements, each one call of `element(k)`.
  // 0; 1 command, 2 address, 3 count, 4 an element.
  template <typename ElementExchange>
  uint32_t ArrayCommand(SerialPort& port, uint8_t command, uint32_t address, uint32_t count,
                        ElementExchange element);
};

// Block size of the bulk path of WriteMemory, and its pause before the echo is read.
inline constexpr uint32_t kRomBlockBytes = 256;
inline constexpr uint32_t kRomBlockEchoPauseMs = 200;
// Pauses before the read-back of a word and of a halfword.
inline constexpr uint32_t kRomWordEchoPauseMs = 100;
inline constexpr uint32_t kRomHalfwordEchoPauseMs = 50;
// WriteMemory reports its progress in this many steps.
inline constexpr uint32_t kRomProgressSteps = 30;

}  // namespace tarvok
