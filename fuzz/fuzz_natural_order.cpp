// Natural-order sorting must be a strict weak order for any names, or sorting a folder
// is undefined behaviour: three names from the input (UTF-8 or UTF-16, lines apart).

#include "folder_picker/natural_order.h"
#include "fuzz_require.h"

#include <QString>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using Marlet::FolderPicker::naturalLess;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QString text =
        (data[0] & 1) ? QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()),
                                           bytes.size() / 2)
                      : QString::fromUtf8(bytes);
    std::array<QString, 3> names;
    const QStringList lines = text.split(u'\n');
    for (size_t i = 0; i < names.size() && i < size_t(lines.size()); ++i)
        names[i] = lines[qsizetype(i)];

    for (const QString& a : names) {
        REQUIRE(!naturalLess(a, a));
        for (const QString& b : names) {
            const bool ab = naturalLess(a, b);
            REQUIRE(!(ab && naturalLess(b, a)));
            // Total: names that are not ordered either way are the same name.
            REQUIRE(ab || naturalLess(b, a) || a == b);
            for (const QString& c : names)
                REQUIRE(!(ab && naturalLess(b, c)) || naturalLess(a, c));
        }
    }
    return 0;
}
