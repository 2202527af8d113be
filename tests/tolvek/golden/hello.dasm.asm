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

petscii_text	eqm .. - ((.. >= $61) * (.. <= $7a) * $20) + ((.. >= $41) * (.. <= $5a) * $80)
screen_text	eqm .. - ((.. >= $61) * (.. <= $7a) * $60) - ((.. == $40) * $40) - ((.. == $5b) * $40) - ((.. == $5d) * $40)
	processor 6502
	org $0801
	dc.w D080b              ; 10 SYS2061
	dc.b $0a,$00,$9e,$32,$30,$36,$31,$00
D080b                           ; address stored at $0801
	dc.b $00,$00            ; end of BASIC program

; entry point
entry
	ldx #$00
L080f                           ; branched to from L080f+9
	lda D083d,x
	beq L081a
	jsr CHROUT              ; print the character in A
	inx
	bne L080f
L081a                           ; branched to from L080f+3, wait_loop+17
	ldy #$00
wait_loop                       ; branched to from wait_loop+12
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

; called with jsr
L0835                           ; called from wait_loop+6
	lda #$ff
L0837                           ; branched to from L0837+3
	cmp RASTER              ; raster line now (low 8 bits)
	bne L0837
	rts

D083d                           ; read by L080f
	dv.b petscii_text 147, "hello from prgdis!", 13, 0
D0852                           ; read by wait_loop
	dc.b $00,$0b,$0c,$0f,$01,$0f,$0c,$0b
