#include "model/Model.h"

#include <utility>

#include "kernels/clipping.h"

namespace vistrel {

namespace {

constexpr std::uint32_t kRedMask = 0xFF0000;
constexpr std::uint32_t kGreenMask = 0x00FF00;
constexpr std::uint32_t kBlueMask = 0x0000FF;

void Complement(std::vector<korvex::Pixel>& buffer) {
    for (korvex::Pixel& p : buffer) p = ~p;
}

}  // namespace

std::uint32_t ChannelMask(const std::array<bool, 3>& channels) {
    return (channels[0] ? kRedMask : 0u) | (channels[1] ? kGreenMask : 0u) | (channels[2] ? kBlueMask : 0u);
}

ChannelMix MixOf(const std::array<bool, 3>& channels) {
    switch (static_cast<int>(channels[0]) + static_cast<int>(channels[1]) + static_cast<int>(channels[2])) {
        case 0: return ChannelMix::None;
        case 1: return ChannelMix::Single;
        case 3: return ChannelMix::All;
        default: return ChannelMix::Two;
    }
}

ProbeReadout ReadoutOf(korvex::Pixel sample, korvex::LumaStandard standard) {
    return {static_cast<int>((sample >> 16) & 0xFF), static_cast<int>((sample >> 8) & 0xFF),
            static_cast<int>(sample & 0xFF), static_cast<int>(sample >> 24), korvex::PairOf(sample, standard)};
}

void Model::Load(Picture picture) {
    picture_ = std::move(picture);
    loaded_ = true;
}

void Model::Drop() {
    picture_ = {};
    loaded_ = false;
}

void Model::Reanalyse(korvex::LumaStandard standard) {
    picture_.luma = standard;
    if (!loaded_) return;
    // The colours are untouched: only the luma bytes and the colour differences are formed again.
    // Y's level counts follow the standard, so all four are counted again.
    picture_.levels = {};
    picture_.histogram = korvex::AnalysePixels(picture_.pixels.span(), standard, picture_.levels);
}

const std::vector<korvex::Pixel>& Model::DisplayView() {
    Picture& p = picture_;
    const ChannelMix mix = MixOf(settings.channels);
    if (mix == ChannelMix::None && p.blankViewValid) {
        if (settings.negative) {
            Complement(p.blankView);
            p.blankViewValid = false;
        }
        return p.blankView;
    }
    const std::uint32_t mask = ChannelMask(settings.channels);
    p.viewWork.resize(p.viewPixels.size());
    if (settings.mono && mix == ChannelMix::Single)
        korvex::SpreadChannel(p.viewPixels.data(), p.viewWork.data(), mask, p.viewPixels.size());
    else
        korvex::MaskPixels(p.viewPixels.data(), p.viewWork.data(), mask, p.viewPixels.size());
    if (mix == ChannelMix::None) {
        p.blankView = p.viewWork;
        p.blankViewValid = true;
    }
    if (settings.negative) Complement(p.viewWork);
    return p.viewWork;
}

const std::vector<korvex::Pixel>& Model::ShownView() {
    const std::vector<korvex::Pixel>& view = DisplayView();
    if (!settings.showClipping) return view;
    Picture& p = picture_;
    const auto width = static_cast<std::size_t>(p.viewMaxX) + 1;
    const auto height = static_cast<std::size_t>(p.viewMaxY) + 1;
    if (view.size() != width * height) return view;
    if (!p.clipMarksValid) {
        p.clipMarks = korvex::ClipMarks(p.pixels.data(), p.pixels.width(), p.pixels.height(), p.pixels.width(),
                                        width, height);
        p.clipMarksValid = true;
    }
    p.viewMarked.resize(view.size());
    korvex::ApplyClipMarks(view.data(), p.clipMarks.data(), p.viewMarked.data(), view.size(), kClipHighlightColour,
                           kClipShadowColour);
    return p.viewMarked;
}

void Model::LockProbe(std::int32_t column, std::int32_t row) {
    MoveProbe(column, row);
    picture_.probe.locked = true;
}

void Model::MoveProbe(std::int32_t column, std::int32_t row) {
    picture_.probe.column = column;
    picture_.probe.row = row;
}

}  // namespace vistrel
