/* Blinks the LED on P0.10 of an LPC2148 board. */
#include <stdint.h>

#define REG(addr) (*(volatile uint32_t *)(addr))
#define IO0DIR REG(0xE0028008)
#define IO0SET REG(0xE0028004)
#define IO0CLR REG(0xE002800C)

#define LED (1u << 10)

static volatile uint32_t delay = 200000; /* initialised data, copied from flash at reset */
static volatile uint32_t count;

int main(void) {
    IO0DIR |= LED;
    for (;;) {
        IO0SET = LED;
        for (count = 0; count < delay; count++) {
        }
        IO0CLR = LED;
        for (count = 0; count < delay; count++) {
        }
    }
}
