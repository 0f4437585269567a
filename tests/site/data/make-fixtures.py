#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the workbooks the sheet tests read: what other programs write
# (openpyxl; LibreOffice from a flat ODS sheet), hostile or damaged ones,
# and the openpyxl one with its sheets' parts swapped.
# Run once by hand and commit the output:  python3 make-fixtures.py
# Needs python3-openpyxl, and soffice (libreoffice-calc-nogui) for the
# LibreOffice one.
import os
import shutil
import subprocess
import tempfile
import zipfile

import openpyxl

here = os.path.dirname(os.path.abspath(__file__))

# openpyxl: texts, a number where a text was meant, a formula (openpyxl
# stores no last value), a boolean, Chinese, a text in a cell styled as text.
book = openpyxl.Workbook()
sheet = book.active
sheet.append(["mac", "name", "sip1_account", "mic_volume", "web_account"])
sheet.append(["02:fe:00:00:00:01", "大厅 A", "0801", 60, "admin"])
sheet.append(["02:fe:00:00:00:02", '=CONCATENATE("Gate ","B")', 802, "070", True])
sheet.append([])
sheet.append(["02:fe:00:00:00:03", "=1+1", None, None, "x"])
book.create_sheet("second").append(["not", "read"])
book.save(os.path.join(here, "openpyxl.xlsx"))

# LibreOffice: a sheet as a planner types it (a text with leading zeros, a
# number, a formula with its value, a boolean, a cell left empty), saved as
# .xlsx by LibreOffice itself.
FODS = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
 <office:body><office:spreadsheet><table:table table:name="plan">
  <table:table-row>
   <table:table-cell office:value-type="string"><text:p>mac</text:p></table:table-cell>
   <table:table-cell office:value-type="string"><text:p>name</text:p></table:table-cell>
   <table:table-cell office:value-type="string"><text:p>sip1_account</text:p></table:table-cell>
   <table:table-cell office:value-type="string"><text:p>mic_volume</text:p></table:table-cell>
   <table:table-cell office:value-type="string"><text:p>dns2</text:p></table:table-cell>
  </table:table-row>
  <table:table-row>
   <table:table-cell office:value-type="string"><text:p>02:fe:00:00:00:01</text:p></table:table-cell>
   <table:table-cell office:value-type="string"><text:p>Hall &quot;A&quot;, east</text:p></table:table-cell>
   <table:table-cell office:value-type="string"><text:p>0801</text:p></table:table-cell>
   <table:table-cell office:value-type="float" office:value="60"><text:p>60</text:p></table:table-cell>
  </table:table-row>
  <table:table-row>
   <table:table-cell office:value-type="string"><text:p>02:fe:00:00:00:02</text:p></table:table-cell>
   <table:table-cell table:formula="of:=&quot;Gate &quot;&amp;&quot;B&quot;" office:value-type="string" office:string-value="Gate B"><text:p>Gate B</text:p></table:table-cell>
   <table:table-cell office:value-type="float" office:value="802"><text:p>802</text:p></table:table-cell>
   <table:table-cell table:formula="of:=30*2" office:value-type="float" office:value="60"><text:p>60</text:p></table:table-cell>
   <table:table-cell office:value-type="boolean" office:boolean-value="true"><text:p>TRUE</text:p></table:table-cell>
  </table:table-row>
 </table:table></office:spreadsheet></office:body>
</office:document>
"""
soffice = shutil.which("soffice")
if soffice:
    with tempfile.TemporaryDirectory() as tmp:
        source = os.path.join(tmp, "libreoffice.fods")
        with open(source, "w", encoding="utf-8") as f:
            f.write(FODS)
        subprocess.run([soffice, "-env:UserInstallation=file://" + tmp + "/profile", "--headless",
                        "--convert-to", "xlsx", "--outdir", here, source], check=True, capture_output=True)
else:
    print("soffice is missing: libreoffice.xlsx kept as it is")

# A part that claims to unpack to more than the reader takes, and a part
# whose stream goes on past the size its headers state.
def skeleton(sheet_xml):
    out = {}
    out["[Content_Types].xml"] = b'<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>'
    out["xl/workbook.xml"] = (b'<?xml version="1.0"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
                              b'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>'
                              b'<sheet name="a" sheetId="1" r:id="rId1"/></sheets></workbook>')
    out["xl/_rels/workbook.xml.rels"] = (b'<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                                         b'<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" '
                                         b'Target="worksheets/sheet1.xml"/></Relationships>')
    out["xl/worksheets/sheet1.xml"] = sheet_xml
    return out

def write_zip(name, parts):
    with zipfile.ZipFile(os.path.join(here, name), "w", zipfile.ZIP_DEFLATED) as z:
        for k, v in parts.items():
            z.writestr(k, v)

row = b'<row r="1"><c r="A1" t="inlineStr"><is><t>mac</t></is></c></row>'
big = (b'<?xml version="1.0"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>'
       + row + b' ' * (70 * 1024 * 1024) + b'</sheetData></worksheet>')
write_zip("bomb.xlsx", skeleton(big))

small = (b'<?xml version="1.0"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>'
         + row + b' ' * 100000 + b'</sheetData></worksheet>')
# Both headers of the sheet's part state another size than its stream has:
# the local header's size stands 8 bytes before the name, the central
# directory's 22.
for file, stated in (("lying.xlsx", 1000), ("short.xlsx", len(small) + 1000)):
    write_zip(file, skeleton(small))
    data = bytearray(open(os.path.join(here, file), "rb").read())
    name = b"xl/worksheets/sheet1.xml"
    for at in [i for i in range(len(data)) if data.startswith(name, i)]:
        for back in (8, 22):
            if data[at - back:at - back + 4] == len(small).to_bytes(4, "little"):
                data[at - back:at - back + 4] = stated.to_bytes(4, "little")
    open(os.path.join(here, file), "wb").write(bytes(data))

# A cell whose name puts it in another row than the one it stands in, and
# a row numbered 0.
for file, rows in (("misnamed.xlsx", b'<row r="1"><c r="A1" t="inlineStr"><is><t>mac</t></is></c>'
                                     b'<c r="B7" t="inlineStr"><is><t>name</t></is></c></row>'),
                   ("rowzero.xlsx", b'<row r="0"><c t="inlineStr"><is><t>mac</t></is></c></row>')):
    write_zip(file, skeleton(b'<?xml version="1.0"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
                             b'<sheetData>' + rows + b'</sheetData></worksheet>'))

# Excel keeps a sheet's part name when its tab moves: the openpyxl workbook
# with its two sheets' parts swapped, so that the first sheet is sheet2.xml.
def swapped(text):
    return text.replace(b"sheet1.xml", b"sheet0.xml").replace(b"sheet2.xml", b"sheet1.xml").replace(b"sheet0.xml", b"sheet2.xml")
with zipfile.ZipFile(os.path.join(here, "openpyxl.xlsx")) as z:
    parts = {swapped(n.encode()).decode(): z.read(n) for n in z.namelist()}
rels = "xl/_rels/workbook.xml.rels"
parts[rels] = swapped(parts[rels])
write_zip("reordered.xlsx", parts)
