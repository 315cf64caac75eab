#include "decoding/worker/PictureMemory.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include <pthread.h>
#include <sys/mman.h>

#include "decoding/PageBuffer.h"

namespace vistrel {

namespace {

// Picture buffers mapped and not yet given back.
std::atomic<int> gBuffersHeld{0};

void Unmap(void* at, std::size_t bytes) {
    ::munmap(at, MappedBytes(bytes));
    gBuffersHeld.fetch_sub(1);
}

// Unmapping a large picture gives its pages back one by one: tens of milliseconds for a
// photograph, seconds for a gigapixel. It happens on a thread of its own, so that
// neither the window nor the next load waits for it; the next picture's pages come
// far more slowly (as they are decoded) than these go.
class Releaser {
public:
    // Never destroyed: pictures may be let go while the program ends. Its thread ends at
    // the program's end, after the mapping it is giving back; the system takes the rest.
    static Releaser& Get() {
        static Releaser* const releaser = new Releaser;
        return *releaser;
    }

    void Release(void* at, std::size_t bytes) {
        {
            const std::lock_guard lock(mutex_);
            if (!thread_.joinable() && !ending_) {
                try {
                    thread_ = std::thread([this] { Run(); });
                    static const bool endsWithTheProgram = std::atexit([] { Get().End(); }) == 0;
                    (void)endsWithTheProgram;
                } catch (const std::system_error&) {
                }
            }
            if (thread_.joinable() && !ending_) {
                try {
                    queue_.push_back({at, bytes});
                    at = nullptr;
                } catch (const std::bad_alloc&) {
                }
            }
        }
        if (at != nullptr) {
            Unmap(at, bytes);  // no thread to hand it to: at once, as ever
            return;
        }
        changed_.notify_all();
    }

    void Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return ending_ || (queue_.empty() && !busy_); });
    }

private:
    struct Mapping {
        void* at;
        std::size_t bytes;
    };

    void End() {
        {
            const std::lock_guard lock(mutex_);
            ending_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    void Run() {
        ::pthread_setname_np(::pthread_self(), "vistrel-release");
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return ending_ || !queue_.empty(); });
            if (ending_) return;
            const Mapping mapping = queue_.front();
            queue_.pop_front();
            busy_ = true;
            lock.unlock();
            Unmap(mapping.at, mapping.bytes);
            lock.lock();
            busy_ = false;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Mapping> queue_;
    std::thread thread_;
    bool ending_ = false;
    bool busy_ = false;
};

// A picture buffer: memory of the program's own, which the worker never sees; the rows
// it sends are read into it.
struct PictureBuffer {
    void* at = nullptr;
    std::size_t bytes = 0;
};

void GiveBack(const PictureBuffer& buffer) {
    if (buffer.at != nullptr) Releaser::Get().Release(buffer.at, buffer.bytes);
}

// The buffer of the picture last let go while a PictureBufferReuse lived. It needs no
// clearing: no worker reads it, and a picture decoded into it is kept only once every
// one of its rows has come.
class Recycler {
public:
    static Recycler& Get() {
        static Recycler* const recycler = new Recycler;  // never destroyed: pictures may outlive any destructor
        return *recycler;
    }

    void Begin() {
        const std::lock_guard lock(mutex_);
        ++reusers_;
    }

    // With the last, the kept buffer goes back.
    void End() {
        PictureBuffer unused;
        {
            const std::lock_guard lock(mutex_);
            if (--reusers_ == 0) unused = std::exchange(spare_, {});
        }
        GiveBack(unused);
    }

    // A picture's buffer, its last copy gone: kept while reuse is asked for, given back
    // otherwise (and when one is kept already).
    void LetGo(const PictureBuffer& buffer) {
        PictureBuffer unused = buffer;
        {
            const std::lock_guard lock(mutex_);
            if (reusers_ > 0 && spare_.at == nullptr) std::swap(spare_, unused);
        }
        GiveBack(unused);
    }

    // The kept buffer if it has exactly this many bytes; one of another size goes back at
    // once, before the new buffer is asked for.
    PictureBuffer Take(std::size_t bytes) {
        PictureBuffer kept;
        {
            const std::lock_guard lock(mutex_);
            kept = std::exchange(spare_, {});
        }
        if (kept.bytes == bytes) return kept;
        GiveBack(kept);
        return {};
    }

    // The kept buffer back; returns once it is on its way.
    void Drop() {
        PictureBuffer unused;
        {
            const std::lock_guard lock(mutex_);
            unused = std::exchange(spare_, {});
        }
        GiveBack(unused);
    }

private:
    std::mutex mutex_;
    int reusers_ = 0;  // PictureBufferReuse alive
    PictureBuffer spare_;
};

// A new buffer of this many bytes, in huge pages where the system gives them.
PictureBuffer NewBuffer(std::size_t bytes) {
    void* const mapped = MapPages(bytes);
    if (mapped == nullptr) return {};
    gBuffersHeld.fetch_add(1);
    return {mapped, bytes};
}


}  // namespace

// The picture: a view of a buffer kept for a load, or of a new one. It keeps the buffer
// until its last copy goes.
std::optional<Surface> NewPicture(int width, int height) {
    const std::size_t bytes = std::size_t(width) * std::size_t(height) * 4;
    PictureBuffer buffer = Recycler::Get().Take(bytes);
    if (buffer.at == nullptr) buffer = NewBuffer(bytes);
    if (buffer.at == nullptr) return std::nullopt;
    auto* kept = new PictureBuffer(buffer);
    const QImageCleanupFunction letGo = [](void* info) {
        auto* b = static_cast<PictureBuffer*>(info);
        Recycler::Get().LetGo(*b);
        delete b;
    };
    QImage image(static_cast<uchar*>(buffer.at), width, height, qsizetype(width) * 4, QImage::Format_RGB32, letGo,
                 kept);
    if (image.isNull()) {
        letGo(kept);
        return std::nullopt;
    }
    return Surface(std::move(image));
}

namespace {

// Pictures smaller than this take their few pages as their rows land: a thread costs more.
constexpr std::size_t kPagesAheadFromBytes = std::size_t{8} << 20;
// Bytes between the words the thread touches: a small page's.
constexpr std::size_t kSmallPageBytes = 4096;

}  // namespace

PagesAhead::PagesAhead(uchar* at, std::size_t bytes) {
    if (at == nullptr || bytes < kPagesAheadFromBytes) return;
    Q_ASSERT(reinterpret_cast<std::uintptr_t>(at) % alignof(std::uint64_t) == 0);
    try {
        thread_ = std::thread([this, at, bytes] {
            ::pthread_setname_np(::pthread_self(), "vistrel-pages");
            // A write fault takes a page (a huge one where the system gives it) holding
            // only its own mapping's lock, where madvise's advice to populate would hold
            // the whole process's mappings while it clears fresh memory (some 10 ms a
            // huge page on these virtual machines), and every thread that maps or
            // protects memory meanwhile (malloc growing its heap) would wait. Adding
            // nothing atomically writes without changing a byte, whatever lands there.
            for (std::size_t done = 0; done < bytes && !stop_.load(std::memory_order_relaxed);
                 done += kSmallPageBytes) {
                auto* const word = reinterpret_cast<std::uint64_t*>(at + done);
                std::atomic_ref<std::uint64_t>(*word).fetch_add(0, std::memory_order_relaxed);
            }
        });
    } catch (const std::system_error&) {
    }
}

PagesAhead::~PagesAhead() {
    stop_.store(true, std::memory_order_relaxed);
    if (thread_.joinable()) thread_.join();
}

PictureBufferReuse::PictureBufferReuse() { Recycler::Get().Begin(); }

PictureBufferReuse::~PictureBufferReuse() { Recycler::Get().End(); }

void WaitForReleasedPictures() {
    Recycler::Get().Drop();
    Releaser::Get().Wait();
}

int PictureBuffersHeld() { return gBuffersHeld.load(); }

}  // namespace vistrel
