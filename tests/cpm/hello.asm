; hello.com: prints through BDOS functions 9 and 2, shows the top of memory
; that CP/M keeps at address 6, and ends by jumping to 0.
; Run by the CP/M harness test.
bdos:   equ 5
        org 0x100
        ld de, greeting
        ld c, 9
        call bdos
        ld hl, letters
next:   ld a, (hl)
        or a
        jr z, top
        push hl
        ld e, a
        ld c, 2
        call bdos
        pop hl
        inc hl
        jr next
top:    ld hl, (6)
        ld a, h
        call hexbyte
        ld a, l
        call hexbyte
        ld de, crlf
        ld c, 9
        call bdos
        jp 0

; Prints A as two upper-case hex digits; keeps HL.
hexbyte:
        push af
        rrca
        rrca
        rrca
        rrca
        call hexdigit
        pop af
hexdigit:
        and 0x0f
        add a, 0x90
        daa
        adc a, 0x40
        daa
        push hl
        ld e, a
        ld c, 2
        call bdos
        pop hl
        ret

greeting: db "Hello, CP/M!", 13, 10, "$"
letters:  db "BDOS 2 ok, top=", 0
crlf:     db 13, 10, "$"
