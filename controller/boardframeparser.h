#pragma once
#include <cstddef>
#include <cstdint>

// The check byte of both frame directions: the 8-bit sum of the bytes.
unsigned char calcLRC(const unsigned char* data, unsigned short length);

// Finds the board's frames (0x5F, payload, check byte, 0xF5) in a byte stream
// that may arrive in pieces, with noise between frames. Bytes that do not start
// a complete, correct frame are skipped one at a time, so the scanner falls back
// into step after any garbage. No allocation: the buffer is fixed, and what does
// not fit in it is dropped.
//
// The same scanner serves both sides: 8-byte answers on the station, 6-byte
// commands in the board simulator.
class BoardFrameParser
{
public:
    static constexpr int kBufferSize = 1024;
    static constexpr unsigned char kStart = 0x5F;
    static constexpr unsigned char kEnd = 0xF5;
    static constexpr int kAnswerLength = 8;  // board -> station
    static constexpr int kCommandLength = 6; // station -> board

    explicit BoardFrameParser(int frameLength = kAnswerLength);

    // Appends received bytes; returns how many were kept (the rest is dropped
    // because the buffer is full).
    int append(const unsigned char* data, int length);

    // The next valid frame in the buffer, or null when fewer than one frame's
    // bytes are left. The pointer stays valid until the next call. When it
    // returns null the unconsumed rest moves to the front of the buffer.
    const unsigned char* nextFrame();

    // True when the bytes form one valid frame of the given length.
    static bool isFrame(const unsigned char* f, int frameLength);

    int frameLength() const { return m_frameLength; }
    int fill() const { return m_fill - m_pos; }
    uint64_t skippedBytes() const { return m_skipped; }
    uint64_t droppedBytes() const { return m_dropped; }
    // Stream position (bytes appended before it, dropped bytes not counted) of
    // the frame last returned by nextFrame().
    uint64_t lastFrameOffset() const { return m_lastOffset; }

    // --- reading an answer frame (8 bytes) ---
    static int type(const unsigned char* f) { return f[1]; }
    // Type 2: inputs 0..9 and the board's echo of outputs 0..9.
    static uint32_t inputWord(const unsigned char* f) { return f[2] | (uint32_t(f[3] & 3) << 8); }
    static uint32_t echoWord(const unsigned char* f) { return f[4] | (uint32_t(f[5] & 3) << 8); }
    // Types 3 and 4: one little-endian value.
    static uint32_t value(const unsigned char* f)
    {
        return f[2] | (uint32_t(f[3]) << 8) | (uint32_t(f[4]) << 16) | (uint32_t(f[5]) << 24);
    }

    // --- building frames ---
    // A 6-byte command: command's low byte, data's low 16 bits little-endian.
    static void makeCommand(unsigned char out[6], int command, int data);
    // An 8-byte answer with a 32-bit payload (little-endian in bytes 2..5).
    static void makeAnswer(unsigned char out[8], int type, uint32_t payload);
    // A type 2 answer from the input word and the output echo.
    static void makeStatus(unsigned char out[8], uint32_t inputs, uint32_t echo);

private:
    // Moves the unconsumed bytes to the front of the buffer.
    void compact();

    unsigned char m_buf[kBufferSize];
    int m_frameLength;
    int m_fill = 0;
    int m_pos = 0;
    uint64_t m_base = 0; // stream position of m_buf[0]
    uint64_t m_skipped = 0;
    uint64_t m_dropped = 0;
    uint64_t m_lastOffset = 0;
};
