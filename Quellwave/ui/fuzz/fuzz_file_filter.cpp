// Feeds arbitrary text, as the resource module's filter string (ids 600 and 602) could hold it, to the file
// dialog's filter conversion, and checks what Qt is then given: every entry is "text (patterns)" with
// non-empty patterns.
#include "ui/CWavFileSelectDialog.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString filter =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const QString& entry : CWavFileSelectDialog::NameFilters(filter)) {
        const qsizetype open = entry.lastIndexOf(u'(');
        if (open < 0 || !entry.endsWith(u')') || entry.size() - open < 3)
            std::abort();
    }
    return 0;
}
