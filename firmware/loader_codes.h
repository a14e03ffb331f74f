/* The bytes of the RAM loader's protocol, both ways: one table for the loader firmware (C),
 * the host's side of the protocol and the simulated chip (C++). Plain C so that the firmware
 * build (arm-none-eabi-gcc, freestanding) takes it as it is. */
#ifndef TARVOK_FIRMWARE_LOADER_CODES_H
#define TARVOK_FIRMWARE_LOADER_CODES_H

enum {
  LOADER_HELLO = 0xB0, /* the loader's first byte; also the probe byte of the baud switch */
  LOADER_VERSION_MAJOR = 1,
  LOADER_VERSION_MINOR = 0,
  LOADER_BUSY = 0x1C, /* sent instead of the hello */
  LOADER_CMD_SWITCH_BAUD = 0xE1,
  LOADER_CMD_FLASH_PARAMETERS = 0xE2,
  LOADER_CMD_STREAM_IMAGE = 0xE3,
  /* Host: E4. Loader: k, then the CRC-32 of the flash as it now reads from the first to the
   * last byte of the flash parameters, four bytes, most significant first; or
   * LOADER_REPLY_NO_PARAMETERS alone when no flash parameters came. Only for a loader that
   * declares LOADER_FEATURE_FLASH_CRC. */
  LOADER_CMD_FLASH_CRC = 0xE4,
  LOADER_CMD_FINISH = 0xE5,
  LOADER_ACK = 0x6B,              /* 'k' */
  LOADER_BLOCK_ACCEPTED = 0xB9,   /* also the host's "resume" after a rejection */
  LOADER_BLOCK_REJECTED = 0xB7,   /* followed by an acknowledgement */
  LOADER_RESYNC_OR_FAILED = 0xB6, /* from the host: hard re-sync; from the loader: burn failed */
  /* What the loader answers a block with instead of accepting or rejecting it. */
  LOADER_REPLY_OUTSIDE_FLASH = 5, /* the block would go beyond the end of the flash */
  LOADER_REPLY_FLASH_ERROR = 6,
  LOADER_REPLY_NO_PARAMETERS = 7, /* an image block before any flash parameters */
};

/* Every CRC-32 of the protocols is the one of zlib and Ethernet: polynomial 0xEDB88320 (bit-
 * reversed), initial value and final XOR 0xFFFFFFFF. The CRC-32 of "123456789" is 0xCBF43926. */

/* A loader declares the additions to the protocol it speaks in the last
 * LOADER_DECLARATION_BYTES bytes of its image: the eight characters of
 * LOADER_DECLARATION_MAGIC (no terminating zero), the declaration's version, a byte of
 * LOADER_FEATURE_* bits, and six zero bytes. The host reads it from the bytes it is about to
 * download; a loader without it is spoken to exactly as one that knows no additions. */
#define LOADER_DECLARATION_MAGIC "TVKLDECL"
enum {
  LOADER_DECLARATION_BYTES = 16,
  LOADER_DECLARATION_MAGIC_BYTES = 8,
  LOADER_DECLARATION_VERSION = 1,
  /* The host may bring the loader into the chip through the boot stage built beside it (a
   * loader from elsewhere goes through a boot stage only when one is named with it). */
  LOADER_FEATURE_BOOT_STAGE = 0x01,
  /* The loader answers LOADER_CMD_FLASH_CRC. */
  LOADER_FEATURE_FLASH_CRC = 0x02,
};

#endif
