/* The RAM loader: the chip side of the loader protocol. The boot ROM starts it at its first
 * byte (start.S); it announces itself and then serves the host's commands until the host
 * says it has finished, when it resets the chip.
 *
 * docs/loader-protocol.md gives the exchange byte by byte, and what this side does where the
 * host alone does not settle it. */
#include <stdint.h>

#include "drivers.h"
#include "loader_codes.h"
#include "loader_status.h"

enum {
  ECHO_TEST_VALUES = 11,
  MAX_BLOCK_BYTES = 4096,
  HEADER_DATA_BYTES = 4,
};

enum {
  HOST_PROBES = 10,            /* the host gives up after this many probes */
  PROBE_SILENCE_US = 2000000u, /* longer than the host ever waits between probes */
  BLOCK_GAP_BASE_US = 500000u, /* a block that stops arriving is rejected after this... */
  BLOCK_GAP_BYTE_TIMES = 20u,  /* ...plus as many byte times */
};

#define NO_TIME_OUT 0xFFFFFFFFu

/* Baud codes 1-14 of the switch command. */
static const uint32_t baud_rates[] = {0,     921600, 460800, 230400, 115200, 57600, 38400, 19200,
                                      14400, 9600,   4800,   2400,   1200,   300,   110};

struct flash_job {
  uint32_t start;
  uint32_t end; /* last byte, inclusive */
  uint32_t erase;
  uint32_t have_parameters;
  uint32_t erased_until; /* the sectors below this offset are erased */
  uint32_t verify_failed;
};

static struct flash_job job;
static uint32_t uart_rate;
static uint32_t block_gap_us;
static uint32_t status[6];
static uint8_t block[MAX_BLOCK_BYTES + 2];
/* The CRC-32 of each byte value, built on the first 0xE4: in .bss it costs the block that
 * goes down the boot ROM's slow line nothing. */
static uint32_t crc_table[256];

/* What the loader declares in the last bytes of its block (loader.ld puts it there). */
struct declaration {
  char magic[LOADER_DECLARATION_MAGIC_BYTES];
  uint8_t version;
  uint8_t features;
  uint8_t zeros[LOADER_DECLARATION_BYTES - LOADER_DECLARATION_MAGIC_BYTES - 2];
};
_Static_assert(sizeof(struct declaration) == LOADER_DECLARATION_BYTES, "a declaration's size");
static const struct declaration declaration __attribute__((
    section(".loader_declaration"), used)) = {LOADER_DECLARATION_MAGIC,
                                              LOADER_DECLARATION_VERSION,
                                              LOADER_FEATURE_BOOT_STAGE | LOADER_FEATURE_FLASH_CRC,
                                              {0}};

static void count(uint32_t index, uint32_t amount) {
  status[index] += amount;
  status_report(index, status[index]);
}

static void set_flags(uint32_t flags) {
  status[LOADER_STATUS_FLAGS] |= flags;
  status_report(LOADER_STATUS_FLAGS, status[LOADER_STATUS_FLAGS]);
}

/* The next byte, or -1 when none arrives within `timeout_us`. The receiver is looked at once
 * more after the time is up. */
static int receive_within(uint32_t timeout_us) {
  if (uart_rx_ready()) {
    return uart_read(); /* the usual case inside a block: no clock needed */
  }
  const uint32_t start = timer_microseconds();
  for (;;) {
    const int expired = timeout_us != NO_TIME_OUT && timer_microseconds() - start >= timeout_us;
    if (uart_rx_ready()) {
      return uart_read();
    }
    if (expired) {
      return -1;
    }
  }
}

static uint8_t receive(void) {
  return (uint8_t)receive_within(NO_TIME_OUT);
}

static uint32_t receive_word(void) {
  uint32_t word = 0;
  for (int k = 0; k < 4; ++k) {
    word = (word << 8) | receive();
  }
  return word;
}

static void use_rate(uint32_t rate) {
  uart_rate = rate;
  block_gap_us =
      BLOCK_GAP_BASE_US + (rate != 0 ? BLOCK_GAP_BYTE_TIMES * (10u * 1000000u / rate) : 1000000u);
}

static void set_rate(uint32_t rate) {
  if (uart_set_rate(rate) == 0) {
    use_rate(rate);
  }
}

/* 0xE1 code repeats: acknowledge, change rate, echo the host's probes until it acknowledges,
 * then the echo test. A host that hears no echo to its last probe carries on at the old
 * rate, and so does the loader: after the last probe the host sends if it went unanswered,
 * or after a long silence. */
static void switch_baud(void) {
  const uint8_t code = receive();
  const uint8_t repeats = receive();
  uart_write(LOADER_ACK);
  uart_wait_idle();
  const uint32_t old_rate = uart_rate;
  if (code >= 1 && code < sizeof(baud_rates) / sizeof(baud_rates[0])) {
    set_rate(baud_rates[code]);
  }
  uint32_t probes = 0;
  for (;;) {
    const int byte = receive_within(PROBE_SILENCE_US);
    if (byte == LOADER_ACK) {
      uart_write(LOADER_ACK);
      break;
    }
    if (byte < 0 || probes == HOST_PROBES) {
      uart_wait_idle();
      set_rate(old_rate);
      return;
    }
    ++probes;
    if (byte == LOADER_HELLO) {
      uart_write(LOADER_HELLO);
      count(LOADER_STATUS_PROBES, 1);
    } else if (probes == HOST_PROBES) {
      set_rate(old_rate);
      return;
    }
  }
  for (uint32_t n = (uint32_t)repeats * ECHO_TEST_VALUES; n > 0; --n) {
    uart_write(receive());
    count(LOADER_STATUS_ECHO_BYTES, 1);
  }
}

/* 0xE2 erase start end: remember the range; the sectors are erased as the image reaches
 * them, so that no single wait of the host has to cover the erase of the whole range. */
static void set_flash_parameters(void) {
  job.erase = receive();
  job.start = receive_word();
  job.end = receive_word();
  job.have_parameters = 1;
  uart_write(LOADER_ACK);
  uart_write(flash_erase_wait());
}

/* Erases what [offset, offset + length) still needs and programs it there. 0, or the block
 * reply that ends the stream. */
static int inside_flash(uint32_t offset, uint32_t length) {
  return offset < flash_size() && length <= flash_size() - offset;
}

static int store(uint32_t offset, const uint8_t* data, uint32_t length) {
  if (length == 0) {
    return 0;
  }
  if (!inside_flash(offset, length)) {
    return LOADER_REPLY_OUTSIDE_FLASH;
  }
  if (job.erase) {
    if (job.erased_until < offset) {
      job.erased_until = offset;
    }
    while (job.erased_until < offset + length) {
      if (flash_erase_sector(job.erased_until) != 0) {
        return LOADER_REPLY_FLASH_ERROR;
      }
      set_flags(LOADER_FLAG_ERASED);
      job.erased_until = (job.erased_until & ~(flash_sector_size() - 1u)) + flash_sector_size();
    }
  }
  if (flash_program(offset, data, length) != 0) {
    return LOADER_REPLY_FLASH_ERROR;
  }
  if (!flash_equals(offset, data, length)) {
    job.verify_failed = 1;
  }
  return 0;
}

/* Receives `length` bytes and the 16-bit sum; 1 when they arrived whole and add up. The
 * first byte may take its time; a block that stops arriving is cut off. */
static int receive_block(uint32_t length) {
  for (uint32_t k = 0; k < length + 2; ++k) {
    const int byte = receive_within(k == 0 ? NO_TIME_OUT : block_gap_us);
    if (byte < 0) {
      return 0;
    }
    block[k] = (uint8_t)byte;
  }
  uint32_t sum = 0;
  for (uint32_t k = 0; k < length; ++k) {
    sum += block[k];
  }
  return (sum & 0xFFFFu) == ((uint32_t)block[length] << 8 | block[length + 1]);
}

/* A rejected block: say so, acknowledge the host's re-synchronisation at once (it may send
 * 0xB6 first), and wait for its 0xB9 before the block comes again. */
static void reject_block(void) {
  count(LOADER_STATUS_REJECTIONS, 1);
  uart_write(LOADER_BLOCK_REJECTED);
  uart_write(LOADER_ACK);
  for (;;) {
    const uint8_t byte = receive();
    if (byte == LOADER_BLOCK_ACCEPTED) {
      return;
    }
    if (byte == LOADER_RESYNC_OR_FAILED) {
      count(LOADER_STATUS_HARD_RESYNCS, 1);
    }
  }
}

/* 0xE3 block-size d0 d1 d2 d3, then the blocks. */
static void stream_image(void) {
  const uint32_t block_size = receive_word();
  uint8_t first[HEADER_DATA_BYTES];
  for (int k = 0; k < HEADER_DATA_BYTES; ++k) {
    first[k] = receive();
  }
  uart_write(LOADER_ACK);
  if (block_size == 0 || block_size > MAX_BLOCK_BYTES) {
    uart_write(LOADER_RESYNC_OR_FAILED);
    return;
  }
  const uint32_t size = job.end - job.start + 1u;
  uint32_t done = size < HEADER_DATA_BYTES ? size : HEADER_DATA_BYTES;
  job.erased_until = job.start;
  job.verify_failed = 0;
  int reply = job.have_parameters ? store(job.start, first, done) : LOADER_REPLY_NO_PARAMETERS;
  uart_write(LOADER_ACK);
  while (done < size) {
    const uint32_t length = size - done < block_size ? size - done : block_size;
    if (!receive_block(length)) {
      reject_block();
      continue;
    }
    if (reply == 0 && !inside_flash(job.start + done, length)) {
      reply = LOADER_REPLY_OUTSIDE_FLASH;
    }
    if (reply != 0) {
      break; /* answered once the block is in, so that its bytes are not taken for commands */
    }
    /* Accepted before it is programmed: the host sends the next block meanwhile. A flash
     * failure is answered in place of the next reply. */
    count(LOADER_STATUS_BLOCKS, 1);
    uart_write(LOADER_BLOCK_ACCEPTED);
    reply = store(job.start + done, block, length);
    done += length;
  }
  if (reply != 0) {
    uart_write((uint8_t)reply);
    return;
  }
  uart_write(LOADER_ACK);
  uart_write(job.verify_failed ? LOADER_RESYNC_OR_FAILED : LOADER_ACK);
  set_flags(LOADER_FLAG_TRAILER_SENT | (job.verify_failed ? 0 : LOADER_FLAG_STREAM_OK));
}

static uint32_t crc_byte(uint32_t crc, uint32_t byte) {
  return crc_table[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
}

/* The CRC-32 (zlib's) of `length` bytes of flash from `offset` on, as the flash reads now:
 * whole words from the flash's memory, the partial words at the two ends byte by byte. */
static uint32_t flash_crc32(uint32_t offset, uint32_t length) {
  if (crc_table[128] == 0) { /* the entry of 0x80 is the polynomial itself */
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t crc = n;
      for (int bit = 0; bit < 8; ++bit) {
        crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
      }
      crc_table[n] = crc;
    }
  }
  uint32_t crc = 0xFFFFFFFFu;
  uint32_t at = offset;
  uint32_t left = length;
  while (left > 0) {
    const uint32_t skip = at & 3u;
    uint32_t word = flash_read_word(at - skip) >> (8u * skip);
    const uint32_t bytes = left < 4u - skip ? left : 4u - skip;
    for (uint32_t k = 0; k < bytes; ++k) {
      crc = crc_byte(crc, word);
      word >>= 8;
    }
    at += bytes;
    left -= bytes;
  }
  return ~crc;
}

/* 0xE4: k at once, then the CRC-32 of the flash parameters' range as the flash now reads.
 * Without parameters the answer is 7 alone; a range that leaves the flash, 5 alone. */
static void send_flash_crc(void) {
  if (!job.have_parameters) {
    uart_write(LOADER_REPLY_NO_PARAMETERS);
    return;
  }
  const uint32_t size = job.end - job.start + 1u;
  if (!inside_flash(job.start, size)) {
    uart_write(LOADER_REPLY_OUTSIDE_FLASH);
    return;
  }
  uart_write(LOADER_ACK);
  const uint32_t crc = flash_crc32(job.start, size);
  for (uint32_t shift = 32; shift > 0; shift -= 8) {
    uart_write((uint8_t)(crc >> (shift - 8)));
  }
}

void loader_main(void) {
  use_rate(uart_get_rate()); /* the boot ROM's */
  uart_write(LOADER_HELLO);
  uart_write(LOADER_VERSION_MAJOR);
  uart_write(LOADER_VERSION_MINOR);
  set_flags(LOADER_FLAG_HELLO_SENT);
  for (;;) {
    switch (receive()) {
      case LOADER_CMD_SWITCH_BAUD:
        switch_baud();
        break;
      case LOADER_CMD_FLASH_PARAMETERS:
        set_flash_parameters();
        break;
      case LOADER_CMD_STREAM_IMAGE:
        stream_image();
        break;
      case LOADER_CMD_FLASH_CRC:
        send_flash_crc();
        break;
      case LOADER_CMD_FINISH:
        set_flags(LOADER_FLAG_FINISHED);
        chip_reset();
        break;
      default:
        break; /* not a command: ignored */
    }
  }
}
