/* The boot stage: a first program of at most BOOT_STAGE_MAX_BYTES that the boot ROM writes to
 * BOOT_STAGE_ADDRESS and starts, and that brings the RAM loader in at the burn rate instead of
 * the boot ROM's. One table for the stage firmware (C), the host and the simulated chip.
 *
 * The exchange, k being LOADER_ACK (0x6B):
 *   stage, at the boot ROM's rate:  53 01                        hello, version 1
 *   host,  at the boot ROM's rate:  D1 cc l3 l2 l1 l0 c3 c2 c1 c0
 *       cc: the loader protocol's baud code (1-14) of the rate to bring the loader in at; any
 *           other code keeps the boot ROM's rate. l: the loader's length, c: its CRC-32,
 *           most significant byte first.
 *   stage, at the boot ROM's rate:  k   (or B6 for a length of 0 or above the maximum: the
 *                                        stage then stops)
 *   both change to the rate of cc; the host probes:
 *   host:  5A                        stage: A5     (every probe is answered; up to ten)
 *   host:  the loader's l bytes, which the stage writes from BOOT_STAGE_LOADER_ADDRESS on
 *   stage: k when their CRC-32 is c, else B6 (the stage then stops)
 *   after k both go back to the boot ROM's rate (and line settings); then
 *   host:  D5                        the stage starts the loader at BOOT_STAGE_LOADER_ADDRESS,
 *                                    which greets as if the boot ROM had started it.
 * The stage keeps no time: when bytes stop coming it waits, and the chip needs a power cycle. */
#ifndef TARVOK_FIRMWARE_BOOT_STAGE_CODES_H
#define TARVOK_FIRMWARE_BOOT_STAGE_CODES_H

enum {
  BOOT_STAGE_ADDRESS = 0x0B00, /* below the loader, in RAM no loader uses before it runs */
  BOOT_STAGE_MAX_BYTES = 256,  /* one block of the boot ROM's write command */
  BOOT_STAGE_LOADER_ADDRESS = 0x0C00,
  BOOT_STAGE_MAX_LOADER_BYTES = 62464, /* from 0xC00 to the end of the 64 KiB of RAM */
  BOOT_STAGE_HELLO = 0x53,
  BOOT_STAGE_VERSION = 1,
  BOOT_STAGE_CMD_LOAD = 0xD1,
  BOOT_STAGE_PROBE = 0x5A,
  BOOT_STAGE_READY = 0xA5,
  BOOT_STAGE_LOADER_OK = 0x6B,
  BOOT_STAGE_REFUSED = 0xB6, /* a length it cannot take, or a loader that arrived damaged */
  BOOT_STAGE_GO = 0xD5,
};

#endif
