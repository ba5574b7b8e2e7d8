; Test stand-in for a partitioned disk's first sector: moves itself out of
; the way and starts the boot sector of the partition marked active, by
; LBA, with DL as the BIOS gave it.  The test writes the partition table.
        bits 16
        cpu 386
        org 0x0600

        cli
        xor ax, ax
        mov ss, ax
        mov sp, 0x7C00
        mov ds, ax
        mov es, ax
        sti
        cld
        mov si, 0x7C00
        mov di, 0x0600
        mov cx, 256
        rep movsw
        jmp 0:moved
moved:  mov si, table
        mov cx, 4
.find:  cmp byte [si], 0x80
        je .boot
        add si, 16
        loop .find
        jmp fail
.boot:  mov eax, [si+8]
        mov [packet+8], eax
        mov si, packet
        mov ah, 0x42
        int 0x13
        jc fail
        jmp 0:0x7C00
fail:   mov si, fail_text
.put:   lodsb
        test al, al
        jz .halt
        mov ah, 0x0E
        mov bx, 7
        int 0x10
        jmp .put
.halt:  hlt
        jmp .halt

fail_text: db "CHAIN LOADER FAILED", 0
packet: db 16, 0
        dw 1
        dw 0x7C00, 0
        dd 0, 0
        times 0x1BE-($-$$) db 0
table:  times 64 db 0
        dw 0xAA55
