// Signal sources for input pins: constants, generators and samples from files.
//
// Source texts (samples are 32-bit floats, 1.0 = 10 V):
//   NUMBER                a constant sample: 0.5  -1e-3  nan  inf  -inf
//   NUMBERV               volts, divided by 10: 3.33V is 0.333
//   step:at=N,from=A,to=B
//                         A before frame N, B from frame N on
//   pulse:period=P,width=W[,high=0.5][,low=0][,delay=0]
//                         high for the first W frames of every P frames,
//                         low before frame D (the delay) and otherwise
//   square:freq=F[,high=0.5][,low=0][,duty=0.5]
//                         F in Hz at the run's sample rate; high for the
//                         first duty part of each cycle
//   sine:freq=F[,amp=0.5][,offset=0][,phase=0]
//                         offset + amp * sin(2 pi F t + phase), phase in degrees
//   ramp:from=A,to=B,frames=N
//                         A at frame 0 to B at frame N-1 in a straight line, then B
//   noise:seed=S[,min=-1][,max=1]
//                         uniform in min..max, the same for a seed on every platform
//   FILE.wav[#CH]         channel CH (from 0, default 0) of an audio file
//   FILE.csv[#COL]        column COL, a header name or else an index from 0; one
//                         sample per data row; the first row is a header if any
//                         of its fields is quoted or not a number; COL may be
//                         left out when the file has a single column
// Frames count from 0 at the start of the run; P, W, D, N are whole numbers of
// frames. Sample values (A, B, high, low, amp, offset, min, max) take a trailing
// V for volts too. Past the end of a file the samples are 0. Files are read
// whole when the text is parsed, so their errors show up then.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace plughost {

// How a host would report the pin: Static, OneChange, Streaming.
enum class SourceKind { Constant, Step, Changing };

class SourceError : public std::runtime_error {
public:
    explicit SourceError(const std::string& message) : std::runtime_error(message) {}
};

class SignalSource {
public:
    virtual ~SignalSource();
    virtual SourceKind kind() const = 0;
    // Fills out[0..n) with samples firstFrame .. firstFrame+n-1; any split of a
    // run into calls gives the same samples.
    virtual void render(int64_t firstFrame, float* out, int32_t n) = 0;
    // One line, e.g. "pulse period=100 width=10 high=0.5 low=0".
    virtual std::string describe() const = 0;
};

// Parses a source text; sampleRate is needed by frequency-based generators.
// Throws SourceError with a one-line message naming the text and the problem.
std::unique_ptr<SignalSource> parseSource(const std::string& text, double sampleRate);

// A pin default text as the module gives it, in volts ("3.33", "0", "-12"), to
// a sample (volts / 10). Empty, null or unparsable text gives 0.0f and sets
// *ok to false; otherwise *ok is set to true.
float defaultTextToSample(const char* text, bool* ok = nullptr);

}  // namespace plughost
