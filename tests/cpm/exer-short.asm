; exer-short.asm: the CP/M exerciser with a short run, checked by the CP/M harness test.
iterations: equ 3
        include "exer.inc"
