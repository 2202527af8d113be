; flash: the first example program, kept for the tests that know its layout.
; It prints a greeting, then flashes the border through a table of colours
; until a key is pressed. Build: acme -f cbm -o flash.prg flash.asm

CHROUT = $ffd2
GETIN  = $ffe4
EXTCOL = $d020
RASTER = $d012

	* = $0801
	; BASIC line: 10 SYS2061
	!word basic_end, 10
	!byte $9e
	!text "2061"
	!byte 0
basic_end
	!word 0

start	ldx #0
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
	; restore the usual light blue border and return to BASIC
	lda #14
	sta EXTCOL
	rts

; waits until the raster beam reaches line 255
wait_frame
	lda #$ff
-	cmp RASTER
	bne -
	rts

greeting
	!pet 147, "hello from prgdis!", 13, 0
colours
	!byte 0, 11, 12, 15, 1, 15, 12, 11
colours_end
