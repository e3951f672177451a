#!/usr/bin/env python3
"""Writes the hand-made seed programs into fuzz/corpus/<target>/.

Each seed is a short program in the byte language of fuzz/program.cpp; the
fuzzer grows its own corpus from these in a scratch folder, never here.
Run again after changing the language: python3 fuzz/make_seeds.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

MAKE, BIND, ALIAS, FILL, OPEN, CLOSE, EVENT, PROCESS = 0, 1, 2, 3, 4, 5, 6, 7
RATE, DESCRIBE_PIN, DESCRIBE_MODULE, DISPATCH, MISC, PIN_COUNT, PATTERN = 9, 10, 11, 12, 13, 14, 15
SLOT1 = 0x10


def u16(v):
    return struct.pack("<H", v & 0xFFFF)


def word(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def op(code, *parts, slot=0):
    return bytes([code | slot]) + b"".join(parts)


def b(v):
    return bytes([v & 0xFF])


def make(deliverable, pins, slot=0, shape=0, extra=b""):
    return op(MAKE, b(deliverable), b(shape), extra, b(pins), slot=slot)


def bind(pin, size, seed=0, slot=0):
    return op(BIND, b(pin), u16(size), b(seed), slot=slot)


def fill(pin, start, samples, slot=0):
    # samples: indexes into the edge-value table (< 0xE0)
    return op(FILL, b(pin), u16(start), b(len(samples)), bytes(samples), slot=slot)


def process(offset, frames, mode=2, slot=0):
    # modes 2..7: offset and 1 + frames within the shortest buffer
    return op(PROCESS, b(mode), u16(offset), u16(frames - 1), slot=slot)


def event(pin, state, position=0, base=0, shape=0, slot=0):
    return op(EVENT, b(shape), word(0), b(pin), b(state), word(0), word(base), b(position), slot=slot)


def bind_all(count, size, slot=0):
    return b"".join(bind(p, size, p + 1, slot) for p in range(count))


# Edge-value table positions (see kSpecial): 0 -> 0.333, 4 -> 0.1, 7 -> 0.5, 11 -> +0, 12 -> -0, 15 -> NaN.
T, LOW, HIGH, ZERO, NEG_ZERO, NAN = 0, 4, 7, 11, 12, 15

# Programs, each starting with the deliverable of slot 0 (made, counted in full, bound).
def seeds(described, deliverables):
    signal = [LOW, LOW, HIGH, HIGH, LOW, T, LOW, NAN, HIGH, ZERO]
    basic = (b(0) + op(OPEN) + fill(0, 0, signal) + fill(1, 4, signal) + process(0, 16) + process(16, 200)
             + event(0, 2) + event(1, 1, position=3) + process(5, 7) + op(CLOSE))
    second = (b(0) + make(deliverables - 1, described, slot=SLOT1) + bind_all(described, 64, slot=SLOT1)
              + op(OPEN) + op(OPEN, slot=SLOT1) + process(0, 32) + process(3, 20, slot=SLOT1)
              + op(ALIAS, b(2), b(0), slot=SLOT1) + process(0, 64, slot=SLOT1) + event(0, 2, slot=SLOT1)
              + event(1, 2) + process(32, 32) + op(CLOSE, slot=SLOT1) + process(1, 8))
    hostile = (b(0) + op(PIN_COUNT, b(2)) + op(OPEN) + b"".join(event(p, p % 3) for p in range(10))
               + process(0, 8, mode=0) + process(0, 8, mode=1) + bind(1, 0) + process(0, 8) + bind(1, 16)
               + process(0, 16) + op(DESCRIBE_PIN, b(0)) + op(DESCRIBE_PIN, b(1), b(0x55))
               + op(DESCRIBE_PIN, b(7), b(0xAA)) + op(DESCRIBE_MODULE, b(1), b(0x33))
               + op(DESCRIBE_MODULE, b(2), b(0x44)) + op(DISPATCH, word(99), word(1), word(2), word(0))
               + op(MISC, b(0), word(0)) + op(MISC, b(1), word(3)) + op(MISC, b(2), word(5))
               + make(0, 7, slot=SLOT1, shape=0x03, extra=word(1)) + make(0, 3, slot=SLOT1, shape=0x10)
               + bind_all(described, 8, slot=SLOT1) + op(OPEN, slot=SLOT1) + process(0, 8, slot=SLOT1)
               + event(0, 2, slot=SLOT1))
    reopen = (b(deliverables - 1) + op(RATE, b(1), word(0x473B8000)) + op(RATE, b(0), word(64)) + op(OPEN)
              + op(PATTERN, b(0), u16(7)) + op(PATTERN, b(1), u16(9)) + process(0, 100) + fill(3, 0, [HIGH])
              + op(OPEN) + process(10, 90) + op(PIN_COUNT, b(1)) + op(OPEN) + event(0, 2) + event(2, 2)
              + process(0, 256))
    # Set and reset from one pattern: edges on the same sample, in SIMD-wide blocks, per deliverable.
    same = b"".join(
        (make(d, described) if d else b(0)) + bind_all(described, 512) + op(PATTERN, b(0x80), u16(3 + d)) + op(OPEN)
        + process(0, 512) + op(PATTERN, b(0xA0), u16(11)) + op(PATTERN, b(3), u16(5)) + process(7, 300)
        for d in range(deliverables))
    # Events while the tested inputs hold +0, -0, NaN and a plain value at the host's clock.
    values = b(0) + op(OPEN) + b"".join(fill(p, 0, [ZERO, NEG_ZERO, NAN, HIGH]) for p in (0, 1, 3)) + b"".join(
        event(p, state, position=at) for at in range(4) for p in (0, 1, 3) for state in (0, 2))
    return {"event_values": values, "same_sample": same, "basic": basic, "two_instances": second, "hostile": hostile, "reopen": reopen}


TARGETS = {"fuzz_fixed_threshold": (3, 1), "fuzz_complementary": (5, 2), "fuzz_variable_threshold": (4, 2)}

for target, (described, deliverables) in TARGETS.items():
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds(described, deliverables).items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
