#include "resampler.h"

#include <soxr.h>

#include <algorithm>
#include <array>

namespace Marlet::Audio {

namespace {

constexpr int kMaxRate = 768000;
constexpr size_t kMaxChannels = 64;
constexpr float kSideGain = 0.70710678f; // -3 dB, for a centre or surround channel
constexpr size_t kSpareFrames = 256;

// Mixes `frames` frames of `in` (`inCh` channels, WAV order: FL FR FC LFE BL BR SL SR)
// into `out` with `outCh` channels. The low-frequency channel is left out.
void mapChannels(const float* in, qint64 frames, int inCh, int outCh, float* out)
{
    std::array<float, kMaxChannels> left{}, right{};
    left[0] = 1.0f;
    right[size_t(std::min(1, inCh - 1))] = 1.0f;
    if (inCh > 2) {
        size_t next = 2;
        if (inCh == 3 || inCh >= 5) {
            left[2] = right[2] = kSideGain; // the centre
            next = 3;
        }
        if (inCh >= 6)
            next = 4; // past the low-frequency channel
        if ((size_t(inCh) - next) % 2 == 1) {
            left[next] = right[next] = kSideGain; // a lone back channel
            ++next;
        }
        for (size_t c = next; c < size_t(inCh); ++c)
            ((c - next) % 2 == 0 ? left : right)[c] = kSideGain;
        float sum = 0;
        for (float gain : left)
            sum += gain;
        for (size_t c = 0; c < size_t(inCh); ++c) {
            left[c] /= sum;
            right[c] /= sum;
        }
    }
    for (qint64 f = 0; f < frames; ++f, in += inCh, out += outCh) {
        float l = 0, r = 0;
        for (size_t c = 0; c < size_t(inCh); ++c) {
            l += left[c] * in[c];
            r += right[c] * in[c];
        }
        if (outCh == 1) {
            out[0] = inCh == 1 ? in[0] : (l + r) * 0.5f;
            continue;
        }
        out[0] = l;
        out[1] = r;
        std::fill(out + 2, out + outCh, 0.0f);
    }
}

} // namespace

void Resampler::SoxrDeleter::operator()(soxr* handle) const
{
    soxr_delete(handle);
}

Resampler::Resampler() = default;
Resampler::~Resampler() = default;

void Resampler::setOutput(int sampleRate, int channels)
{
    if (sampleRate == m_outRate && channels == m_outChannels)
        return;
    m_outRate = sampleRate;
    m_outChannels = channels;
    m_soxr.reset();
    m_inRate = 0;
}

void Resampler::reset()
{
    m_soxr.reset();
    m_inRate = 0;
}

bool Resampler::follow(const AudioBlock& block, std::vector<float>& out)
{
    if (block.sampleRate == m_inRate)
        return true;
    drain(out);
    m_soxr.reset();
    m_inRate = block.sampleRate;
    if (m_inRate == m_outRate)
        return true;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t error = nullptr;
    m_soxr.reset(
        soxr_create(m_inRate, m_outRate, unsigned(m_outChannels), &error, &io, &quality, nullptr));
    if (error || !m_soxr) {
        m_soxr.reset();
        m_inRate = 0;
        return false;
    }
    return true;
}

bool Resampler::run(const float* in, size_t frames, std::vector<float>& out)
{
    const size_t channels = size_t(m_outChannels);
    const double ratio = double(m_outRate) / m_inRate;
    size_t consumed = 0;
    for (;;) {
        const size_t room = size_t(double(frames - consumed) * ratio) + kSpareFrames;
        const size_t used = out.size();
        out.resize(used + room * channels);
        size_t taken = 0, made = 0;
        const soxr_error_t error =
            soxr_process(m_soxr.get(), in ? in + consumed * channels : nullptr,
                         in ? frames - consumed : 0, &taken, out.data() + used, room, &made);
        out.resize(used + made * channels);
        consumed += taken;
        if (error)
            return false;
        if (in ? consumed >= frames || (taken == 0 && made == 0) : made == 0)
            return true;
    }
}

bool Resampler::convert(const AudioBlock& block, std::vector<float>& out)
{
    if (m_outRate <= 0 || m_outChannels <= 0 || block.frames <= 0 || block.channels <= 0 ||
        size_t(block.channels) > kMaxChannels || block.sampleRate <= 0 ||
        block.sampleRate > kMaxRate || !follow(block, out))
        return false;
    const float* samples = block.samples;
    if (block.channels != m_outChannels) {
        m_mapped.resize(size_t(block.frames) * size_t(m_outChannels));
        mapChannels(block.samples, block.frames, block.channels, m_outChannels, m_mapped.data());
        samples = m_mapped.data();
    }
    if (!m_soxr) {
        const size_t count = size_t(block.frames) * size_t(m_outChannels);
        out.insert(out.end(), samples, samples + count);
        return true;
    }
    return run(samples, size_t(block.frames), out);
}

void Resampler::drain(std::vector<float>& out)
{
    if (m_soxr)
        run(nullptr, 0, out);
}

} // namespace Marlet::Audio
