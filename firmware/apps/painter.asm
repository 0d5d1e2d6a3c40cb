; painter.asm: demo application "Painter", built into painter.app. Clears the
; screen, writes a heading, draws a checkerboard and a "V" through the
; firmware's services, prints its progress through the print trap, waits for
; a tap or a button and returns to the firmware.

        include "hardware.inc"

        org 0x4000
        jp main
        ds 0x4000+APP_NAME-$,0xff
        db "Painter",0
        ds 0x4000+APP_SIZE-$,0xff
        dw 16                   ; 16 KB: one flash page
        ds 0x4000+APP_SLOT-$,0xff
        db 0xff                 ; slot, stamped at installation
        ds 0x4000+APP_CODE-$,0xff

main:   ld hl,msg_hello
        db 0xED,0xFE            ; print trap
        call FW_CLEAR
        ld hl,txt_heading
        ld bc,0x0000            ; row 0, column 0
        call FW_TEXT
        ld hl,txt_hint
        ld bc,0x1700            ; row 23, column 0
        call FW_TEXT
        call draw_board
        call draw_diagonal
        ld hl,msg_drawn
        db 0xED,0xFE
        call FW_WAIT_TAP
        ld hl,msg_bye
        db 0xED,0xFE
        ret

BOARD_TOP:      equ 20
BOARD_LINES:    equ 120
DIAG_TOP:       equ 145
DIAG_LINES:     equ 80

; Checkerboard of 8x8 squares on lines BOARD_TOP..BOARD_TOP+BOARD_LINES-1,
; written straight into the display controller.
draw_board:
        ld c,0                  ; column
db_col: ld a,c
        ld (LCD_COLUMN),a
        ld hl,LCD_LINES+BOARD_TOP
        ld b,BOARD_LINES
db_line:
        ld a,l                  ; square colour: (line / 8 + column) odd
        sub BOARD_TOP
        rrca
        rrca
        rrca
        add a,c
        and 1
        jr z,db_put
        ld a,0xFF
db_put: ld (hl),a
        inc l
        djnz db_line
        inc c
        ld a,c
        cp 20
        jr nz,db_col
        ret

; A "V" of two diagonals below the board, one pixel at a time.
draw_diagonal:
        ld b,0                  ; x of the left stroke
        ld c,DIAG_TOP           ; y
dd_loop:
        call FW_PLOT
        ld a,159
        sub b
        push bc
        ld b,a                  ; the mirrored pixel of the right stroke
        call FW_PLOT
        pop bc
        inc b
        inc c
        ld a,c
        cp DIAG_TOP+DIAG_LINES
        jr nz,dd_loop
        ret

msg_hello:      db "Painter: hello from flash",10,0
msg_drawn:      db "Painter: board drawn, tap to return",10,0
msg_bye:        db "Painter: bye",10,0
txt_heading:    db "Painter demo app",0
txt_hint:       db "Tap to return",0

        ds 0x8000-$,0xff
