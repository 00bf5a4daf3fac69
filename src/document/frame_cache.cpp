// The frame cache of CVexelDoc: nine slots around the current frame, the
// loader pass that fills them nearest-first, frame movement and the queries
// on the current frame.
//
// Expected placement, with N frames, current frame p in slot s: for N >= 9
// frame (p + k) mod N in slot (s + k) mod 9 and frame (p - k) mod N in slot
// (s - k) mod 9, k = 0..4; for N < 9 frames p..N-1 in slots s, s + 1, ...
// (mod 9). A step in a long list therefore frees one slot and decodes one
// frame.

#include <algorithm>
#include <cstring>

#include <opencv2/imgproc.hpp>

#include "document/vexel_doc.h"
#include "grid/frame_image.h"

namespace {

int wrap(int value, int modulus) {
    int r = value % modulus;
    return r < 0 ? r + modulus : r;
}

// The reach of the look-ahead: 4 frames each way, or forward to the last frame
// of a short list.
int reach(int frameCount, int currentFrame) {
    return frameCount >= CVexelDoc::SLOT_COUNT ? CVexelDoc::REACH : frameCount - currentFrame - 1;
}

bool isFrameImage(const cv::Mat& image) {
    return image.type() == CV_8UC1 && image.step[0] == static_cast<size_t>((image.cols + 3) & ~3);
}

// `image` reshaped to a width x height frame image unless it already is one.
void prepareFrameImage(cv::Mat& image, int width, int height) {
    if (image.cols == width && image.rows == height && isFrameImage(image) && image.data) return;
    image = makeFrameImage(width, height);
}

// Sequence frame `frame` into `image` as a frame image: colour frames are
// converted to grey, one byte per pixel is copied as it is, other depths
// give the first width x height bytes of the frame as packed rows.
bool copySequenceFrame(const VideoSequence& sequence, int frame, cv::Mat& image) {
    const std::uint8_t* pixels = sequence.Frame(frame);
    const int width = sequence.Width(), height = sequence.Height();
    const int bytesPerPixel = sequence.BytesPerPixel();
    if (!pixels || width <= 0 || height <= 0 || bytesPerPixel < 1) return false;
    prepareFrameImage(image, width, height);
    // The sequence's frames are never written through this header.
    const cv::Mat packed(height, width, CV_8UC(std::min(bytesPerPixel, 4)), const_cast<std::uint8_t*>(pixels),
                         static_cast<size_t>(width) * bytesPerPixel);
    if (bytesPerPixel == 3) {
        cv::cvtColor(packed, image, cv::COLOR_BGR2GRAY);
    } else if (bytesPerPixel == 4) {
        cv::cvtColor(packed, image, cv::COLOR_BGRA2GRAY);
    } else {
        const std::uint8_t* row = pixels;
        for (int y = 0; y < height; ++y, row += width) std::memcpy(image.ptr(y), row, static_cast<size_t>(width));
    }
    return true;
}

}  // namespace

bool CVexelDoc::SequenceHasCurrentFrame() const {
    // An empty sequence has a size in its header but no frame to show.
    return m_sequence && m_sequence->Frame(m_currentFrame) != nullptr;
}

bool CVexelDoc::SlotHoldsFrame(int slot, int frame) const {
    const FrameSlot& s = m_slots[static_cast<std::size_t>(slot)];
    return s.holdsImage() && s.frame == frame;
}

void CVexelDoc::ReleaseSlot(int i) {
    if (i < 0 || i >= SLOT_COUNT) return;
    FrameSlot& slot = m_slots[static_cast<std::size_t>(i)];
    if (!slot.holdsImage()) return;
    slot.image.release();
    slot.frame = -1;
    ++m_releaseCount;
}

void CVexelDoc::StoreSlot(int i, int frame, cv::Mat image) {
    if (i < 0 || i >= SLOT_COUNT || frame < 0 || frame >= m_frameCount || image.empty()) return;
    ReleaseSlot(i);
    m_slots[static_cast<std::size_t>(i)] = FrameSlot{frame, std::move(image)};
}

void CVexelDoc::ClearCache() {
    std::lock_guard<std::mutex> guard(m_lock);
    for (int i = 0; i < SLOT_COUNT; ++i) ReleaseSlot(i);
}

int CVexelDoc::SlotFrame(int i) {
    if (i < 0 || i >= SLOT_COUNT) return -1;
    std::lock_guard<std::mutex> guard(m_lock);
    const FrameSlot& slot = m_slots[static_cast<std::size_t>(i)];
    return slot.holdsImage() ? slot.frame : -1;
}

void CVexelDoc::TrimCache() {
    if (m_sequence || m_frameCount < 1) return;
    const int n = m_frameCount, p = m_currentFrame, s = m_currentSlot;
    const int r = reach(n, p);
    for (int k = 0; k <= r; ++k) {
        const int forward = wrap(s + k, SLOT_COUNT);
        if (!SlotHoldsFrame(forward, wrap(p + k, n))) ReleaseSlot(forward);
        if (n >= SLOT_COUNT) {
            const int backward = wrap(s - k, SLOT_COUNT);
            if (!SlotHoldsFrame(backward, wrap(p - k, n))) ReleaseSlot(backward);
        }
    }
}

void CVexelDoc::StepForward() {
    std::lock_guard<std::mutex> guard(m_lock);
    const int n = m_frameCount;
    if (n < 1) return;
    m_currentFrame = m_currentFrame + 1 >= n ? 0 : m_currentFrame + 1;
    if (!m_sequence) {
        int s = m_currentSlot + 1;
        if (s >= SLOT_COUNT || !m_slots[static_cast<std::size_t>(s)].holdsImage()) {
            // Restart at slot 0 and search upward for a slot with an image; the
            // search ends at the ring's end, slot 0 staying current when all
            // slots are empty.
            s = 0;
            for (int i = 0; i < SLOT_COUNT; ++i) {
                if (m_slots[static_cast<std::size_t>(i)].holdsImage()) {
                    s = i;
                    break;
                }
            }
        }
        m_currentSlot = s;
        for (int k = 0; k <= REACH; ++k) {
            const int slot = wrap(s + k, SLOT_COUNT);
            if (!SlotHoldsFrame(slot, wrap(m_currentFrame + k, n))) ReleaseSlot(slot);
        }
    }
    if (!m_slots[static_cast<std::size_t>(m_currentSlot)].holdsImage()) m_framePending = true;
}

void CVexelDoc::StepBack() {
    std::lock_guard<std::mutex> guard(m_lock);
    const int n = m_frameCount;
    if (n < 1) return;
    m_currentFrame = m_currentFrame - 1 < 0 ? n - 1 : m_currentFrame - 1;
    if (!m_sequence) {
        int s = m_currentSlot - 1;
        if (s < 0 || !m_slots[static_cast<std::size_t>(s)].holdsImage()) {
            // The mirror image: restart at slot 8 and search downward, slot 8
            // staying current when all slots are empty.
            s = SLOT_COUNT - 1;
            for (int i = SLOT_COUNT - 1; i >= 0; --i) {
                if (m_slots[static_cast<std::size_t>(i)].holdsImage()) {
                    s = i;
                    break;
                }
            }
        }
        m_currentSlot = s;
        for (int k = 0; k <= REACH; ++k) {
            const int slot = wrap(s - k, SLOT_COUNT);
            if (!SlotHoldsFrame(slot, wrap(m_currentFrame - k, n))) ReleaseSlot(slot);
        }
    }
    if (!m_slots[static_cast<std::size_t>(m_currentSlot)].holdsImage()) m_framePending = true;
}

void CVexelDoc::GoToFrame(int target) {
    // Lets a running pass leave its locked section first.
    { std::lock_guard<std::mutex> guard(m_lock); }
    const int n = m_frameCount;
    if (target < 0 || target >= n) return;
    if (m_sequence) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_currentFrame = target;
        return;
    }
    const int p = m_currentFrame;
    if (target == p) return;
    // The direction is chosen once; a distance of exactly n / 2 goes the
    // direct way.
    const bool forward = target > p ? target - p <= n / 2 : p - target > n / 2;
    while (m_currentFrame != target) {
        if (forward)
            StepForward();
        else
            StepBack();
    }
}

void CVexelDoc::StartLoader() {
    if (m_sequence) return;
    WaitForLoader();
    if (m_frameCount < 1) return;
    m_loaderThread = std::thread([this] { LoaderPass(); });
}

void CVexelDoc::WaitForLoader() {
    if (m_loaderThread.joinable()) m_loaderThread.join();
}

void CVexelDoc::EnsureCurrentFrameLoaded() {
    if (m_sequence) return;
    WaitForLoader();
    bool empty;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        empty = m_frameCount > 0 && !m_slots[static_cast<std::size_t>(m_currentSlot)].holdsImage();
    }
    if (empty) {
        StartLoader();
        WaitForLoader();
    }
    m_framePending = false;
}

cv::Mat CVexelDoc::DecodeFrameFile(int frame, std::string* why) const {
    if (m_sequence || frame < 0 || frame >= m_frameCount || static_cast<std::size_t>(frame) >= m_frameNames.size()) {
        if (why) *why = "no such frame";
        return cv::Mat();
    }
    cv::Mat image = m_decode(m_frameNames[static_cast<std::size_t>(frame)], why);
    if (!image.empty() && !isFrameImage(image)) image = toFrameImage(image);
    return image;
}

cv::Mat CVexelDoc::DecodeFrame(int frame) const {
    try {
        return DecodeFrameFile(frame, nullptr);
    } catch (...) {
        // The loader leaves a frame it could not decode empty; nothing may
        // escape its thread. Its next pass tries the frame again.
        return cv::Mat();
    }
}

void CVexelDoc::LoadFrameIntoSlot(int frame, int slot) {
    // An empty result leaves the slot empty; the next pass tries it again.
    StoreSlot(slot, frame, DecodeFrame(frame));
}

void CVexelDoc::SetLookAhead(bool on) {
    WaitForLoader();
    m_lookAhead = on;
}

void CVexelDoc::LoaderPass() {
    std::lock_guard<std::mutex> guard(m_lock);
    const int n = m_frameCount;
    if (n < 1 || m_sequence) return;
    const int p = m_currentFrame, s = m_currentSlot;
    const int r = m_lookAhead ? reach(n, p) : 0;
    for (int k = 0; k <= r; ++k) {
        const int forward = wrap(s + k, SLOT_COUNT);
        if (!m_slots[static_cast<std::size_t>(forward)].holdsImage()) LoadFrameIntoSlot(wrap(p + k, n), forward);
        if (n >= SLOT_COUNT) {
            const int backward = wrap(s - k, SLOT_COUNT);
            if (!m_slots[static_cast<std::size_t>(backward)].holdsImage())
                LoadFrameIntoSlot(wrap(p - k, n), backward);
        }
    }
}

// --- queries ----------------------------------------------------------------

int CVexelDoc::GetFrameWidth() {
    // Under the lock also for a sequence: a command on another thread may
    // be moving the current frame.
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_sequence) return SequenceHasCurrentFrame() ? m_sequence->Width() : 0;
    const FrameSlot& slot = m_slots[static_cast<std::size_t>(m_currentSlot)];
    return m_frameCount > 0 && slot.holdsImage() ? slot.image.cols : 0;
}

int CVexelDoc::GetFrameHeight() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_sequence) return SequenceHasCurrentFrame() ? m_sequence->Height() : 0;
    const FrameSlot& slot = m_slots[static_cast<std::size_t>(m_currentSlot)];
    return m_frameCount > 0 && slot.holdsImage() ? slot.image.rows : 0;
}

int CVexelDoc::GetFrameChannels() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_sequence) return SequenceHasCurrentFrame() ? m_sequence->BytesPerPixel() : 0;
    const FrameSlot& slot = m_slots[static_cast<std::size_t>(m_currentSlot)];
    return m_frameCount > 0 && slot.holdsImage() ? slot.image.channels() : 0;
}

int CVexelDoc::CurrentFrameLocked() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_currentFrame;
}

std::size_t CVexelDoc::CopyFrameBytes(std::uint8_t* buffer, std::size_t capacity, FrameShape* shape) {
    if (shape) *shape = FrameShape{};
    if (!buffer || capacity == 0) return 0;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_sequence) {
        const std::uint8_t* frame = m_sequence->Frame(m_currentFrame);
        if (!frame) return 0;
        const std::size_t n = std::min(m_sequence->FrameSize(), capacity);
        std::memcpy(buffer, frame, n);
        if (shape) *shape = FrameShape{m_currentFrame, m_sequence->Width(), m_sequence->Height(),
                                       m_sequence->BytesPerPixel()};
        return n;
    }
    const FrameSlot& slot = m_slots[static_cast<std::size_t>(m_currentSlot)];
    if (m_frameCount < 1 || !slot.holdsImage()) return 0;
    const cv::Mat& image = slot.image;
    if (shape) *shape = FrameShape{m_currentFrame, image.cols, image.rows, image.channels()};
    const std::size_t rowBytes = static_cast<std::size_t>(image.cols) * image.elemSize();
    std::size_t copied = 0;
    for (int y = 0; y < image.rows && copied < capacity; ++y) {
        const std::size_t n = std::min(rowBytes, capacity - copied);
        std::memcpy(buffer + copied, image.ptr(y), n);
        copied += n;
    }
    return copied;
}

bool CVexelDoc::CopyFrameToImage(cv::Mat& image) {
    if (m_sequence) return copySequenceFrame(*m_sequence, m_currentFrame, image);
    std::lock_guard<std::mutex> guard(m_lock);
    const FrameSlot& slot = m_slots[static_cast<std::size_t>(m_currentSlot)];
    if (m_frameCount < 1 || !slot.holdsImage()) return false;
    prepareFrameImage(image, slot.image.cols, slot.image.rows);
    slot.image.copyTo(image);
    return true;
}

cv::Mat CVexelDoc::ReadFrame(int frame, std::string* why) const {
    if (!m_sequence) return DecodeFrameFile(frame, why);
    cv::Mat image;
    if (frame < 0 || frame >= m_frameCount || !copySequenceFrame(*m_sequence, frame, image)) {
        image.release();
        if (why) *why = "no such frame in the sequence";
    }
    return image;
}
