; Stand-in system file for the boot tests: four sectors, each ending in a
; tag "S0".."S3", entered at 0070:0200.  It shows the int 1Eh table the
; boot program left and then MARKER, whose text lives in the last sector:
; the marker shows only when all four sectors arrived in order.
; nasm -f bin -DMARKER='"..."'
        bits 16
        org 0
%ifndef MARKER
%define MARKER "SYSTEM FILE RUNNING"
%endif
%macro tag 1
        times (%1+1)*512-2-($-$$) db 0
        db 'S', '0'+%1
%endmacro

        tag 0
entry:  push cs
        pop ds
        mov bx, 510
        mov al, '0'
        mov cx, 4
.check: cmp byte [bx], 'S'
        jne .bad
        cmp [bx+1], al
        jne .bad
        inc ax
        add bx, 512
        loop .check
        mov si, dpt_text
        call puts
        xor ax, ax
        mov es, ax
        les di, [es:0x1E*4]
        mov ax, es
        call hex16
        mov al, ':'
        call putc
        mov ax, di
        call hex16
        mov si, spt_text
        call puts
        mov al, [es:di+4]
        call hex8
        mov si, settle_text
        call puts
        mov al, [es:di+9]
        call hex8
        mov si, marker
        jmp .show
.bad:   mov si, bad_text
.show:  call puts
.halt:  cli
        hlt
        jmp .halt

puts:   lodsb
        test al, al
        jz .done
        call putc
        jmp puts
.done:  ret

hex16:  push ax
        mov al, ah
        call hex8
        pop ax
hex8:   push ax
        shr al, 4
        call .nibble
        pop ax
.nibble:
        and al, 0x0F
        add al, '0'
        cmp al, '9'
        jbe putc
        add al, 'A'-'9'-1
putc:   push bx
        mov ah, 0x0E
        mov bx, 7
        int 0x10
        pop bx
        ret

dpt_text:    db 13,10,"DPT ",0
spt_text:    db " SPT ",0
settle_text: db " SETTLE ",0
bad_text:    db 13,10,"SYSTEM FILE INCOMPLETE",0
        tag 1
        tag 2
marker: db 13,10,MARKER,0
        tag 3
