#!/usr/bin/env python3
"""Enrolls one certificate into a variable store, so that the firmware boots
with Secure Boot on from its first boot; or says where a store holds one of
Secure Boot's variables.

  secure-boot-vars.py VARS_IN CERT_PEM VARS_OUT
  secure-boot-vars.py --find VARS NAME

VARS_IN is the variable store image the platform build made (OVMF_VARS.fd:
a firmware volume whose first part is the authenticated variable store).
VARS_OUT is the same image with three variables added, each an
EFI_SIGNATURE_LIST holding the one X.509 certificate: PK, KEK and db. With
PK present the firmware starts in user mode; it then creates SecureBootEnable
as enabled and reports SecureBoot = 1, so images it verifies (option ROMs,
images from disks) must be signed by a key whose certificate is in db.

The store must be in the layout the platform's variable driver uses and
hold none of the three yet; anything else, and a store too small for them,
is refused with a message and exit status 1, and nothing is written.

--find prints where the store VARS holds the live variable NAME (PK, KEK,
db or dbx), as one line "NAME OFFSET LENGTH CRC32": the offset of its
record (header, name and data) in the file, the record's length in bytes
and the CRC32 of its data (what GetVariable returns). A store without that
variable, or with more than one live record of it, is reported with exit
status 1.
"""
import base64
import struct
import sys
import uuid
import zlib

AUTH_VARIABLE_STORE = uuid.UUID("AAF32C78-947B-439A-A180-2E144EC37792")
GLOBAL_VARIABLE = uuid.UUID("8BE4DF61-93CA-11D2-AA0D-00E098032B8C")
IMAGE_SECURITY_DATABASE = uuid.UUID("D719B2CB-3D3A-4596-A3BC-DAD00E67656F")
CERT_X509 = uuid.UUID("A5C059A1-94E4-4AA7-87B5-AB155C2BF072")
# Who enrolled the certificate (EFI_SIGNATURE_DATA.SignatureOwner).
OWNER = uuid.UUID("59E61C53-07D0-4A1B-ADAA-81CF3EFB09F9")

STORE_HEADER = struct.Struct("<16sIBBHI")          # GUID, size, format, state
VARIABLE_HEADER = struct.Struct("<HBBIQ16sIII16s")  # AUTHENTICATED_VARIABLE_HEADER
START_ID = 0x55AA
VAR_ADDED = 0x3F
# Non-volatile, boot service and run time access, time-based authenticated writes.
AUTH_ATTRIBUTES = 0x27


class StoreError(Exception):
    pass


def align4(n):
    return (n + 3) & ~3


def certificate_der(pem_text):
    lines = pem_text.splitlines()
    try:
        start = lines.index("-----BEGIN CERTIFICATE-----")
        end = lines.index("-----END CERTIFICATE-----", start)
    except ValueError:
        raise StoreError("no PEM certificate block")
    der = base64.b64decode("".join(lines[start + 1:end]), validate=True)
    if not der or der[0] != 0x30:
        raise StoreError("the certificate is not DER inside its PEM block")
    return der


def signature_list(der):
    """An EFI_SIGNATURE_LIST of type X.509 with one EFI_SIGNATURE_DATA."""
    entry = OWNER.bytes_le + der
    return CERT_X509.bytes_le + struct.pack("<III", 28 + len(entry), 0, len(entry)) + entry


def variable(name, guid, data):
    encoded = (name + "\0").encode("utf-16-le")
    header = VARIABLE_HEADER.pack(START_ID, VAR_ADDED, 0, AUTH_ATTRIBUTES, 0, bytes(16), 0,
                                  len(encoded), len(data), guid.bytes_le)
    return header + encoded + data


def store_bounds(image):
    """(first variable offset, end of the store) of a firmware volume's store."""
    if len(image) < 0x48 or image[40:44] != b"_FVH":
        raise StoreError("not a firmware volume (no _FVH signature)")
    base = struct.unpack_from("<H", image, 48)[0]
    if base + STORE_HEADER.size > len(image):
        raise StoreError("firmware volume header length %d runs past the image" % base)
    guid, size, fmt, state, _, _ = STORE_HEADER.unpack_from(image, base)
    if uuid.UUID(bytes_le=guid) != AUTH_VARIABLE_STORE:
        raise StoreError("the store is not an authenticated variable store")
    if fmt != 0x5A or state != 0xFE:
        raise StoreError("the store is not formatted and healthy (format 0x%02X, state 0x%02X)" % (fmt, state))
    if size < STORE_HEADER.size or base + size > len(image):
        raise StoreError("store size 0x%X does not fit the image" % size)
    return align4(base + STORE_HEADER.size), base + size


def records(image, offset, end):
    """The store's live variables as (name, guid, record offset, record
    length, data), and the offset where the next variable goes."""
    live = []
    while offset + VARIABLE_HEADER.size <= end:
        start_id, state, _, _, _, _, _, name_size, data_size, guid = VARIABLE_HEADER.unpack_from(image, offset)
        if start_id != START_ID:
            break
        length = VARIABLE_HEADER.size + name_size + data_size
        following = align4(offset + length)
        if following > end:
            raise StoreError("variable at 0x%X runs past the store" % offset)
        name = image[offset + VARIABLE_HEADER.size:offset + VARIABLE_HEADER.size + name_size]
        if state == VAR_ADDED:
            live.append((name.decode("utf-16-le", "replace").rstrip("\0"), uuid.UUID(bytes_le=guid), offset, length,
                         bytes(image[offset + VARIABLE_HEADER.size + name_size:offset + length])))
        offset = following
    return live, offset


def live_variables(image, offset, end):
    """The (name, guid) pairs of the store's live variables, and the offset
    where the next variable goes."""
    live, offset = records(image, offset, end)
    return {(name, guid) for name, guid, _, _, _ in live}, offset


SECURE_BOOT_VARIABLES = {"PK": GLOBAL_VARIABLE, "KEK": GLOBAL_VARIABLE,
                         "db": IMAGE_SECURITY_DATABASE, "dbx": IMAGE_SECURITY_DATABASE}


def find(image, name):
    """(record offset, record length, CRC32 of the data) of NAME's one live record."""
    if name not in SECURE_BOOT_VARIABLES:
        raise StoreError("%s is not one of %s" % (name, ", ".join(SECURE_BOOT_VARIABLES)))
    first, end = store_bounds(image)
    live, _ = records(image, first, end)
    found = [r for r in live if (r[0], r[1]) == (name, SECURE_BOOT_VARIABLES[name])]
    if len(found) != 1:
        raise StoreError("the store holds %d live records of %s" % (len(found), name))
    _, _, offset, length, data = found[0]
    return offset, length, zlib.crc32(data)


def enroll(image, der):
    first, end = store_bounds(image)
    present, free = live_variables(image, first, end)
    wanted = [("PK", GLOBAL_VARIABLE), ("KEK", GLOBAL_VARIABLE), ("db", IMAGE_SECURITY_DATABASE)]
    for name, guid in wanted:
        if (name, guid) in present:
            raise StoreError("the store already holds %s" % name)
    payload = signature_list(der)
    added = bytearray()
    for name, guid in wanted:
        added += variable(name, guid, payload)
        added += b"\xff" * (align4(len(added)) - len(added))
    if free + len(added) > end or any(b != 0xFF for b in image[free:free + len(added)]):
        raise StoreError("no erased room for %d bytes at 0x%X" % (len(added), free))
    out = bytearray(image)
    out[free:free + len(added)] = added
    return bytes(out)


def main(argv):
    if len(argv) == 4 and argv[1] == "--find":
        try:
            offset, length, crc = find(open(argv[2], "rb").read(), argv[3])
        except (OSError, StoreError) as error:
            print("secure-boot-vars: %s" % error, file=sys.stderr)
            return 1
        print("%s 0x%X %d 0x%08X" % (argv[3], offset, length, crc))
        return 0
    if len(argv) != 4:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        image = open(argv[1], "rb").read()
        der = certificate_der(open(argv[2]).read())
        result = enroll(image, der)
    except (OSError, ValueError, StoreError) as error:
        print("secure-boot-vars: %s" % error, file=sys.stderr)
        return 1
    with open(argv[3], "wb") as f:
        f.write(result)
    print("secure-boot-vars: PK, KEK and db hold %s (%d bytes) in %s" % (argv[2], len(der), argv[3]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
