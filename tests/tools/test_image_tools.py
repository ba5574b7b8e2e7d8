#!/usr/bin/python3
"""End-to-end runs of vellmark-image and ossiter-image.

    test_image_tools.py --vellmark PATH --ossiter PATH CASE

Each CASE runs the tools on fresh images in a temporary directory and checks
exit codes, the output lines byte for byte, and the volumes with fsck.fat and
mtools. Exit 0 passed, 1 failed, 77 skipped (a peer tool is missing).
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

SKIP = 77

# The texts the dialog shows, in the UTF-8 the tools print.
CAPTION = '格式化U盘'
UNKNOWN_E = 'E:(未知) '
SELECTED = 'status: !! %s盘上数据格式化后将丢失!'
STARTED = 'status: 正在格式化 physicaldrive1盘...'
REFRESHED = 'status: 请选择盘.'
DONE = 'message: 格式化U盘:  盘格式化完成,请重新插拔U盘.'
FAILED = 'message: 格式化U盘:  !! %s,格式化失败,请重试!'
IDLE = 'status: 请先选择盘'
FILL_WARNING = 'message: 格式化U盘: 警告:将数据区内的内容全部置位后,   \\n文件内容将不可恢复!'
LABEL_HINT = 'status: 磁盘卷标长度不能超过11个字符'
ROOT_HINT = 'status: 设定盘根目录下最多存放文件数'
FILL_HINT = 'status: 数据区是指存放文件内容的地方.'
HINT_720K = 'status: 指定U盘格式为720K软盘格式.'


class Failure(Exception):
    pass


class Skip(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def check_equal(actual, expected, what):
    if actual != expected:
        raise Failure('%s:\n  expected %r\n  got      %r' % (what, expected, actual))


class Run:
    def __init__(self, code, out, err):
        self.code, self.out, self.err = code, out, err
        self.lines = out.decode('utf-8').splitlines()


class Tools:
    def __init__(self, vellmark, ossiter, workdir):
        self.paths = {'vellmark': vellmark, 'ossiter': ossiter}
        self.workdir = workdir

    def path(self, name):
        return os.path.join(self.workdir, name)

    def run(self, edition, args, env=None):
        environment = dict(os.environ)
        environment.pop('SOURCE_DATE_EPOCH', None)
        environment.update(env or {})
        p = subprocess.run([self.paths[edition]] + args, cwd=self.workdir, env=environment,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
        return Run(p.returncode, p.stdout, p.stderr)

    def formats(self, edition, args, expected_lines, env=None):
        """Runs a format that must succeed with exactly these output lines."""
        r = self.run(edition, args, env)
        check_equal(r.code, 0, '%s %s exit code (stderr %r)' % (edition, args, r.err))
        check_equal(r.lines, expected_lines, '%s %s output' % (edition, args))
        check_equal(r.err, b'', '%s %s stderr' % (edition, args))
        return r

    def refuses(self, edition, args, expected_lines):
        r = self.run(edition, args)
        check_equal(r.code, 1, '%s %s exit code (stderr %r)' % (edition, args, r.err))
        check_equal(r.lines, expected_lines, '%s %s output' % (edition, args))
        return r

    def usage_error(self, edition, args):
        r = self.run(edition, args)
        check_equal(r.code, 2, '%s %s exit code' % (edition, args))
        check_equal(r.out, b'', '%s %s stdout' % (edition, args))
        check(r.err.startswith(('%s-image: ' % edition).encode()),
              '%s %s says what is wrong on stderr: %r' % (edition, args, r.err))
        return r


def need(*programs):
    for p in programs:
        if shutil.which(p) is None:
            raise Skip('%s is not installed' % p)


# fsck.fat's remarks on volumes we write by design, and the lines it adds to each.
NO_BOOT_LABEL = ("There is no label in boot sector, but there is volume label '%s' stored in "
                 "root directory")
LABEL_NOT_VALID = r"Volume label '.*' stored in root directory is not valid\."
REMARK_FOLLOW_UPS = ('  Auto-copying volume label from root directory to boot sector.',
                     '  Auto-removing label.', 'Leaving filesystem unchanged.')


def fsck(image, accepted=()):
    """fsck.fat -n must find nothing beyond the remarks matching the patterns in accepted."""
    p = subprocess.run(['fsck.fat', '-n', image], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    text = p.stdout.decode('utf-8', 'replace')
    lines = [l for l in text.splitlines() if l.strip()]
    check(lines and lines[0].startswith('fsck.fat '), 'fsck.fat banner: %r' % text)
    check(lines[-1].startswith(image + ': ') and ' files, ' in lines[-1],
          'fsck.fat summary: %r' % text)
    remarks = lines[1:-1]
    if accepted:
        remarks = [l for l in remarks if l not in REMARK_FOLLOW_UPS]
    check(len(remarks) == len(accepted) and
          all(re.fullmatch(a, r) for a, r in zip(accepted, remarks)),
          'fsck.fat remarks on %s: expected %r, got %r' % (image, list(accepted), remarks))
    if not accepted:
        check_equal(p.returncode, 0, 'fsck.fat exit code on %s: %s' % (image, text))
    return text


def mdir(image):
    p = subprocess.run(['mdir', '-i', image, '::'], stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, env=dict(os.environ, MTOOLS_NO_VFAT='1'))
    text = p.stdout.decode('utf-8', 'replace')
    check_equal(p.returncode, 0, 'mdir on %s: %s' % (image, text))
    check('No files' in text, 'mdir finds the root directory empty: %r' % text)
    return text


def boot(image):
    with open(image, 'rb') as f:
        b = f.read(512)
    spc = b[13]
    rsvd, = struct.unpack_from('<H', b, 14)
    fats = b[16]
    root, tot16, = struct.unpack_from('<HH', b, 17)
    fatsz, = struct.unpack_from('<H', b, 22)
    tot32, = struct.unpack_from('<I', b, 32)
    total = tot16 or tot32
    return {
        'spc': spc, 'fats': fats, 'root': root, 'fatsz': fatsz, 'total': total,
        'data': rsvd + fats * fatsz + (root * 32 + 511) // 512,
        'label': b[43:54], 'type': b[54:62], 'signature': b[510:512],
    }


def sectors(image, first, count):
    with open(image, 'rb') as f:
        f.seek(first * 512)
        return f.read(count * 512)


def root_label(image):
    """The first root-directory entry: its 11 name bytes, attribute, time and date."""
    b = boot(image)
    entry = sectors(image, b['data'] - (b['root'] * 32 + 511) // 512, 1)[:32]
    time, date = struct.unpack_from('<HH', entry, 22)
    return entry[:11], entry[11], time, date


def new_image(tools, name, count, fill=b'\0'):
    path = tools.path(name)
    with open(path, 'wb') as f:
        f.write(fill * (count * 512))
    return path


def list_line(text, size):
    return 'list: 可移动盘1: %s %s' % (text, size)


def success(selected, *before):
    return list(before) + [SELECTED % selected, STARTED, REFRESHED, DONE, IDLE]


# ---------------------------------------------------------------- the cases

def case_floppy_144m(tools):
    """The shipped dialog's format: the 1.44M layout on a fresh image, both editions."""
    need('fsck.fat', 'mdir')
    for edition, per_cluster in (('vellmark', 2), ('ossiter', 1)):
        image = tools.path(edition + '.img')
        tools.formats(edition, [image], [list_line(UNKNOWN_E, '1.4MB')] + success(UNKNOWN_E))
        check_equal(os.path.getsize(image), 2880 * 512, 'a new image holds 2880 sectors')
        b = boot(image)
        check_equal((b['total'], b['spc'], b['root'], b['fatsz'], b['type']),
                    (2880, per_cluster, 224, 9, b'FAT12   '), '%s 1.44M boot sector' % edition)
        check_equal(b['signature'], b'\x55\xaa', 'boot signature')
        fsck(image)
        mdir(image)

    # A larger disk still gets the 2880-sector floppy volume; the rest is left alone.
    image = new_image(tools, 'larger.img', 4000, b'\x5a')
    tools.formats('vellmark', [image],
                  [list_line('E:(未知) ', '2.0MB')] + success(UNKNOWN_E))
    check_equal(boot(image)['total'], 2880, 'the floppy layout ignores the capacity')
    check(sectors(image, 2880, 1120) == b'\x5a' * 1120 * 512, 'sectors past the volume kept')
    fsck(image)


def case_floppy_720k(tools):
    need('fsck.fat', 'mdir')
    image = tools.path('720k.img')
    tools.formats('vellmark', ['--layout', '720k', '--fill', image],
                  [list_line(UNKNOWN_E, '1.4MB'), HINT_720K, FILL_WARNING] + success(UNKNOWN_E))
    b = boot(image)
    check_equal((b['total'], b['spc'], b['root'], b['fatsz']), (1440, 2, 112, 3), '720K boot sector')
    check(sectors(image, 14, 1426) == b'\xf6' * 1426 * 512, 'sectors 14 to 1439 filled with F6')
    check(sectors(image, 1440, 1440) == bytes(1440 * 512), 'nothing written past the volume')
    fsck(image)
    mdir(image)
    tools.usage_error('ossiter', ['--layout', '720k', tools.path('ossiter.img')])
    check(not os.path.exists(tools.path('ossiter.img')), 'a usage error creates no image')


def case_actual_layout(tools):
    """Options on the hidden controls: cluster, FAT count, root entries, fill value."""
    need('fsck.fat', 'mdir')
    runs = [
        # sectors, options, hints before the selection, fill byte
        (20000, ['--cluster', '4096', '--fats', '1', '--root-entries', '64', '--fill=aa'],
         [ROOT_HINT, FILL_HINT, FILL_WARNING], 0xAA, (8, 1, 64, 'FAT12   ')),
        (60000, ['--fill'], [FILL_WARNING], 0x00, (1, 2, 32, 'FAT16   ')),
        (8000, ['--root-entries', '224', '--fill=5'], [ROOT_HINT, FILL_HINT, FILL_WARNING],
         0x05, (1, 2, 224, 'FAT16   ')),
    ]
    for count, options, hints, value, (spc, fats, root, kind) in runs:
        image = new_image(tools, 'actual-%d.img' % count, count, b'\x33')
        size = {20000: '9.8MB', 60000: '29.3MB', 8000: '3.9MB'}[count]
        tools.formats('vellmark', ['--layout', 'actual'] + options + [image],
                      [list_line(UNKNOWN_E, size)] + hints + success(UNKNOWN_E))
        b = boot(image)
        check_equal((b['total'], b['spc'], b['fats'], b['root'], b['type'].decode()),
                    (count, spc, fats, root, kind), 'actual layout boot sector %s' % options)
        data = sectors(image, b['data'], count - b['data'])
        check(data == bytes([value]) * len(data),
              'the whole data area, its last sector included, holds %02X' % value)
        fsck(image)
        mdir(image)

    # Without --fill the data area keeps what it held.
    image = new_image(tools, 'nofill.img', 20000, b'\x33')
    tools.formats('ossiter', ['--layout', 'actual', image],
                  [list_line(UNKNOWN_E, '9.8MB')] + success(UNKNOWN_E))
    b = boot(image)
    check(sectors(image, b['data'], 20000 - b['data']) == b'\x33' * (20000 - b['data']) * 512,
          'no fill: the data area is untouched')
    fsck(image)


def case_label(tools):
    """Labels reach the root directory in code page 936; SOURCE_DATE_EPOCH makes them repeat."""
    need('fsck.fat', 'mdir')
    env = {'SOURCE_DATE_EPOCH': '1700000000'}  # 2023-11-14 22:13:20 UTC
    images = []
    for name in ('a.img', 'b.img'):
        image = tools.path(name)
        tools.formats('vellmark', ['--label', 'DEMO DISK', image],
                      [list_line(UNKNOWN_E, '1.4MB'), LABEL_HINT] + success(UNKNOWN_E), env)
        images.append(image)
    with open(images[0], 'rb') as a, open(images[1], 'rb') as b:
        check(a.read() == b.read(), 'two labelled runs with SOURCE_DATE_EPOCH are byte-identical')
    name, attribute, time, date = root_label(images[0])
    check_equal(name, b'DEMO DISK  ', 'label entry name')
    check_equal(attribute, 0x08, 'label entry attribute')
    check_equal((date >> 9) + 1980, 2023, 'label year from SOURCE_DATE_EPOCH')
    check_equal(((date >> 5) & 15, date & 31), (11, 14), 'label month and day, UTC')
    check_equal((time >> 11, (time >> 5) & 63, (time & 31) * 2), (22, 13, 20), 'label time, UTC')
    fsck(images[0], [re.escape(NO_BOOT_LABEL % 'DEMO DISK')])
    check(' Volume in drive : is DEMO DISK' in mdir(images[0]), 'mtools lists the label')

    # A label outside ASCII: the code page 936 bytes on disk.
    image = tools.path('chinese.img')
    tools.formats('ossiter', ['--label', '软盘软盘ABC', image],
                  [list_line(UNKNOWN_E, '1.4MB'), LABEL_HINT] + success(UNKNOWN_E), env)
    name, attribute, _, _ = root_label(image)
    check_equal(name, '软盘软盘ABC'.encode('cp936'), 'an 11-byte label in code page 936')
    check_equal(attribute, 0x08, 'label entry attribute')
    fsck(image, [LABEL_NOT_VALID])


def case_refused(tools):
    """Starts the dialog refuses, and a job that fails: exit 1, the dialog's own messages."""
    small = new_image(tools, 'small.img', 2879)
    tools.refuses('vellmark', [small],
                  [list_line(UNKNOWN_E, '1.4MB'), SELECTED % UNKNOWN_E,
                   'message: 格式化U盘: 所选U盘容量小于1.44M软盘大小,请重新指定U盘大小!'])
    tools.refuses('vellmark', ['--layout', '720k', small],
                  [list_line(UNKNOWN_E, '1.4MB'), HINT_720K, SELECTED % UNKNOWN_E,
                   'message: 格式化U盘: 所选U盘容量小于1.44M软盘大小,请重新指定U盘大小!'])
    check(sectors(small, 0, 2879) == bytes(2879 * 512), 'a refused start writes nothing')

    image = new_image(tools, 'root.img', 20000)
    for entries in ('513', '4294967295'):
        tools.refuses('ossiter', ['--layout', 'actual', '--root-entries', entries, image],
                      [list_line(UNKNOWN_E, '9.8MB'), ROOT_HINT, SELECTED % UNKNOWN_E,
                       'message: 格式化U盘: 目录项数不能大于32个扇区(512项),请重新设置!'])
    tiny = new_image(tools, 'tiny.img', 100)
    tools.refuses('vellmark', ['--layout', 'actual', '--cluster', '65536', tiny],
                  [list_line(UNKNOWN_E, '50.0KB'), SELECTED % UNKNOWN_E,
                   'message: 格式化U盘: 当前设置的簇太大,请重新设置!'])
    empty = tools.path('empty.img')
    tools.run('vellmark', ['--sectors', '0', empty])
    tools.refuses('vellmark', ['--layout', 'actual', empty],
                  ['list: 可移动盘 E:(未知)  0.000000 B ', SELECTED % UNKNOWN_E,
                   'message: 格式化U盘: U盘可能正被其它程序占用，请关掉其它窗口!'])

    # Too many clusters for FAT16: planning refuses, the job fails.
    big = tools.path('big.img')
    tools.refuses('vellmark', ['--sectors', '1000000', '--layout', 'actual', big],
                  [list_line(UNKNOWN_E, '488.3MB'), SELECTED % UNKNOWN_E, STARTED,
                   'status: 当前单元总数超出了FAT16所支持的',
                   'message: 格式化U盘: 所选分配单元不能小于8192',
                   FAILED % UNKNOWN_E, IDLE])
    check(sectors(big, 0, 1) == bytes(512), 'a refused plan writes no boot sector')


def case_usage(tools):
    """Option errors are the tool's own: exit 2, nothing on stdout, no image touched."""
    missing = tools.path('missing.img')
    for edition, args in [
            ('vellmark', []),
            ('vellmark', ['--bogus', missing]),
            ('vellmark', [missing, tools.path('second.img')]),
            ('vellmark', ['--layout', 'floppy', missing]),
            ('vellmark', ['--sectors', '-1', missing]),
            ('vellmark', ['--sectors', '4294967296', missing]),
            ('vellmark', ['--sectors']),
            ('vellmark', ['--cluster', '1024', missing]),  # floppy layout: no cluster choice
            ('vellmark', ['--layout', 'actual', '--cluster', '1000', missing]),
            ('vellmark', ['--layout', 'actual', '--cluster', '256', missing]),
            ('vellmark', ['--layout', 'actual', '--cluster', '131072', missing]),
            ('ossiter', ['--layout', 'actual', '--fats', '3', missing]),
            ('ossiter', ['--layout', 'actual', '--root-entries', '-5', missing]),
            ('ossiter', ['--layout', 'actual', '--fill=123', missing]),
            ('ossiter', ['--layout', 'actual', '--fill=G', missing]),
            ('ossiter', ['--fill=F6', missing]),  # floppy layouts fill with F6 only
            ('ossiter', ['--label', '软盘软盘软盘', missing]),  # 12 bytes in code page 936
            ('ossiter', ['--label', 'TWELVE BYTES', missing]),
            ('ossiter', ['--label', '한국', missing]),  # not in code page 936
            ('ossiter', ['--layout', '720k', missing]),
    ]:
        tools.usage_error(edition, args)
        check(not os.path.exists(missing), 'a usage error creates no image (%s)' % args)

    existing = new_image(tools, 'existing.img', 2880, b'\x77')
    tools.usage_error('vellmark', ['--sectors', '2880', existing])
    check(sectors(existing, 0, 2880) == b'\x77' * 2880 * 512, 'an existing image stays as it was')
    r = tools.run('vellmark', [existing], {'SOURCE_DATE_EPOCH': 'yesterday'})
    check_equal(r.code, 2, 'a malformed SOURCE_DATE_EPOCH is a usage error')
    check(sectors(existing, 0, 1) == b'\x77' * 512, 'and formats nothing')
    os.mkdir(tools.path('dir.img'))
    tools.usage_error('vellmark', [tools.path('dir.img')])

    for edition, version in (('vellmark', '1.1'), ('ossiter', '1.0')):
        r = tools.run(edition, ['--help'])
        check_equal(r.code, 0, '--help exit code')
        check(r.lines[0] == 'Usage: %s-image [OPTIONS] IMAGE' % edition, '--help text')
        check_equal(('720k' in r.out.decode()), edition == 'vellmark', '720k offered only by vellmark')
        r = tools.run(edition, ['--version'])
        check_equal((r.code, r.lines[0].split()[:2]), (0, ['%s-image' % edition, version]),
                    '--version')


def case_block_device(tools):
    """A block device is formatted only with --yes."""
    if os.geteuid() != 0 or shutil.which('losetup') is None:
        raise Skip('needs root and losetup for a loop device')
    need('fsck.fat')
    backing = new_image(tools, 'backing.img', 2880, b'\x11')
    p = subprocess.run(['losetup', '--find', '--show', backing], stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE)
    if p.returncode != 0:
        raise Skip('no loop device: %s' % p.stderr.decode().strip())
    device = p.stdout.decode().strip()
    try:
        tools.usage_error('vellmark', [device])
        check(sectors(backing, 0, 1) == b'\x11' * 512, 'refused without --yes')
        tools.usage_error('vellmark', ['--yes', '--sectors', '2880', device])
        tools.formats('vellmark', ['--yes', device],
                      [list_line(UNKNOWN_E, '1.4MB')] + success(UNKNOWN_E))
    finally:
        subprocess.run(['losetup', '--detach', device])
    check_equal(boot(backing)['total'], 2880, 'the device got the volume')
    fsck(backing)


def case_boots(tools):
    """Our 1.44M and 720K volumes boot into our program, which asks for a system disk."""
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'boot'))
    import qemu_screen
    if not qemu_screen.qemu_available():
        raise Skip('qemu-system-i386 is not installed')
    runs = (('vellmark', [], '1.44m'), ('vellmark', ['--layout', '720k'], '720k'),
            ('ossiter', [], '1.44m'))
    for edition, options, name in runs:
        image = tools.path('%s-%s.img' % (edition, name))
        check_equal(tools.run(edition, options + [image]).code, 0, '%s %s format' % (edition, name))
        screen = qemu_screen.boot_and_read_screen(
            image, ['Invalid system disk', 'Replace the disk, and then press any key'], timeout=30)
        check('Disk I/O error' not in screen, '%s %s reads its root directory' % (edition, name))


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith('case_')}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--vellmark', required=True)
    parser.add_argument('--ossiter', required=True)
    parser.add_argument('case', choices=sorted(CASES))
    a = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix='image-tools-') as workdir:
        tools = Tools(os.path.abspath(a.vellmark), os.path.abspath(a.ossiter), workdir)
        try:
            CASES[a.case](tools)
        except Skip as s:
            print('SKIPPED: %s' % s)
            return SKIP
        except Failure as f:
            print('FAILED: %s' % f)
            return 1
    print('passed')
    return 0


if __name__ == '__main__':
    sys.exit(main())
