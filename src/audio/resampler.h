#pragma once

#include "av_handles.h"

#include <vector>

namespace Marlet::Audio {

// Converts decoded frames to interleaved 32-bit float at one output rate and channel
// count. Follows the input: a frame whose rate, sample format or channel layout differs
// from the previous one sets the converter up afresh (damaged MPEG frames do that).
class Resampler
{
public:
    Resampler();
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    void setOutput(int sampleRate, int channels);
    int outputRate() const { return m_outRate; }
    int outputChannels() const { return m_outChannels; }

    // Appends the converted samples of `frame` to `out`. False when the frame cannot be
    // converted; it is then dropped.
    bool convert(const AVFrame* frame, std::vector<float>& out);
    // Appends what the converter still holds (rate conversion delays a few samples).
    void drain(std::vector<float>& out);
    // Forgets held samples, after a seek.
    void reset();

private:
    bool follow(const AVFrame* frame, std::vector<float>& out);
    int run(const uint8_t* const* in, int inSamples, std::vector<float>& out);

    SwrPtr m_swr;
    int m_outRate = 0;
    int m_outChannels = 0;
    int m_inRate = 0;
    int m_inFormat = -1;
    AVChannelLayout m_inLayout{};
};

} // namespace Marlet::Audio
