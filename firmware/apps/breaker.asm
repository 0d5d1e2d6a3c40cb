; breaker.asm: demo application "Break demo", built into breaker.app. Prints a
; line, stops in the debugger with the break trap (ED FF), then runs a short
; loop that calls a subroutine (a place to step into and over), prints the
; result and returns to the firmware.

        include "hardware.inc"

        org 0x4000
        jp main
        ds 0x4000+APP_NAME-$,0xff
        db "Break demo",0
        ds 0x4000+APP_SIZE-$,0xff
        dw 16                   ; 16 KB: one flash page
        ds 0x4000+APP_SLOT-$,0xff
        db 0xff                 ; slot, stamped at installation
        ds 0x4000+APP_CODE-$,0xff

result:         equ 0x8000      ; window 2 holds RAM page 1 while an app runs
text:           equ 0x8010

main:   ld hl,msg_before
        db 0xED,0xFE            ; print trap
        db 0xED,0xFF            ; break trap: the debugger opens here
after_break:
        ld hl,0
        ld b,5
sum_loop:
        ld a,b
        call add_a_to_hl
        djnz sum_loop
        ld (result),hl
        call print_result
        ret

; HL := HL + A
add_a_to_hl:
        add a,l
        ld l,a
        ret nc
        inc h
        ret

; "Break demo: sum 1..5 = NN" from the word at result.
print_result:
        ld hl,msg_sum
        ld de,text
pr_copy:
        ld a,(hl)
        or a
        jr z,pr_num
        ld (de),a
        inc hl
        inc de
        jr pr_copy
pr_num: ld a,(result)
        ld b,'0'-1
pr_tens:
        inc b
        sub 10
        jr nc,pr_tens
        add a,10+'0'
        ld c,a
        ld a,b
        ld (de),a
        inc de
        ld a,c
        ld (de),a
        inc de
        ld a,10
        ld (de),a
        inc de
        xor a
        ld (de),a
        ld hl,text
        db 0xED,0xFE
        ret

msg_before:     db "Break demo: about to stop in the debugger",10,0
msg_sum:        db "Break demo: sum 1..5 = ",0

        ds 0x8000-$,0xff
