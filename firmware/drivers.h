/* The board layer under the RAM loader: the UART, the NOR flash, a microsecond clock and the
 * chip's control registers. Porting the loader to another chip means rewriting drivers.c
 * (and tr7340.h) behind these functions; loader.c uses nothing else. */
#ifndef TARVOK_FIRMWARE_DRIVERS_H
#define TARVOK_FIRMWARE_DRIVERS_H

#include <stdint.h>

/* UART */
int uart_rx_ready(void);          /* nonzero when a received byte waits */
uint8_t uart_read(void);          /* the next received byte; call when uart_rx_ready() */
void uart_write(uint8_t byte);    /* waits for room, then queues the byte */
void uart_wait_idle(void);        /* waits until every queued byte has been sent */
int uart_set_rate(uint32_t rate); /* 0, or -1 when the UART cannot run at that rate */
uint32_t uart_get_rate(void);     /* the rate the UART runs at */

/* Clock */
uint32_t timer_microseconds(void); /* free-running, wraps after about 71 minutes */

/* NOR flash; offsets count from the start of the flash. Each returns 0, or -1 when the
 * controller refused the operation or stayed busy. */
uint32_t flash_size(void);
uint32_t flash_sector_size(void);
int flash_erase_sector(uint32_t offset); /* sector holding offset */
int flash_program(uint32_t offset, const uint8_t* data, uint32_t length);
int flash_equals(uint32_t offset, const uint8_t* data, uint32_t length); /* 1 when equal */
/* The word of flash at a word-aligned offset inside the flash, as the flash now reads
 * (little-endian: bits 7-0 are the byte at the offset). */
uint32_t flash_read_word(uint32_t offset);
/* The erase-wait byte the loader announces: how long the host should let the first sector
 * erase run before it expects an answer, in units of 2.29 ms. */
uint8_t flash_erase_wait(void);

/* Chip control */
void status_report(uint32_t index, uint32_t value); /* see loader_status.h */
void chip_reset(void);                              /* does not return */

#endif
