/* The boot stage: the first program the boot ROM starts, from BOOT_STAGE_ADDRESS. It brings
 * the RAM loader in at the burn rate instead of the boot ROM's, then starts it as the boot
 * ROM would have. The exchange is in boot_stage_codes.h; docs/loader-protocol.md gives the
 * choices made here.
 *
 * It must fit one 256-byte block of the boot ROM's write command. Written in C, GCC at -Os
 * makes over 300 bytes of it even in Thumb state, so the body is Thumb assembly (about 240
 * bytes with its table), every number passed in from the C headers as an "i" operand, the
 * only kind of operand a naked function's assembly may take. The whole exchange is therefore
 * one function, longer than our others, calling only its two helpers. It uses no stack and no
 * RAM of its own, keeps no time (when the host stops sending, it waits), and hands the loader
 * the registers as the boot ROM leaves them: undefined, the stack pointer included.
 *
 * Registers: r7 the UART, r6 the boot ROM's divisor; r0 the byte received or to send. */
#include <stdint.h>

#include "../boot_stage_codes.h"
#include "../tr7340.h"

/* The divisor of a rate, rounded to the nearest. */
#define DIVISOR(rate) ((TR7340_UART_CLOCK_HZ + 8u * (rate)) / (16u * (rate)))

enum { BAUD_CODES = 14 };

/* The loader protocol's baud codes 1-14. */
static const uint16_t divisors[BAUD_CODES] = {
    DIVISOR(921600), DIVISOR(460800), DIVISOR(230400), DIVISOR(115200), DIVISOR(57600),
    DIVISOR(38400),  DIVISOR(19200),  DIVISOR(14400),  DIVISOR(9600),   DIVISOR(4800),
    DIVISOR(2400),   DIVISOR(1200),   DIVISOR(300),    DIVISOR(110)};

/* The code tests status bits by shifting them into the carry, and builds two numbers from a
 * byte and a shift. */
_Static_assert(TR7340_UART_STATUS_RX_READY == 1u << 0, "RX_READY is shifted out as bit 0");
_Static_assert(TR7340_UART_STATUS_TX_IDLE == 1u << 2, "TX_IDLE is shifted out as bit 2");
_Static_assert((BOOT_STAGE_MAX_LOADER_BYTES & 0xFF) == 0 && BOOT_STAGE_MAX_LOADER_BYTES >> 8 < 256,
               "the maximum is a byte shifted by 8");
_Static_assert((BOOT_STAGE_LOADER_ADDRESS & 0xF) == 0 && BOOT_STAGE_LOADER_ADDRESS >> 4 < 256,
               "the loader's address is a byte shifted by 4");

/* One function of about 120 lines, on purpose: it is naked Thumb code that must fit in the
 * 256 bytes the boot ROM writes in one block, runs before any stack exists, and cannot call C.
 * Split into functions it would pay for calls and returns it has no room or stack for. */
void stage_main(void) __attribute__((naked, noreturn));
void stage_main(void) {
  __asm__ volatile(
      "    .syntax unified\n"
      /* Hello at the boot ROM's rate, which is kept in r6. */
      "    ldr r7, =%c[uart]\n"
      "    ldr r6, [r7, #%c[divisor]]\n"
      "    movs r0, #%c[hello]\n"
      "    bl send\n"
      "    movs r0, #%c[version]\n"
      "    bl send\n"
      /* D1 cc l3 l2 l1 l0 c3 c2 c1 c0: the code less 1 in r3; the eight bytes shift through
       * r4:r5, leaving the length in r4 and the CRC in r5, then r8. */
      "1:  bl receive\n"
      "    cmp r0, #%c[load]\n"
      "    bne 1b\n"
      "    bl receive\n"
      "    subs r3, r0, #1\n"
      "    movs r2, #8\n"
      "2:  bl receive\n"
      "    lsls r4, r4, #8\n"
      "    lsrs r1, r5, #24\n"
      "    orrs r4, r4, r1\n"
      "    lsls r5, r5, #8\n"
      "    orrs r5, r5, r0\n"
      "    subs r2, r2, #1\n"
      "    bne 2b\n"
      "    mov r8, r5\n"
      /* A length of 1 to the maximum, or the stage stops. */
      "    subs r0, r4, #1\n"
      "    movs r1, #(%c[max] >> 8)\n"
      "    lsls r1, r1, #8\n"
      "    cmp r0, r1\n"
      "    bhs refuse\n"
      "    movs r0, #%c[ok]\n"
      "    bl send\n"
      /* k has left: the code's rate; another code keeps the boot ROM's. */
      "    cmp r3, #%c[codes]\n"
      "    bhs 3f\n"
      "    ldr r1, =%c[table]\n"
      "    lsls r3, r3, #1\n"
      "    ldrh r1, [r1, r3]\n"
      "    str r1, [r7, #%c[divisor]]\n"
      /* Bytes before the first probe were sent while the two rates still differed. Every
       * probe is answered; the first other byte is the loader's first. */
      "3:  bl receive\n"
      "    cmp r0, #%c[probe]\n"
      "    bne 3b\n"
      "4:  movs r0, #%c[ready]\n"
      "    bl send\n"
      "    bl receive\n"
      "    cmp r0, #%c[probe]\n"
      "    beq 4b\n"
      /* The loader: r1 where its next byte goes, r4 the bytes still to come, r2 the CRC-32
       * (reflected, bit by bit), r3 the polynomial, r5 the bits left of a byte. */
      "    movs r1, #(%c[loader] >> 4)\n"
      "    lsls r1, r1, #4\n"
      "    movs r2, #0\n"
      "    mvns r2, r2\n"
      "    ldr r3, =0xEDB88320\n"
      "5:  strb r0, [r1]\n"
      "    adds r1, r1, #1\n"
      "    eors r2, r2, r0\n"
      "    movs r5, #8\n"
      "6:  lsrs r2, r2, #1\n"
      "    bcc 7f\n"
      "    eors r2, r2, r3\n"
      "7:  subs r5, r5, #1\n"
      "    bne 6b\n"
      "    subs r4, r4, #1\n"
      "    beq 8f\n"
      "    bl receive\n"
      "    b 5b\n"
      "8:  mvns r2, r2\n"
      "    cmp r2, r8\n"
      "    bne refuse\n"
      "    movs r0, #%c[ok]\n"
      "    bl send\n"
      /* k has left: back to the boot ROM's rate, and the loader starts on GO, in ARM state
       * (bit 0 of the address clear). */
      "    str r6, [r7, #%c[divisor]]\n"
      "9:  bl receive\n"
      "    cmp r0, #%c[go]\n"
      "    bne 9b\n"
      "    movs r0, #(%c[loader] >> 4)\n"
      "    lsls r0, r0, #4\n"
      "    bx r0\n"
      /* B6, and the stage stops. */
      "refuse:\n"
      "    movs r0, #%c[refused]\n"
      "    bl send\n"
      "1:  b 1b\n"
      /* Sends r0 and waits until it has left the pin, so that the transmitter always has
       * room for the next byte (the boot ROM starts the stage with it empty) and a change of
       * rate never cuts a byte. Only r0 changes... */
      "send:\n"
      "    str r0, [r7]\n"
      "1:  ldr r0, [r7, #%c[status]]\n"
      "    lsrs r0, r0, #3\n"
      "    bcc 1b\n"
      "    bx lr\n"
      /* ...and r0 <- the next byte received: only r0 changes. */
      "receive:\n"
      "    ldr r0, [r7, #%c[status]]\n"
      "    lsrs r0, r0, #1\n"
      "    bcc receive\n"
      "    ldr r0, [r7]\n"
      "    lsls r0, r0, #24\n"
      "    lsrs r0, r0, #24\n"
      "    bx lr\n"
      "    .ltorg\n"
      "    .syntax divided\n"
      :
      : [uart] "i"(TR7340_UART_BASE), [status] "i"(TR7340_UART_STATUS - TR7340_UART_BASE),
        [divisor] "i"(TR7340_UART_DIVISOR - TR7340_UART_BASE), [hello] "i"(BOOT_STAGE_HELLO),
        [version] "i"(BOOT_STAGE_VERSION), [load] "i"(BOOT_STAGE_CMD_LOAD),
        [max] "i"(BOOT_STAGE_MAX_LOADER_BYTES), [ok] "i"(BOOT_STAGE_LOADER_OK),
        [codes] "i"(BAUD_CODES), [table] "i"(divisors), [probe] "i"(BOOT_STAGE_PROBE),
        [ready] "i"(BOOT_STAGE_READY), [loader] "i"(BOOT_STAGE_LOADER_ADDRESS),
        [go] "i"(BOOT_STAGE_GO), [refused] "i"(BOOT_STAGE_REFUSED));
}
