; Boot program of the superfloppy's boot sector, sector offsets 62..509.
; Finds IO.SYS in the root directory, loads its first four sectors at
; 0000:0700 and enters the second one at 0070:0200.  Space is what drives
; the shape of this code: BP stays fixed and every BPB field is [bp+..].
        bits 16
        cpu 386
        org 0x7C3E

; BPB fields, as offsets in the sector
BytsPerSec equ 0x0B
SecPerClus equ 0x0D
RsvdSecCnt equ 0x0E
NumFATs    equ 0x10
RootEntCnt equ 0x11
FATSz16    equ 0x16
SecPerTrk  equ 0x18
NumHeads   equ 0x1A
HiddSec    equ 0x1C
DrvNum     equ 0x24
ReadMode   equ 0x02         ; 0Eh here: the BIOS reads by LBA

; BP = the first SP, 4 bytes below the sector.
%define F(x) bp+4+(x)
OLDVEC  equ -4              ; int 1Eh vector as we found it
ROOTLBA equ -8
DATALBA equ -12

DPT     equ 0x0522
BUF     equ 0x0700
VEC1E   equ 0x1E*4

; These first seven bytes are fixed, so spelled out: nasm would encode
; the xor as 31 C9.
start:  db 0x33, 0xC9           ; xor cx, cx
        db 0x8E, 0xD1           ; mov ss, cx
        db 0xBC, 0xFC, 0x7B     ; mov sp, 7BFCh
        mov bp, sp
        mov es, cx
        cld
        ; A table of our own, so that head settle and sectors per track can
        ; be set for this disk; the old vector stays on the stack.
        mov di, VEC1E
        lds si, [es:di]
        push ds
        push si
        mov ax, DPT
        stosw
        xchg ax, cx
        stosw
        xchg cx, di
        mov cl, 11
        rep movsb
        mov ds, cx
        mov byte [di-11+9], 15

        ; On a hard disk the entry of our own partition tells by its type
        ; whether to read by LBA.  Unreadable: CHS is left.
        cmp byte [F(DrvNum)], 0x80
        jb .layout
        xor eax, eax
        mov bx, BUF
        call read_sector
        mov edx, [F(HiddSec)]
        mov si, BUF+0x1BE+8
        mov cl, 4
.part:  cmp [si], edx
        jne .nextp
        mov al, [si-4]
        or al, 2
        mov [F(ReadMode)], al
.nextp: add si, 16
        loop .part

.layout:                        ; CX is 0 from here on to the search
        mov ax, 32
        mul word [F(RootEntCnt)]
        div word [F(BytsPerSec)]
        neg dx                  ; a part sector counts whole
        adc ax, cx
        xchg ax, di
        mov al, [F(NumFATs)]
        cbw
        mul word [F(FATSz16)]
        add ax, [F(HiddSec)]
        adc dx, [F(HiddSec+2)]
        add ax, [F(RsvdSecCnt)]
        adc dx, cx
        push dx
        push ax                 ; ROOTLBA
        add ax, di
        adc dx, cx
        push dx
        push ax                 ; DATALBA

        ; SI keeps pointing at the name from here on: the error paths
        ; below count on it.
        mov si, sysname
        inc byte [si]           ; first pass: the name one up
        mov cx, 11
.pass:  mov eax, [bp+ROOTLBA]
        mov dx, [F(RootEntCnt)]
.sect:  mov di, BUF
        mov bx, di
        call read_checked       ; BX comes back at the sector's end
.entry: cmp [di], ch
        je .none
        pusha
        repe cmpsb
        popa
        je found
        add di, 32
        dec dx
        jz .none
        cmp di, bx
        jb .entry
        jmp .sect
.none:  dec byte [si]
        jpo .pass               ; 'I' has odd parity, 'H' even: pass two ran
        inc si                  ; lands on the table's second "invalid" entry
io_error:
        sub si, sysname-(msgtab+1)
print:  lodsb                   ; SI at a table entry
        cbw
        add si, ax
.char:  lodsb
        cbw
        inc ax
        jz .more                ; FF
        dec ax
        jz .key                 ; 00
        mov ah, 0x0E
        mov bx, 7
        int 0x10
        jmp .char
.more:  mov si, msgtab+3
        jmp print
.key:   int 0x16                ; AX is 0
        lea si, [bp+OLDVEC]
        mov di, VEC1E
        movsw
        movsw
        int 0x19

found:  mov ax, [di+26]         ; first cluster
        dec ax
        dec ax
        mov cl, [F(SecPerClus)]
        mul cx
        push dx
        push ax
        pop eax
        add eax, [bp+DATALBA]
        mov bh, BUF>>8          ; BL is 0: BX stopped at a sector's end
        mov cl, 4
.load:  call read_checked
        loop .load
        jmp 0x0070:0x0200

; One sector at LBA EAX to ES:BX.  CF on error; all registers kept.
read_sector:
        pushad
        movzx ecx, word [F(SecPerTrk)]
        mov [DPT+4], cl
        push es                 ; the request packet, used by LBA reads
        push es
        push eax
        push es
        push bx
        push byte 1
        push byte 16
        mov si, sp
        cmp byte [F(ReadMode)], 0x0E
        je .lba
        xor edx, edx
        div ecx
        inc dx
        xchg cx, dx             ; CL = sector
        push eax
        pop ax
        pop dx
        div word [F(NumHeads)]
        mov dh, dl
        mov ch, al
        shl ah, 6
        or cl, ah
        mov ax, 0x0201
        db 0xA9                 ; test ax,imm16: steps over the next mov
.lba:   mov ah, 0x42
        mov dl, [F(DrvNum)]
        int 0x13
        lea sp, [si+16]
        popad
        ret

        times (383-62-3)-($-$$) db 0
%if ($-$$) != 383-62-3
%error "code runs past sector offset 379"
%endif
io_tramp:                       ; read_checked's jc reaches back only to here
        jmp near io_error

%macro place 1
%if ($-$$)+62 != %1
%error "not at sector offset %1"
%endif
%endmacro

        place 383
; each offset counts from the byte after it
msgtab: db msg_invalid-(msgtab+1), msg_io-(msgtab+2)
        db msg_invalid-(msgtab+3), msg_replace-(msgtab+4)
        place 387
msg_invalid:
        db 13,10,"Invalid system disk",0xFF
        place 409
msg_io: db 13,10,"Disk I/O error",0xFF
        place 426
msg_replace:
        db 13,10,"Replace the disk, and then press any key",13,10,0
        place 471
        db 0
        place 472
sysname:
        db "IO      SYS"
        place 483
        db "MSDOS   SYS"
        place 494
        db 0x7F, 0x01, 0x00
        place 497
; The checked read: on success LBA and buffer step on to the next sector.
read_checked:
        call read_sector
        jc io_tramp
        inc eax
        add bx, [F(BytsPerSec)]
        ret
        place 508
        db 0, 0
%if ($-$$) != 448
%error "boot program must be 448 bytes"
%endif
