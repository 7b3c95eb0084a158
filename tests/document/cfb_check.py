#!/usr/bin/env python3
"""Independent readers for compound files, used by the helper tests.

  cfb_check.py walk FILE [DUMPDIR]  walk header, DIFAT, FAT, directory, mini FAT and mini stream;
                                    print a JSON report {"streams": {name: size}, "errors": [...]}
                                    and, with DUMPDIR, write each stream's bytes there by name.
  cfb_check.py olefile FILE         list the streams with python-olefile (exit 3 when missing).

The walker is written from the format description alone and shares nothing with the writer.
"""
import json
import os
import struct
import sys

FREE, END, FATSECT, DIFSECT = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFC
NOSTREAM = 0xFFFFFFFF


def walk(path, dump_dir=None):
    data = open(path, 'rb').read()
    errors = []
    if len(data) < 512 or data[:8] != bytes.fromhex('D0CF11E0A1B11AE1'):
        return {'streams': {}, 'errors': ['no compound file signature']}
    (minor, major, order, sshift, mshift) = struct.unpack_from('<HHHHH', data, 24)
    if major != 3 or sshift != 9 or mshift != 6 or order != 0xFFFE:
        errors.append('header: version %d sector shift %d mini shift %d' % (major, sshift, mshift))
    (ndir, nfat, first_dir, _sig, cutoff, first_minifat, nminifat, first_difat, ndifat) = \
        struct.unpack_from('<IIIIIIIII', data, 40)
    if ndir != 0:
        errors.append('directory sector count must be 0 in version 3')
    if cutoff != 4096:
        errors.append('mini stream cutoff %d' % cutoff)
    if (len(data) - 512) % 512:
        errors.append('file is not a whole number of sectors')
    nsect = (len(data) - 512) // 512
    owner = {}  # sector -> what uses it

    def claim(sector, what):
        if sector >= nsect:
            errors.append('%s uses sector %d beyond the end of file' % (what, sector))
            return False
        if sector in owner:
            errors.append('sector %d shared by %s and %s' % (sector, owner[sector], what))
            return False
        owner[sector] = what
        return True

    def sector(n):
        return data[512 + n * 512: 512 + (n + 1) * 512]

    # DIFAT: header entries then the chained DIFAT sectors.
    fat_sectors = [s for s in struct.unpack_from('<109I', data, 76) if s != FREE]
    difat_list = []
    s = first_difat
    seen = set()
    while s != END and len(difat_list) < ndifat + 1:
        if s in seen:
            errors.append('DIFAT chain loops')
            break
        seen.add(s)
        difat_list.append(s)
        entries = struct.unpack('<128I', sector(s))
        fat_sectors += [e for e in entries[:127] if e != FREE]
        s = entries[127]
    if len(difat_list) != ndifat:
        errors.append('DIFAT sector count %d, header says %d' % (len(difat_list), ndifat))
    if len(fat_sectors) != nfat:
        errors.append('FAT sector count %d, header says %d' % (len(fat_sectors), nfat))
    fat = []
    for f in fat_sectors:
        claim(f, 'FAT')
        fat += struct.unpack('<128I', sector(f))
    for d in difat_list:
        claim(d, 'DIFAT')
    for i, f in enumerate(fat_sectors):
        if f < len(fat) and fat[f] != FATSECT:
            errors.append('FAT sector %d not marked FATSECT' % f)
    for d in difat_list:
        if d < len(fat) and fat[d] != DIFSECT:
            errors.append('DIFAT sector %d not marked DIFSECT' % d)

    def follow(first, what, table, claim_fn):
        chain = []
        s = first
        seen = set()
        while s != END:
            if s in seen:
                errors.append('%s chain loops at %d' % (what, s))
                break
            if s >= len(table) or s in (FREE, FATSECT, DIFSECT):
                errors.append('%s chain reaches bad entry %d' % (what, s))
                break
            seen.add(s)
            if claim_fn:
                claim_fn(s, what)
            chain.append(s)
            s = table[s]
        return chain

    dir_chain = follow(first_dir, 'directory', fat, claim)
    dirdata = b''.join(sector(s) for s in dir_chain)
    entries = []
    for i in range(len(dirdata) // 128):
        e = dirdata[i * 128:(i + 1) * 128]
        nlen = struct.unpack_from('<H', e, 64)[0]
        name = e[:max(nlen - 2, 0)].decode('utf-16-le', 'replace')
        etype, colour = e[66], e[67]
        left, right, child = struct.unpack_from('<III', e, 68)
        start, size = struct.unpack_from('<IQ', e, 116)
        entries.append(dict(name=name, type=etype, colour=colour, left=left, right=right, child=child,
                            start=start, size=size))
    if not entries or entries[0]['type'] != 5:
        errors.append('first directory entry is not the root')
        return {'streams': {}, 'errors': errors}
    root = entries[0]

    minifat_chain = follow(first_minifat, 'mini FAT', fat, claim) if nminifat else []
    if len(minifat_chain) != nminifat:
        errors.append('mini FAT sectors %d, header says %d' % (len(minifat_chain), nminifat))
    minifat = []
    for s in minifat_chain:
        minifat += struct.unpack('<128I', sector(s))
    ministream_chain = follow(root['start'], 'mini stream', fat, claim) if root['size'] else []
    ministream = b''.join(sector(s) for s in ministream_chain)
    if len(ministream) < root['size']:
        errors.append('mini stream shorter than the root entry says')
    mini_owner = {}

    def claim_mini(s, what):
        if (s + 1) * 64 > root['size']:
            errors.append('%s uses mini sector %d beyond the mini stream' % (what, s))
        if s in mini_owner:
            errors.append('mini sector %d shared by %s and %s' % (s, mini_owner[s], what))
        mini_owner[s] = what

    # Walk the sibling tree from the root's child: every entry once, names ordered, red rules kept.
    def key(name):
        return (len(name), name.upper())

    reached = set()
    streams = {}

    def visit(idx, depth):
        if idx == NOSTREAM:
            return 1
        if idx >= len(entries) or idx in reached or depth > 64:
            errors.append('directory tree reaches entry %d twice or out of range' % idx)
            return 1
        reached.add(idx)
        e = entries[idx]
        for side, cmp in (('left', -1), ('right', 1)):
            other = e[side]
            if other != NOSTREAM and other < len(entries):
                a, b = key(entries[other]['name']), key(e['name'])
                if (a < b) != (cmp < 0) or a == b:
                    errors.append('entry %r: %s sibling %r out of order' % (e['name'], side, entries[other]['name']))
                if e['colour'] == 0 and entries[other]['colour'] == 0:
                    errors.append('red entry %r has a red child' % e['name'])
        hl = visit(e['left'], depth + 1)
        hr = visit(e['right'], depth + 1)
        if hl != hr:
            errors.append('black height differs below %r' % e['name'])
        if e['type'] == 2:
            if e['size'] < cutoff:
                chain = follow(e['start'], e['name'], minifat, claim_mini) if e['size'] else []
                content = b''.join(ministream[c * 64:(c + 1) * 64] for c in chain)
            else:
                chain = follow(e['start'], e['name'], fat, claim)
                content = b''.join(sector(c) for c in chain)
            unit = 64 if e['size'] < cutoff else 512
            if len(chain) != (e['size'] + unit - 1) // unit:
                errors.append('stream %r: %d sectors for %d bytes' % (e['name'], len(chain), e['size']))
            streams[e['name']] = e['size']
            if dump_dir:
                with open(os.path.join(dump_dir, e['name']), 'wb') as out:
                    out.write(content[:e['size']])
        return hl + (1 if e['colour'] == 1 else 0)

    visit(root['child'], 0)
    for i, e in enumerate(entries[1:], 1):
        if e['type'] != 0 and i not in reached:
            errors.append('directory entry %r is not in the tree' % e['name'])

    # Every sector must be accounted for, and marked free exactly when nothing uses it.
    for s in range(nsect):
        if s not in owner:
            if s < len(fat) and fat[s] != FREE:
                errors.append('sector %d is lost (allocated but unused)' % s)
        elif s < len(fat) and fat[s] == FREE:
            errors.append('sector %d is used but marked free' % s)
    for s in range(nsect, len(fat)):
        if fat[s] != FREE:
            errors.append('FAT entry %d beyond the end of file is in use' % s)
    for s in range(root['size'] // 64):
        if s not in mini_owner and minifat[s] != FREE:
            errors.append('mini sector %d is lost' % s)
    return {'streams': streams, 'errors': errors}


def olefile_list(path):
    try:
        import olefile
    except ImportError:
        print('python-olefile is not installed', file=sys.stderr)
        return 3
    if not olefile.isOleFile(path):
        print(json.dumps({'error': 'not an OLE file'}))
        return 1
    ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)
    streams = {'/'.join(p): ole.get_size('/'.join(p)) for p in ole.listdir(streams=True, storages=False)}
    print(json.dumps({'streams': streams}))
    return 0


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == 'walk':
        report = walk(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None)
        print(json.dumps(report))
        return 1 if report['errors'] else 0
    if len(sys.argv) == 3 and sys.argv[1] == 'olefile':
        return olefile_list(sys.argv[2])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == '__main__':
    sys.exit(main())
