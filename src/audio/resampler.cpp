#include "resampler.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace Marlet::Audio {

Resampler::Resampler() = default;

Resampler::~Resampler()
{
    av_channel_layout_uninit(&m_inLayout);
}

void Resampler::setOutput(int sampleRate, int channels)
{
    if (sampleRate == m_outRate && channels == m_outChannels)
        return;
    m_outRate = sampleRate;
    m_outChannels = channels;
    m_swr.reset();
}

void Resampler::reset()
{
    m_swr.reset();
}

bool Resampler::follow(const AVFrame* frame, std::vector<float>& out)
{
    AVChannelLayout layout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
        av_channel_layout_check(&frame->ch_layout) == 0)
        av_channel_layout_default(&layout, frame->ch_layout.nb_channels);
    else if (av_channel_layout_copy(&layout, &frame->ch_layout) < 0)
        return false;

    const bool same = m_swr && frame->sample_rate == m_inRate && frame->format == m_inFormat &&
                      av_channel_layout_compare(&layout, &m_inLayout) == 0;
    if (same) {
        av_channel_layout_uninit(&layout);
        return true;
    }
    if (m_swr)
        drain(out);

    AVChannelLayout outLayout{};
    av_channel_layout_default(&outLayout, m_outChannels);
    SwrContext* swr = nullptr;
    int err = swr_alloc_set_opts2(&swr, &outLayout, AV_SAMPLE_FMT_FLT, m_outRate, &layout,
                                  static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0,
                                  nullptr);
    m_swr.reset(swr);
    if (err >= 0)
        err = swr_init(swr);
    av_channel_layout_uninit(&outLayout);
    av_channel_layout_uninit(&m_inLayout);
    if (err < 0) {
        m_swr.reset();
        av_channel_layout_uninit(&layout);
        return false;
    }
    m_inLayout = layout; // takes over the copy
    m_inRate = frame->sample_rate;
    m_inFormat = frame->format;
    return true;
}

int Resampler::run(const uint8_t* const* in, int inSamples, std::vector<float>& out)
{
    const int room = swr_get_out_samples(m_swr.get(), inSamples);
    if (room <= 0)
        return room;
    const size_t used = out.size();
    out.resize(used + size_t(room) * size_t(m_outChannels));
    auto* dst = reinterpret_cast<uint8_t*>(out.data() + used);
    const int made =
        swr_convert(m_swr.get(), &dst, room, const_cast<const uint8_t**>(in), inSamples);
    out.resize(used + size_t(made > 0 ? made : 0) * size_t(m_outChannels));
    return made;
}

bool Resampler::convert(const AVFrame* frame, std::vector<float>& out)
{
    if (m_outRate <= 0 || m_outChannels <= 0 || !follow(frame, out))
        return false;
    return run(frame->extended_data, frame->nb_samples, out) >= 0;
}

void Resampler::drain(std::vector<float>& out)
{
    if (m_swr)
        run(nullptr, 0, out);
}

} // namespace Marlet::Audio
