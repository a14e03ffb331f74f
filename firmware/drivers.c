/* drivers.h for the TR7340 (tr7340.h). */
#include "drivers.h"

#include "tr7340.h"

#define REG(address) (*(volatile uint32_t*)(address))

enum {
  FLASH_ERASE_TIMEOUT_US = 2000000u,
  FLASH_PROGRAM_TIMEOUT_US = 10000u,
};

int uart_rx_ready(void) {
  return (REG(TR7340_UART_STATUS) & TR7340_UART_STATUS_RX_READY) != 0;
}

uint8_t uart_read(void) {
  return (uint8_t)REG(TR7340_UART_DATA);
}

void uart_write(uint8_t byte) {
  while ((REG(TR7340_UART_STATUS) & TR7340_UART_STATUS_TX_READY) == 0) {
  }
  REG(TR7340_UART_DATA) = byte;
}

void uart_wait_idle(void) {
  while ((REG(TR7340_UART_STATUS) & TR7340_UART_STATUS_TX_IDLE) == 0) {
  }
}

int uart_set_rate(uint32_t rate) {
  if (rate == 0) {
    return -1;
  }
  const uint32_t divisor = (TR7340_UART_CLOCK_HZ + 8u * rate) / (16u * rate);
  if (divisor == 0 || divisor > 0xFFFFu) {
    return -1;
  }
  REG(TR7340_UART_DIVISOR) = divisor;
  return 0;
}

uint32_t uart_get_rate(void) {
  const uint32_t divisor = REG(TR7340_UART_DIVISOR);
  return divisor == 0 ? 0 : TR7340_UART_CLOCK_HZ / (16u * divisor);
}

uint32_t timer_microseconds(void) {
  return REG(TR7340_TIMER_MICROSECONDS);
}

uint32_t flash_size(void) {
  return REG(TR7340_FLASH_SIZE);
}

uint32_t flash_sector_size(void) {
  return TR7340_FLASH_SECTOR_BYTES;
}

uint8_t flash_erase_wait(void) {
  return 0; /* the simulated chip's flash erases at once */
}

/* Judges the time before each status read, so that the controller is always asked once more
 * after the time is up, however long the wait between two reads. */
static int flash_wait(uint32_t timeout_us) {
  const uint32_t start = timer_microseconds();
  for (;;) {
    const int expired = timer_microseconds() - start > timeout_us;
    const uint32_t status = REG(TR7340_FLASH_STATUS);
    if ((status & TR7340_FLASH_STATUS_ERROR) != 0) {
      return -1;
    }
    if ((status & TR7340_FLASH_STATUS_BUSY) == 0) {
      return 0;
    }
    if (expired) {
      return -1;
    }
  }
}

int flash_erase_sector(uint32_t offset) {
  REG(TR7340_FLASH_ADDRESS) = offset & ~(TR7340_FLASH_SECTOR_BYTES - 1u);
  REG(TR7340_FLASH_COMMAND) = TR7340_FLASH_COMMAND_ERASE_SECTOR;
  return flash_wait(FLASH_ERASE_TIMEOUT_US);
}

/* The byte the word at `word_offset` gets at `k`: from `data` inside the range, else 0xFF,
 * which leaves the flash as it is. */
static uint32_t word_for(uint32_t word_offset, uint32_t offset, const uint8_t* data,
                         uint32_t length) {
  uint32_t word = 0;
  for (uint32_t k = 0; k < 4; ++k) {
    const uint32_t at = word_offset + k;
    const uint32_t byte = (at >= offset && at - offset < length) ? data[at - offset] : 0xFFu;
    word |= byte << (8u * k);
  }
  return word;
}

int flash_program(uint32_t offset, const uint8_t* data, uint32_t length) {
  uint32_t at = offset & ~3u;
  REG(TR7340_FLASH_ADDRESS) = at;
  while (at - offset < length || at < offset) {
    REG(TR7340_FLASH_PROGRAM) = word_for(at, offset, data, length);
    if (flash_wait(FLASH_PROGRAM_TIMEOUT_US) != 0) {
      return -1;
    }
    at += 4;
  }
  return 0;
}

int flash_equals(uint32_t offset, const uint8_t* data, uint32_t length) {
  for (uint32_t at = offset & ~3u; at - offset < length || at < offset; at += 4) {
    const uint32_t stored = REG(TR7340_FLASH_BASE + at);
    const uint32_t wanted = word_for(at, offset, data, length);
    for (uint32_t k = 0; k < 4; ++k) {
      const uint32_t byte_at = at + k;
      const uint32_t mask = 0xFFu << (8u * k);
      if (byte_at >= offset && byte_at - offset < length && (stored & mask) != (wanted & mask)) {
        return 0;
      }
    }
  }
  return 1;
}

uint32_t flash_read_word(uint32_t offset) {
  return REG(TR7340_FLASH_BASE + offset);
}

void status_report(uint32_t index, uint32_t value) {
  if (index < TR7340_SYSCTL_SCRATCH_COUNT) {
    REG(TR7340_SYSCTL_SCRATCH(index)) = value;
  }
}

void chip_reset(void) {
  uart_wait_idle();
  REG(TR7340_SYSCTL_RESET) = TR7340_SYSCTL_RESET_KEY;
  for (;;) {
  }
}
