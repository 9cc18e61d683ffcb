/* Blinks the LED on P1.18 of an LPC1768 board from the SysTick interrupt. */
#include <stdint.h>

#define REG(addr) (*(volatile uint32_t *)(addr))
#define FIO1DIR REG(0x2009C020)
#define FIO1SET REG(0x2009C038)
#define FIO1CLR REG(0x2009C03C)
#define STCTRL REG(0xE000E010)
#define STRELOAD REG(0xE000E014)
#define STCURR REG(0xE000E018)

#define LED (1u << 18)

static volatile uint32_t ticks;
static volatile uint32_t period_ms = 500; /* initialised data, copied from flash at reset */
static char banner[] = "blinky"; /* in RAM as well: the pattern may be changed at run time */

void SysTick_Handler(void) { ticks++; }

static void delay_ms(uint32_t ms) {
    uint32_t start = ticks;
    while ((uint32_t)(ticks - start) < ms) {
    }
}

int main(void) {
    STRELOAD = 4000000u / 1000u - 1u; /* 1 ms at the 4 MHz internal oscillator */
    STCURR = 0;
    STCTRL = 7;
    FIO1DIR |= LED;
    for (uint32_t n = 0;; n++) {
        if (n & 1u) {
            FIO1CLR = LED;
        } else {
            FIO1SET = LED;
        }
        delay_ms(period_ms + (uint32_t)banner[n % (sizeof banner - 1)]);
    }
}
