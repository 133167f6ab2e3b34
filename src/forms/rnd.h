#pragma once

#include <QtGlobal>

namespace Marlet::Forms {

// The program's pseudo-random numbers: a 24-bit linear congruential generator. The
// program never seeds it, so every run draws the same sequence.
class Rnd
{
public:
    // The next value, in [0, 1).
    float next();

private:
    quint32 m_state = 0x50000;
};

// The next value of the program's one generator. GUI thread only.
float rnd();

} // namespace Marlet::Forms
