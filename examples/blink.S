; blink.S: blinks a LED on pin PB0 of an AT90S8535, about twice a second
; with a 4 MHz crystal. The example firmware of brenwick-cli's README.
;
; Rebuild blink.hex (GNU binutils for AVR):
;   avr-as -mmcu=at90s8535 -o blink.o blink.S
;   avr-ld -e main -o blink.elf blink.o
;   avr-objcopy -O ihex blink.elf blink.hex

        .equ DDRB,  0x17        ; I/O address of the port B direction register
        .equ PORTB, 0x18        ; I/O address of the port B output register
        .equ LED,   0x01        ; PB0
        .equ PASSES, 4          ; outer delay passes, 65 ms each at 4 MHz

        .text
        .global main
main:
        ldi   r16, LED
        out   DDRB, r16         ; PB0 drives the LED
        clr   r17               ; LED state, off
toggle:
        eor   r17, r16          ; flip the LED
        out   PORTB, r17
        ldi   r18, PASSES
outer:
        clr   r24               ; r25:r24 = 0: the inner loop runs 65536 times
        clr   r25
inner:
        sbiw  r24, 1            ; 2 cycles
        brne  inner             ; 2 cycles while taken
        dec   r18
        brne  outer
        rjmp  toggle
