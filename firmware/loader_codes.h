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

#endif
