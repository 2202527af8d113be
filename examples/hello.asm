; hello: a small C64 program for trying out prgdis.
; It prints a greeting, shows a smiling sprite, then flashes the border
; through a table of colours until a key is pressed.
; Build: acme -f cbm -o hello.prg hello.asm

CHROUT = $ffd2
GETIN  = $ffe4
EXTCOL = $d020
RASTER = $d012
SP0X   = $d000              ; sprite 0's position
SP0Y   = $d001
SPENA  = $d015              ; the sprites shown
SP0COL = $d027              ; sprite 0's colour
SPRITE0_POINTER = $07f8     ; the screen at $0400 ends in the sprite pointers

	* = $0801
	; BASIC line: 10 SYS2061
	!word basic_end, 10
	!byte $9e
	!text "2061"
	!byte 0
basic_end
	!word 0

start	jsr show_sprite
	ldx #0
print	lda greeting,x
	beq flash
	jsr CHROUT
	inx
	bne print

flash	ldy #0
next	lda colours,y
	sta EXTCOL
	jsr wait_frame
	iny
	cpy #colours_end - colours
	bne next
	jsr GETIN
	beq flash
	; restore the usual light blue border, hide the sprite, back to BASIC
	lda #14
	sta EXTCOL
	lda #0
	sta SPENA
	rts

; waits until the raster beam reaches line 255
wait_frame
	lda #$ff
-	cmp RASTER
	bne -
	rts

; shows the smiley as sprite 0, in yellow, at the top right of the screen
show_sprite
	lda #smiley / 64
	sta SPRITE0_POINTER
	lda #7
	sta SP0COL
	lda #230
	sta SP0X
	lda #70
	sta SP0Y
	lda #1
	sta SPENA
	rts

greeting
	!pet 147, "hello from prgdis!", 13, 0
colours
	!byte 0, 11, 12, 15, 1, 15, 12, 11
colours_end

	!align 63, 0, 0     ; the VIC-II takes a sprite from a 64-byte block
smiley
	!byte %........, %..####.., %........
	!byte %.......#, %########, %#.......
	!byte %......##, %########, %##......
	!byte %....####, %########, %####....
	!byte %....###., %.######., %.###....
	!byte %...####., %.######., %.####...
	!byte %...####., %.######., %.####...
	!byte %..#####., %.######., %.#####..
	!byte %..#####., %.######., %.#####..
	!byte %..######, %########, %######..
	!byte %..######, %########, %######..
	!byte %..######, %########, %######..
	!byte %..####.., %########, %..####..
	!byte %..#####., %.######., %.#####..
	!byte %...#####, %........, %#####...
	!byte %...#####, %########, %#####...
	!byte %....####, %########, %####....
	!byte %....####, %########, %####....
	!byte %......##, %########, %##......
	!byte %.......#, %########, %#.......
	!byte %........, %..####.., %........
