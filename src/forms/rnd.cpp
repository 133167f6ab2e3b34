#include "forms/rnd.h"

namespace Marlet::Forms {

float Rnd::next()
{
    constexpr quint32 modulusMask = 0xFFFFFF;
    m_state = (m_state * 0xFD43FDu + 0xC39EC3u) & modulusMask;
    return static_cast<float>(m_state) / static_cast<float>(modulusMask + 1);
}

float rnd()
{
    static Rnd generator;
    return generator.next();
}

} // namespace Marlet::Forms
