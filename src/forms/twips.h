#pragma once

#include <QRect>

namespace Marlet::Forms {

// Window geometry is laid out in twips; 15 twips make one logical pixel. Rounds to the
// nearest pixel, halves away from zero.
constexpr int twips(int t)
{
    return t >= 0 ? (t + 7) / 15 : -((-t + 7) / 15);
}

constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

} // namespace Marlet::Forms
