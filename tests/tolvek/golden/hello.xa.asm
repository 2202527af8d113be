; Disassembly of hello.tmp by Tolvek @VERSION@
; load address: $0801, 190 bytes
; entry address: $080d (2061)
; code: 82 bytes, data: 108 bytes
; run from $080d: waited in a loop at $081f after 410950 cycles
; key RETURN: new code at $0832-$083c
; rebuild with xa: xa -M -O PETSCREEN -o hello-rebuilt.prg hello.asm

VICSCN = $0400
SP0X = $d000
SP0Y = $d001
RASTER = $d012
SPENA = $d015
EXTCOL = $d020
SP0COL = $d027
CHROUT = $ffd2
GETIN = $ffe4

	.word $0801
	* = $0801
	.word D080b             ; 10 SYS2061
	.byt $0a,$00,$9e,$32,$30,$36,$31,$00
D080b                           ; address stored at $0801
	.byt $00,$00            ; end of BASIC program

; entry point
entry
	jsr L0845
	ldx #$00
L0812                           ; branched to from L0812+9
	lda D085f,x
	beq L081d
	jsr CHROUT              ; print the character in A
	inx
	bne L0812
L081d                           ; branched to from L0812+3, wait_loop+17
	ldy #$00
wait_loop                       ; branched to from wait_loop+12
	lda D0874,y
	sta EXTCOL              ; border colour
	jsr L083d
	iny
	cpy #$08
	bne wait_loop
	jsr GETIN               ; take a character from the keyboard buffer into A (0: none)
	beq L081d
	lda #$0e
	sta EXTCOL              ; border colour
	lda #$00
	sta SPENA               ; sprites shown
	rts

; called with jsr
L083d                           ; called from wait_loop+6
	lda #$ff
L083f                           ; branched to from L083f+3
	cmp RASTER              ; raster line now (low 8 bits)
	bne L083f
	rts

; called with jsr
L0845                           ; called from entry
	lda #$22
	sta VICSCN+1016
	lda #$07
	sta SP0COL              ; sprite 0 colour
	lda #$e6
	sta SP0X                ; sprite 0 x position
	lda #$46
	sta SP0Y                ; sprite 0 y position
	lda #$01
	sta SPENA               ; sprites shown
	rts

D085f                           ; read by L0812
	.byt 147, "HELLO FROM PRGDIS!", 13, 0
D0874                           ; read by wait_loop
	.byt $00,$0b,$0c,$0f,$01,$0f,$0c,$0b
	.byt $00,$00,$00,$00

; sprite $22 at $0880, hires, 63 of its 64 bytes, pointer set at $0847
sprite_22
	.byt $00,$3c,$00        ; ..........####..........
	.byt $01,$ff,$80        ; .......##########.......
	.byt $03,$ff,$c0        ; ......############......
	.byt $0f,$ff,$f0        ; ....################....
	.byt $0e,$7e,$70        ; ....###..######..###....
	.byt $1e,$7e,$78        ; ...####..######..####...
	.byt $1e,$7e,$78        ; ...####..######..####...
	.byt $3e,$7e,$7c        ; ..#####..######..#####..
	.byt $3e,$7e,$7c        ; ..#####..######..#####..
	.byt $3f,$ff,$fc        ; ..####################..
	.byt $3f,$ff,$fc        ; ..####################..
	.byt $3f,$ff,$fc        ; ..####################..
	.byt $3c,$ff,$3c        ; ..####..########..####..
	.byt $3e,$7e,$7c        ; ..#####..######..#####..
	.byt $1f,$00,$f8        ; ...#####........#####...
	.byt $1f,$ff,$f8        ; ...##################...
	.byt $0f,$ff,$f0        ; ....################....
	.byt $0f,$ff,$f0        ; ....################....
	.byt $03,$ff,$c0        ; ......############......
	.byt $01,$ff,$80        ; .......##########.......
	.byt $00,$3c,$00        ; ..........####..........
