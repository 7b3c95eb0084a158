#!/usr/bin/env python3
"""Reads an ODT written by LibreOffice and prints what the document tests look at, as JSON:

  {"header": [para], "footer": [para], "body": [para], "pictures": {name: [w, h]}}
  para = {"text", "align", "size", "color", "frames": [{"width_in", "height_in", "href", "anchor"}]}

Line breaks inside a paragraph come out as "\\n". Paragraph properties are resolved through the
automatic and common styles and their parents.
"""
import json
import struct
import sys
import zipfile
import xml.etree.ElementTree as ET

NS = {
    'office': 'urn:oasis:names:tc:opendocument:xmlns:office:1.0',
    'style': 'urn:oasis:names:tc:opendocument:xmlns:style:1.0',
    'text': 'urn:oasis:names:tc:opendocument:xmlns:text:1.0',
    'draw': 'urn:oasis:names:tc:opendocument:xmlns:drawing:1.0',
    'fo': 'urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0',
    'svg': 'urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0',
    'xlink': 'http://www.w3.org/1999/xlink',
}


def q(prefix, name):
    return '{%s}%s' % (NS[prefix], name)


def collect_styles(*roots):
    styles = {}
    for root in roots:
        for st in root.iter(q('style', 'style')):
            styles[(st.get(q('style', 'family')), st.get(q('style', 'name')))] = st
    return styles


def style_prop(styles, family, name, kind, attr):
    seen = set()
    while name and (family, name) not in seen:
        seen.add((family, name))
        st = styles.get((family, name))
        if st is None:
            return None
        props = st.find(q('style', kind))
        if props is not None and props.get(attr) is not None:
            return props.get(attr)
        name = st.get(q('style', 'parent-style-name'))
    return None


def inches(value):
    if value is None:
        return None
    for unit, factor in (('in', 1.0), ('cm', 1 / 2.54), ('mm', 1 / 25.4), ('pt', 1 / 72.0)):
        if value.endswith(unit):
            return float(value[:-len(unit)]) * factor
    return float(value)


def paragraph(p, styles):
    parts = []
    frames = []
    sizes = set()
    colors = set()

    def walk(node):
        if node.text:
            parts.append(node.text)
        for child in node:
            tag = child.tag
            if tag == q('text', 'line-break'):
                parts.append('\n')
            elif tag == q('text', 's'):
                parts.append(' ' * int(child.get(q('text', 'c'), '1')))
            elif tag == q('text', 'tab'):
                parts.append('\t')
            elif tag == q('draw', 'frame'):
                image = child.find(q('draw', 'image'))
                frames.append({
                    'width_in': inches(child.get(q('svg', 'width'))),
                    'height_in': inches(child.get(q('svg', 'height'))),
                    'anchor': child.get(q('text', 'anchor-type')),
                    'href': image.get(q('xlink', 'href')) if image is not None else None,
                })
            elif tag == q('text', 'span'):
                span_style = child.get(q('text', 'style-name'))
                size = style_prop(styles, 'text', span_style, 'text-properties', q('fo', 'font-size'))
                color = style_prop(styles, 'text', span_style, 'text-properties', q('fo', 'color'))
                if size:
                    sizes.add(size)
                if color:
                    colors.add(color)
                walk(child)
            else:
                walk(child)
            if child.tail:
                parts.append(child.tail)

    walk(p)
    name = p.get(q('text', 'style-name'))
    size = style_prop(styles, 'paragraph', name, 'text-properties', q('fo', 'font-size'))
    color = style_prop(styles, 'paragraph', name, 'text-properties', q('fo', 'color'))
    return {
        'text': ''.join(parts),
        'align': style_prop(styles, 'paragraph', name, 'paragraph-properties', q('fo', 'text-align')),
        'size': sizes.pop() if len(sizes) == 1 else size,
        'color': colors.pop() if len(colors) == 1 else color,
        'frames': frames,
    }


def png_size(data):
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        return None
    return list(struct.unpack('>II', data[16:24]))


def main():
    with zipfile.ZipFile(sys.argv[1]) as odt:
        content = ET.fromstring(odt.read('content.xml'))
        styles_xml = ET.fromstring(odt.read('styles.xml'))
        styles = collect_styles(styles_xml, content)
        result = {'header': [], 'footer': [], 'body': [], 'pictures': {}}
        for master in styles_xml.iter(q('style', 'master-page')):
            for part in ('header', 'footer'):
                node = master.find(q('style', part))
                if node is not None:
                    result[part] += [paragraph(p, styles) for p in node.iter(q('text', 'p'))]
        body = content.find(q('office', 'body')).find(q('office', 'text'))
        result['body'] = [paragraph(p, styles) for p in body.iter(q('text', 'p'))]
        for name in odt.namelist():
            if name.startswith('Pictures/'):
                result['pictures'][name] = png_size(odt.read(name))
    print(json.dumps(result, ensure_ascii=False))


if __name__ == '__main__':
    main()
