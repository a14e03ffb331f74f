/* Entry of the RAM loader: the boot ROM jumps to the first byte of the block. */
    .syntax unified
    .arm
    .section .text.entry, "ax"
    .global _start
_start:
    msr cpsr_c, #0xD3           /* supervisor mode, interrupts off */
    ldr sp, =__stack_top
    ldr r0, =__bss_start
    ldr r1, =__bss_end
    mov r2, #0
1:  cmp r0, r1
    strlo r2, [r0], #4
    blo 1b
    bl loader_main
2:  b 2b

/* The markers sit at fixed offsets of the block; the linker script places this section. */
    .section .loader_markers, "a"
    .asciz "<<<RAM_BEGIN>>>"
    .asciz "<<<RAM_END>>>"
