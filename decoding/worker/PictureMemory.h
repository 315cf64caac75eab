#pragma once
// The memory of the pictures workers decode: buffers of the program's own (huge pages
// where the system gives them) that no worker sees, one kept for the next picture of
// the same size while a load asks for it, and given back on a thread of their own.

#include <atomic>
#include <cstddef>
#include <optional>
#include <thread>

#include "platform/Surface.h"

namespace vistrel {

// While one lives, the buffer of a picture let go is kept for the next decode's picture
// when that has the same size, instead of being given back and asked for again: a
// picture buffer's pages cost the system more to hand out, clear and take back than the
// fastest readers take to fill them. The worker never sees the buffer, so nothing of the
// picture before can reach it. A buffer no decode took goes back with the last one.
class PictureBufferReuse {
public:
    PictureBufferReuse();
    ~PictureBufferReuse();
    PictureBufferReuse(const PictureBufferReuse&) = delete;
    PictureBufferReuse& operator=(const PictureBufferReuse&) = delete;
};

// A decoded picture's memory goes back on a thread of its own once its last copy is
// gone (or waits for the picture of a load under way); this returns once every picture
// dropped so far has gone back, a buffer kept for a load among them.
void WaitForReleasedPictures();
// Picture buffers the program holds now: its pictures', one kept for the next load's, and
// those on their way back.
int PictureBuffersHeld();

// A picture to decode into: a view of the buffer kept for a load when it has this size,
// or of a new one; nothing when there is no memory for it. It keeps its buffer until its
// last copy goes.
std::optional<Surface> NewPicture(int width, int height);

// While one lives, a thread of its own takes a large picture's pages from the front (their
// faults, and the clearing of memory the system hands out afresh), without changing a
// byte, ahead of the rows the decoder sends: on these virtual machines taking the pages
// of a photograph costs more than analysing it, and the decoder's core is often idle
// meanwhile. Rows that arrive first take their pages themselves, as ever. The rows must
// land through the system (read()), or through atomic writes: the thread writes too.
class PagesAhead {
public:
    PagesAhead(uchar* at, std::size_t bytes);
    // Stops at the next step and joins the thread.
    ~PagesAhead();
    PagesAhead(const PagesAhead&) = delete;
    PagesAhead& operator=(const PagesAhead&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace vistrel
