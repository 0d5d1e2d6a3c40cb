; spin.com: prints one character, then loops for ever (12 T-states a turn).
; Run by the CP/M harness test with --max-tstates. Up to the loop it takes
; LD E 7 + LD C 7 + CALL 17 + JP 10 + trap 0 + RET 10 = 51 T-states.
        org 0x100
        ld e, 'x'
        ld c, 2
        call 5
spin:   jr spin
