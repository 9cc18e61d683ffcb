/* Receives bytes from UART0 into a ring buffer in the AHB SRAM; zero-initialised data only. */
#include <stdint.h>

#define REG(addr) (*(volatile uint32_t *)(addr))
#define U0RBR REG(0x4000C000)
#define U0LSR REG(0x4000C014)

uint8_t ring[256];
static uint32_t head;
volatile uint32_t received;

void SysTick_Handler(void) {}

int main(void) {
    for (;;) {
        if (U0LSR & 1u) {
            ring[head++ & 0xFFu] = (uint8_t)U0RBR;
            received = head;
        }
    }
}
