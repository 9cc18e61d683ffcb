/* The code read protection word that the boot ROM reads at 0x2FC (0x1FC on the ARM7 parts),
   as vendor start-up code places it. CRP_VALUE picks the level: 0x12345678 CRP1,
   0x87654321 CRP2, 0x43218765 CRP3 (locks the part for good), 0x4E697370 NO_ISP; anything
   else leaves the part open. */
#ifndef CRP_VALUE
#define CRP_VALUE 0xFFFFFFFF
#endif
__attribute__((section(".crp"), used)) const unsigned int crp_word = CRP_VALUE;
