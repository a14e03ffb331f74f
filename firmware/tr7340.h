/* The TR7340's memory map and peripheral registers, as the RAM loader and the emulated chip
 * (tarvok-sim --cpu) both see them. docs/tr7340-datasheet.md describes each register.
 *
 * Plain C so that the firmware and the C++ emulator include the same file. All registers are
 * 32 bits wide and are accessed as whole words. */
#ifndef TARVOK_FIRMWARE_TR7340_H
#define TARVOK_FIRMWARE_TR7340_H

/* On-chip RAM: the boot ROM writes the loader here and runs it. */
#define TR7340_RAM_BASE 0x00000000u
#define TR7340_RAM_BYTES 0x00010000u /* 64 KiB */
#define TR7340_LOADER_ADDRESS 0x00000C00u

/* NOR flash, readable as memory; erased and programmed through the flash controller. */
#define TR7340_FLASH_BASE 0x10000000u
#define TR7340_FLASH_MAX_BYTES 0x08000000u /* 128 MiB of address space */
#define TR7340_FLASH_SECTOR_BYTES 4096u

/* UART: 8 data bits, no parity, 1 stop bit; rate = clock / (16 x divisor). */
#define TR7340_UART_BASE 0x80001000u
#define TR7340_UART_DATA (TR7340_UART_BASE + 0x0u)    /* read: next received byte; write: send */
#define TR7340_UART_STATUS (TR7340_UART_BASE + 0x4u)  /* TR7340_UART_STATUS_* bits */
#define TR7340_UART_DIVISOR (TR7340_UART_BASE + 0x8u) /* 1-65535 */
#define TR7340_UART_STATUS_RX_READY 0x1u              /* a received byte waits in DATA */
#define TR7340_UART_STATUS_TX_READY 0x2u              /* DATA takes another byte */
#define TR7340_UART_STATUS_TX_IDLE 0x4u               /* every byte written has left the pin */
#define TR7340_UART_STATUS_OVERRUN 0x8u               /* receive FIFO overflowed; read clears */
#define TR7340_UART_CLOCK_HZ 14745600u
#define TR7340_UART_RX_FIFO_BYTES 4096u

/* NOR flash controller. PROGRAM writes one word at ADDRESS and advances ADDRESS by 4;
 * COMMAND_ERASE_SECTOR erases the sector that holds ADDRESS. */
#define TR7340_FLASH_CTRL_BASE 0x80002000u
#define TR7340_FLASH_ADDRESS (TR7340_FLASH_CTRL_BASE + 0x0u) /* flash offset, word-aligned */
#define TR7340_FLASH_PROGRAM (TR7340_FLASH_CTRL_BASE + 0x4u)
#define TR7340_FLASH_COMMAND (TR7340_FLASH_CTRL_BASE + 0x8u)
#define TR7340_FLASH_STATUS (TR7340_FLASH_CTRL_BASE + 0xCu)
#define TR7340_FLASH_SIZE (TR7340_FLASH_CTRL_BASE + 0x10u) /* bytes of flash fitted */
#define TR7340_FLASH_COMMAND_ERASE_SECTOR 0x1u
#define TR7340_FLASH_STATUS_BUSY 0x1u
#define TR7340_FLASH_STATUS_ERROR 0x2u /* the last operation was refused; clears on read */

/* Free-running microsecond counter. */
#define TR7340_TIMER_BASE 0x80003000u
#define TR7340_TIMER_MICROSECONDS (TR7340_TIMER_BASE + 0x0u)

/* System control: chip reset, and scratch registers a debugger reads over the debug port. */
#define TR7340_SYSCTL_BASE 0x80004000u
#define TR7340_SYSCTL_RESET (TR7340_SYSCTL_BASE + 0x0u) /* write TR7340_SYSCTL_RESET_KEY */
#define TR7340_SYSCTL_SCRATCH(n) (TR7340_SYSCTL_BASE + 0x10u + 4u * (n))
#define TR7340_SYSCTL_SCRATCH_COUNT 8u
#define TR7340_SYSCTL_RESET_KEY 0x52535421u

/* The peripheral window: everything from the UART to the system control block. */
#define TR7340_PERIPHERALS_BASE 0x80001000u
#define TR7340_PERIPHERALS_BYTES 0x00004000u

#endif
