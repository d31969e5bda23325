#pragma once
#include <cstddef>
#include <cstdlib>
#include <utility>

// A frame-sized byte buffer. Its memory comes zeroed from the system and is
// not backed until written, so the many buffers a view prepares (templates,
// recent NG frames) cost memory only once they hold an image.
class PixelBuffer
{
public:
    PixelBuffer() = default;
    explicit PixelBuffer(std::size_t n) { allocate(n); }
    ~PixelBuffer() { std::free(m_data); }
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;
    PixelBuffer(PixelBuffer&& o) noexcept
        : m_data(std::exchange(o.m_data, nullptr))
        , m_size(std::exchange(o.m_size, 0))
    {
    }
    PixelBuffer& operator=(PixelBuffer&& o) noexcept
    {
        std::swap(m_data, o.m_data);
        std::swap(m_size, o.m_size);
        return *this;
    }

    // Replaces the contents by n zero bytes; false when memory ran out.
    bool allocate(std::size_t n)
    {
        std::free(m_data);
        m_data = n ? static_cast<unsigned char*>(std::calloc(n, 1)) : nullptr;
        m_size = m_data ? n : 0;
        return m_data || n == 0;
    }
    void release() { allocate(0); }

    unsigned char* data() { return m_data; }
    const unsigned char* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    bool isNull() const { return m_data == nullptr; }

private:
    unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
};
