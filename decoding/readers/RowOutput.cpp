#include "decoding/readers/RowOutput.h"

#include <algorithm>

namespace vistrel {

int BandRowsFor(int width, int height) {
    return static_cast<int>(std::clamp<std::size_t>(kBandPixels / std::size_t(std::max(width, 1)), 1,
                                                    std::size_t(std::max(height, 1))));
}

RowOutput::~RowOutput() {
    if (started_) receiver_->PictureDropped();
}

bool RowOutput::Start(int width, int height, int bandRows) {
    height_ = height;
    bandRows_ = std::max(bandRows, 1);
    if (sink_ != nullptr) {
        band_ = QImage(width, std::min(bandRows_, height), QImage::Format_RGB32);
        if (band_.isNull()) {
            failure_ = DecodeError::OutOfMemory;
            return false;
        }
        if (!sink_->Start(width, height)) {
            failure_ = DecodeError::OutOfMemory;
            return false;
        }
        return true;
    }
    picture_.image() = QImage(width, height, QImage::Format_RGB32);
    if (picture_.isNull()) {
        failure_ = DecodeError::OutOfMemory;
        return false;
    }
    if (receiver_ != nullptr) {
        started_ = true;
        if (!receiver_->PictureStarted(picture_)) {
            failure_ = DecodeError::Cancelled;
            return false;
        }
    }
    return true;
}

WideRows* RowOutput::TakeWideRows() {
    if (sink_ != nullptr) return sink_->TakeWideRows();
    return receiver_ != nullptr ? receiver_->TakeWideRows() : nullptr;
}

bool RowOutput::TakeInks() {
    if (sink_ != nullptr) return sink_->TakeInks();
    return receiver_ != nullptr && receiver_->TakeInks();
}

void RowOutput::OpenBand(int first, int count) {
    if (sink_ != nullptr) place_ = sink_->Destination(first, count);
}

Pixel* RowOutput::Row(int y) {
    if (place_ != nullptr) return reinterpret_cast<Pixel*>(place_ + std::size_t(y - bandFirst_) * stride());
    if (sink_ != nullptr) return reinterpret_cast<Pixel*>(band_.scanLine(y - bandFirst_));
    return picture_.row(y);
}

std::size_t RowOutput::stride() const {
    return static_cast<std::size_t>(sink_ != nullptr ? band_.bytesPerLine() : picture_.image().bytesPerLine());
}

bool RowOutput::Finish(int end) {
    if (end <= finished_) return true;
    bool wanted = true;
    if (sink_ != nullptr) {
        wanted = sink_->Put(bandFirst_, end - bandFirst_, place_ != nullptr ? place_ : band_.constBits());
        place_ = nullptr;
        bandFirst_ = end;
    } else if (receiver_ != nullptr) {
        wanted = receiver_->RowsReady(end);
    }
    finished_ = end;
    if (!wanted) failure_ = DecodeError::Cancelled;
    return wanted;
}

bool RowOutput::Reached(int end) {
    if (end - finished_ < bandRows_ && end != height_) return true;
    return Finish(end);
}

bool RowOutput::PutToSink(int first, int count, const uchar* rows) {
    if (!sink_->Put(first, count, rows)) {
        failure_ = DecodeError::Cancelled;
        return false;
    }
    finished_ = first + count;
    return true;
}

DecodeResult RowOutput::Taken() {
    DecodeResult result;
    started_ = false;
    result.surface.emplace(std::move(picture_));  // a null surface when the rows went to the sink
    return result;
}

}  // namespace vistrel
