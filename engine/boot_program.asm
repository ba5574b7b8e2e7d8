; Placeholder boot program: the framing bytes and texts at their places, a
; halt for code. Replaced by the real program.
        bits 16
        org 0x7C3E
start:  db 0x33, 0xC9          ; xor cx, cx
        mov ss, cx
        mov sp, 0x7BFC
.halt:  hlt
        jmp .halt
        times (383-62)-($-$$) db 0
msgtab: db 0x03, 0x18, 0x01, 0x27
        db 13,10,"Invalid system disk",0xFF
        db 13,10,"Disk I/O error",0xFF
        db 13,10,"Replace the disk, and then press any key",13,10,0
        db 0
        db "IO      SYS"
        db "MSDOS   SYS"
        db 0x7F, 0x01, 0x00
        times (508-62)-($-$$) db 0x90
        db 0, 0
%if ($-$$) != 448
%error "boot program must be 448 bytes"
%endif
