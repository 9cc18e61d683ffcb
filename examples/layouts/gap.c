/* Initialised data whose alignment (8) exceeds the end of the code's: a 64-bit counter and a
   text of odd length, so the load address of .data leaves a gap behind the code. */
#include <stdint.h>

#define REG(addr) (*(volatile uint32_t *)(addr))
#define GPIO_NOT3 REG(0x400F6300) /* toggle register of GPIO port 3 */

static volatile uint64_t uptime = 0x0123456789ABCDEFull;
static const char greeting[] = "dual bank";
volatile const char *volatile seen;

void SysTick_Handler(void) { uptime++; }

int main(void) {
    seen = greeting;
    for (;;) {
        if ((uptime & 0xFFFF) == 0) GPIO_NOT3 = 1u << 7;
    }
}
