; Disassembly of hello.tmp by Tolvek @VERSION@
; load address: $0801, 89 bytes
; entry address: $080d (2061)
; code: 48 bytes, data: 41 bytes
; run from $080d: waited in a loop at $081c after 410950 cycles
; key RETURN: new code at $082f-$0834
; rebuild with ca65: cl65 -t none -C hello.cfg -o hello-rebuilt.prg hello.asm

RASTER = $d012
EXTCOL = $d020
CHROUT = $ffd2
GETIN = $ffe4

	.word $0801
	.org $0801
	.word D080b             ; 10 SYS2061
	.byte $0a,$00,$9e,$32,$30,$36,$31,$00
D080b:
	.byte $00,$00           ; end of BASIC program

; entry point
entry:
	ldx #$00
L080f:
	lda D083d,x
	beq L081a
	jsr CHROUT              ; print the character in A
	inx
	bne L080f
L081a:
	ldy #$00
wait_loop:
	lda D0852,y
	sta EXTCOL              ; border colour
	jsr L0835
	iny
	cpy #$08
	bne wait_loop
	jsr GETIN               ; take a character from the keyboard buffer into A (0: none)
	beq L081a
	lda #$0e
	sta EXTCOL              ; border colour
	rts

; called from 1 place
L0835:
	lda #$ff
L0837:
	cmp RASTER              ; raster line now (low 8 bits)
	bne L0837
	rts

D083d:
	.byte $93
	.byte $48,$45,$4c,$4c,$4f,$20,$46,$52 ; "hello fr"
	.byte $4f,$4d,$20,$50,$52,$47,$44,$49 ; "om prgdi"
	.byte $53,$21           ; "s!"
	.byte $0d,$00
D0852:
	.byte $00,$0b,$0c,$0f,$01,$0f,$0c,$0b
