; demo.asm: pdemu's demo firmware, assembled into pdemu-demo.pgm at build time
; (firmware/CMakeLists.txt). It boots the emulated organiser, shows a title,
; the clock, the pen and the buttons, lists the applications installed in
; flash and starts one when its line is tapped. The headless runner and the
; end-to-end tests run it; conventions are in firmware/README.md.
;
; Memory: code and data in flash page 0; variables at 0xC000 (fixed RAM);
; stack below 0x10000. Window 2 shows the display except while an
; application runs, which gets RAM page 1 there as scratch.

        include "hardware.inc"

FIRST_APP_PAGE: equ 65          ; the ROM image is 1 MB: pages 0-63, then 64
MAX_APPS:       equ 6
ROW_TITLE:      equ 0
ROW_DATE:       equ 2
ROW_TIME:       equ 3
ROW_PEN:        equ 5
ROW_APPS:       equ 10          ; heading; the names follow on the next rows
LINE_PAD:       equ 179         ; the drawing pad starts below this line

; Variables (fixed RAM)
tick:           equ 0xC000      ; counts interrupts
last_sec:       equ 0xC001      ; seconds digit last drawn
pen_down:       equ 0xC002      ; 1 while the pen was down at the last poll
pen_seen:       equ 0xC003      ; 1 once the pen has touched
pen_ignore:     equ 0xC004      ; 1: ignore the pen until it is lifted
pen_x:          equ 0xC005      ; last pen position in screen pixels
pen_y:          equ 0xC006      ; word
keys:           equ 0xC008      ; held buttons, bits as in key_table
invert:         equ 0xC009      ; 0xFF draws text inverted
app_count:      equ 0xC00A
app_pages:      equ 0xC010      ; MAX_APPS page numbers
line_x:         equ 0xC020      ; line drawing: current point
line_y:         equ 0xC021
line_x1:        equ 0xC022      ; end point
line_y1:        equ 0xC023
line_sx:        equ 0xC024      ; step +1 or -1 (0xFF)
line_sy:        equ 0xC025
line_dx:        equ 0xC026      ; word, |x1 - x0|
line_dy:        equ 0xC028      ; word, -|y1 - y0|
line_err:       equ 0xC02A      ; word
textbuf:        equ 0xC040      ; 64 bytes for lines being built
VARS_SIZE:      equ 0x80

        org 0
        di
        jp start

        ds 0x38-$,0xff
; IM 1 handler: acknowledge every raised source and count the tick.
irq:    push af
        in a,(PORT_IRQ)
        cpl
        out (PORT_IRQ),a
        ld a,(tick)
        inc a
        ld (tick),a
        pop af
        ei
        reti

        ds 0x66-$,0xff
nmi:    retn

        ds 0x80-$,0xff
; Services for applications; addresses fixed in hardware.inc.
        jp clear_screen         ; FW_CLEAR
        jp draw_text            ; FW_TEXT
        jp wait_tap             ; FW_WAIT_TAP
        jp select_display       ; FW_DISPLAY
        jp set_pixel            ; FW_PLOT

start:  ld sp,0
        im 1
        ld hl,tick
        ld de,tick+1
        ld bc,VARS_SIZE-1
        ld (hl),0
        ldir
        ld hl,msg_boot
        db 0xED,0xFE            ; print trap
        call scan_apps
        call print_apps
        call draw_home
        ei
main_loop:
        halt                    ; until the next interrupt
        call poll_clock
        call poll_keys
        call poll_pen
        jr main_loop

; ---------------------------------------------------------------- display

select_display:
        ld a,SEL_DISPLAY
        out (PORT_RAMSEL),a
        ret

; Shows the display in window 2 and clears it.
clear_screen:
        call select_display
        ld c,0
cs_col: ld a,c
        ld (LCD_COLUMN),a
        ld hl,LCD_LINES
        ld b,240
cs_line:
        ld (hl),0
        inc l
        djnz cs_line
        inc c
        ld a,c
        cp 20
        jr nz,cs_col
        ret

; Character A at text row B, column C, XORed with (invert); keeps BC and IX.
draw_char:
        push bc
        cp 0x20
        jr c,dc_bad
        cp 0x7F
        jr c,dc_ok
dc_bad: ld a,'?'
dc_ok:  sub 0x20
        ld l,a
        ld h,0
        add hl,hl
        add hl,hl
        add hl,hl
        ld de,font
        add hl,de
        ex de,hl                ; DE = glyph
        ld a,c
        ld (LCD_COLUMN),a
        ld a,b                  ; line = row * 10
        add a,a
        ld c,a
        add a,a
        add a,a
        add a,c
        ld l,a
        ld h,LCD_LINES/256
        ld a,(invert)
        ld c,a
        ld (hl),c               ; blank line above the glyph
        inc l
        ld b,8
dc_row: ld a,(de)
        xor c
        ld (hl),a
        inc de
        inc l
        djnz dc_row
        ld (hl),c               ; blank line below
        pop bc
        ret

; Zero-terminated text at HL from row B, column C; stops at the row's end.
; Leaves C behind the last character and HL on the terminator.
draw_text:
        ld a,(hl)
        or a
        ret z
        push hl
        call draw_char
        pop hl
        inc hl
        inc c
        ld a,c
        cp 20
        jr c,draw_text
        ret

; Text at HL on row B from column 0, blanks to the end of the row.
draw_line:
        ld c,0
draw_line_from:
        call draw_text
dl_pad: ld a,c
        cp 20
        ret nc
        ld a,' '
        call draw_char
        inc c
        jr dl_pad

; Dark pixel at x B (0-159), y C (0-239); anything outside is ignored.
; Keeps BC and D.
set_pixel:
        ld a,c
        cp 240
        ret nc
        ld a,b
        cp 160
        ret nc
        rrca
        rrca
        rrca
        and 0x1F
        ld (LCD_COLUMN),a
        ld a,b
        and 7
        ld e,a
        ld a,0x80
        jr z,sp_set
sp_shift:
        rrca
        dec e
        jr nz,sp_shift
sp_set: ld h,LCD_LINES/256
        ld l,c
        or (hl)
        ld (hl),a
        ret

; The whole home screen.
draw_home:
        call clear_screen
        ld a,0xFF
        ld (invert),a
        ld hl,txt_title
        ld b,ROW_TITLE
        call draw_line
        xor a
        ld (invert),a
        in a,(PORT_CLOCK)
        ld (last_sec),a
        call draw_clock
        call draw_pen
        call draw_keys
        call draw_apps
        ld c,0                  ; a rule above the drawing pad
dh_rule:
        ld a,c
        ld (LCD_COLUMN),a
        ld a,0xFF
        ld (LCD_LINES+LINE_PAD),a
        inc c
        ld a,c
        cp 20
        jr nz,dh_rule
        ret

; ---------------------------------------------------------------- clock

poll_clock:
        in a,(PORT_CLOCK)
        ld hl,last_sec
        cp (hl)
        ret z
        ld (hl),a
        ; fall through

; "Date 2026-12-08 Tue" and "Time 14:03:29" from the clock ports.
draw_clock:
        ld de,textbuf
        ld hl,txt_date
        call copy_str
        in a,(PORT_CLOCK+12)    ; year - 1901, tens
        ld l,a
        ld h,0
        add hl,hl
        ld b,h
        ld c,l
        add hl,hl
        add hl,hl
        add hl,bc               ; * 10
        in a,(PORT_CLOCK+11)    ; units
        ld c,a
        ld b,0
        add hl,bc
        ld bc,1901
        add hl,bc
        call put_dec4
        ld a,'-'
        ld (de),a
        inc de
        in a,(PORT_CLOCK+10)    ; month
        call put_digit
        in a,(PORT_CLOCK+9)
        call put_digit
        ld a,'-'
        ld (de),a
        inc de
        in a,(PORT_CLOCK+8)     ; day
        call put_digit
        in a,(PORT_CLOCK+7)
        call put_digit
        ld a,' '
        ld (de),a
        inc de
        in a,(PORT_CLOCK+6)     ; weekday, 0 Sunday
        cp 7
        jr c,dc_wday
        ld a,7
dc_wday:
        add a,a
        add a,a
        ld l,a
        ld h,0
        ld bc,txt_weekdays
        add hl,bc
        call copy_str
        xor a
        ld (de),a
        ld hl,textbuf
        ld b,ROW_DATE
        call draw_line

        ld de,textbuf
        ld hl,txt_time
        call copy_str
        in a,(PORT_CLOCK+5)     ; hours
        call put_digit
        in a,(PORT_CLOCK+4)
        call put_digit
        ld a,':'
        ld (de),a
        inc de
        in a,(PORT_CLOCK+3)     ; minutes
        call put_digit
        in a,(PORT_CLOCK+2)
        call put_digit
        ld a,':'
        ld (de),a
        inc de
        in a,(PORT_CLOCK+1)     ; seconds
        call put_digit
        in a,(PORT_CLOCK)
        call put_digit
        xor a
        ld (de),a
        ld hl,textbuf
        ld b,ROW_TIME
        jp draw_line

; ---------------------------------------------------------------- text helpers

; Copies the zero-terminated text at HL to DE (without the terminator).
copy_str:
        ld a,(hl)
        or a
        ret z
        ld (de),a
        inc hl
        inc de
        jr copy_str

; Digit A (0-9) as a character at DE.
put_digit:
        add a,'0'
        ld (de),a
        inc de
        ret

; HL (0-9999) as four decimal digits at DE.
put_dec4:
        ld bc,-1000
        call pd_digit
put_dec3:                       ; HL (0-999) as three digits
        ld bc,-100
        call pd_digit
        ld bc,-10
        call pd_digit
        ld a,l
        jr put_digit
pd_digit:
        ld a,'0'-1
pd_loop:
        inc a
        add hl,bc
        jr c,pd_loop
        sbc hl,bc
        ld (de),a
        inc de
        ret

; ---------------------------------------------------------------- buttons

; keys bits: 0 PGUP, 1 PGDN, 2 L, 3 TODO, 4 ADDR, 5 SCHED, 6 MEMO.
read_keys:
        ld a,0xFE               ; group 0: L, PGDN, PGUP
        out (PORT_KEYS),a
        in a,(PORT_KEYS)
        cpl
        and 7
        ld d,a
        ld a,0xFD               ; group 1: SCHED, ADDR, TODO
        out (PORT_KEYS),a
        in a,(PORT_KEYS)
        cpl
        and 7
        rlca
        rlca
        rlca
        or d
        ld d,a
        ld a,0xFB               ; group 2: MEMO
        out (PORT_KEYS),a
        in a,(PORT_KEYS)
        cpl
        and 1
        rrca
        rrca
        or d
        ret

poll_keys:
        call read_keys
        ld hl,keys
        cp (hl)
        ret z
        ld (hl),a
        ; fall through

; Button names, inverted while held.
draw_keys:
        ld ix,key_table
dk_loop:
        ld a,(ix+0)
        cp 0xFF
        ret z
        ld b,a
        ld c,(ix+1)
        ld a,(keys)
        and (ix+2)
        jr z,dk_plain
        ld a,0xFF
dk_plain:
        ld (invert),a
        push ix
        pop hl
        inc hl
        inc hl
        inc hl
        call draw_text
        inc hl
        push hl
        pop ix
        xor a
        ld (invert),a
        jr dk_loop

key_table:                      ; row, column, keys bit, name
        db 7,0,0x10,"ADDR",0
        db 7,5,0x08,"TODO",0
        db 7,10,0x01,"PGUP",0
        db 8,0,0x20,"SCHED",0
        db 8,6,0x40,"MEMO",0
        db 8,11,0x02,"PGDN",0
        db 8,16,0x04,"L",0
        db 0xFF

; ---------------------------------------------------------------- pen

; Z when the pen is up; otherwise B = x (0-159) and HL = y (0-271), converted
; back from the digitiser's 10-bit scale (the conversion is exact for every
; pixel; x loses nothing although the digitiser drops its two lowest bits).
read_pen:
        ld a,PEN_READ_X
        out (PORT_PENCMD),a
        in a,(PORT_PENDATA)     ; X bits 9-6 in bits 7-4
        and 0xF0
        ld l,a
        ld h,0
        add hl,hl
        add hl,hl
        ld a,PEN_READ_LOW
        out (PORT_PENCMD),a
        in a,(PORT_PENDATA)     ; X bits 5-2 in bits 7-4
        and 0xF0
        rrca
        rrca
        or l
        ld l,a                  ; HL = X with bits 1-0 clear
        or h
        ret z                   ; 0: pen up
        ; x = (20 * X - 1555) / 105
        add hl,hl
        add hl,hl
        ld b,h
        ld c,l
        add hl,hl
        add hl,hl
        add hl,bc
        ld bc,-1555
        add hl,bc
        ld de,105
        call divide
        ld a,c
        cp 160
        jr c,rp_x
        ld a,159
rp_x:   push af
        ld a,PEN_READ_Y
        out (PORT_PENCMD),a
        in a,(PORT_PENDATA)     ; Y bits 9-6 in bits 7-4
        and 0xF0
        ld l,a
        ld h,0
        add hl,hl
        add hl,hl
        ld a,PEN_READ_LOW
        out (PORT_PENCMD),a
        in a,(PORT_PENDATA)     ; Y bits 5-0 in bits 7-2
        rrca
        rrca
        and 0x3F
        or l
        ld l,a                  ; HL = Y
        ; y = (23977 - 25 * Y) / 82
        ld b,h
        ld c,l
        add hl,hl
        add hl,hl
        add hl,hl
        ld d,h
        ld e,l                  ; 8 * Y
        add hl,hl
        add hl,de
        add hl,bc               ; 25 * Y
        ex de,hl
        ld hl,23977
        or a
        sbc hl,de
        jr nc,rp_y
        ld hl,0
rp_y:   ld de,82
        call divide
        ld h,a
        ld l,c
        ld bc,272
        or a
        sbc hl,bc
        add hl,bc
        jr c,rp_ok
        ld hl,271
rp_ok:  pop af
        ld b,a
        or 1                    ; NZ: pen down
        ret

; Unsigned HL / DE (DE below 0x8000): quotient in AC, remainder in HL.
divide: ld a,h
        ld c,l
        ld hl,0
        ld b,16
dv_loop:
        sla c
        rla
        adc hl,hl
        sbc hl,de
        jr nc,dv_fits
        add hl,de
        djnz dv_loop
        ret
dv_fits:
        inc c
        djnz dv_loop
        ret

poll_pen:
        call read_pen
        jr z,pp_up
        ld a,(pen_x)            ; the previous position starts a stroke
        ld (line_x),a
        ld a,(pen_y+1)
        or a
        ld a,(pen_y)
        jr z,pp_last
        ld a,0xFF               ; below the display
pp_last:
        ld (line_y),a
        ld a,b
        ld (pen_x),a
        ld (pen_y),hl
        ld a,1
        ld (pen_seen),a
        ld a,(pen_down)
        or a
        ld a,1
        ld (pen_down),a
        jr nz,pp_held
        call app_at_pen         ; a new touch on an application's line?
        jp z,run_app
        jr pp_mark
pp_held:
        ld a,(pen_ignore)
        or a
        jr nz,pp_show
        call stroke             ; joins the previous position to this one
pp_mark:
        ld a,(pen_ignore)
        or a
        call z,draw_mark
pp_show:
        jp draw_pen
pp_up:  ld a,(pen_down)
        or a
        ret z
        xor a
        ld (pen_down),a
        ld (pen_ignore),a
        ; fall through

; "Pen down 080,120", "Pen up   080,120", or "Pen up" before the first touch.
draw_pen:
        ld de,textbuf
        ld hl,txt_pen_up
        ld a,(pen_down)
        or a
        jr z,dp_state
        ld hl,txt_pen_down
dp_state:
        call copy_str
        ld a,(pen_seen)
        or a
        jr z,dp_end
        ld a,(pen_x)
        ld l,a
        ld h,0
        call put_dec3
        ld a,','
        ld (de),a
        inc de
        ld hl,(pen_y)
        call put_dec3
dp_end: xor a
        ld (de),a
        ld hl,textbuf
        ld b,ROW_PEN
        jp draw_line

; A 3x3 mark at the pen position.
draw_mark:
        ld a,(pen_y+1)
        or a
        ret nz
        ld a,(pen_y)
        dec a
        ld c,a
        ld d,3
dm_row: ld a,(pen_x)
        dec a
        ld b,a
        call set_pixel
        inc b
        call set_pixel
        inc b
        call set_pixel
        inc c
        dec d
        jr nz,dm_row
        ret

; A line from (line_x, line_y) to the pen position when both are on the display.
stroke: ld a,(line_y)
        cp 240
        ret nc
        ld a,(pen_y+1)
        or a
        ret nz
        ld a,(pen_y)
        cp 240
        ret nc
        ld c,a
        ld a,(pen_x)
        ld b,a
        ; fall through

; Line from (line_x, line_y) to (B, C), both on the display (Bresenham).
draw_line_to:
        ld a,b
        ld (line_x1),a
        ld a,c
        ld (line_y1),a
        ld a,(line_x)           ; dx = |x1 - x0|, sx
        ld e,a
        ld a,b
        sub e
        ld d,1
        jr nc,lt_dx
        neg
        ld d,0xFF
lt_dx:  ld l,a
        ld h,0
        ld (line_dx),hl
        ld a,d
        ld (line_sx),a
        ld a,(line_y)           ; dy = -|y1 - y0|, sy
        ld e,a
        ld a,c
        sub e
        ld d,1
        jr nc,lt_dy
        neg
        ld d,0xFF
lt_dy:  ld e,a
        ld a,d
        ld (line_sy),a
        ld d,0
        ld hl,0
        or a
        sbc hl,de
        ld (line_dy),hl
        ld de,(line_dx)         ; err = dx + dy
        add hl,de
        ld (line_err),hl
lt_loop:
        ld a,(line_x)
        ld b,a
        ld a,(line_y)
        ld c,a
        call set_pixel
        ld a,(line_x1)
        cp b
        jr nz,lt_step
        ld a,(line_y1)
        cp c
        ret z
lt_step:
        ld hl,(line_err)
        add hl,hl               ; e2 = 2 * err
        push hl
        ld de,(line_dy)
        or a
        sbc hl,de               ; e2 >= dy: step in x
        jp m,lt_no_x
        ld hl,(line_err)
        add hl,de
        ld (line_err),hl
        ld a,(line_sx)
        ld b,a
        ld a,(line_x)
        add a,b
        ld (line_x),a
lt_no_x:
        pop de                  ; e2
        ld hl,(line_dx)
        or a
        sbc hl,de               ; e2 <= dx: step in y
        jp m,lt_loop
        ld hl,(line_err)
        ld de,(line_dx)
        add hl,de
        ld (line_err),hl
        ld a,(line_sy)
        ld b,a
        ld a,(line_y)
        add a,b
        ld (line_y),a
        jr lt_loop

; Z and B = index when the pen is on an application's line; NZ otherwise.
app_at_pen:
        ld a,(pen_y+1)
        or a
        ret nz
        ld a,(pen_y)
        ld b,0xFF
aap_div:
        inc b
        sub 10
        jr nc,aap_div
        ld a,b                  ; text row
        sub ROW_APPS+1
        jr c,aap_no
        ld hl,app_count
        cp (hl)
        jr nc,aap_no
        ld b,a
        xor a
        ret
aap_no: or 1
        ret

; Wait until the pen and the buttons are free, then for a touch or a press,
; then until it ends. Interrupts must be enabled.
wait_tap:
        ei
wt_free:
        halt
        call any_input
        jr nz,wt_free
wt_press:
        halt
        call any_input
        jr z,wt_press
wt_release:
        halt
        call any_input
        jr nz,wt_release
        ret

; NZ while the pen touches or a button is held.
any_input:
        call read_pen
        ret nz
        ld a,0xF8               ; all three groups
        out (PORT_KEYS),a
        in a,(PORT_KEYS)
        cpl
        and 7
        ret

; ---------------------------------------------------------------- applications

; Window 1 shows flash page A (64-191).
map_page:
        ld b,a
        and 0x3F
        out (PORT_ROMLO),a
        ld a,b
        cp 128
        ld a,SEL_FLASH_LO
        jr c,mp_sel
        ld a,SEL_FLASH_HI
mp_sel: out (PORT_ROMSEL),a
        ret

; Walks the applications from FIRST_APP_PAGE as installation does: each
; starts a page with 0xC3 and its size word (KB) / 16 gives the next page.
scan_apps:
        xor a
        ld (app_count),a
        ld c,FIRST_APP_PAGE
sa_loop:
        ld a,c
        cp 192
        ret nc
        call map_page
        ld a,(0x4000)
        cp 0xC3
        ret nz
        ld hl,(0x4000+APP_SIZE)
        srl h
        rr l
        srl h
        rr l
        srl h
        rr l
        srl h
        rr l                    ; pages taken
        ld a,h
        or l
        ret z                   ; a size below 16 KB would loop for ever
        ld a,(app_count)
        cp MAX_APPS
        jr nc,sa_next
        push hl
        ld e,a
        ld d,0
        ld hl,app_pages
        add hl,de
        ld (hl),c
        inc a
        ld (app_count),a
        pop hl
sa_next:
        ld a,h
        or a
        ret nz
        ld a,c
        add a,l
        ret c
        ld c,a
        jr sa_loop

; Points HL at application B's name (window 1 shows its page afterwards);
; a name that does not start with a printable character reads "(no name)".
; Keeps DE.
app_name:
        push de
        ld hl,app_pages
        ld e,b
        ld d,0
        add hl,de
        ld a,(hl)
        push bc
        call map_page
        pop bc
        pop de
        ld hl,0x4000+APP_NAME
        ld a,(hl)
        cp 0x20
        jr c,an_none
        cp 0x7F
        ret c
an_none:
        ld hl,txt_no_name
        ret

; The boot report: one "app page NNN: name" line per application.
print_apps:
        ld b,0
pa_loop:
        ld a,(app_count)
        cp b
        ret z
        push bc
        ld de,textbuf
        ld hl,txt_app_page
        call copy_str
        ld hl,app_pages
        ld c,b
        ld b,0
        add hl,bc
        ld l,(hl)
        ld h,0
        call put_dec3
        ld a,':'
        ld (de),a
        inc de
        ld a,' '
        ld (de),a
        inc de
        pop bc
        push bc
        call app_name
        call copy_name
        ld hl,textbuf
        db 0xED,0xFE
        pop bc
        inc b
        jr pa_loop

; Copies at most 31 characters of the name at HL to DE, then LF and zero.
copy_name:
        ld b,31
cn_loop:
        ld a,(hl)
        or a
        jr z,cn_end
        ld (de),a
        inc hl
        inc de
        djnz cn_loop
cn_end: ld a,10
        ld (de),a
        inc de
        xor a
        ld (de),a
        ret

draw_apps:
        ld hl,txt_apps
        ld b,ROW_APPS
        call draw_line
        ld a,(app_count)
        or a
        jr nz,da_list
        ld hl,txt_no_apps
        ld b,ROW_APPS+1
        jp draw_line
da_list:
        ld b,0
da_loop:
        ld a,(app_count)
        cp b
        ret z
        push bc
        call app_name
        ld a,b
        add a,ROW_APPS+1
        ld b,a
        push hl
        ld hl,txt_bullet
        call draw_line          ; leaves C at the end of the row
        pop hl
        ld c,2
        call draw_text
        pop bc
        inc b
        jr da_loop

; Starts application B: window 1 shows its page, window 2 RAM page 1; the
; application is called at 0x4000 and returns with RET.
run_app:
        push bc
        ld de,textbuf
        ld hl,txt_start
        call copy_str
        call app_name           ; maps the page, too
        call copy_name
        ld hl,textbuf
        db 0xED,0xFE
        pop bc
        call app_name           ; the page again (printing left it mapped, but be plain)
        ld a,1
        out (PORT_RAMLO),a
        ld a,SEL_RAM
        out (PORT_RAMSEL),a
        ei
        call 0x4000
        di
        ld sp,0                 ; whatever the application left on the stack
        xor a
        out (PORT_RAMLO),a
        ld hl,msg_back
        db 0xED,0xFE
        ld a,1                  ; a pen still down after the application is not a new tap
        ld (pen_down),a
        ld (pen_ignore),a
        xor a
        ld (keys),a
        call draw_home
        ei
        jp main_loop

; ---------------------------------------------------------------- texts

msg_boot:       db "pdemu demo firmware 1.0 booted",10,0
msg_back:       db "application returned",10,0
txt_title:      db "     pdemu demo",0
txt_date:       db "Date ",0
txt_time:       db "Time ",0
txt_weekdays:   db "Sun",0,"Mon",0,"Tue",0,"Wed",0,"Thu",0,"Fri",0,"Sat",0,"???",0
txt_pen_up:     db "Pen up   ",0
txt_pen_down:   db "Pen down ",0
txt_apps:       db "Applications:",0
txt_no_apps:    db "  (none installed)",0
txt_no_name:    db "(no name)",0
txt_bullet:     db ">",0
txt_app_page:   db "app page ",0
txt_start:      db "starting ",0

        include "font.inc"
