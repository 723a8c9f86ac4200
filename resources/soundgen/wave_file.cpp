#include "wave_file.h"

#include <stdexcept>

namespace tarnwick::soundgen {
namespace {

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void putId(std::vector<uint8_t>& out, std::string_view id) {
    if (id.size() != 4) throw std::invalid_argument("a chunk id has four characters");
    out.insert(out.end(), id.begin(), id.end());
}

// RIFF chunks start on even offsets: an odd payload is followed by one zero pad byte that its
// size field does not count. Clip 1 (1173 samples) only reaches 1230 bytes with that pad.
void putChunk(std::vector<uint8_t>& out, std::string_view id, std::span<const uint8_t> payload) {
    putId(out, id);
    put32(out, static_cast<uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    if (payload.size() % 2 != 0) out.push_back(0);
}

} // namespace

std::vector<uint8_t> buildWaveFile(std::span<const uint8_t> samples,
                                   std::span<const ExtraChunk> extra) {
    std::vector<uint8_t> format;
    put16(format, 1); // PCM
    put16(format, 1); // channels
    put32(format, kSampleRate);
    put32(format, kSampleRate); // byte rate: one byte a sample
    put16(format, 1);           // block align
    put16(format, 8);           // bits per sample

    std::vector<uint8_t> fact;
    put32(fact, static_cast<uint32_t>(samples.size()));

    std::vector<uint8_t> body;
    putId(body, "WAVE");
    putChunk(body, "fmt ", format);
    putChunk(body, "fact", fact);
    putChunk(body, "data", samples);
    for (const ExtraChunk& chunk : extra) {
        const std::vector<uint8_t> zeros(chunk.size, 0);
        putChunk(body, chunk.id, zeros);
    }

    std::vector<uint8_t> file;
    putId(file, "RIFF");
    put32(file, static_cast<uint32_t>(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

} // namespace tarnwick::soundgen
