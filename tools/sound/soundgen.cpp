// soundgen: writes the recorder's alarm sound, a RIFF/WAVE file of 16-bit signed little-endian
// stereo PCM at 44100 Hz: three rounds of a two-tone siren with pauses, about 5.7 seconds.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int SampleRate = 44100;
constexpr int Channels = 2;
constexpr double Pi = 3.14159265358979323846;

void put16(std::vector<unsigned char>& out, uint16_t v)
{
    out.push_back(static_cast<unsigned char>(v & 0xff));
    out.push_back(static_cast<unsigned char>(v >> 8));
}

void put32(std::vector<unsigned char>& out, uint32_t v)
{
    put16(out, static_cast<uint16_t>(v & 0xffff));
    put16(out, static_cast<uint16_t>(v >> 16));
}

// A tone with soft edges, so that switching tones does not click.
void tone(std::vector<int16_t>& frames, double frequency, double seconds, double level)
{
    const int count = static_cast<int>(seconds * SampleRate);
    const int edge = SampleRate / 200;
    for (int i = 0; i < count; ++i) {
        double envelope = 1.0;
        if (i < edge)
            envelope = double(i) / edge;
        else if (count - i < edge)
            envelope = double(count - i) / edge;
        const double t = double(i) / SampleRate;
        // A little third harmonic gives the tone an edge that cuts through room noise.
        const double wave = std::sin(2 * Pi * frequency * t) + 0.25 * std::sin(6 * Pi * frequency * t);
        const auto sample = static_cast<int16_t>(std::lround(wave / 1.25 * level * envelope * 32767));
        for (int c = 0; c < Channels; ++c)
            frames.push_back(sample);
    }
}

void silence(std::vector<int16_t>& frames, double seconds)
{
    frames.insert(frames.end(), static_cast<size_t>(seconds * SampleRate) * Channels, 0);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: soundgen OUTPUT.wav\n");
        return 2;
    }
    std::vector<int16_t> frames;
    for (int round = 0; round < 3; ++round) {
        for (int beep = 0; beep < 3; ++beep) {
            tone(frames, 880.0, 0.22, 0.7);
            tone(frames, 1175.0, 0.22, 0.7);
        }
        silence(frames, 0.58);
    }

    const uint32_t dataBytes = static_cast<uint32_t>(frames.size() * sizeof(int16_t));
    std::vector<unsigned char> out;
    out.reserve(44 + dataBytes);
    for (char c : {'R', 'I', 'F', 'F'})
        out.push_back(static_cast<unsigned char>(c));
    put32(out, 36 + dataBytes);
    for (char c : {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '})
        out.push_back(static_cast<unsigned char>(c));
    put32(out, 16);
    put16(out, 1); // PCM
    put16(out, Channels);
    put32(out, SampleRate);
    put32(out, SampleRate * Channels * 2);
    put16(out, Channels * 2);
    put16(out, 16);
    for (char c : {'d', 'a', 't', 'a'})
        out.push_back(static_cast<unsigned char>(c));
    put32(out, dataBytes);
    for (int16_t s : frames)
        put16(out, static_cast<uint16_t>(s));

    FILE* file = std::fopen(argv[1], "wb");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "soundgen: could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
