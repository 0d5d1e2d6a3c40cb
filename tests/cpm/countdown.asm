; countdown.com: a loop of known length that returns to address 0 through the
; zero word CP/M leaves on the stack: 7 + 9 * 13 + 8 + 10 = 142 T-states.
; Run by the CP/M harness test to check that the final count is exact.
        org 0x100
        ld b, 10
loop:   djnz loop
        ret
