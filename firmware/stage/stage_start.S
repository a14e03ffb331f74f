/* Entry of the boot stage: the boot ROM jumps to its first byte, at BOOT_STAGE_ADDRESS, in
 * ARM state. The stage itself is Thumb code, to fit its 256 bytes. */
    .syntax unified
    .arm
    .section .text.entry, "ax"
    .global _start
_start:
    blx stage_main              /* never returns: the stage jumps to the loader */
