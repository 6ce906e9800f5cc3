// The records' text fields: read up to their terminator, written cut to fit and padded with NULs.
#include "package/records.h"

#include <algorithm>

std::u16string_view FieldText(const TextField& field) {
    const char16_t* end = std::find(field, field + kTextUnits, u'\0');
    return std::u16string_view(field, static_cast<std::size_t>(end - field));
}

void SetFieldText(TextField& field, std::u16string_view text) {
    std::size_t n = std::min(text.size(), kMaxTextLength);
    std::copy_n(text.data(), n, field);
    std::fill(field + n, field + kTextUnits, u'\0');
}
