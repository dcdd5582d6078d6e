"""Password-protected workbooks as readers no one here wrote see them: msoffcrypto-tool decrypts them
with its integrity check, olefile walks the compound file, openpyxl reads the decrypted package and
LibreOffice opens the file with the password (and refuses it without)."""

import base64
import io
import json
import os
import shutil
import struct
import subprocess
import xml.etree.ElementTree as ET

import openpyxl
import pytest

import tessary

msoffcrypto = pytest.importorskip("msoffcrypto")
olefile = pytest.importorskip("olefile")

pytestmark = pytest.mark.skipif(not hasattr(tessary, "write"), reason="tessary.write is not built yet")

ENC = "{http://schemas.microsoft.com/office/2006/encryption}"
ENC_PW = "{http://schemas.microsoft.com/office/2006/keyEncryptor/password}"


def workbook(rows=3, text="value"):
    return {"sheets": [{"name": "Data", "rows": [
        {"cells": [{"type": "string", "value": "%s %d" % (text, r)}, {"type": "number", "value": r * 1.5}]}
        for r in range(rows)]}]}


def decrypt(data, password):
    office = msoffcrypto.OfficeFile(io.BytesIO(data))
    office.load_key(password=password, verify_password=True)
    out = io.BytesIO()
    office.decrypt(out, verify_integrity=True)
    return out.getvalue()


def streams(data):
    # olefile raises on anything it finds even potentially wrong in the structure.
    ole = olefile.OleFileIO(io.BytesIO(data), raise_defects=olefile.DEFECT_POTENTIAL)
    try:
        return {"/".join(p): ole.openstream(p).read() for p in ole.listdir(streams=True, storages=False)}, \
            sorted("/".join(p) for p in ole.listdir(streams=False, storages=True))
    finally:
        ole.close()


@pytest.mark.parametrize("password", [
    "secret",
    "p\u00e4ssw\u00f6rd",
    "\U0001F600 outside the BMP \U00010348",
    "x" * 300,
    " ",
])
def test_decrypts_to_the_plain_package(password):
    wb = workbook()
    data = tessary.write(wb, {"password": password})
    plain = tessary.write(wb)
    assert decrypt(data, password) == plain
    sheet = openpyxl.load_workbook(io.BytesIO(plain)).active
    assert [[c.value for c in row] for row in sheet.iter_rows()] == [["value 0", 0], ["value 1", 1.5], ["value 2", 3]]


@pytest.mark.parametrize("password, wrong", [
    ("secret", "Secret"),
    ("secret", "secret "),
    ("\U0001F600", "\U0001F601"),
    ("p\u00e4ss", "pass"),
])
def test_a_wrong_password_fails_the_verifier(password, wrong):
    data = tessary.write(workbook(), {"password": password})
    office = msoffcrypto.OfficeFile(io.BytesIO(data))
    with pytest.raises(msoffcrypto.exceptions.InvalidKeyError):
        office.load_key(password=wrong, verify_password=True)


@pytest.mark.parametrize("opts", [None, {}, {"password": ""}, {"meta": {"title": "t"}}])
def test_no_password_writes_the_plain_package(opts):
    data = tessary.write(workbook(), opts) if opts is not None else tessary.write(workbook())
    assert data[:4] == b"PK\x03\x04"


@pytest.mark.skipif(not hasattr(tessary, "create_writer"), reason="the streaming writer is not built yet")
def test_streaming_writer_encrypts_its_package():
    def finished(opts):
        w = tessary.create_writer(opts)
        w.start_sheet({"name": "Data"})
        for r in range(3):
            w.write_row({"cells": [{"type": "string", "value": "row %d" % r}]})
        w.end_sheet()
        return w.finish()[0]

    data = finished({"password": "stream pw"})
    assert data[:8] == b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"
    assert decrypt(data, "stream pw") == finished(None)


def test_fixed_bytes_of_the_container():
    wb = workbook(rows=200)
    plain = tessary.write(wb)
    data = tessary.write(wb, {"password": "pw"})
    assert data[:8] == b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"
    assert struct.unpack_from("<HHHHH", data, 24) == (0x003E, 3, 0xFFFE, 9, 6)
    assert len(data) % 512 == 0
    found, _ = streams(data)
    info = found["EncryptionInfo"]
    assert info[:8] == b"\x04\x00\x04\x00\x40\x00\x00\x00"
    assert info[8:].startswith(b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n<encryption ')
    assert info.count(b"\r\n") == 1 and b"\n" not in info[8:].split(b"\r\n", 1)[1]
    root = ET.fromstring(info[8:])
    key_data = root.find(ENC + "keyData")
    encrypted_key = root.find(ENC + "keyEncryptors/" + ENC + "keyEncryptor/" + ENC_PW + "encryptedKey")
    integrity = root.find(ENC + "dataIntegrity")
    assert encrypted_key.get("spinCount") == "100000"
    for element in (key_data, encrypted_key):
        assert element.get("saltSize") == "16"
        assert (element.get("blockSize"), element.get("keyBits"), element.get("hashSize")) == ("16", "256", "64")
        assert (element.get("cipherAlgorithm"), element.get("cipherChaining"), element.get("hashAlgorithm")) == (
            "AES", "ChainingModeCBC", "SHA512")
    lengths = {
        (key_data, "saltValue"): 24, (encrypted_key, "saltValue"): 24,
        (encrypted_key, "encryptedVerifierHashInput"): 24, (encrypted_key, "encryptedKeyValue"): 44,
        (encrypted_key, "encryptedVerifierHashValue"): 88,
        (integrity, "encryptedHmacKey"): 88, (integrity, "encryptedHmacValue"): 88,
    }
    for (element, name), size in lengths.items():
        text = element.get(name)
        assert len(text) == size, name
        assert base64.b64encode(base64.b64decode(text, validate=True)).decode() == text
    package = found["EncryptedPackage"]
    assert struct.unpack_from("<Q", package)[0] == len(plain)
    assert len(package) == 8 + (len(plain) + 15) // 16 * 16


# The data-spaces streams as msoffcrypto-tool writes them when it encrypts (its own constants).
def test_data_spaces_storage_matches_an_independent_writer():
    known = pytest.importorskip("msoffcrypto.method.container.ecma376_encrypted").DefaultContent
    found, storages = streams(tessary.write(workbook(), {"password": "pw"}))
    assert sorted(found) == sorted([
        "EncryptionInfo", "EncryptedPackage", "\x06DataSpaces/Version", "\x06DataSpaces/DataSpaceMap",
        "\x06DataSpaces/DataSpaceInfo/StrongEncryptionDataSpace",
        "\x06DataSpaces/TransformInfo/StrongEncryptionTransform/\x06Primary"])
    assert storages == sorted(["\x06DataSpaces", "\x06DataSpaces/DataSpaceInfo", "\x06DataSpaces/TransformInfo",
                               "\x06DataSpaces/TransformInfo/StrongEncryptionTransform"])
    assert found["\x06DataSpaces/Version"] == known.Version
    assert found["\x06DataSpaces/DataSpaceMap"] == known.DataSpaceMap
    assert found["\x06DataSpaces/DataSpaceInfo/StrongEncryptionDataSpace"] == known.StrongEncryptionDataSpace
    assert found["\x06DataSpaces/TransformInfo/StrongEncryptionTransform/\x06Primary"] == known.Primary


def test_large_package_needs_difat_sectors():
    # 109 FAT sectors map about 7 MB of 512-byte sectors; this package is well past that.
    wb = workbook(rows=120000, text="a longer cell text to make the package grow")
    plain = tessary.write(wb)
    assert len(plain) > 10 * 2 ** 20
    data = tessary.write(wb, {"password": "big"})
    assert struct.unpack_from("<I", data, 72)[0] >= 1, "DIFAT sector count"
    found, _ = streams(data)
    assert len(found["EncryptedPackage"]) == 8 + (len(plain) + 15) // 16 * 16
    assert decrypt(data, "big") == plain


def test_each_write_draws_fresh_salts_and_keys():
    a = streams(tessary.write(workbook(), {"password": "pw"}))[0]
    b = streams(tessary.write(workbook(), {"password": "pw"}))[0]
    ra, rb = ET.fromstring(a["EncryptionInfo"][8:]), ET.fromstring(b["EncryptionInfo"][8:])
    for element_a, element_b in zip(ra.iter(), rb.iter()):
        for name, value in element_a.attrib.items():
            if name.endswith(("Value", "Key", "Input")):
                assert value != element_b.get(name), name
    assert a["EncryptedPackage"][8:] != b["EncryptedPackage"][8:]


UNO_SCRIPT = r'''
import json, os, subprocess, sys, tempfile, time
import uno
from com.sun.star.beans import PropertyValue

def prop(name, value):
    p = PropertyValue()
    p.Name, p.Value = name, value
    return p

path, passwords = sys.argv[1], json.loads(sys.argv[2])
port = 20000 + os.getpid() % 20000
profile = tempfile.mkdtemp()
office = subprocess.Popen(["soffice", "--headless", "--invisible", "--norestore", "--nologo",
                           "-env:UserInstallation=file://" + profile,
                           "--accept=socket,host=127.0.0.1,port=%d;urp;" % port],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
results = []
try:
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
    for _ in range(240):
        try:
            ctx = resolver.resolve("uno:socket,host=127.0.0.1,port=%d;urp;StarOffice.ComponentContext" % port)
            break
        except Exception:
            time.sleep(0.25)
    desktop = ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)
    url = uno.systemPathToFileUrl(os.path.abspath(path))
    for password in passwords:
        try:
            doc = desktop.loadComponentFromURL(url, "_blank", 0, (prop("Hidden", True), prop("Password", password)))
        except Exception:
            doc = None
        if doc is None:
            results.append(None)
            continue
        sheet = doc.Sheets.getByIndex(0)
        results.append([[sheet.getCellByPosition(c, r).getString() for c in range(2)] for r in range(3)])
        doc.close(True)
    try:
        desktop.terminate()
    except Exception:
        pass
finally:
    try:
        office.wait(timeout=30)
    except Exception:
        office.kill()
print(json.dumps(results))
'''


def system_python_with_uno():
    python = "/usr/bin/python3"
    if shutil.which("soffice") is None or not os.path.exists(python):
        return None
    probe = subprocess.run([python, "-c", "import uno"], capture_output=True)
    return python if probe.returncode == 0 else None


@pytest.mark.skipif(system_python_with_uno() is None, reason="LibreOffice or its Python bridge is absent")
def test_libreoffice_opens_it_with_the_password_only(tmp_path):
    password = "Lib\u00e9r\u00e9 \U0001F600"
    path = tmp_path / "locked.xlsx"
    path.write_bytes(tessary.write(workbook(), {"password": password}))
    script = tmp_path / "open.py"
    script.write_text(UNO_SCRIPT)
    run = subprocess.run([system_python_with_uno(), str(script), str(path),
                          json.dumps([password, "wrong", ""])],
                         capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    right, wrong, empty = json.loads(run.stdout.strip().splitlines()[-1])
    assert right == [["value 0", "0"], ["value 1", "1.5"], ["value 2", "3"]]
    assert wrong is None
    assert empty is None
