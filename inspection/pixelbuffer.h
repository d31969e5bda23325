#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

// A frame-sized byte buffer. Its memory comes zeroed from the system and is
// not backed until written, so the many buffers a view prepares (templates,
// recent NG frames) cost memory only once they hold an image.
//
// Buffers can share their pixels (share()): a frame handed from the grab to
// the judgement and on to the screen is then never copied. Writing access
// (the non-const data()) first gives the buffer pixels of its own, copied
// from the shared ones, so a writer never changes what another buffer holds;
// reading goes through the const data(). overwrite() gives pixels of its own
// without the copy, for a caller that replaces every byte. assign() copies
// another buffer's pixels into this buffer's own, and does nothing when it
// holds them already.
class PixelBuffer
{
public:
    PixelBuffer() = default;
    explicit PixelBuffer(std::size_t n) { allocate(n); }
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;
    PixelBuffer(PixelBuffer&& o) noexcept
        : m_store(std::move(o.m_store))
        , m_spare(std::move(o.m_spare))
        , m_writes(std::exchange(o.m_writes, 0))
        , m_switched(std::exchange(o.m_switched, false))
        , m_holds(std::exchange(o.m_holds, 0))
        , m_before(std::exchange(o.m_before, 0))
    {
    }
    PixelBuffer& operator=(PixelBuffer&& o) noexcept
    {
        std::swap(m_store, o.m_store);
        std::swap(m_spare, o.m_spare);
        std::swap(m_writes, o.m_writes);
        std::swap(m_switched, o.m_switched);
        std::swap(m_holds, o.m_holds);
        std::swap(m_before, o.m_before);
        return *this;
    }

    // Replaces the contents by n zero bytes; false when memory ran out.
    bool allocate(std::size_t n)
    {
        touch();
        m_switched = false;
        m_spare.reset();
        m_store = n ? Store::make(n) : nullptr;
        return m_store || n == 0;
    }
    void release() { allocate(0); }

    unsigned char* data()
    {
        touch();
        if (m_store && m_store.use_count() > 1) {
            const std::shared_ptr<Store> from = m_store;
            if (own())
                std::memcpy(m_store->bytes, from->bytes, from->size);
        }
        m_switched = false;
        if (m_store)
            m_store->version = nextVersion();
        return m_store ? m_store->bytes : nullptr;
    }
    const unsigned char* data() const { return m_store ? m_store->bytes : nullptr; }
    std::size_t size() const { return m_store ? m_store->size : 0; }
    bool isNull() const { return !m_store; }

    // Holds the pixels of o from now on, without copying them.
    void share(const PixelBuffer& o)
    {
        if (m_store == o.m_store)
            return;
        touch();
        m_switched = false;
        if (m_store && m_store.use_count() == 1)
            m_spare = std::move(m_store); // kept for the next overwrite()
        m_store = o.m_store;
    }
    // Pixels of its own for a caller that writes every byte (what they held
    // is undefined); null when the buffer is empty.
    unsigned char* overwrite()
    {
        touch();
        m_switched = false;
        if (!m_store || (m_store.use_count() > 1 && !own()))
            return nullptr;
        m_before = m_store->version;
        m_store->version = nextVersion();
        return m_store->bytes;
    }
    // Takes back the pixels held before the last overwrite() when the
    // caller wrote nothing after all (a grab without a new frame).
    void keepPrevious()
    {
        if (m_switched)
            std::swap(m_store, m_spare);
        else if (m_store && m_before)
            m_store->version = m_before;
        m_switched = false;
        m_before = 0;
    }
    // Holds the pixels of src (same size) in its own memory from now on;
    // copy(to, from, bytes) does the copying when it is needed.
    template <class Copy>
    void assign(const PixelBuffer& src, Copy&& copy)
    {
        if (!src.m_store || size() != src.size() || m_store == src.m_store)
            return;
        if (m_holds == src.version())
            return;
        // Every byte is replaced: pixels shared with another buffer are left
        // to it without being copied first.
        unsigned char* to = overwrite();
        if (!to)
            return;
        copy(to, src.data(), src.size());
        m_holds = src.version();
    }
    void assign(const PixelBuffer& src)
    {
        assign(src, [](unsigned char* to, const unsigned char* from, std::size_t n) { std::memcpy(to, from, n); });
    }
    // Changes whenever the pixels may have changed, whichever buffer holds them.
    std::uint64_t version() const { return m_store ? m_store->version : 0; }
    // Counts every writing access: a reader that keeps track of what it
    // wrote itself sees whether anyone else may have written since.
    unsigned writeCount() const { return m_writes; }

private:
    struct Store {
        unsigned char* bytes = nullptr;
        std::size_t size = 0;
        std::uint64_t version = nextVersion();
        ~Store() { std::free(bytes); }
        static std::shared_ptr<Store> make(std::size_t n)
        {
            auto s = std::make_shared<Store>();
            s->bytes = static_cast<unsigned char*>(std::calloc(n, 1));
            if (!s->bytes)
                return nullptr;
            s->size = n;
            return s;
        }
    };
    // Moves to pixels no other buffer holds, of the same size: the spare
    // when nobody holds it any more, else new ones. The shared pixels stay
    // the spare until their other holders let them go.
    bool own()
    {
        m_switched = false;
        const std::size_t n = m_store->size;
        std::shared_ptr<Store> next;
        if (m_spare && m_spare.use_count() == 1 && m_spare->size == n)
            next = std::move(m_spare);
        else
            next = Store::make(n);
        if (!next)
            return false;
        m_spare = std::move(m_store);
        m_store = std::move(next);
        m_switched = true;
        return true;
    }

    static std::uint64_t nextVersion()
    {
        static std::atomic<std::uint64_t> last{0};
        return ++last;
    }
    void touch()
    {
        ++m_writes;
        m_holds = 0;
        m_before = 0;
    }

    std::shared_ptr<Store> m_store;
    std::shared_ptr<Store> m_spare;
    unsigned m_writes = 0;
    bool m_switched = false;
    std::uint64_t m_holds = 0;  // version of the pixels assign() copied last
    std::uint64_t m_before = 0; // version before the last overwrite() in place
};
