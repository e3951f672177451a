#!/usr/bin/env python3
"""Prints the table of a latch_bench JSON run: time per sample of each module
class, of the naive loop and of the memory bound, the two ratios, the goals,
the instance sizes and the lifecycle and event costs."""
import json
import sys
from collections import defaultdict

CLASSES = ["FixedThresholdLatch", "ComplementaryLatch", "VariableThresholdLatch"]
SIGNALS = ["noise", "gates", "dither"]
FRAMES = [64, 1024, 65536]


def medians(benchmarks):
    """name -> (median ns per sample or None, median ns per iteration)"""
    runs = defaultdict(list)
    aggregated = {}
    for b in benchmarks:
        name = b.get("run_name", b["name"])
        scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
        value = (b["per_sample"] * 1e9 if "per_sample" in b else None, b["cpu_time"] * scale)
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                aggregated[name] = value
        else:
            runs[name].append(value)
    for name, values in runs.items():
        if name not in aggregated:
            values.sort(key=lambda v: v[1])
            aggregated[name] = values[len(values) // 2]
    return aggregated


def main(path):
    with open(path) as f:
        data = json.load(f)
    results = medians(data["benchmarks"])
    context = data["context"]

    def per_sample(prefix, cls, signal, frames):
        found = results.get(f"BM_{prefix}{cls}/{signal}/{frames}")
        return found[0] if found else None

    print("time per sample in ns (median of the repetitions, CPU time)\n")
    header = ["class", "signal", "frames", "module", "naive", "memory", "module/memory", "naive/module"]
    rows = []
    goals = []
    for cls in CLASSES:
        for signal in SIGNALS:
            for frames in FRAMES:
                module = per_sample("", cls, signal, frames)
                naive = per_sample("Naive", cls, signal, frames)
                memory = per_sample("MemoryBound", cls, signal, frames)
                if None in (module, naive, memory):
                    continue
                bound, speedup = module / memory, naive / module
                rows.append([cls, signal, str(frames), f"{module:.2f}", f"{naive:.2f}", f"{memory:.2f}",
                             f"{bound:.2f}x", f"{speedup:.2f}x"])
                if frames == 1024:
                    goals.append((f"{cls} {signal} 1024: within 2.5x of the memory bound", bound <= 2.5, f"{bound:.2f}x"))
                    if signal == "noise":
                        goals.append((f"{cls} noise 1024: 8x faster than naive", speedup >= 8, f"{speedup:.2f}x"))
                    if signal == "gates":
                        goals.append((f"{cls} gates 1024: not slower than naive", speedup >= 1, f"{speedup:.2f}x"))
                if frames == 65536:
                    goals.append((f"{cls} {signal} 65536: within 1.5x of the memory bound", bound <= 1.5, f"{bound:.2f}x"))
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(len(header))]
    print("| " + " | ".join(h.ljust(w) for h, w in zip(header, widths)) + " |")
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print("| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |")

    print("\nmodule/memory: module time over the time to only read and write the same buffers (1.0 is the floor)")
    print("naive/module: the straightforward branchy loop's time over the module's (above 1: the module is faster)\n")
    for text, met, value in goals:
        print(f"{'met    ' if met else 'NOT met'}  {text}: {value}")

    print("\nper instance")
    for cls in CLASSES:
        make = results.get(f"BM_MakeOpenClose/{cls}")
        event = results.get(f"BM_PinStateEvent/{cls}")
        size = context.get(f"bytes/{cls}", "?")
        print(f"  {cls}: {size} bytes (sizeof)"
              + (f", makeModule + Open + Close {make[1]:.0f} ns" if make else "")
              + (f", one pin-state event {event[1]:.0f} ns" if event else ""))
    if "bytes/Pin" in context:
        print(f"  plus the pin table built at Open: {context['bytes/Pin']} bytes per pin")
    print(f"\nhost: {context.get('host_name', '?')}, {context.get('num_cpus', '?')} CPUs, "
          f"library build {context.get('library_build_type', '?')}")


if __name__ == "__main__":
    main(sys.argv[1])
