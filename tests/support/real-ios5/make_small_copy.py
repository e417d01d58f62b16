#!/usr/bin/env python3
"""Makes the small copy of a real iOS 5.1 phone's sms.db and sms.db-wal kept
here (see SOURCE.md), from the files of the shared folder:

    make_small_copy.py ../../../../shared/real/ios5/wal .

sms.db is the phone's own file, byte for byte. sms.db-wal keeps 36 of the
log's 546 frames, their page images byte for byte: older images of the
message table's leaf (page 5) that still hold the deleted messages as whole
cells, then the newest committed image of every page. The frames keep the
phone's header and salts; their checksums are computed again for the new
order, and the last one commits the database at its 30 pages.
"""
import struct
import sys

OLDER_IMAGES_OF_PAGE_5 = [86, 127, 149, 163, 503, 519]


def checksum(data, s0, s1):
    # Little-endian words: the phone's log says so in its magic (0x377f0682).
    for i in range(0, len(data), 8):
        x0, x1 = struct.unpack_from('<II', data, i)
        s0 = (s0 + x0 + s1) & 0xFFFFFFFF
        s1 = (s1 + x1 + s0) & 0xFFFFFFFF
    return s0, s1


def main(src, out):
    wal = open(src + '/sms.db-wal', 'rb').read()
    magic, version, page_size, ckpt, salt1, salt2 = struct.unpack_from('>IIIIII', wal, 0)
    assert magic == 0x377f0682 and page_size == 4096
    frame_size = 24 + page_size
    count = (len(wal) - 32) // frame_size

    def frame(n):
        at = 32 + (n - 1) * frame_size
        page_no, commit = struct.unpack_from('>II', wal, at)
        return page_no, commit, wal[at + 24:at + frame_size]

    newest = {}
    last_commit = 0
    for n in range(1, count + 1):
        page_no, commit, _ = frame(n)
        newest[page_no] = n
        if commit:
            last_commit = n
            size = commit
    assert last_commit == count
    picked = [(n, frame(n)[0], frame(n)[2]) for n in OLDER_IMAGES_OF_PAGE_5]
    assert all(p == 5 for _, p, _ in picked)
    picked += [(newest[p], p, frame(newest[p])[2]) for p in sorted(newest)]

    header = bytearray(wal[:24])
    s0, s1 = checksum(bytes(header), 0, 0)
    header += struct.pack('>II', s0, s1)
    body = bytearray()
    for i, (_, page_no, image) in enumerate(picked):
        commit = size if i == len(picked) - 1 else 0
        head = struct.pack('>IIII', page_no, commit, salt1, salt2)
        s0, s1 = checksum(head[:8], s0, s1)
        s0, s1 = checksum(image, s0, s1)
        body += head + struct.pack('>II', s0, s1) + image
    open(out + '/sms.db-wal', 'wb').write(bytes(header) + bytes(body))
    open(out + '/sms.db', 'wb').write(open(src + '/sms.db', 'rb').read())


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
