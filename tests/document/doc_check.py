#!/usr/bin/env python3
"""Checks a Word 97-2003 binary document against the rules of the file format, independently of
the writer, and prints a JSON report:

  {"errors": [...], "main_text": str, "header_stories": {"odd_header": str, "odd_footer": str},
   "picture_sha256": hex, "picture_goal_twips": [w, h], "centred_paragraphs": n, "paragraphs": n,
   "sizes": {"title": half-points, "header_footer": half-points}}

Usage: doc_check.py FILE
"""
import hashlib
import json
import os
import struct
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cfb_check import walk  # noqa: E402

# Operand sizes by the sprm's spra field; 6 is variable.
SPRA_SIZE = {0: 1, 1: 1, 2: 2, 3: 4, 4: 2, 5: 2, 7: 3}


def parse_sprms(data, errors, where):
    sprms = []
    i = 0
    while i + 2 <= len(data):
        op = struct.unpack_from('<H', data, i)[0]
        spra = op >> 13
        i += 2
        if spra == 6:
            size = data[i] + 1 if i < len(data) else 0
            value = data[i + 1:i + size]
        else:
            size = SPRA_SIZE[spra]
            value = data[i:i + size]
        if i + size > len(data):
            errors.append('%s: sprm 0x%04X runs past its group' % (where, op))
            break
        sprms.append((op, value))
        i += size
    return dict(sprms)


def u16(b, o):
    return struct.unpack_from('<H', b, o)[0]


def u32(b, o):
    return struct.unpack_from('<I', b, o)[0]


def check(path):
    errors = []
    report = {'errors': errors}
    with tempfile.TemporaryDirectory() as tmp:
        cfb = walk(path, tmp)
        errors += ['container: ' + e for e in cfb['errors']]
        streams = {}
        for name in cfb['streams']:
            with open(os.path.join(tmp, name), 'rb') as f:
                streams[name] = f.read()
    wd = streams.get('WordDocument')
    if wd is None or len(wd) < 900:
        errors.append('no WordDocument stream with a FIB')
        return report

    # FibBase and the counts that follow it.
    if u16(wd, 0) != 0xA5EC:
        errors.append('wIdent is not 0xA5EC')
    if u16(wd, 2) != 0x00C1:
        errors.append('nFib is 0x%04X, not 0x00C1' % u16(wd, 2))
    flags = u16(wd, 10)
    if not flags & 0x0200:
        errors.append('fWhichTblStm is 0: the table stream would be 0Table')
    if not flags & 0x1000:
        errors.append('fExtChar must be 1')
    if flags & 0x0004 or flags & 0x0100:
        errors.append('document claims to be fast-saved or encrypted')
    if u16(wd, 32) != 14 or u16(wd, 62) != 22 or u16(wd, 152) != 0x5D or u16(wd, 154 + 744) != 0:
        errors.append('FIB counts csw/cslw/cbRgFcLcb/cswNew are not those of Word 97')
    lw = struct.unpack_from('<22I', wd, 64)
    ccp_text, ccp_ftn, ccp_hdd = lw[3], lw[4], lw[5]
    if lw[0] > len(wd):
        errors.append('cbMac beyond the stream')
    pairs = struct.unpack_from('<186I', wd, 154)
    table = streams.get('1Table')
    if table is None:
        errors.append('no 1Table stream')
        return report

    def blob(index):
        fc, lcb = pairs[2 * index], pairs[2 * index + 1]
        if lcb and fc + lcb > len(table):
            errors.append('pair %d (fc %d, lcb %d) lies beyond the table stream' % (index, fc, lcb))
            return b''
        return table[fc:fc + lcb]

    # Piece table: the text and the character count rule.
    clx = blob(33)
    if not clx or clx[0] != 0x02:
        errors.append('Clx does not start with a Pcdt')
        return report
    lcb = u32(clx, 1)
    n = (lcb - 4) // 12
    cps = struct.unpack_from('<%dI' % (n + 1), clx, 5)
    if list(cps) != sorted(cps) or cps[0] != 0:
        errors.append('piece CPs are not ascending from 0')
    text = ''
    for i in range(n):
        pcd = clx[5 + 4 * (n + 1) + 8 * i:5 + 4 * (n + 1) + 8 * (i + 1)]
        fc_field = u32(pcd, 2)
        count = cps[i + 1] - cps[i]
        if fc_field & 0x40000000:
            start = (fc_field & 0x3FFFFFFF) // 2
            text += wd[start:start + count].decode('cp1252')
        else:
            text += wd[fc_field:fc_field + 2 * count].decode('utf-16-le')
            text_fc = fc_field
    expected = ccp_text + ccp_ftn + ccp_hdd + (1 if ccp_hdd or ccp_ftn else 0)
    if len(text) != expected:
        errors.append('piece table holds %d characters, the FIB counts need %d' % (len(text), expected))
    main = text[:ccp_text]
    report['main_text'] = main
    if not main.endswith('\r'):
        errors.append('main document does not end with a paragraph mark')
    if main.count('\x01') != 1:
        errors.append('main document holds %d picture characters' % main.count('\x01'))

    # Header document stories.
    stories = {}
    hdd = blob(11)
    if ccp_hdd:
        cp = struct.unpack('<%dI' % (len(hdd) // 4), hdd)
        if len(cp) != 6 + 6 + 2:
            errors.append('Plcfhdd has %d CPs, one section needs 14' % len(cp))
        elif cp[-2] != ccp_hdd - 1:
            errors.append('second-to-last Plcfhdd CP is %d, must be ccpHdd - 1 = %d' % (cp[-2], ccp_hdd - 1))
        else:
            hdd_text = text[ccp_text:ccp_text + ccp_hdd]
            for k, name in enumerate(['even_header', 'odd_header', 'even_footer', 'odd_footer',
                                      'first_header', 'first_footer']):
                story = hdd_text[cp[6 + k]:cp[7 + k]]
                if story and not story.endswith('\r'):
                    errors.append('%s story has no guard paragraph mark' % name)
                stories[name] = story[:-1]
            if hdd_text[-1:] != '\r':
                errors.append('header document does not end with a paragraph mark')
    elif hdd:
        errors.append('Plcfhdd present without header text')
    report['header_stories'] = stories

    # Section: one section over the main text, properties in the WordDocument stream.
    sed = blob(6)
    if len(sed) != 8 + 12 or struct.unpack_from('<2I', sed) != (0, ccp_text):
        errors.append('PlcfSed does not hold one section over the main text')
    else:
        fc_sepx = u32(sed, 10)
        cb = u16(wd, fc_sepx)
        sep = parse_sprms(wd[fc_sepx + 2:fc_sepx + 2 + cb], errors, 'SEPX')
        page = [struct.unpack('<H', sep.get(op, b'\0\0'))[0] for op in (0xB01F, 0xB020, 0xB021, 0xB022)]
        report['page_twips'] = page
        if page[:2] != [11906, 16838]:
            errors.append('page is not A4: %r' % page[:2])

    # Character runs: every text fc covered, in order, by FKP runs.
    text_end = text_fc + 2 * len(text)
    sizes = {}

    def fkp_pages(index):
        bte = blob(index)
        k = (len(bte) - 4) // 8
        fcs = struct.unpack_from('<%dI' % (k + 1), bte)
        pns = struct.unpack_from('<%dI' % k, bte, 4 * (k + 1))
        if fcs[0] > text_fc or fcs[-1] < text_end:
            errors.append('bin table %d does not cover the text' % index)
        return [wd[(pn & 0x3FFFFF) * 512:(pn & 0x3FFFFF) * 512 + 512] for pn in pns]

    picture_location = None
    covered = text_fc
    for page in fkp_pages(12):
        crun = page[511]
        fcs = struct.unpack_from('<%dI' % (crun + 1), page)
        for i in range(crun):
            if fcs[i] != covered:
                errors.append('character runs leave a gap at fc %d' % covered)
            covered = fcs[i + 1]
            offset = page[4 * (crun + 1) + i] * 2
            chpx = parse_sprms(page[offset + 1:offset + 1 + page[offset]], errors, 'CHPX') if offset else {}
            first_cp = (fcs[i] - text_fc) // 2
            if 0x6A03 in chpx:
                if 0x0855 not in chpx or chpx[0x0855] != b'\x01':
                    errors.append('picture location without sprmCFSpec')
                if text[first_cp] != '\x01':
                    errors.append('picture location on a character that is not 0x01')
                picture_location = struct.unpack('<I', chpx[0x6A03])[0]
            if 0x4A43 in chpx:
                kind = 'header_footer' if first_cp >= ccp_text else 'title'
                sizes.setdefault(kind, struct.unpack('<H', chpx[0x4A43])[0])
                if chpx.get(0x2A42) != b'\x01':
                    errors.append('run at cp %d is not black' % first_cp)
    if covered < text_end:
        errors.append('character runs end at fc %d before the text (%d)' % (covered, text_end))
    report['sizes'] = sizes

    # Paragraph runs: each ends at a paragraph mark; count the centred ones.
    centred = 0
    paragraphs = 0
    for page in fkp_pages(13):
        crun = page[511]
        fcs = struct.unpack_from('<%dI' % (crun + 1), page)
        for i in range(crun):
            if text[(fcs[i + 1] - text_fc) // 2 - 1] != '\r':
                errors.append('paragraph run does not end at a paragraph mark')
            offset = page[4 * (crun + 1) + 13 * i] * 2
            cb = page[offset]
            start, length = (offset + 1, 2 * cb - 1) if cb else (offset + 2, 2 * page[offset + 1])
            papx = parse_sprms(page[start + 2:start + length], errors, 'PAPX')
            paragraphs += 1
            if papx.get(0x2403) == b'\x01' or papx.get(0x2461) == b'\x01':
                centred += 1
    report['paragraphs'] = paragraphs
    report['centred_paragraphs'] = centred

    # The picture: PICF, then the shape and its blip store entry with the PNG embedded.
    data = streams.get('Data', b'')
    if picture_location is None:
        errors.append('no picture location')
    elif picture_location + 68 > len(data):
        errors.append('picture location beyond the Data stream')
    else:
        picf = data[picture_location:]
        lcb, cb_header, mm = u32(picf, 0), u16(picf, 4), u16(picf, 6)
        if cb_header != 0x44 or mm != 0x64 or lcb > len(picf):
            errors.append('PICF header: lcb %d cbHeader 0x%X mm 0x%X' % (lcb, cb_header, mm))
        report['picture_goal_twips'] = [u16(picf, 28), u16(picf, 30)]
        pos = 0x44
        ver_inst, rtype, rlen = u16(picf, pos), u16(picf, pos + 2), u32(picf, pos + 4)
        if rtype != 0xF004:
            errors.append('no shape container after the PICF')
        pos += 8 + rlen
        ver_inst, rtype, rlen = u16(picf, pos), u16(picf, pos + 2), u32(picf, pos + 4)
        if rtype != 0xF007:
            errors.append('no blip store entry after the shape')
        else:
            blip = pos + 8 + 36
            btype, blen = u16(picf, blip + 2), u32(picf, blip + 4)
            if btype != 0xF01E or (u16(picf, blip) >> 4) != 0x6E0:
                errors.append('embedded blip is not a PNG blip')
            png = picf[blip + 8 + 17:blip + 8 + blen]
            if pos + 8 + rlen != lcb:
                errors.append('PICF lcb %d does not end at the blip store entry (%d)' % (lcb, pos + 8 + rlen))
            report['picture_sha256'] = hashlib.sha256(png).hexdigest()
    return report


if __name__ == '__main__':
    result = check(sys.argv[1])
    print(json.dumps(result, ensure_ascii=False))
    sys.exit(1 if result['errors'] else 0)
