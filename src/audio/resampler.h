#pragma once

#include "frame_source.h"

#include <memory>
#include <vector>

struct soxr;

namespace Marlet::Audio {

// Converts decoded blocks to interleaved 32-bit float at one output rate and channel
// count: channels are mapped first (mono doubled, stereo averaged, surround mixed down),
// then the rate is converted with libsoxr at high quality. A block in the output format
// passes unchanged. Follows the input: a block whose rate or channel count differs from
// the previous one's sets the converter up afresh (damaged MPEG frames do that).
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

    // Appends the converted samples of `block` to `out`. False when the block cannot be
    // converted; it is then dropped.
    bool convert(const AudioBlock& block, std::vector<float>& out);
    // Appends what the converter still holds (rate conversion delays a few samples).
    void drain(std::vector<float>& out);
    // Forgets held samples, after a seek.
    void reset();

private:
    struct SoxrDeleter
    {
        void operator()(soxr* handle) const;
    };
    bool follow(const AudioBlock& block, std::vector<float>& out);
    bool run(const float* in, size_t frames, std::vector<float>& out);

    std::unique_ptr<soxr, SoxrDeleter> m_soxr;
    int m_outRate = 0;
    int m_outChannels = 0;
    int m_inRate = 0;
    std::vector<float> m_mapped;
};

} // namespace Marlet::Audio
