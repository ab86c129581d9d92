/* thermo.c: reads the ATmega328P's ADC every second and prints the
 * temperature over the UART at 9600 baud. The example program of the
 * README's screenshot. Build:
 *   avr-gcc -mmcu=atmega328p -Os -DF_CPU=16000000UL -Wl,-u,vfprintf -lprintf_flt \
 *           -o thermo.elf thermo.c -lm
 *   avr-objcopy -O ihex -R .eeprom thermo.elf thermo.hex
 */
#include <avr/io.h>
#include <math.h>
#include <stdio.h>
#include <util/delay.h>

static int uart_putchar(char c, FILE* stream) {
    (void)stream;
    while (!(UCSR0A & (1 << UDRE0))) {
    }
    UDR0 = c;
    return 0;
}

static FILE uart = FDEV_SETUP_STREAM(uart_putchar, NULL, _FDEV_SETUP_WRITE);

static uint16_t read_adc(uint8_t channel) {
    ADMUX = (1 << REFS0) | (channel & 0x0F);
    ADCSRA |= (1 << ADSC);
    while (ADCSRA & (1 << ADSC)) {
    }
    return ADC;
}

int main(void) {
    UBRR0 = F_CPU / 16 / 9600 - 1;
    UCSR0B = (1 << TXEN0);
    ADCSRA = (1 << ADEN) | (1 << ADPS2) | (1 << ADPS1) | (1 << ADPS0);
    stdout = &uart;
    for (;;) {
        const double volts = read_adc(0) * 5.0 / 1024.0;
        const double resistance = 10000.0 * volts / (5.0 - volts);
        const double kelvin = 1.0 / (1.0 / 298.15 + log(resistance / 10000.0) / 3950.0);
        printf("T = %.2f C (%u)\r\n", kelvin - 273.15, read_adc(0));
        _delay_ms(1000);
    }
}
