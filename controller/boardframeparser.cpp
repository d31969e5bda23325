#include "controller/boardframeparser.h"

#include <cstring>

unsigned char calcLRC(const unsigned char* data, unsigned short length)
{
    unsigned char sum = 0;
    for (unsigned short i = 0; i < length; ++i)
        sum = static_cast<unsigned char>(sum + data[i]);
    return sum;
}

BoardFrameParser::BoardFrameParser(int frameLength)
    : m_frameLength(frameLength < 3 ? 3 : (frameLength > kBufferSize ? kBufferSize : frameLength))
{
    std::memset(m_buf, 0, sizeof(m_buf));
}

void BoardFrameParser::compact()
{
    if (m_pos == 0)
        return;
    std::memmove(m_buf, m_buf + m_pos, size_t(m_fill - m_pos));
    m_base += uint64_t(m_pos);
    m_fill -= m_pos;
    m_pos = 0;
}

int BoardFrameParser::append(const unsigned char* data, int length)
{
    if (!data || length <= 0)
        return 0;
    // Make room first: consumed bytes are no longer needed.
    compact();
    const int room = kBufferSize - m_fill;
    const int take = length < room ? length : room;
    if (take > 0) {
        std::memcpy(m_buf + m_fill, data, size_t(take));
        m_fill += take;
    }
    m_dropped += uint64_t(length - take);
    return take;
}

bool BoardFrameParser::isFrame(const unsigned char* f, int n)
{
    return n >= 3 && f[0] == kStart && f[n - 1] == kEnd
           && f[n - 2] == calcLRC(f, static_cast<unsigned short>(n - 2));
}

const unsigned char* BoardFrameParser::nextFrame()
{
    while (m_fill - m_pos >= m_frameLength) {
        const unsigned char* f = m_buf + m_pos;
        if (isFrame(f, m_frameLength)) {
            m_lastOffset = m_base + uint64_t(m_pos);
            m_pos += m_frameLength;
            return f;
        }
        ++m_pos;
        ++m_skipped;
    }
    // Keep the incomplete rest for the next read.
    compact();
    return nullptr;
}

void BoardFrameParser::makeCommand(unsigned char out[6], int command, int data)
{
    out[0] = kStart;
    out[1] = static_cast<unsigned char>(command & 0xFF);
    out[2] = static_cast<unsigned char>(data & 0xFF);
    out[3] = static_cast<unsigned char>((data >> 8) & 0xFF);
    out[4] = calcLRC(out, 4);
    out[5] = kEnd;
}

void BoardFrameParser::makeAnswer(unsigned char out[8], int type, uint32_t payload)
{
    out[0] = kStart;
    out[1] = static_cast<unsigned char>(type & 0xFF);
    out[2] = static_cast<unsigned char>(payload & 0xFF);
    out[3] = static_cast<unsigned char>((payload >> 8) & 0xFF);
    out[4] = static_cast<unsigned char>((payload >> 16) & 0xFF);
    out[5] = static_cast<unsigned char>((payload >> 24) & 0xFF);
    out[6] = calcLRC(out, 6);
    out[7] = kEnd;
}

void BoardFrameParser::makeStatus(unsigned char out[8], uint32_t inputs, uint32_t echo)
{
    const uint32_t payload = (inputs & 0xFF) | (((inputs >> 8) & 3) << 8)
                             | ((echo & 0xFF) << 16) | (((echo >> 8) & 3) << 24);
    makeAnswer(out, 2, payload);
}
