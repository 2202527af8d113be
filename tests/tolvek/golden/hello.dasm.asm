; Disassembly of hello.tmp by Tolvek @VERSION@
; load address: $0801, 89 bytes
; entry address: $080d (2061)
; code: 48 bytes, data: 41 bytes
; run from $080d: waited in a loop at $081c after 410950 cycles
; key RETURN: new code at $082f-$0834
; rebuild with dasm: dasm hello.asm -f1 -ohello-rebuilt.prg

RASTER = $d012
EXTCOL = $d020
CHROUT = $ffd2
GETIN = $ffe4

	processor 6502
	org $0801
	dc.w D080b              ; 10 SYS2061
	dc.b $0a,$00,$9e,$32,$30,$36,$31,$00
D080b
	dc.b $00,$00            ; end of BASIC program
L080d
	ldx #$00                ; entry
L080f
	lda D083d,x
	beq L081a
	jsr CHROUT
	inx
	bne L080f
L081a
	ldy #$00
L081c
	lda D0852,y
	sta EXTCOL
	jsr L0835
	iny
	cpy #$08
	bne L081c
	jsr GETIN
	beq L081a
	lda #$0e
	sta EXTCOL
	rts

L0835
	lda #$ff
L0837
	cmp RASTER
	bne L0837
	rts

D083d
	dc.b $93
	dc.b $48,$45,$4c,$4c,$4f,$20,$46,$52 ; "hello fr"
	dc.b $4f,$4d,$20,$50,$52,$47,$44,$49 ; "om prgdi"
	dc.b $53,$21            ; "s!"
	dc.b $0d,$00
D0852
	dc.b $00,$0b,$0c,$0f,$01,$0f,$0c,$0b
