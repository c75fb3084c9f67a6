#!/usr/bin/env python3
"""Writes the seed corpus of every harness into fuzz/corpus/<harness>/.

Most harnesses read their input as a series of choices (fuzz_support.h,
FuzzInput): a byte for a small count, two for a sequence number, one per
packet for a loss. Each seed below spells out such a series for a typical
case, so that fuzzing starts from groups that encode, lose and recover. The
file readers get small well-formed files. Run it again after changing the
order of a harness's choices.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def write(harness, seeds):
    d = os.path.join(HERE, "corpus", harness)
    os.makedirs(d, exist_ok=True)
    for old in os.listdir(d):
        os.remove(os.path.join(d, old))
    for name, data in seeds.items():
        with open(os.path.join(d, name), "wb") as f:
            f.write(bytes(data))


def media_decode(k, r, lost, fec_passed, ops=b"", shuffle=False):
    """k, r, base_seq, max payload, filler seed, one length each, losses, FEC passes."""
    head = [k - 1, r - 1, 0xFF, 0xF0, 40, 1, 2, 3, 4] + [(7 * i) % 41 for i in range(k)]
    head += [1 if i in lost else 0 for i in range(k)]
    head += [0 if j in fec_passed else 1 for j in range(r)]
    head += [1, *range(k + r)] if shuffle else [0]
    return head + ([0x80 | len(ops) - 1] + list(ops) if ops else [0])


def media_decode_seeds():
    return {
        "lose-one": media_decode(4, 2, {1}, {0, 1}),
        "lose-r-shuffled": media_decode(10, 4, {0, 3, 7, 9}, {0, 1, 2, 3}, shuffle=True),
        "too-few": media_decode(6, 2, {0, 1, 2}, {0, 1}),
        "forged-k1": media_decode(1, 1, {0}, {0}, ops=[1, 0, 4, 1, 1, 0, 6, 0, 1, 0, 7, 0]),
        "cut-fec": media_decode(5, 3, {2, 4}, {0, 2}, ops=[2, 1, 0, 0, 10]),
    }


def media_encode(pair, edges, k, r, lengths, caps):
    return [pair, edges, k - 1, r - 1, 0x12, 0x34, 60, 9, 9, 9, 9] + lengths + caps


def media_encode_seeds():
    return {
        "audio": media_encode(0, 0, 5, 2, [10, 20, 30, 40, 50], [0, 3]),
        "video-v2": media_encode(1, 0, 10, 4, list(range(0, 60, 6)), [0, 0, 0, 8]),
        "video-v1": media_encode(2, 0, 8, 3, [5] * 8, [0, 1, 2]),
        "edge-media": media_encode(1, 0x40, 3, 1, [1, 4, 0x10, 1, 3, 0xFF, 0xF8, 2, 1, 5], [0]),
        "edge-counts": media_encode(2, 0x30, 9, 13, [], []),
        "no-variant": media_encode(7, 0, 2, 1, [4, 4], [0]),
    }


def block_decode_seeds():
    def seed(k, m, size, lost, skip=()):
        b = [0, k - 1, m - 1, size - 1, 5, 6, 7, 8]
        b += [1 if i in lost else 0 for i in range(k)]
        b += [1 if j in skip else 0 for j in range(m)]
        return b + [0] * k + [0] * k + [0]

    return {
        "m1": seed(5, 1, 16, {2}),
        "lose-three": seed(12, 4, 40, {0, 5, 11}, skip={1}),
        "too-few": seed(4, 2, 8, {0, 1, 2}),
        "refusal": [250, 8, 8, 2, 1],
    }


def grouped_decode_seeds():
    def seed(k, m, longest, lengths, lost):
        b = [k - 1, m - 1, longest - 1, 1, 2, 3, 4] + lengths
        return b + [1 if i in lost else 0 for i in range(k)] + [0] * m

    return {
        "short-and-long": seed(4, 2, 120, [10, 119, 60, 1], {1}),
        "lose-two": seed(6, 3, 30, [29, 5, 5, 12, 20, 0], {0, 4}),
        "none-lost": seed(3, 1, 8, [7, 7, 7], set()),
    }


def session_seed(codec, k, r, lost, mode, length=16):
    shape = [0, length - 1]
    if codec == "rs2m":
        shape += [0]  # m = 8
    if codec == "2d":  # a x b grid
        shape += [k, r]
        k, r = (k + 1) * (r + 1), k + r + 2
    else:
        shape += [k - 1, r]
    if codec == "ldpc":
        shape += [0, 0, 0x30, 0x39, 1]
    b = shape + [1, 2, 3, 4, 0, 1, 0, 0]
    for esi in range(k + r):
        b += [1] if esi in lost else [0, 0]
    return b + [0] * (k + r) + [mode, 1, 1]


def session_seeds(codec):
    if codec == "2d":
        return {
            "grid-one-by-one": session_seed(codec, 1, 2, {0, 4}, 0),
            "grid-table": session_seed(codec, 3, 3, {1, 5, 16}, 1),
        }
    return {
        "one-by-one": session_seed(codec, 6, 3, {0, 2}, 0),
        "table": session_seed(codec, 10, 5, {1, 3, 4, 12}, 1),
        "mixed": session_seed(codec, 4, 4, {0, 1}, 2),
        "edge": [0xF0, 3, 9, 1, 0xFF, 3, 2],
    }


def sparse_seeds():
    return {
        "small": b"2\n5\n3\n2\n0 0 1 3\n1 1 2 3 4\n",
        "comment": b"3\n6\n3\n3\n# rows\n0 0 3\n1 1 4\n2 2 5\n",
    }


def dense_seeds():
    def matrix(rows, cols, words):
        return struct.pack("<ii", rows, cols) + b"".join(struct.pack("<I", w) for w in words)

    return {
        "3x40": matrix(3, 40, [0xDEADBEEF, 0x7F, 1, 0, 0xFFFFFFFF, 0xFF]),
        "1x1": matrix(1, 1, [1]),
    }


def rtp(seq, payload):
    return struct.pack(">BBHII", 0x80, 96, seq, 1000 + seq, 0x11223344) + payload


def fec_packet(k=2, r=1, esi=2, s=16):
    return bytes(12) + struct.pack(">BBHBBHI", 0x01, esi, 100, k, r, s, 0) + bytes(range(s))


def udp_ipv4(payload):
    udp = struct.pack(">HHHH", 5004, 5006, 8 + len(payload), 0) + payload
    ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 1, 0, 64, 17, 0,
                     bytes([10, 0, 0, 1]), bytes([10, 0, 0, 2]))
    return ip + udp


def udp_ipv6(payload):
    udp = struct.pack(">HHHH", 5004, 5006, 8 + len(payload), 0) + payload
    return struct.pack(">IHBB16s16s", 0x60000000, len(udp), 17, 64, bytes(15) + b"\1",
                       bytes(15) + b"\2") + udp


def ethernet(ip, ethertype=0x0800):
    return bytes(6) + bytes([2] * 6) + struct.pack(">H", ethertype) + ip


def pcap(linktype, frames, nano=False):
    out = struct.pack("<IHHiIII", 0xA1B23C4D if nano else 0xA1B2C3D4, 2, 4, 0, 0, 65535,
                      linktype)
    for i, f in enumerate(frames):
        out += struct.pack("<IIII", 1700000000 + i, 500 * i, len(f), len(f)) + f
    return out


def capture_seeds():
    media = udp_ipv4(rtp(100, b"hello"))
    fec = udp_ipv4(fec_packet())
    return {
        "ethernet": pcap(1, [ethernet(media), ethernet(fec)]),
        "raw-ipv6-nano": pcap(101, [udp_ipv6(rtp(7, b"x" * 20))], nano=True),
        "cut-short": pcap(1, [ethernet(media)])[:-3],
    }


def packet_seeds():
    fec = fec_packet()
    return {
        "ethernet-frame": [0, 0, 0] + list(ethernet(udp_ipv4(rtp(1, b"abc")))),
        "vlan-ipv6": [0, 0, 0] + list(bytes(12) + b"\x81\x00\x00\x05\x86\xdd" +
                                      udp_ipv6(rtp(2, b""))),
        "rtp": [1] + list(rtp(3, b"payload")),
        "fec-group": [2, 0, 0, len(fec)] + list(fec) + [0, 0, 1, 0, 12] +
                     list(rtp(100, bytes(10))[:12]) + [0x11, 0x22, 0x33, 0x44],
    }


def stream_receiver_seeds():
    """variant, k, r, lost mask (2), tamper, first seq (2), one length and payload per packet,
    then raw packets [kind][length (2)][bytes]."""
    def group(variant, k, r, lost, tamper=0, first=0xFFFE):
        head = [variant, k - 1, r - 1, lost >> 8, lost & 0xFF, tamper, first >> 8, first & 0xFF]
        body = []
        for i in range(k):
            body += [8 + i] + [(i * 13 + j) % 256 for j in range(8 + i)]
        return head + body

    fec = fec_packet()
    return {
        "video-v2-two-lost": group(1, 6, 2, 0b000101),
        "audio-v2-one-lost": group(0, 4, 1, 0b0010),
        "video-v1-tampered": group(2, 5, 3, 0b00011, tamper=1) + [0x5A] * 64,
        "raw-packets": group(1, 2, 1, 0) + [1, 0, len(fec)] + list(fec) + [2, 0, 20] +
                       list(rtp(7, bytes(8))),
    }


def main():
    for variant in ("audio_v2", "video_v2", "video_v1"):
        write("media_decode_" + variant, media_decode_seeds())
    write("media_encode", media_encode_seeds())
    write("block_decode", block_decode_seeds())
    write("grouped_decode", grouped_decode_seeds())
    for codec in ("rs8", "rs2m", "ldpc", "2d"):
        write("session_" + codec, session_seeds(codec))
    write("sparse_read", sparse_seeds())
    write("dense_read", dense_seeds())
    write("tool_capture", capture_seeds())
    write("tool_packet", packet_seeds())
    write("stream_receiver", stream_receiver_seeds())
    return 0


if __name__ == "__main__":
    sys.exit(main())
