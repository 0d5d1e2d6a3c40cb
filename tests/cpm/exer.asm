; exer.asm: the CP/M exerciser at benchmark length, some billions of T-states
; (pdemu-cpm tests/cpm/exer.com reports the emulated MHz).
iterations: equ 30000
        include "exer.inc"
