// Writes small AVI 1.0 files byte by byte, for cases the platform's writer does not make:
// a video format followed by a colour table, and a file with an audio stream only.
#pragma once

#include "avifile/avifile.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace tiny_avi {

struct Video {
    LONG width = 30;
    LONG height = 20;
    WORD bitCount = 24;
    int frames = 3;
    int paletteEntries = 0; // colour-table entries written after the 40-byte header
};

inline LONG RowBytes(LONG width, WORD bitCount) {
    return (width * bitCount + 31) / 32 * 4;
}

// The byte every pixel byte of frame i holds.
inline uint8_t FrameByte(int i) {
    return static_cast<uint8_t>(i * 37 + 5);
}

class Riff {
  public:
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void U16(uint16_t v) {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
    void Tag(const char* t) { bytes.insert(bytes.end(), t, t + 4); }
    // Opens a chunk (or a LIST/RIFF with its form type) and returns where its size goes.
    size_t Open(const char* id, const char* form = nullptr) {
        Tag(id);
        const size_t at = bytes.size();
        U32(0);
        if (form) Tag(form);
        return at;
    }
    void Close(size_t at) {
        const uint32_t size = static_cast<uint32_t>(bytes.size() - at - 4);
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<uint8_t>(size >> (8 * i));
        if (size % 2) bytes.push_back(0);
    }
    std::vector<uint8_t> bytes;
};

inline void StreamHeader(Riff& r, const char* type, const char* handler, uint32_t scale,
                         uint32_t rate, uint32_t length, uint32_t sampleSize, int16_t w,
                         int16_t h) {
    const size_t strh = r.Open("strh");
    r.Tag(type);
    r.Tag(handler);
    for (int i = 0; i < 3; ++i)
        r.U32(0); // flags, priority+language, initial frames
    r.U32(scale);
    r.U32(rate);
    r.U32(0); // start
    r.U32(length);
    r.U32(0);          // suggested buffer size
    r.U32(0xFFFFFFFF); // quality
    r.U32(sampleSize);
    r.U16(0);
    r.U16(0);
    r.U16(static_cast<uint16_t>(w));
    r.U16(static_cast<uint16_t>(h));
    r.Close(strh);
}

inline void MainHeader(Riff& r, uint32_t frames, uint32_t width, uint32_t height) {
    const size_t avih = r.Open("avih");
    r.U32(40000);
    r.U32(0);
    r.U32(0);
    r.U32(0x10); // has index
    r.U32(frames);
    r.U32(0);
    r.U32(1);
    r.U32(0);
    r.U32(width);
    r.U32(height);
    for (int i = 0; i < 4; ++i)
        r.U32(0);
    r.Close(avih);
}

// Chunks of the movi list with an idx1 index; offsets relative to the 'movi' tag.
inline void Movie(Riff& r, const char* id, const std::vector<std::vector<uint8_t>>& chunks) {
    const size_t movi = r.Open("LIST", "movi");
    const size_t moviTag = movi + 4;
    std::vector<uint32_t> offsets;
    for (const auto& chunk : chunks) {
        offsets.push_back(static_cast<uint32_t>(r.bytes.size() - moviTag));
        const size_t at = r.Open(id);
        r.bytes.insert(r.bytes.end(), chunk.begin(), chunk.end());
        r.Close(at);
    }
    r.Close(movi);
    const size_t idx = r.Open("idx1");
    for (size_t i = 0; i < chunks.size(); ++i) {
        r.Tag(id);
        r.U32(0x10);
        r.U32(offsets[i]);
        r.U32(static_cast<uint32_t>(chunks[i].size()));
    }
    r.Close(idx);
}

inline bool Save(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

// An uncompressed video file; every byte of frame i is FrameByte(i) (a palette index when
// the format has a colour table). Rate 25/1.
inline bool WriteVideo(const std::string& path, const Video& v) {
    const uint32_t frameSize = static_cast<uint32_t>(RowBytes(v.width, v.bitCount) * v.height);
    Riff r;
    const size_t riff = r.Open("RIFF", "AVI ");
    const size_t hdrl = r.Open("LIST", "hdrl");
    MainHeader(r, static_cast<uint32_t>(v.frames), static_cast<uint32_t>(v.width),
               static_cast<uint32_t>(v.height));
    const size_t strl = r.Open("LIST", "strl");
    StreamHeader(r, "vids", "DIB ", 1, 25, static_cast<uint32_t>(v.frames), 0,
                 static_cast<int16_t>(v.width), static_cast<int16_t>(v.height));
    const size_t strf = r.Open("strf");
    r.U32(40);
    r.U32(static_cast<uint32_t>(v.width));
    r.U32(static_cast<uint32_t>(v.height));
    r.U16(1);
    r.U16(v.bitCount);
    r.U32(BI_RGB);
    r.U32(frameSize);
    r.U32(0);
    r.U32(0);
    r.U32(static_cast<uint32_t>(v.paletteEntries));
    r.U32(0);
    for (int i = 0; i < v.paletteEntries; ++i)
        r.U32(static_cast<uint32_t>(i * 0x010101)); // grey ramp
    r.Close(strf);
    r.Close(strl);
    r.Close(hdrl);
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < v.frames; ++i)
        frames.emplace_back(frameSize, FrameByte(i));
    Movie(r, "00db", frames);
    r.Close(riff);
    return Save(path, r.bytes);
}

// A file whose only stream is 8 kHz mono 16-bit PCM audio.
inline bool WriteAudioOnly(const std::string& path) {
    Riff r;
    const size_t riff = r.Open("RIFF", "AVI ");
    const size_t hdrl = r.Open("LIST", "hdrl");
    MainHeader(r, 0, 0, 0);
    const size_t strl = r.Open("LIST", "strl");
    StreamHeader(r, "auds", "\0\0\0\0", 1, 8000, 800, 2, 0, 0);
    const size_t strf = r.Open("strf");
    r.U16(1); // PCM
    r.U16(1);
    r.U32(8000);
    r.U32(16000);
    r.U16(2);
    r.U16(16);
    r.U16(0);
    r.Close(strf);
    r.Close(strl);
    r.Close(hdrl);
    Movie(r, "00wb", {std::vector<uint8_t>(1600, 0)});
    r.Close(riff);
    return Save(path, r.bytes);
}

} // namespace tiny_avi
