// The TR7340's boot ROM as the host sees it over the wire: the complement handshake, then the
// command set 0xA1 0xA2 0xA4 0xA8 0xAE 0xAF with echoes, over a little-endian chip RAM.
//
// A pure byte-in, bytes-out state machine: the simulated chip and the tests drive it.
#pragma once

#include <cstdint>
#include <vector>

namespace tarvok::sim {

class BootRom {
 public:
  explicit BootRom(uint32_t ramBytes = 64 * 1024);

  // Takes one byte from the host and appends the ROM's answer, if any, to `out`.
  void Receive(uint8_t byte, std::vector<uint8_t>& out);

  // For tests of the command set alone: behave as if the handshake had just completed.
  void SkipHandshake() { mode_ = Mode::kCommand; }

  // The host has woken the ROM: the handshake is complete.
  bool Woken() const { return mode_ != Mode::kHandshake; }
  // Set once 0xA8 has received its whole address: the chip then runs from there.
  bool Started() const { return started_; }
  uint32_t StartAddress() const { return startAddress_; }
  const std::vector<uint8_t>& Ram() const { return ram_; }

  // Faults on demand.
  bool answerHandshake = true;
  bool corruptNextDataEcho = false;  // flips one bit of the next echoed data byte
  bool wrongChecksum = false;
  bool knowsExecute = true;  // false: 0xA8 gets no answer

 private:
  enum class Mode { kHandshake, kCommand, kParameters, kWriteData };

  void StartCommand(uint8_t command, std::vector<uint8_t>& out);
  void ParametersComplete(std::vector<uint8_t>& out);
  void StoreDataByte(uint8_t byte);
  uint8_t RamByte(uint32_t address) const;
  void PutHalfwordBigEndian(uint16_t value, std::vector<uint8_t>& out) const;

  std::vector<uint8_t> ram_;
  Mode mode_ = Mode::kHandshake;
  uint32_t handshakeIndex_ = 0;
  uint8_t command_ = 0;
  std::vector<uint8_t> parameters_;
  uint32_t address_ = 0;
  uint32_t count_ = 0;
  uint64_t dataBytesLeft_ = 0;
  uint64_t dataOffset_ = 0;
  bool started_ = false;
  uint32_t startAddress_ = 0;
};

}  // namespace tarvok::sim
