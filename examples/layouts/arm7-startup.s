/* Exception vector table and start-up of an ARM7TDMI-S part of the LPC2000 class (LPC2148).
   Word 0x14 is reserved: the boot ROM accepts the image only when all eight words of the
   table sum to zero, so the post-build step stores the checksum there. */
        .section .vectors, "ax"
        .arm
        .global _start
_start:
        ldr     pc, reset_addr
        ldr     pc, undef_addr
        ldr     pc, swi_addr
        ldr     pc, pabort_addr
        ldr     pc, dabort_addr
        .word   0                       /* checksum */
        ldr     pc, [pc, #-0xFF0]       /* IRQ: the vectored interrupt controller's address */
        ldr     pc, fiq_addr
reset_addr:  .word Reset_Handler
undef_addr:  .word Default_Handler
swi_addr:    .word Default_Handler
pabort_addr: .word Default_Handler
dabort_addr: .word Default_Handler
fiq_addr:    .word Default_Handler

        .text
        .arm
        .global Reset_Handler
Reset_Handler:
        ldr     sp, =_estack
        ldr     r0, =_sidata            /* initialised data from flash */
        ldr     r1, =_sdata
        ldr     r2, =_edata
1:      cmp     r1, r2
        ldrlo   r3, [r0], #4
        strlo   r3, [r1], #4
        blo     1b
        ldr     r1, =_sbss
        ldr     r2, =_ebss
        mov     r3, #0
2:      cmp     r1, r2
        strlo   r3, [r1], #4
        blo     2b
        bl      main
Default_Handler:
        b       Default_Handler
