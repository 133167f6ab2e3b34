#include "folder_picker/natural_order.h"

#include <algorithm>

namespace Marlet::FolderPicker {

namespace {

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// <0, 0 or >0 as `a` sorts before, with or after `b`, ignoring letter case.
int compareNatural(QStringView a, QStringView b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Compare the two numbers by value: skip leading zeros, then the longer run
            // is the larger number, then the first differing digit decides.
            qsizetype ai = i;
            qsizetype bj = j;
            while (ai < a.size() && a[ai] == u'0')
                ++ai;
            while (bj < b.size() && b[bj] == u'0')
                ++bj;
            qsizetype aEnd = ai;
            qsizetype bEnd = bj;
            while (aEnd < a.size() && isDigit(a[aEnd]))
                ++aEnd;
            while (bEnd < b.size() && isDigit(b[bEnd]))
                ++bEnd;
            if (aEnd - ai != bEnd - bj)
                return aEnd - ai < bEnd - bj ? -1 : 1;
            for (; ai < aEnd; ++ai, ++bj) {
                if (a[ai] != b[bj])
                    return a[ai] < b[bj] ? -1 : 1;
            }
            i = aEnd;
            j = bEnd;
            continue;
        }
        qsizetype aEnd = i;
        qsizetype bEnd = j;
        while (aEnd < a.size() && !isDigit(a[aEnd]))
            ++aEnd;
        while (bEnd < b.size() && !isDigit(b[bEnd]))
            ++bEnd;
        const int text =
            QStringView(a.mid(i, aEnd - i)).compare(b.mid(j, bEnd - j), Qt::CaseInsensitive);
        if (text != 0)
            return text;
        i = aEnd;
        j = bEnd;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return 0;
}

} // namespace

bool naturalLess(const QString& a, const QString& b)
{
    const int order = compareNatural(a, b);
    return order != 0 ? order < 0 : a < b;
}

void sortNaturally(QStringList& names)
{
    std::sort(names.begin(), names.end(), naturalLess);
}

} // namespace Marlet::FolderPicker
